#include "plc/request_manager.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "comm/event_log.h"
#include "platform/tick.h"

namespace plc {

bool CRepetitionFilter::Take(uint32_t sender, const std::string& senderText, const uint8_t* data,
                             size_t length) {
  const size_t kept = data ? std::min(length, kMaxAnswer) : 0;
  if (!data) length = 0;
  for (auto& entry : last_) {
    if (entry->packet.sender != sender) continue;
    if (entry->fullLength == length && entry->packet.length == kept &&
        (kept == 0 || std::memcmp(entry->packet.data.data(), data, kept) == 0))
      return false;
    entry->fullLength = length;
    entry->packet.length = static_cast<uint32_t>(kept);
    if (kept) std::memcpy(entry->packet.data.data(), data, kept);
    return true;
  }
  auto entry = std::make_unique<Entry>();
  entry->packet.sender = sender;
  entry->packet.senderText = senderText;
  entry->packet.length = static_cast<uint32_t>(kept);
  if (kept) std::memcpy(entry->packet.data.data(), data, kept);
  entry->fullLength = length;
  last_.push_back(std::move(entry));
  return true;
}

CTagRequest* CRequestQueue::Append(CTagRequest request) {
  std::lock_guard<std::mutex> lock(lock_);
  items_.push_back(std::make_unique<CTagRequest>(std::move(request)));
  return items_.back().get();
}

PassOutcome MatchPass(std::vector<std::unique_ptr<CTagRequest>>& items,
                      const std::vector<std::unique_ptr<CUDPacket>>& pass, uint32_t now) {
  PassOutcome outcome;
  for (size_t i = items.size(); i-- > 0;) {
    CTagRequest& request = *items[i];
    if (request.state != kStateSent) continue;
    const bool anySender = request.IsBroadcast();
    const CUDPacket* match = nullptr;
    for (const auto& packet : pass) {
      if (!anySender && packet->senderText != request.address) continue;
      const AnswerView view = InspectAnswer(packet->data.data(), packet->length);
      if (!view.matchable || view.id != request.id) continue;
      match = packet.get();
      break;
    }
    if (match) {
      std::memcpy(request.answer.data(), match->data.data(), match->length);
      request.answerLength = match->length;
      request.answeredAt = now;
      if (match->data[2] < 0x80) {
        request.state = kStateAnswered;
        outcome.answered = true;
      } else {
        request.state = kStateError;
        outcome.failed = true;
      }
    } else if (platform::TicksSince(request.sentAt, now) > kAnswerTimeoutMs) {
      request.state = kStateNoAnswer;
      outcome.failed = true;
    }
  }
  return outcome;
}

CRequestManager::CRequestManager(CRequestQueue& queue, ManagerOptions options)
    : queue_(queue), options_(options) {}

CRequestManager::~CRequestManager() {
  StopRequestManager();
}

void CRequestManager::SetNotify(Notify notify, const void* owner) {
  std::lock_guard<std::mutex> lock(notifyLock_);
  notify_ = std::move(notify);
  notifyOwner_ = owner;
}

void CRequestManager::ClearNotify(const void* owner) {
  std::lock_guard<std::mutex> lock(notifyLock_);
  if (notifyOwner_ != owner) return;
  notify_ = nullptr;
  notifyOwner_ = nullptr;
}

void CRequestManager::Post(uint32_t notification) {
  // Called under the lock, so that a receiver that unregisters (a closing window) is never
  // called afterwards; receivers only hand the notification on.
  std::lock_guard<std::mutex> lock(notifyLock_);
  if (notify_) notify_(notification);
}

void CRequestManager::SubmitRequest(CTagRequest* request) {
  {
    std::lock_guard<std::mutex> lock(startLock_);
    if (!running_.load()) {
      // A thread that ended on its own (or was stopped) is joined before a new one starts.
      if (thread_.joinable()) thread_.join();
      stop_ = false;
      running_ = true;
      thread_ = std::thread([this] { Run(); });
    }
  }
  platform::SleepMs(options_.submitPauseMs);
  std::lock_guard<std::mutex> lock(messagesLock_);
  messages_.push_back(request);
}

void CRequestManager::StopRequestManager() {
  std::lock_guard<std::mutex> lock(startLock_);
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  running_ = false;
}

void CRequestManager::Run() {
  socket_ = std::make_unique<CDatagramSocket>();
  bool open = socket_->Create() == comm::kStatusOk;
  if (open) {
    const int on = 1;
    ::setsockopt(socket_->Handle(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (socket_->Bind(any) != comm::kStatusOk) {
      any.sin_port = htons(kFallbackBindPort);
      open = socket_->Bind(any) == comm::kStatusOk;
    }
  }
  if (open) {
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(socket_->Handle(), reinterpret_cast<sockaddr*>(&bound), &length) == 0)
      localPort_ = ntohs(bound.sin_port);
  } else {
    LogError("CRequestManager - no socket for PLC data requests");
    socket_.reset();
  }
  filter_ = std::make_unique<CRepetitionFilter>();

  while (!stop_.load()) {
    platform::SleepMs(2);
    CTagRequest* message = nullptr;
    {
      std::lock_guard<std::mutex> lock(messagesLock_);
      if (!messages_.empty()) {
        message = messages_.front();
        messages_.pop_front();
      }
    }
    if (message) {
      Send(message);
    } else if (socket_) {
      ReceivePass();
    }
  }

  pass_.clear();
  filter_.reset();
  if (socket_) socket_->Close();
  socket_.reset();
  localPort_ = 0;
  platform::SleepMs(200);
  {
    std::lock_guard<std::mutex> lock(messagesLock_);
    messages_.clear();
  }
}

void CRequestManager::Send(CTagRequest* request) {
  uint32_t notification = 0;
  {
    std::lock_guard<std::mutex> lock(queue_.Lock());
    // The view may have removed the request meanwhile: only a queued one is sent.
    auto& items = queue_.Items();
    const bool queued = std::any_of(items.begin(), items.end(),
                                    [request](const auto& item) { return item.get() == request; });
    if (!queued || request->state != kStateQueued) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(options_.port);
    bool ok = socket_ != nullptr;
    if (request->IsBroadcast()) {
      to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    } else if (inet_pton(AF_INET, request->address.c_str(), &to.sin_addr) != 1) {
      ok = false;
    }
    if (ok) {
      uint32_t status = comm::kStatusOk;
      const int sent =
          socket_->SendTo(request->request.data(), request->requestLength, to, 0, &status);
      ok = status == comm::kStatusOk && sent == static_cast<int>(request->requestLength);
    }
    if (ok) {
      request->state = kStateSent;
      request->sentAt = platform::GetTickCount();
      if (request->kind == kKindWrite) notification = kNotifyWriteSent;
    } else {
      request->state = kStateSendFailed;
      LogError("CRequestManager - SendTo \"%s\" ERROR !", request->address.c_str());
      notification = kNotifyFailed;
    }
  }
  if (notification) Post(notification);
}

void CRequestManager::ReceivePass() {
  pass_.clear();
  std::vector<uint8_t> buffer(kReceiveBuffer);
  for (int i = 0; i < kDatagramsPerPass && !stop_.load(); ++i) {
    sockaddr_in from{};
    uint32_t status = comm::kStatusOk;
    const int got = socket_->ReceiveFrom(buffer.data(), buffer.size(), &from, 0, &status);
    if (status != comm::kStatusOk || got < 0) break;  // nothing pending
    if (ntohs(from.sin_port) != options_.port) continue;
    const AnswerView view = InspectAnswer(buffer.data(), static_cast<size_t>(got));
    if (!view.isAnswer) continue;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    if (!filter_->Take(from.sin_addr.s_addr, text, buffer.data(), static_cast<size_t>(got))) {
      ++repetitions_;
      continue;
    }
    auto packet = std::make_unique<CUDPacket>();
    packet->sender = from.sin_addr.s_addr;
    packet->senderText = text;
    packet->length = static_cast<uint32_t>(std::min(static_cast<size_t>(got), kMaxAnswer));
    std::memcpy(packet->data.data(), buffer.data(), packet->length);
    pass_.push_back(std::move(packet));
  }
  PassOutcome outcome;
  {
    std::lock_guard<std::mutex> lock(queue_.Lock());
    outcome = MatchPass(queue_.Items(), pass_, platform::GetTickCount());
  }
  if (outcome.answered) Post(kNotifyAnswered);
  if (outcome.failed) Post(kNotifyFailed);
}

CRequestQueue& ProcessRequestQueue() {
  static CRequestQueue queue;
  return queue;
}

CRequestManager& ProcessRequestManager() {
  static CRequestManager manager(ProcessRequestQueue());
  return manager;
}

void SubmitRequest(CTagRequest* request) {
  ProcessRequestManager().SubmitRequest(request);
}

void StopRequestManager() {
  ProcessRequestManager().StopRequestManager();
}

}  // namespace plc
