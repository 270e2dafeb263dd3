#include "sim/control.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/tick.h"

namespace sim {

using nlohmann::json;

const char* const kControlUsage =
    "linesim ctl PATH COMMAND [ARGS...]\n"
    "  ping\n"
    "  list\n"
    "  read MODULE REGISTER [COUNT] [--flash]\n"
    "  write MODULE REGISTER VALUE... [--flash]\n"
    "  kill MODULE | revive MODULE | reboot MODULE [MS]\n"
    "  replace MODULE NEWSERIAL [ADDRESS]   a factory-fresh module takes its place\n"
    "  fault MODULE KEY=VALUE...   (drop=0..1 delayMs=N duplicate=true staleSequence=true\n"
    "                               sharesAddressOf=SERIAL|null discovery=BOOL modbus=BOOL)\n"
    "  clear-faults MODULE\n"
    "  network MODULE ADDRESS [MASK [GATEWAY]]\n"
    "  swap MODULE MODULE | turn MODULE   change the cabling: two modules change places, or\n"
    "                                     one is mounted the other way round\n"
    "  counters [MODULE] | reset-counters [MODULE]\n"
    "  event MODULE CATEGORY CODE [PARAMETER [AGE_MS [LOG]]]   a diagnostic log entry\n"
    "  plc-read MODULE OFFSET [COUNT]            the PLC data area, as hex\n"
    "  plc-write MODULE OFFSET VALUE [SIZE]      a little-endian value of SIZE (1, 2, 4) bytes\n"
    "  plc-write MODULE OFFSET --hex HEX         bytes\n"
    "  (faults also: plcSilent=BOOL plcDuplicate=BOOL plcError=CODE refuse=REG|FIRST-LAST\n"
    "   shortModbus=BOOL shortFlashImage=BOOL shortTftp=BOOL saveUnconfirmed=BOOL\n"
    "   tftpReboot=BLOCK tftpRepeatNewPort=BOOL tftpDuplicate=BOOL; see sim/README.md)\n"
    "  '{\"cmd\": ...}'   a raw request\n"
    "MODULE is a serial number or an IPv4 address.";

namespace {

json ModuleKey(const std::string& word) {
  if (word.find('.') != std::string::npos) return word;
  try {
    size_t used = 0;
    const unsigned long long serial = std::stoull(word, &used, 0);
    if (used == word.size()) return serial;
  } catch (const std::exception&) {
  }
  throw std::invalid_argument("not a module: " + word);
}

uint64_t WordNumber(const std::string& word) {
  size_t used = 0;
  unsigned long long value = 0;
  try {
    value = std::stoull(word, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != word.size() || word.empty() || word[0] == '-')
    throw std::invalid_argument("not a number: " + word);
  return value;
}

json FaultValue(const std::string& text) {
  if (text == "true") return true;
  if (text == "false") return false;
  if (text == "null") return nullptr;
  // A register range: FIRST-LAST (refuse=300-307).
  if (const size_t dash = text.find('-'); dash != std::string::npos && dash > 0) {
    return json::array({WordNumber(text.substr(0, dash)), WordNumber(text.substr(dash + 1))});
  }
  try {
    size_t used = 0;
    const double number = std::stod(text, &used);
    if (used == text.size()) {
      if (text.find('.') == std::string::npos) return WordNumber(text);
      return number;
    }
  } catch (const std::exception&) {
  }
  throw std::invalid_argument("bad fault value: " + text);
}

}  // namespace

json ControlRequestFromWords(const std::vector<std::string>& words) {
  if (words.empty()) throw std::invalid_argument(kControlUsage);
  const std::string& command = words[0];
  if (command[0] == '{') return json::parse(command);
  std::vector<std::string> args;
  bool flash = false;
  for (size_t i = 1; i < words.size(); ++i) {
    if (words[i] == "--flash") {
      flash = true;
    } else {
      args.push_back(words[i]);
    }
  }
  json request = {{"cmd", command}};
  auto need = [&](size_t count) {
    if (args.size() < count) throw std::invalid_argument(kControlUsage);
  };
  if (command == "ping" || command == "list") return request;
  if (command == "read") {
    need(2);
    request["module"] = ModuleKey(args[0]);
    request["register"] = WordNumber(args[1]);
    request["count"] = args.size() > 2 ? WordNumber(args[2]) : 1;
    request["flash"] = flash;
  } else if (command == "write") {
    need(3);
    request["module"] = ModuleKey(args[0]);
    request["register"] = WordNumber(args[1]);
    json values = json::array();
    for (size_t i = 2; i < args.size(); ++i) values.push_back(WordNumber(args[i]));
    request["values"] = values;
    request["flash"] = flash;
  } else if (command == "swap") {
    need(2);
    request["module"] = ModuleKey(args[0]);
    request["with"] = ModuleKey(args[1]);
  } else if (command == "replace") {
    need(2);
    request["module"] = ModuleKey(args[0]);
    request["serial"] = WordNumber(args[1]);
    if (args.size() > 2) request["address"] = args[2];
  } else if (command == "kill" || command == "revive" || command == "clear-faults" ||
             command == "turn") {
    need(1);
    request["module"] = ModuleKey(args[0]);
  } else if (command == "reboot") {
    need(1);
    request["module"] = ModuleKey(args[0]);
    if (args.size() > 1) request["ms"] = WordNumber(args[1]);
  } else if (command == "fault") {
    need(2);
    request["module"] = ModuleKey(args[0]);
    json set = json::object();
    for (size_t i = 1; i < args.size(); ++i) {
      const auto equals = args[i].find('=');
      if (equals == std::string::npos)
        throw std::invalid_argument("expected KEY=VALUE: " + args[i]);
      set[args[i].substr(0, equals)] = FaultValue(args[i].substr(equals + 1));
    }
    request["set"] = set;
  } else if (command == "network") {
    need(2);
    request["module"] = ModuleKey(args[0]);
    request["address"] = args[1];
    if (args.size() > 2) request["mask"] = args[2];
    if (args.size() > 3) request["gateway"] = args[3];
  } else if (command == "counters" || command == "reset-counters") {
    if (!args.empty()) request["module"] = ModuleKey(args[0]);
  } else if (command == "event") {
    need(3);
    request["module"] = ModuleKey(args[0]);
    request["category"] = WordNumber(args[1]);
    request["code"] = WordNumber(args[2]);
    if (args.size() > 3) request["parameter"] = WordNumber(args[3]);
    if (args.size() > 4) request["ageMs"] = WordNumber(args[4]);
    if (args.size() > 5) request["log"] = WordNumber(args[5]);
  } else if (command == "plc-read") {
    need(2);
    request["module"] = ModuleKey(args[0]);
    request["offset"] = WordNumber(args[1]);
    request["count"] = args.size() > 2 ? WordNumber(args[2]) : 1;
  } else if (command == "plc-write") {
    need(3);
    request["module"] = ModuleKey(args[0]);
    request["offset"] = WordNumber(args[1]);
    if (args[2] == "--hex") {
      need(4);
      request["hex"] = args[3];
    } else {
      request["value"] = WordNumber(args[2]);
      if (args.size() > 3) request["size"] = WordNumber(args[3]);
    }
  } else {
    throw std::invalid_argument("unknown command \"" + command + "\"\n" + kControlUsage);
  }
  return request;
}

ControlServer::ControlServer(EventLoop& loop, Dispatch dispatch)
    : loop_(loop), dispatch_(std::move(dispatch)) {}

ControlServer::~ControlServer() {
  for (auto& [fd, client] : clients_) {
    loop_.Unwatch(fd);
    close(fd);
  }
  if (listenFd_ >= 0) {
    loop_.Unwatch(listenFd_);
    close(listenFd_);
    unlink(path_.c_str());
  }
}

bool ControlServer::Listen(const std::string& path, std::string* error) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) {
    if (error) *error = "control socket path too long: " + path;
    return false;
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size());
  // Only a socket that a run which ended left behind is replaced: never another file, and
  // never the socket of a simulator that still runs.
  struct stat existing {};
  if (lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      if (error) *error = "control socket " + path + ": a file that is not a socket is there";
      return false;
    }
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answered =
        probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) close(probe);
    if (answered) {
      if (error) *error = "control socket " + path + ": another program listens on it";
      return false;
    }
    unlink(path.c_str());
  }
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0 ||
      bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listenFd_, 16) != 0) {
    if (error) *error = "control socket " + path + ": " + std::strerror(errno);
    return false;
  }
  path_ = path;
  loop_.Watch(listenFd_, EPOLLIN, [this](uint32_t) { Accept(); });
  return true;
}

void ControlServer::Accept() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    clients_[fd] = std::make_unique<Client>(Client{fd, {}, {}});
    loop_.Watch(fd, EPOLLIN, [this, fd](uint32_t events) { OnEvents(fd, events); });
  }
}

void ControlServer::OnEvents(int fd, uint32_t events) {
  auto found = clients_.find(fd);
  if (found == clients_.end()) return;
  Client& client = *found->second;
  if (events & EPOLLOUT) Flush(client);
  if (!clients_.count(fd)) return;
  if (!(events & (EPOLLIN | EPOLLHUP | EPOLLERR))) return;
  char buffer[8192];
  for (;;) {
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got > 0) {
      client.in.append(buffer, static_cast<size_t>(got));
      if (client.in.size() > (1u << 20)) {  // no line is that long
        Close(fd);
        return;
      }
      continue;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) break;
    Close(fd);
    return;
  }
  size_t newline;
  while ((newline = client.in.find('\n')) != std::string::npos) {
    client.out += AnswerControlLine(dispatch_, std::string_view(client.in).substr(0, newline));
    client.out += '\n';
    client.in.erase(0, newline + 1);
  }
  Flush(client);
}

std::string AnswerControlLine(const ControlServer::Dispatch& dispatch, std::string_view line) {
  json answer;
  try {
    answer = dispatch(json::parse(line));
  } catch (const std::exception& error) {
    // Parse errors quote the bytes they met, which need not be UTF-8.
    answer = {{"ok", false}, {"error", error.what()}};
  } catch (...) {
    answer = {{"ok", false}, {"error", "the request failed"}};
  }
  try {
    return answer.dump(-1, ' ', false, json::error_handler_t::replace);
  } catch (...) {
    return R"({"error":"the answer could not be written","ok":false})";
  }
}

void ControlServer::Flush(Client& client) {
  while (!client.out.empty()) {
    const ssize_t written = send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
    if (written > 0) {
      client.out.erase(0, static_cast<size_t>(written));
      continue;
    }
    if (written < 0 && (errno == EAGAIN || errno == EINTR)) break;
    Close(client.fd);
    return;
  }
  loop_.Modify(client.fd, EPOLLIN | (client.out.empty() ? 0u : EPOLLOUT));
}

void ControlServer::Close(int fd) {
  loop_.Unwatch(fd);
  close(fd);
  clients_.erase(fd);
}

json ControlCall(const std::string& path, const json& request, int timeoutMs) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path)
    throw std::runtime_error("control socket path too long");
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size());
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const std::string reason = std::strerror(errno);
    close(fd);
    throw std::runtime_error("cannot reach " + path + ": " + reason);
  }
  const std::string line = request.dump() + "\n";
  size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t written = send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (written <= 0) {
      close(fd);
      throw std::runtime_error("control socket send failed");
    }
    sent += static_cast<size_t>(written);
  }
  std::string answer;
  const uint32_t start = platform::GetTickCount();
  for (;;) {
    const auto newline = answer.find('\n');
    if (newline != std::string::npos) {
      close(fd);
      return json::parse(answer.substr(0, newline));
    }
    const uint32_t elapsed = platform::TicksSince(start);
    if (elapsed >= static_cast<uint32_t>(timeoutMs)) break;
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(timeoutMs - elapsed)) <= 0) continue;
    char buffer[65536];
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    answer.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  throw std::runtime_error("no answer from the control socket " + path);
}

}  // namespace sim
