// Control commands without sockets: one answer line per request line, whatever the line
// holds, and refusals of what a line cannot be, with the place that was wrong.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

#include "fixtures/temp_log.h"
#include "sim/control.h"
#include "sim/simulator.h"

namespace sim {
namespace {

using nlohmann::json;

class ControlLines : public ::testing::Test {
 protected:
  ControlLines()
      : simulator_(ParseLine(json::parse(R"({"chains": [[{"serial": 101, "node": 1},
            {"serial": 102, "node": 2}, {"serial": 103, "node": 3}]]})")),
                   SimulatorOptions{}) {}

  // The answer line to `line`, which must be one line of JSON.
  json AnswerLine(std::string_view line) {
    const std::string text = AnswerControlLine(
        [this](const json& request) { return simulator_.HandleControl(request); }, line);
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    return json::parse(text);  // throws (failing the test) when it is not JSON
  }
  json Answer(const json& request) { return AnswerLine(request.dump()); }
  std::string AddressOf(size_t index) {
    return Answer(json{{"cmd", "list"}})["modules"][index]["address"].get<std::string>();
  }

  Simulator simulator_;
};

TEST_F(ControlLines, LinesThatAreNoRequestAreAnsweredAndTheSimulatorGoesOn) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const struct {
    std::string line;
    std::string error;  // the start of the error text
  } cases[] = {
      {"\xff", "[json.exception.parse_error.101]"},
      {"{\"cmd\": \"\xc3\x28\"}", "[json.exception.parse_error.101]"},
      {"{\"cmd\": \"ping\"", "[json.exception.parse_error.101]"},
      {"", "[json.exception.parse_error.101]"},
      {"[1, 2]", "a request is {\"cmd\": NAME, ...}"},
      {"{\"cmd\": 7}", "a request is {\"cmd\": NAME, ...}"},
      {deep, "a request is {\"cmd\": NAME, ...}"},
      {R"({"cmd": "read", "module": 101, "register": 1, "flash": "yes"})",
       "[json.exception.type_error.302]"},
  };
  for (const auto& c : cases) {
    const json answer = AnswerLine(c.line);
    EXPECT_EQ(answer["ok"], false) << c.line.substr(0, 40);
    EXPECT_EQ(answer.value("error", std::string()).rfind(c.error, 0), 0u)
        << c.line.substr(0, 40) << " -> " << answer.dump();
  }
  EXPECT_EQ(Answer(json{{"cmd", "ping"}}), json({{"ok", true}, {"modules", 3}, {"modbusPort", 0}}));
}

TEST_F(ControlLines, AnythingADispatchThrowsBecomesARefusal) {
  const auto answer = [](const ControlServer::Dispatch& dispatch) {
    return json::parse(AnswerControlLine(dispatch, R"({"cmd": "ping"})"));
  };
  EXPECT_EQ(answer([](const json&) -> json { throw std::runtime_error("out of modules"); }),
            json({{"ok", false}, {"error", "out of modules"}}));
  EXPECT_EQ(answer([](const json&) -> json { throw 42; }),
            json({{"ok", false}, {"error", "the request failed"}}));
  // An answer that is not UTF-8 is still written as one line of JSON.
  EXPECT_EQ(answer([](const json&) {
              return json{{"ok", true}, {"text", "a\xff"}};
            }),
            json({{"ok", true}, {"text", "a\xef\xbf\xbd"}}));
}

TEST_F(ControlLines, WhatALineCannotBeIsRefusedAndNothingMoves) {
  const struct {
    json request;
    const char* error;
  } cases[] = {
      {{{"cmd", "read"}, {"module", "101abc"}, {"register", 1}},
       "\"module\" must be a serial number or an address, not \"101abc\""},
      {{{"cmd", "read"}, {"module", "99999999999"}, {"register", 1}},
       "\"module\" must be a serial number or an address, not \"99999999999\""},
      {{{"cmd", "network"}, {"module", 102}, {"address", "192.168.202.20"}},
       "address: 192.168.202.20 is the address of module 101; a duplicate address is the fault "
       "\"sharesAddressOf\""},
      {{{"cmd", "network"}, {"module", 102}, {"address", "0.0.0.0"}},
       "address: 0.0.0.0 is not a module address (0.0.0.0/8 is \"this network\")"},
      {{{"cmd", "network"}, {"module", 102}, {"address", "224.0.0.9"}},
       "address: 224.0.0.9 is a multicast address"},
      {{{"cmd", "network"}, {"module", 102}, {"address", "255.255.255.255"}},
       "address: 255.255.255.255 is the broadcast address"},
      {{{"cmd", "network"}, {"module", 102}, {"address", "192.168.202.255"}},
       "address: 192.168.202.255 is the broadcast address of 192.168.202.0/24"},
      {{{"cmd", "network"}, {"module", 102}, {"address", "10.1.0.0"}, {"mask", "255.255.0.0"}},
       "address: 10.1.0.0 is the address of the network 10.1.0.0/16"},
      {{{"cmd", "network"}, {"module", 102}, {"address", "10.1.2.3"}, {"mask", "255.0.255.0"}},
       "mask: 255.0.255.0 is not a contiguous network mask"},
      {{{"cmd", "network"}, {"module", 102}, {"address", "10.1.2.3"}, {"mask", 8}},
       "bad address, mask or gateway"},
      {{{"cmd", "network"}, {"module", 102}, {"address", "10.1.2.3.4"}},
       "bad address, mask or gateway"},
      {{{"cmd", "fault"}, {"module", 102}, {"set", {{"sharesAddressOf", 999}}}},
       "sharesAddressOf: no module with serial 999"},
      {{{"cmd", "fault"}, {"module", 102}, {"set", {{"sharesAddressOf", 102}}}},
       "sharesAddressOf: a module cannot share its own address"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Answer(c.request), json({{"ok", false}, {"error", c.error}})) << c.request.dump();
  }
  EXPECT_EQ(AddressOf(1), "192.168.202.21");
  EXPECT_EQ(Answer(json{{"cmd", "list"}})["modules"][1]["faults"]["sharesAddressOf"], nullptr);
}

TEST_F(ControlLines, ADuplicateAddressIsOnlyTheFaultOneAsksFor) {
  // 103 shares 101's address: asked for, so allowed.
  ASSERT_EQ(
      Answer(json{{"cmd", "fault"}, {"module", 103}, {"set", {{"sharesAddressOf", 101}}}})["ok"],
      true);
  EXPECT_EQ(AddressOf(2), "192.168.202.20");
  // Neither the shared address nor 103's own (it comes back when the fault is cleared) can be
  // taken by moving another module.
  for (const char* taken : {"192.168.202.20", "192.168.202.22"}) {
    const json answer = Answer(json{{"cmd", "network"}, {"module", 102}, {"address", taken}});
    EXPECT_EQ(answer["ok"], false) << taken;
  }
  EXPECT_EQ(Answer(json{{"cmd", "network"}, {"module", 102}, {"address", "192.168.202.50"}})["ok"],
            true);
  EXPECT_EQ(AddressOf(1), "192.168.202.50");
  ASSERT_EQ(Answer(json{{"cmd", "clear-faults"}, {"module", 103}})["ok"], true);
  EXPECT_EQ(AddressOf(2), "192.168.202.22");
  // A serial given as text still finds its module.
  EXPECT_EQ(Answer(json{{"cmd", "read"}, {"module", "103"}, {"register", 28}})["serial"], 103);
}

TEST(ControlSocket, APathInUseOrThatIsNoSocketIsNeverTakenOver) {
  fixtures::TempFolder folder;
  EventLoop loop;
  const ControlServer::Dispatch dispatch = [](const json&) { return json{{"ok", true}}; };
  std::string error;
  const std::string live = folder.path() + "live.sock";
  ControlServer first(loop, dispatch);
  ASSERT_TRUE(first.Listen(live, &error)) << error;
  {
    ControlServer second(loop, dispatch);
    EXPECT_FALSE(second.Listen(live, &error));
    EXPECT_EQ(error, "control socket " + live + ": another program listens on it");
  }
  struct stat status {};
  EXPECT_EQ(lstat(live.c_str(), &status), 0) << "the refused server removed the live socket";

  const std::string notes = folder.path() + "notes.txt";
  std::ofstream(notes) << "keep";
  ControlServer third(loop, dispatch);
  EXPECT_FALSE(third.Listen(notes, &error));
  EXPECT_EQ(error, "control socket " + notes + ": a file that is not a socket is there");
  EXPECT_EQ(fixtures::ReadFile(notes), "keep");

  // A socket whose server has ended is what a killed run leaves: it is replaced.
  const std::string left = folder.path() + "left.sock";
  const int ended = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, left.c_str(), left.size());
  ASSERT_EQ(bind(ended, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(ended);
  ControlServer fourth(loop, dispatch);
  EXPECT_TRUE(fourth.Listen(left, &error)) << error;
}

}  // namespace
}  // namespace sim

namespace sim {
namespace {

TEST_F(ControlLines, ReplacePutsAFactoryFreshModuleInTheOldOnesPlace) {
  // 102 was commissioned: a configuration id and settings in RAM and flash.
  for (const bool flash : {false, true}) {
    ASSERT_EQ(Answer(json{{"cmd", "write"},
                          {"module", 102},
                          {"register", 1},
                          {"values", {0x1234, 0x5678, 1, 2}},
                          {"flash", flash}})["ok"],
              true);
    ASSERT_EQ(Answer(json{{"cmd", "write"},
                          {"module", 102},
                          {"register", 40},
                          {"values", {977}},
                          {"flash", flash}})["ok"],
              true);
  }
  const json before = Answer(json{{"cmd", "list"}})["modules"][1];
  const json factory40 =
      Answer(json{{"cmd", "read"}, {"module", 103}, {"register", 40}, {"flash", true}})["values"];

  const json answer = Answer(ControlRequestFromWords({"replace", "102", "902"}));
  ASSERT_EQ(answer["ok"], true) << answer.dump();
  EXPECT_EQ(answer["replaced"], 102);
  const json after = Answer(json{{"cmd", "list"}})["modules"][1];
  EXPECT_EQ(after["serial"], 902);
  EXPECT_NE(after["mac"], before["mac"]);
  for (const char* same : {"address", "chain", "position", "direction", "left", "right"})
    EXPECT_EQ(after[same], before[same]) << same;
  for (const bool flash : {false, true}) {
    EXPECT_EQ(Answer(json{{"cmd", "read"},
                          {"module", 902},
                          {"register", 1},
                          {"count", 4},
                          {"flash", flash}})["values"],
              json({0, 0, 0, 0}));
    EXPECT_EQ(Answer(json{
                  {"cmd", "read"}, {"module", 902}, {"register", 40}, {"flash", flash}})["values"],
              factory40);
  }
  EXPECT_EQ(Answer(json{{"cmd", "files"}, {"module", 902}})["files"]["plcLength"], 0);
  EXPECT_EQ(Answer(json{{"cmd", "read"}, {"module", 102}, {"register", 1}})["ok"], false);

  // Another address when one is given; what a line cannot be is refused.
  ASSERT_EQ(Answer(ControlRequestFromWords({"replace", "902", "912", "192.168.202.90"}))["ok"],
            true);
  EXPECT_EQ(AddressOf(1), "192.168.202.90");
  const struct {
    json request;
    const char* error;
  } refused[] = {
      {{{"cmd", "replace"}, {"module", 912}, {"serial", 0}}, "\"serial\" must not be 0"},
      {{{"cmd", "replace"}, {"module", 912}, {"serial", 101}}, "serial 101 is already on the line"},
      {{{"cmd", "replace"}, {"module", 912}, {"serial", 913}, {"address", "192.168.202.20"}},
       "address: 192.168.202.20 is the address of module 101"},
      {{{"cmd", "replace"}, {"module", 912}, {"serial", 913}, {"address", "192.168.202.255"}},
       "address: 192.168.202.255 is the broadcast address of 192.168.202.0/24"},
  };
  for (const auto& c : refused)
    EXPECT_EQ(Answer(c.request), json({{"ok", false}, {"error", c.error}})) << c.request.dump();
  EXPECT_EQ(Answer(json{{"cmd", "list"}})["modules"][1]["serial"], 912);
}

}  // namespace
}  // namespace sim
