// The request manager's thread against a module played on loopback: sends, answers taken once
// however often they come, time-outs, notifications, and SubmitRequest's pause.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "base/bytes.h"
#include "plc/request_manager.h"

namespace plc {
namespace {

// A module on 127.0.0.1: answers every request `copies` times (0: never).
class LoopbackModule {
 public:
  explicit LoopbackModule(int copies, uint8_t status = 0x40) : copies_(copies), status_(status) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    socklen_t length = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    port_ = ntohs(local.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackModule() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  uint16_t Port() const { return port_; }
  int Requests() const { return requests_.load(); }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      uint8_t in[64];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t got =
          recvfrom(fd_, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (got < 12) continue;
      ++requests_;
      uint8_t out[12] = {in[0], in[1], status_, 0, in[2], in[3], 4, 0, 0xA1, 0xA2, 0xA3, 0xA4};
      for (int i = 0; i < copies_; ++i)
        sendto(fd_, out, sizeof out, 0, reinterpret_cast<sockaddr*>(&from), length);
    }
  }
  int copies_;
  uint8_t status_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

// Records the notifications the manager posts.
struct Notifications {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<uint32_t> seen;
  CRequestManager::Notify Callback() {
    return [this](uint32_t n) {
      std::lock_guard<std::mutex> guard(lock);
      seen.push_back(n);
      changed.notify_all();
    };
  }
  bool WaitFor(uint32_t n, int ms) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(ms),
                            [&] { return std::find(seen.begin(), seen.end(), n) != seen.end(); });
  }
  size_t Count(uint32_t n) {
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<size_t>(std::count(seen.begin(), seen.end(), n));
  }
};

uint32_t StateOf(CRequestQueue& queue, CTagRequest* r) {
  std::lock_guard<std::mutex> lock(queue.Lock());
  return r->state;
}

TEST(RequestManager, ADoubledAnswerIsTakenOnce) {
  LoopbackModule module(2);
  CRequestQueue queue;
  CRequestManager manager(queue, {module.Port(), 0});
  Notifications notes;
  manager.SetNotify(notes.Callback());
  CTagRequest* r = queue.Append(CTagRequest::Read("127.0.0.1", 0, 4));
  manager.SubmitRequest(r);
  ASSERT_TRUE(notes.WaitFor(kNotifyAnswered, 2000));
  EXPECT_EQ(StateOf(queue, r), kStateAnswered);
  {
    std::lock_guard<std::mutex> lock(queue.Lock());
    EXPECT_EQ(r->answerLength, 12u);
    EXPECT_EQ(r->answer[8], 0xA1);
  }
  // The second copy arrives in this pass or a later one: either way it is a repetition.
  for (int i = 0; i < 100 && manager.Repetitions() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(manager.Repetitions(), 1u);
  EXPECT_EQ(module.Requests(), 1);
}

TEST(RequestManager, ASilentModuleTimesOutAfterFourHundredMilliseconds) {
  LoopbackModule module(0);
  CRequestQueue queue;
  CRequestManager manager(queue, {module.Port(), 0});
  Notifications notes;
  manager.SetNotify(notes.Callback());
  CTagRequest* r = queue.Append(CTagRequest::Write("127.0.0.1", 8, 2, 7));
  const auto start = std::chrono::steady_clock::now();
  manager.SubmitRequest(r);
  ASSERT_TRUE(notes.WaitFor(kNotifyFailed, 3000));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(StateOf(queue, r), kStateNoAnswer);
  EXPECT_GE(waited, std::chrono::milliseconds(400));
  EXPECT_EQ(notes.Count(kNotifyWriteSent), 1u) << "a write tells when it was sent";
  EXPECT_EQ(notes.Count(kNotifyAnswered), 0u);
}

TEST(RequestManager, ErrorAnswersAndUnsendableAddressesFail) {
  LoopbackModule module(1, 0x85);
  CRequestQueue queue;
  CRequestManager manager(queue, {module.Port(), 0});
  Notifications notes;
  manager.SetNotify(notes.Callback());
  CTagRequest* bad = queue.Append(CTagRequest::Read("not.an.address", 0, 4));
  manager.SubmitRequest(bad);
  ASSERT_TRUE(notes.WaitFor(kNotifyFailed, 2000));
  EXPECT_EQ(StateOf(queue, bad), kStateSendFailed);
  CTagRequest* refused = queue.Append(CTagRequest::Read("127.0.0.1", 0, 4));
  manager.SubmitRequest(refused);
  for (int i = 0; i < 200 && StateOf(queue, refused) <= kStateSent; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(StateOf(queue, refused), kStateError);
  // The pass posts its notification just after it set the state.
  for (int i = 0; i < 200 && notes.Count(kNotifyFailed) < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(notes.Count(kNotifyFailed), 2u) << "the send failure and the error answer";
  EXPECT_EQ(notes.Count(kNotifyAnswered), 0u);
}

TEST(RequestManager, SubmitPausesItsCallerAndRestartsAfterAStop) {
  LoopbackModule module(1);
  CRequestQueue queue;
  CRequestManager manager(queue, {module.Port(), 120});
  Notifications notes;
  manager.SetNotify(notes.Callback());
  for (int round = 0; round < 2; ++round) {
    CTagRequest* r = queue.Append(CTagRequest::Read("127.0.0.1", 0, 4));
    const auto start = std::chrono::steady_clock::now();
    manager.SubmitRequest(r);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
    EXPECT_TRUE(manager.Running());
    for (int i = 0; i < 400 && StateOf(queue, r) != kStateAnswered; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(StateOf(queue, r), kStateAnswered) << "round " << round;
    manager.StopRequestManager();
    EXPECT_FALSE(manager.Running());
    EXPECT_EQ(manager.LocalPort(), 0);
  }
}

TEST(RequestManager, ARemovedRequestIsNotSent) {
  LoopbackModule module(1);
  CRequestQueue queue;
  CRequestManager manager(queue, {module.Port(), 0});
  Notifications notes;
  manager.SetNotify(notes.Callback());
  CTagRequest* r = queue.Append(CTagRequest::Read("127.0.0.1", 0, 4));
  // Submitted after the removed one and answered: the removed one would have gone out first.
  CTagRequest* next = queue.Append(CTagRequest::Read("127.0.0.1", 4, 4));
  {
    std::lock_guard<std::mutex> lock(queue.Lock());
    queue.Items().erase(queue.Items().begin());  // the view removed it before the manager got to it
  }
  manager.SubmitRequest(r);
  manager.SubmitRequest(next);
  ASSERT_TRUE(notes.WaitFor(kNotifyAnswered, 2000));
  EXPECT_EQ(StateOf(queue, next), kStateAnswered);
  EXPECT_EQ(module.Requests(), 1);
}

}  // namespace
}  // namespace plc
