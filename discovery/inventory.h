#pragma once
// The inventory of the PC's network adapters and of the modules found behind each of them.
//
// Node records are shared (std::shared_ptr): a screen or a worker that holds a node keeps it
// alive even when a full discovery drops it from its adapter. A node's fields are changed and
// read under the lock of the adapter that holds it. Lock order: the inventory lock of
// CMRegApp first, then an adapter's lock; never the other way round.
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/adapters.h"
#include "platform/capture.h"

using MacAddress = platform::MacAddress;

// One module as discovered.
class CNode_Data {
 public:
  static constexpr uint32_t kUnknown = 0xCCCCCCCC;
  static constexpr size_t kRecordSize = 64;
  static constexpr size_t kRecordCopySize = 20;

  std::string ipText;                         // "%d.%d.%d.%d" of ipAddress
  std::string maskText;                       // subnet mask text
  std::string gatewayText;                    // gateway text
  uint32_t serialNumber = kUnknown;           // identity of a node within an adapter
  std::array<uint8_t, kRecordSize> record{};  // raw discovery record as last received, zero-padded
  uint16_t revision = 0;                      // firmware revision, major in the high byte
  uint32_t ipAddress = kUnknown;              // network order
  uint32_t mask = 0;                          // network order
  std::array<uint8_t, kRecordCopySize> recordCopy{};  // serial, address, mask, gateway, flags word
  uint32_t stale = 0;  // 1 while a discovery waits for this node's answer
  MacAddress mac{};    // source address of its answers; all zero when not yet learnt
  // Nodes named in this node's topology answer; not owned (they expire with their records).
  std::vector<std::weak_ptr<CNode_Data>> buddies;
  uint8_t packetFlags = 0;        // flags byte of the last discovery answer
  uint32_t linkedToPcSwitch = 0;  // announced itself directly on the PC's switch
  uint32_t direction = 0;         // 0 = Left To Right, 1 = Right To Left
  uint32_t topologyAnswered = 0;
  uint32_t neighborsAnswered = 0;
  MacAddress leftMac{};
  MacAddress rightMac{};
  uint8_t leftPort = 3;
  uint8_t rightPort = 3;
  uint32_t leftSerial = 0;  // serial of the neighbour found by leftMac; 0 when none
  uint32_t rightSerial = 0;
  uint32_t processed = 0;  // seen by the recursive discovery (nodes of the temporary list)
  // Lock state of the last ReadLock answer. Kept apart from `record`, which every discovery
  // answer refreshes.
  int32_t lockState = 0;
  uint32_t resetAcknowledged = 0;  // the module answered a factory reset (0x804E)

  bool HasMac() const;
  // Direction that a discovery answer's packet flags mean: exactly 0x10 is Left To Right.
  static uint32_t DirectionFromFlags(uint8_t flags) { return flags != 0x10 ? 1u : 0u; }
};

using NodePtr = std::shared_ptr<CNode_Data>;
using NodeList = std::vector<NodePtr>;

// IPv4 settings of an adapter as the operating system lists them.
struct CAdapterInfo {
  uint32_t valid = 0;      // 1 when the adapter was found in the system's list
  uint32_t ipAddress = 0;  // first IPv4 address, network order
  uint32_t mask = 0;       // its mask, network order
  MacAddress mac{};
  std::string addressText;  // "%d.%d.%d.%d"
  std::string maskText;
  std::string description;
  std::vector<platform::Ipv4Entry> addresses;  // every IPv4 address with its mask

  // Block for one system adapter (valid = 1), taking the first address as the current one.
  static CAdapterInfo FromSystem(const platform::AdapterInfo& adapter);
};

// One network adapter with its own nodes.
class CNAdapter {
 public:
  CNAdapter();  // isNew 1, changedAt = now, listIndex -1, macText all zero

  // name, description, mac, macText and info are written under the inventory lock and this
  // adapter's lock together: a reader holding either one sees them whole.
  std::string name;          // capture device name
  std::string description;   // adapter description
  uint32_t unconfirmed = 0;  // set by a full discovery, cleared when the adapter is met again
  uint32_t isNew = 1;        // 1 when created; 0 at the start of every discovery
  std::string macText = "00:00:00:00:00:00";
  MacAddress mac{};
  uint32_t changedAt = 0;   // tick count of creation, renewed when the nodes are dropped
  int32_t listIndex = -1;   // line in the adapter chooser, -1 when not listed
  mutable std::mutex lock;  // guards nodes and every field of the nodes
  NodeList nodes;
  int32_t newNodes = 0;   // nodes added by the last discovery
  int32_t lostNodes = 0;  // nodes removed by the last discovery because they did not answer
  CAdapterInfo info;
  std::optional<platform::CaptureDevice> captureDevice;  // looked up by name when first needed

  // First node with that serial number, taking the adapter's lock when takeLock is true.
  NodePtr FindNodeBySerial(uint32_t serial, int* index, bool takeLock);
  // Deletes every node: newNodes 0, lostNodes = the count, changedAt = nowTick. Caller holds lock.
  void DropNodesLocked(uint32_t nowTick);
  size_t NodeCount() const;  // takes the lock
};

using AdapterPtr = std::shared_ptr<CNAdapter>;

// Look-ups on one node array; the caller holds the lock of the adapter that owns the array.
// Each returns the node (or null) and, when index is given, its position (-1 when none).
NodePtr FindNodeBySerial(uint32_t serial, int* index, const NodeList& nodes);
NodePtr FindNodeByIp(const std::string& ipText, int* index, const NodeList& nodes);
NodePtr FindNodeByMacIn(const MacAddress& mac, int* index, const NodeList& nodes);

// Dotted IPv4 text to four bytes. A text with fewer than three dots repeats its last part for
// the missing positions ("10.0.1" gives 10, 0, 1, 1). Every part must be a decimal number of
// 0..255: anything else (empty, signs, letters, a fifth part, 256) is refused with false rather
// than wrapped into a byte; bytes then hold 0xCC in the positions not reached.
bool ParseAddress(const std::string& text, std::array<uint8_t, 4>& bytes);
// Same result as a u32 in network order.
bool ParseAddress(const std::string& text, uint32_t* addressNetworkOrder);

// Orders nodes by IPv4 address (host-order number, ascending), equal addresses by serial.
// The caller holds the adapter's lock.
void SortNodes(NodeList& nodes);
// The same on an adapter, taking its lock.
void SortNodes(CNAdapter& adapter);

// Merges one discovery answer into the adapter (takes the adapter's lock). `answer` is the
// node built from the answer (its MAC = the frame's source address, record, serial, address,
// texts and revision from the record); recordLength is the answer's record length and
// headerFlags the flags byte of its packet header. A new serial appends `answer` itself; a
// known one updates the existing node and drops `answer`: a record of 16 bytes or more replaces
// its raw record and the fields read from it. Returns the node now in the adapter.
NodePtr MergeDiscoveryAnswer(CNAdapter& adapter, NodePtr answer, size_t recordLength,
                             uint8_t headerFlags);
