#pragma once
// The model of the topology view: the drawn devices of one adapter's line, the layout that
// places them in rows and columns from the PC's switch outwards, the duplicate-address check
// that comes before it, the directions and per-module checks that follow it, the window title
// and the outcome of a run. Pure functions over the inventory's nodes after GetTopology: no
// window and no network traffic (what the register readers bring is an input, ReaderResult).
//
// Nodes are read and, for directions, written: the caller holds the lock of the adapter that
// owns them (or works on copies).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/language.h"
#include "discovery/inventory.h"

namespace topology {

// Device kinds that this model creates (others only choose bitmaps of other views).
using DeviceKind = uint32_t;
constexpr DeviceKind kKindPcSwitch = 4;
constexpr DeviceKind kKindModule = 8;

// Directions of a drawn module.
constexpr uint32_t kLeftToRight = 0;
constexpr uint32_t kRightToLeft = 1;
constexpr uint32_t kUndetermined = 2;

constexpr uint16_t kGridStep = 5;           // grid units from one device to the next
constexpr uint16_t kFirstModuleColumn = 5;  // the PC's switch stands in column 0
constexpr size_t kMaxDrawnModules = 170;    // the register readers' limit: one thread each
constexpr uint32_t kPartialAfterMs = 180000;
constexpr uint16_t kNoRowFound = 55555;

// One drawn device. The parent is an index into the device array (-1 for the PC's switch), so
// that the array may grow without leaving dangling links.
struct CPLViewDevice {
  int parent = -1;
  DeviceKind kind = kKindModule;
  uint16_t column = 0;
  uint16_t row = 0;
  uint32_t direction = kUndetermined;
  NodePtr node;  // null for the PC's switch
  uint32_t error = 0;
  std::string errorText;
  uint32_t directionKnown = 0;

  uint32_t Serial() const { return node ? node->serialNumber : 0; }
};

// The view's device array; element 0 is the PC's switch. Look-ups skip it and return the
// index of the device found, or -1.
class DeviceArray {
 public:
  DeviceArray();

  std::vector<CPLViewDevice> devices;
  std::vector<uint16_t> rowFill;      // next free row per column index (column / 5)
  uint16_t g_RecursiveMAXRowNum = 0;  // largest row reached
  uint16_t maxColumn = 0;

  size_t ModuleCount() const { return devices.size() - 1; }
  int FindDeviceBySerial(uint32_t serial) const;  // -1 also for serial 0
  int FindDeviceByIp(uint32_t addressNetworkOrder) const;
  int FindDeviceByNode(const CNode_Data* node) const;
  int LeftBuddy(int index) const;   // same row, one step to the left
  int RightBuddy(int index) const;  // same row, one step to the right
  int RowEnd(int index) const;      // right-most module of the row
  // The device whose cell (below) holds the pixel, or -1.
  int HitTest(int x, int y, int CellSize) const;

 private:
  int AtColumn(int index, int column) const;
};

// The cell of a device in pixels for a zoom of CellSize pixels per grid unit.
struct CellRect {
  int left, top, right, bottom;
};
CellRect CellOf(const CPLViewDevice& device, int CellSize);

// Nodes that share their IPv4 address with another node of the array, in array order.
struct DuplicateIps {
  std::vector<NodePtr> nodes;
  std::string list;  // "{ser.no: %u - ip:\"%s\"}, " per node
  // The message box text ("Duplicated IPs"); empty when there is no duplicate.
  std::string Message() const;
};
DuplicateIps FindDuplicateIps(const NodeList& nodes);

// Lays out the nodes from the PC's switch (nodes linked to it) along their buddies, depth
// first: each branch keeps its row, a branch met later takes the next free row. At most
// maxModules modules are placed; `closing` (optional) stops the layout between devices.
DeviceArray LayOut(const NodeList& nodes, size_t maxModules = kMaxDrawnModules,
                   const std::function<bool()>& closing = {});

// What one register reader brought back for its module.
struct ReaderResult {
  bool connected = false;      // registers 1 to 20 were read
  bool otherSerial = false;    // registers 17..36 named another serial: a duplicate address
  std::vector<uint16_t> regs;  // registers 1 to 20 (host order) when connected
};
using ReaderResults = std::map<uint32_t, ReaderResult>;  // by serial number

// "0000000000000000" means none; empty when fewer than 4 registers are known.
std::string ConfIdText(const std::vector<uint16_t>& regs);

// The error texts of the checks.
extern const char* const kErrorDuplicateIp;
extern const char* const kErrorNoConnection;
extern const char* const kErrorConfiguration;
extern const char* const kErrorSubnetNotALine;
extern const char* const kErrorAddressesDoNotFit;
// "Dieses Subnetz ist nicht richtig konfiguriert. (es wird ein Modul mit IP "a.b.c.N"
// erwartet) !?!" for the expected address.
std::string ExpectedAddressError(uint32_t addressNetworkOrder, int lastOctet);

// The addressing of the drawn rows, from the discovered addresses alone. AutoConfig numbers a
// line from its first module's address, one more per module along the line (towards either
// end of the row). In every row the modules of one subnet (first three address bytes) must
// stand side by side: the modules of a second, smaller group of the same subnet in that row
// are marked "Alle Module in einem Subnetz ..." (ties keep the left-most group). Within a
// group the numbering that most of its modules follow is the expected one (ties: the one a
// module marked First follows, then the left-most's); a module off that numbering is marked
// with the address it should have, and a group in which no two modules agree (or whose
// expected address leaves 1..254) is marked "IP Adressen passen nicht ...". Marks go only to
// modules without an error yet. Returns the number of modules newly marked.
int CheckLineAddresses(DeviceArray& view);

// Step after the layout: directions (stored back in the nodes), the modules on the PC's switch
// moved to the row of their branch, and the checks. `readers` holds the modules whose
// registers were read; a module without an entry is not checked for what the readers bring
// (nothing was asked of it), but the addressing of every drawn module is (CheckLineAddresses).
// The configuration id expected in a row is the one most of its read modules carry (ties: the
// left-most's), so that one foreign module is the one marked, not its whole row. Without
// `readers` (a drawing that reads no registers) no check runs. Returns the number of modules
// with an error.
int SettleDevices(DeviceArray& view, const ReaderResults* readers);

// "Unknown", "First", "Last", "First && Last" for line position flags 0..3; nullopt (and the
// log line) for any other value.
std::optional<std::string> LinePositionName(int position);

// The window title for `drawn` of `found` modules and the count of problems, in `language`
// (the procedure's result keeps the German one).
std::string WindowTitle(const std::string& base, size_t drawn, size_t found, int problems,
                        base::Language language = base::Language::German);

enum class Outcome { Complete, Retry, Incomplete, Partial };
const char* OutcomeName(Outcome outcome);  // "complete", "retry", "incomplete", "partial"

struct RunFacts {
  size_t drawn = 0;
  size_t found = 0;
  bool installationMode = false;
  uint32_t elapsedMs = 0;
  bool retryAllowed = false;  // the one retry of a run has not been used
};
Outcome RunOutcome(const RunFacts& facts);
// The message shown for the outcome (empty for complete and retry).
std::string OutcomeMessage(Outcome outcome, const RunFacts& facts);

}  // namespace topology
