#pragma once
// The process-wide PLC data request queue and the one background thread, the request manager,
// that sends queued requests to the modules' UDP port 55559, collects their answers in passes,
// drops repeated datagrams and matches answers to requests by sender and id. Whoever shows the
// results registers a notification callback; it is called on the manager's thread, so a window
// forwards it to its own thread (a queued signal).
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/blocking_socket.h"
#include "plc/tag_request.h"

namespace plc {

// Notifications: a pass with an answer taken; a pass with an error answer or a time-out, or a
// failed send; a write request sent.
inline constexpr uint32_t kNotifyAnswered = 1826;
inline constexpr uint32_t kNotifyFailed = 1827;
inline constexpr uint32_t kNotifyWriteSent = 1828;

inline constexpr int kDatagramsPerPass = 10;
inline constexpr size_t kReceiveBuffer = 4096;

// One datagram of the current pass.
struct CUDPacket {
  uint32_t sender = 0;  // network order
  std::string senderText;
  uint32_t length = 0;  // bytes kept (at most kMaxAnswer)
  std::array<uint8_t, kMaxAnswer> data{};
};

// The last datagram received from one sender.
struct CLastPacketFromPLC {
  uint32_t sender = 0;
  std::string senderText;
  uint32_t length = 0;
  std::array<uint8_t, kMaxAnswer> data{};
};

// Drops a datagram that repeats, byte for byte, the last one from the same sender: a module
// that sends one answer twice is counted once, a different later answer is taken.
class CRepetitionFilter {
 public:
  // True when the datagram is new (and now the sender's last one). Keeps at most kMaxAnswer
  // bytes; longer datagrams compare by their first kMaxAnswer bytes and their full length.
  bool Take(uint32_t sender, const std::string& senderText, const uint8_t* data, size_t length);
  size_t SenderCount() const { return last_.size(); }

 private:
  struct Entry {
    CLastPacketFromPLC packet;
    size_t fullLength = 0;
  };
  std::vector<std::unique_ptr<Entry>> last_;
};

// The request queue: requests are owned here until the view removes them. Everything in it,
// and every request's fields, is read and changed only under Lock().
class CRequestQueue {
 public:
  std::mutex& Lock() { return lock_; }
  std::vector<std::unique_ptr<CTagRequest>>& Items() { return items_; }  // under Lock()
  // Appends under the lock and returns the queued request (still owned by the queue).
  CTagRequest* Append(CTagRequest request);

 private:
  std::mutex lock_;
  std::vector<std::unique_ptr<CTagRequest>> items_;
};

struct PassOutcome {
  bool answered = false;  // a request reached state 4
  bool failed = false;    // a request reached state 5 or 0x8002
};

// Matching of one pass (the caller holds the queue's lock): walking the queue from last to
// first, each sent request takes the first datagram of the pass from its address (any sender
// for a broadcast request) with at least 8 bytes and its id; without one, a request sent more
// than 400 ms before `now` times out.
PassOutcome MatchPass(std::vector<std::unique_ptr<CTagRequest>>& items,
                      const std::vector<std::unique_ptr<CUDPacket>>& pass, uint32_t now);

struct ManagerOptions {
  uint16_t port = kPlcDataPort;  // where requests go and answers must come from
  uint32_t submitPauseMs = 500;  // SubmitRequest's pause (tests shorten it)
};

class CRequestManager {
 public:
  using Notify = std::function<void(uint32_t notification)>;

  explicit CRequestManager(CRequestQueue& queue, ManagerOptions options = {});
  ~CRequestManager();  // stops and joins the thread
  CRequestManager(const CRequestManager&) = delete;
  CRequestManager& operator=(const CRequestManager&) = delete;

  // The request must already be queued (state 1). Starts the thread when it is not running,
  // pauses, then hands the request to the thread. Blocks its caller for the pause: never call
  // it on a GUI thread.
  void SubmitRequest(CTagRequest* request);
  // Ends the thread (a later SubmitRequest starts it again).
  void StopRequestManager();
  bool Running() const { return running_.load(); }

  // The one receiver of notifications (replaces the previous one; empty: none). Called on the
  // manager's thread with a lock held: it must only hand the notification on (a queued signal),
  // never wait or call back into the manager. Once SetNotify returns, the previous receiver is
  // not called again.
  void SetNotify(Notify notify, const void* owner = nullptr);
  // Removes the receiver only when `owner` registered it (a closing window leaves a newer
  // window's receiver alone).
  void ClearNotify(const void* owner);
  CRequestQueue& Queue() { return queue_; }
  // The local port the thread's socket is bound to (0 while not running).
  uint16_t LocalPort() const { return localPort_.load(); }
  // Datagrams dropped as repetitions (for tests and logs).
  uint64_t Repetitions() const { return repetitions_.load(); }

 private:
  void Run();
  void Send(CTagRequest* request);
  void ReceivePass();
  void Post(uint32_t notification);

  CRequestQueue& queue_;
  const ManagerOptions options_;
  std::mutex startLock_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  std::mutex messagesLock_;
  std::deque<CTagRequest*> messages_;
  std::mutex notifyLock_;
  Notify notify_;
  const void* notifyOwner_ = nullptr;
  std::unique_ptr<CDatagramSocket> socket_;
  std::atomic<uint16_t> localPort_{0};
  std::atomic<uint64_t> repetitions_{0};
  std::vector<std::unique_ptr<CUDPacket>> pass_;
  std::unique_ptr<CRepetitionFilter> filter_;
};

// The process's one queue and manager.
CRequestQueue& ProcessRequestQueue();
CRequestManager& ProcessRequestManager();
void SubmitRequest(CTagRequest* request);
void StopRequestManager();

}  // namespace plc
