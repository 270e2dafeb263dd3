#pragma once
// Discovery and the raw-frame send helpers of the module protocol. `CMRegApp::Discover` is
// defined in discover.cpp next to these; they work on the application's selected adapter.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/language.h"
#include "discovery/inventory.h"
#include "discovery/packets.h"
#include "platform/capture.h"

class CMRegApp;

namespace discovery {

using CaptureHandlePtr = std::unique_ptr<platform::CaptureHandle>;

// Capture snapshot length. libpcap sizes the slots of its receive ring by the snapshot length:
// with 65536 its default ring holds about 30 frames, and a line of a few hundred modules
// answering within 50 ms overflows it. Module answers are far shorter than 2048 bytes (the
// longest the tool acts on is 42 + 8 + 255), so nothing they carry is cut.
constexpr int kCaptureSnapLength = 2048;
constexpr uint32_t kFastCollectMs = 300;
constexpr uint32_t kNormalCollectMs = 3500;
constexpr uint32_t kNoAnswerEndMs = 700;      // collection ends when nothing came by then
constexpr uint32_t kAfterLastAnswerMs = 300;  // ... or this long after the last answer
constexpr uint32_t kDelayWarningMs = 20;      // adapter look-up and open slower than this warn

// A node as a discovery answer describes it: MAC = the frame's source address; record,
// serial number, address, mask, gateway, revision, their texts and the record copy.
NodePtr NodeFromRecord(const NodeRecord& record, const MacBytes& sourceMac);

// The copy of a node that Discover hands to its caller's list: made from the first 60 bytes of
// the raw record read as a 28-byte record (16 bytes when the revision bytes are 0x0000 or
// 0xFFFF), with MAC, address, flags and bookkeeping fields copied. Caller holds the node's
// adapter lock.
NodePtr CopyNodeForList(const CNode_Data& node);

// The operating system's view of one adapter; valid = 0 when the system does not list it.
CAdapterInfo AdapterInfoFor(const std::string& deviceName);

// The adapter chooser's line for an adapter with `nodes` modules: "<description> - (12 Knoten)"
// in `language`.
std::string AdapterEntry(const std::string& description, size_t nodes,
                         base::Language language = base::Language::German);

// Sends a packet (8-byte header + data, built by the caller) on the selected adapter from
// port 44532, repeat times (5, 30, 10 ms between sends). With a node that has a MAC the frame
// goes to that MAC and 255.255.255.255; a node without MAC gets the broadcast MAC and its
// address; no node: broadcast MAC and address. When `handle` is empty the capture is opened
// into it; the caller reuses it for the answers and finally resets it. Returns the handle, or
// null (nothing sent) when payload is null, no adapter is selected, or the open fails.
platform::CaptureHandle* _send_UDP_to_Node(CMRegApp& app, CaptureHandlePtr& handle,
                                           const CNode_Data* node, const uint8_t* payload,
                                           size_t length, uint16_t dstPort, int repeat);
// The same for a node given by its address text (known node: its MAC; else the broadcast MAC
// to that address); pauses 5 and 30 ms. A text that is no address sends nothing (null).
// For every send helper: a failed send ends the repeats, is logged, and the result is null /
// false (the handle stays with the caller).
platform::CaptureHandle* _send_UDP_to_NodeIP(CMRegApp& app, CaptureHandlePtr& handle,
                                             const std::string& ipText, const uint8_t* payload,
                                             size_t length, uint16_t dstPort, int repeat);
// On every capture device that has adapter information: from port 44532 to the node with that
// address text when the adapter knows it, else broadcast; repeat sends 50, 100, 200 ms apart,
// 30 ms after a multiple send. Returns the number of adapters the packet went out on.
int SendOnAllAdapters(CMRegApp& app, const std::string& ipText, const uint8_t* payload,
                      size_t length, uint16_t dstPort, int repeat);
// Broadcast from port 44533 on the selected adapter, 50, 100, 200 ms between sends unless
// noPause. False when nothing could be sent.
bool SendBroadcastCommand(CMRegApp& app, const uint8_t* payload, size_t length, uint16_t dstPort,
                          int repeat, bool noPause);
// A whole frame built by the caller, with the selected adapter's MAC written into bytes 6..11;
// repeat sends 50, 100, 200 ms apart. Opens the capture into `handle` when empty.
platform::CaptureHandle* SendRawFrame(CMRegApp& app, CaptureHandlePtr& handle, uint8_t* frame,
                                      size_t length, int repeat);
// Opens, sends and closes in one call.
bool SendRawFrame(CMRegApp& app, uint8_t* frame, size_t length, int repeat);

// The PC's own IPv4 address and mask on the selected adapter that fit a module's address
// (target "0.0.0.0" or empty: the adapter's current address). "0.0.0.0" when nothing fits;
// both stay empty (and false is returned) when the adapter is not found.
bool AdapterAddressFor(CMRegApp& app, const std::string& targetText, std::string* address,
                       std::string* mask);

// The generic receiver for answers to commands: reads frames from port 55555 to any port for
// timeoutMs and acts on discover answers (0x1F), lists (0x58/0x59), Set NodeIP (0x21) and
// Set First/Last (0x31) answers and ReadLock answers (0x73/0x75; the state goes into the node's
// lockState). Returns 1 when it acted on at least one answer: discover answers and lists count
// only when a list is given (without one they are logged, not kept). logSender adds the
// "Got UDP packet ..." line for every frame.
int ReceiveNodeAnswers(CMRegApp& app, platform::CaptureHandle* handle, uint32_t timeoutMs,
                       NodeList* list, bool logSender = false);
inline int ReceiveNodeAnswersLoggingSender(CMRegApp& app, platform::CaptureHandle* handle,
                                           uint32_t timeoutMs, NodeList* list) {
  return ReceiveNodeAnswers(app, handle, timeoutMs, list, true);
}

// One Set NodeIP answer (0x21) that carries at least serial, address, mask and gateway.
struct SetNodeIpAnswer {
  uint32_t sequence = 0;  // as the request carried it
  NodeRecord record;
  MacBytes sourceMac{};
};
// Reads Set NodeIP answers for up to timeoutMs and hands each to `take`, which returns true
// once it has what it waits for (that ends the wait early). With updateInventory each answer
// is also taken into the selected adapter's node of its serial number, as the generic receiver
// does.
void ReceiveSetNodeIpAnswers(CMRegApp& app, platform::CaptureHandle& handle, uint32_t timeoutMs,
                             bool updateInventory,
                             const std::function<bool(const SetNodeIpAnswer&)>& take);

// Whether a module took the settings it was asked for, judged by its Set NodeIP answer: the
// first field whose value differs (the gateway only when one was asked for separately).
enum class SetNodeIpMismatch { kNone, kIp, kMask, kGateway };
SetNodeIpMismatch CompareSetNodeIpAnswer(const NodeRecord& answer, uint32_t ip, uint32_t mask,
                                         uint32_t gateway, bool gatewayAsked);
// "IP address", "subnet mask", "gateway" (empty for kNone).
const char* SetNodeIpFieldName(SetNodeIpMismatch mismatch);

// The recovery counter of the no-capture-device recovery (1 = no failure in a row yet).
int CaptureRecoveryCounter();
void ResetCaptureRecoveryCounterForTests();

// Takes a module's new MAC address from its answer (an all-zero one is not an address) and logs
// the change.
void TakeChangedMac(CNode_Data& node, const MacBytes& mac);

}  // namespace discovery
