#pragma once
// The control socket: JSON lines over a Unix stream socket. Each line is one request object,
// answered by one line. `linesim ctl PATH CMD ...` is its command-line client.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/event_loop.h"

namespace sim {

class ControlServer {
 public:
  using Dispatch = std::function<nlohmann::json(const nlohmann::json&)>;
  ControlServer(EventLoop& loop, Dispatch dispatch);
  ~ControlServer();

  bool Listen(const std::string& path, std::string* error);

 private:
  struct Client {
    int fd;
    std::string in;
    std::string out;
  };
  void Accept();
  void OnEvents(int fd, uint32_t events);
  void Close(int fd);
  void Flush(Client& client);

  EventLoop& loop_;
  Dispatch dispatch_;
  int listenFd_ = -1;
  std::string path_;
  std::unordered_map<int, std::unique_ptr<Client>> clients_;
};

// Answers one request line (without its newline) with one answer line (without its newline):
// the dispatch's answer, or {"ok": false, "error": TEXT} when the line is not JSON or the
// dispatch throws. Never throws; texts that are not UTF-8 are written with U+FFFD in their
// place. This is all the control socket does with a line, callable without sockets.
std::string AnswerControlLine(const ControlServer::Dispatch& dispatch, std::string_view line);

// Sends one request to the control socket at `path` and returns the answer object. Throws
// std::runtime_error when the socket cannot be reached or the answer is not JSON.
nlohmann::json ControlCall(const std::string& path, const nlohmann::json& request,
                           int timeoutMs = 10000);

// Turns the words of `linesim ctl PATH CMD ...` (from CMD on) into a request object; throws
// std::invalid_argument with a usage text when they do not form one.
nlohmann::json ControlRequestFromWords(const std::vector<std::string>& words);
extern const char* const kControlUsage;

}  // namespace sim
