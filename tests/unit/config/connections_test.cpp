// Connection descriptors, the dialog's exclusion rules, Apply, the mode switch, Apply All and
// the extension module against simulated modules that record every register operation.
#include "config/connections.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <mutex>

#include "config/extension.h"
#include "fixtures/temp_log.h"

namespace {

using config::ConnectionSettings;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// One simulated module: its registers and a journal of what was written and saved.
struct FakeState {
  std::array<uint16_t, 513> regs{};
  std::vector<std::string> journal;  // "W first count", "S reg value", "G first count"
  std::string failOn;                // a journal entry that fails instead
  int refusedRead = -1;              // a register whose read fails
  bool dead = false;
  std::mutex mutex;
  size_t Writes() {
    std::lock_guard guard(mutex);
    return journal.size();
  }
};

class FakeModule : public config::ModuleRegisters {
 public:
  explicit FakeModule(FakeState& state) : s_(state) {}
  std::optional<uint16_t> ReadOne(uint16_t reg) override {
    std::lock_guard guard(s_.mutex);
    if (s_.dead || reg >= 513 || reg == s_.refusedRead) return std::nullopt;
    return s_.regs[reg];
  }
  bool ReadBlock(uint16_t first, uint16_t count, uint16_t* out) override {
    std::lock_guard guard(s_.mutex);
    if (s_.dead || first + count > 513) return false;
    std::copy_n(s_.regs.begin() + first, count, out);
    return true;
  }
  bool WriteOne(uint16_t reg, uint16_t value) override { return WriteBlock(reg, 1, &value); }
  bool WriteBlock(uint16_t first, uint16_t count, const uint16_t* values) override {
    std::lock_guard guard(s_.mutex);
    if (!Record("W " + std::to_string(first) + " " + std::to_string(count))) return false;
    std::copy_n(values, count, s_.regs.begin() + first);
    return true;
  }
  bool SaveOne(uint16_t reg, uint16_t value) override {
    std::lock_guard guard(s_.mutex);
    if (!Record("S " + std::to_string(reg) + " " + std::to_string(value))) return false;
    s_.regs[reg] = value;
    return true;
  }
  bool SaveGroup(uint16_t first, uint16_t count) override {
    std::lock_guard guard(s_.mutex);
    return Record("G " + std::to_string(first) + " " + std::to_string(count));
  }

 private:
  bool Record(const std::string& entry) {
    if (s_.dead || entry == s_.failOn) return false;
    s_.journal.push_back(entry);
    return true;
  }
  FakeState& s_;
};

// A line of simulated modules by address, and the services that reach them.
class Line {
 public:
  FakeState& operator[](const std::string& ip) { return states_[ip]; }
  config::ConnectionServices Services(base::Prompt& prompt) {
    config::ConnectionServices services;
    services.prompt = &prompt;
    services.open = [this](const std::string& ip) -> std::unique_ptr<config::ModuleRegisters> {
      auto found = states_.find(ip);
      if (found == states_.end() || found->second.dead) return nullptr;
      return std::make_unique<FakeModule>(found->second);
    };
    services.sleep = [this](uint32_t ms) {
      std::lock_guard guard(sleepMutex_);
      slept += ms;
    };
    services.reread = [this] { ++rereads; };
    return services;
  }
  std::map<std::string, FakeState> states_;
  std::mutex sleepMutex_;
  uint64_t slept = 0;
  int rereads = 0;
};

std::vector<uint16_t> Regs(FakeState& state, int first, int count) {
  return {state.regs.begin() + first, state.regs.begin() + first + count};
}

const std::vector<std::string> kRestart = {"W 19 1", "W 251 3"};

TEST(ConnectionDescriptor, Table) {
  const struct {
    const char* what;
    bool upstream;
    const char* linked;
    uint16_t selectedMode, linkedMode;
    config::Descriptor words;
  } cases[] = {
      {"mode 5 linked to mode 6",
       true,
       "192.168.1.20",
       5,
       6,
       {0xC0A8, 0x0114, 1, 116, 243, 7, 1, 0}},
      {"both ZPA", true, "192.168.1.20", 0, 0, {0xC0A8, 0x0114, 1, 116, 232, 15, 1, 0}},
      {"selected in mode 6", true, "10.0.0.7", 6, 0, {0x0A00, 0x0007, 1, 156, 232, 7, 1, 0}},
      {"downstream, linked in mode 6",
       false,
       "192.168.1.26",
       0,
       6,
       {0xC0A8, 0x011A, 1, 196, 163, 7, 1, 0}},
      {"downstream, both ZPA",
       false,
       "192.168.1.26",
       0,
       0,
       {0xC0A8, 0x011A, 1, 196, 134, 15, 1, 0}},
      {"downstream, selected in mode 6",
       false,
       "192.168.1.26",
       6,
       6,
       {0xC0A8, 0x011A, 1, 236, 134, 7, 1, 0}},
      {"no linked module", true, "", 0, 6, {0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(config::MakeConnectionDescriptor(c.upstream, c.linked, c.selectedMode, c.linkedMode),
              c.words)
        << c.what;
  }
}

TEST(ConnectionDescriptor, NodeNumbersAndBlocks) {
  EXPECT_EQ(config::NodeToAddress("192.168.1.25", 1), "192.168.1.20");
  EXPECT_EQ(config::NodeToAddress("192.168.1.25", 236), "192.168.1.255");
  EXPECT_EQ(config::NodeToAddress("192.168.1.25", 0), "");
  EXPECT_EQ(config::NodeToAddress("192.168.1.25", 237), "");  // past one octet
  EXPECT_EQ(config::MakeAccumulationDescriptor("192.168.1.22", 1, 0),
            (config::Descriptor{0xC0A8, 0x0116, 1, 196, 169, 1, 1, 0}));
  EXPECT_EQ(config::OutputsValue(1), 0x5555);
  EXPECT_EQ(config::OutputsValue(0), 0);
}

TEST(ConnectionChoices, ExclusionRules) {
  config::ConnectionChoices choices;
  auto& s = choices.settings();
  choices.TickPlcIo(true);
  EXPECT_TRUE(choices.PlcControlsEnabled());
  choices.TickHardware(true);
  EXPECT_FALSE(s.plcIo);
  EXPECT_FALSE(choices.PlcControlsEnabled());
  choices.TickSlave(true);
  EXPECT_FALSE(s.hardware);
  choices.TickPallet(true);
  EXPECT_FALSE(s.slave);
  choices.TickPlcIo(true);
  EXPECT_FALSE(s.pallet);
  EXPECT_TRUE(s.plcIo);

  s.upstream = {false, 3, ""};
  s.downstream = {true, 0, "10.1.1.1"};
  choices.TickClear(true);
  EXPECT_EQ(s.upstream.node, 0);
  EXPECT_FALSE(s.downstream.byAddress);
  choices.TickTransparent(true);  // clear goes, the choices come back
  EXPECT_FALSE(s.clear);
  EXPECT_EQ(s.upstream.node, 3);
  EXPECT_EQ(s.downstream.address, "10.1.1.1");
  choices.TickClear(true);
  EXPECT_FALSE(s.transparent);
}

class Conn : public ::testing::Test {
 protected:
  fixtures::ScopedTempLog log_;
  base::ScriptedPrompt prompt_;
  Line line_;
  const std::string ip_ = "192.168.1.25";
};

TEST_F(Conn, SpecialModesAreNotLeftWithoutAModeBoxAndNothingIsWritten) {
  const struct {
    uint16_t mode;
    const char* text;
  } cases[] = {
      {1,
       "Es ist nicht möglich von Slave in ZPA Modus zur wechseln. Bitte neue Autoconfig "
       "durchführen."},
      {9,
       "Es ist nicht möglich von Pallet in ZPA Modus zur wechseln. Bitte neue Autoconfig "
       "durchführen."},
      {2,
       "Es ist nicht möglich von SPS I/O Modus in ZPA Modus zur wechseln. Bitte neue "
       "Autoconfig durchführen."},
      {5,
       "Es ist nicht möglich von Hardware gesteuert in ZPA Modus zur wechseln. Bitte neue "
       "Autoconfig durchführen."},
  };
  for (const auto& c : cases) {
    base::ScriptedPrompt prompt;
    FakeState& state = line_[ip_];
    state.regs[18] = c.mode;
    state.journal.clear();
    FakeModule module(state);
    ConnectionSettings settings;
    settings.upstream.node = 1;
    auto services = line_.Services(prompt);
    EXPECT_EQ(config::ApplyConnections(module, ip_, settings, services),
              config::ApplyOutcome::kRefused);
    EXPECT_THAT(prompt.Texts(), ElementsAre(c.text));
    EXPECT_TRUE(state.journal.empty()) << c.mode;
  }
}

TEST_F(Conn, ApplyWritesBothDescriptorsSavesThemAndRestarts) {
  FakeState& selected = line_[ip_];
  line_["192.168.1.24"].regs[18] = 6;  // the upstream neighbour is in mode 6
  line_["192.168.7.9"].regs[18] = 0;   // the downstream one, in another subnet, is not
  selected.regs[18] = 0;
  FakeModule module(selected);
  ConnectionSettings settings;
  settings.upstream.node = 5;                      // .24
  settings.downstream = {true, 0, "192.168.7.9"};  // another subnet
  auto services = line_.Services(prompt_);
  ASSERT_EQ(config::ApplyConnections(module, ip_, settings, services), config::ApplyOutcome::kDone);
  EXPECT_THAT(Regs(selected, 300, 16), ElementsAre(0xC0A8, 0x0118, 1, 116, 243, 7, 1, 0, 0xC0A8,
                                                   0x0709, 1, 196, 134, 15, 1, 0));
  EXPECT_THAT(selected.journal, ElementsAre("W 300 16", "G 300 16", "W 19 1", "W 251 3"));
  EXPECT_THAT(Regs(selected, 251, 3), ElementsAre(300, 333, 666));
  EXPECT_EQ(line_.slept, 12000u);  // 2 s before the restart, 10 s after it
  EXPECT_EQ(line_.rereads, 1);
}

TEST_F(Conn, AccumulationModesNeedBothZonesAndWriteTheirDescriptor) {
  FakeState& selected = line_[ip_];
  selected.regs[18] = 3;
  FakeModule module(selected);
  ConnectionSettings settings;
  settings.accumulation.node = 2;
  auto services = line_.Services(prompt_);
  EXPECT_EQ(config::ApplyConnections(module, ip_, settings, services),
            config::ApplyOutcome::kRefused);
  settings.fromZone = 0;
  EXPECT_EQ(config::ApplyConnections(module, ip_, settings, services),
            config::ApplyOutcome::kRefused);
  EXPECT_THAT(prompt_.Texts(), ElementsAre("Please, select Accumulation Control From Zone!",
                                           "Please, select Accumulation Control To Zone!"));
  EXPECT_TRUE(selected.journal.empty());
  settings.toZone = 1;
  ASSERT_EQ(config::ApplyConnections(module, ip_, settings, services), config::ApplyOutcome::kDone);
  EXPECT_THAT(Regs(selected, 348, 8), ElementsAre(0xC0A8, 0x0115, 1, 116, 249, 1, 1, 0));
  EXPECT_THAT(selected.journal, ::testing::Contains("G 348 8"));
}

TEST_F(Conn, PlcIoSwitchWithAllOffWritesTheOutputsTwiceAndRestarts) {
  FakeState& selected = line_[ip_];
  FakeModule module(selected);
  ConnectionSettings settings;
  settings.plcIo = true;
  settings.outputs = 1;  // "Alle abschalten"
  settings.clear = true;
  auto services = line_.Services(prompt_);
  std::vector<std::string> uploads;
  services.upload = [&](const std::string& ip, const std::string& family, const ConnectionSettings&,
                        base::Progress&) {
    uploads.push_back(ip + " " + family);
    return config::PlcUploadResult{1, "ok"};
  };
  std::vector<int> locks;
  services.readLock = [&](const std::string&, bool lock) {
    locks.push_back(lock);
    return 0;
  };
  ASSERT_EQ(config::ApplyConnections(module, ip_, settings, services), config::ApplyOutcome::kDone);
  EXPECT_EQ(prompt_.Texts().front(), config::kSureText);
  EXPECT_EQ(selected.regs[255], 0x5555);
  EXPECT_EQ(selected.regs[256], 0x5555);
  EXPECT_EQ(selected.regs[18], 2);
  EXPECT_THAT(selected.journal,
              ElementsAre("S 18 2", "W 255 2", "G 255 2", "S 322 0", "S 330 0", "W 322 1",
                          "W 330 1", "W 316 16", "G 316 16", "W 19 1", "W 251 3"));
  EXPECT_EQ(line_.slept, 22000u);  // 2 s, then ten 2 s rounds
  EXPECT_THAT(uploads, ElementsAre(ip_ + " Brevantrix"));
  EXPECT_THAT(locks, ElementsAre(0));
}

TEST_F(Conn, CancelledQuestionAndFailedStepStopTheSwitch) {
  FakeState& selected = line_[ip_];
  FakeModule module(selected);
  ConnectionSettings settings;
  settings.hardware = true;
  auto services = line_.Services(prompt_);
  prompt_.QueueAnswer(base::PromptAnswer::Cancel);
  EXPECT_EQ(config::ApplyConnections(module, ip_, settings, services),
            config::ApplyOutcome::kRefused);
  EXPECT_TRUE(selected.journal.empty());

  selected.failOn = "G 300 16";
  EXPECT_EQ(config::ApplyConnections(module, ip_, settings, services),
            config::ApplyOutcome::kFailed);
  EXPECT_THAT(selected.journal, ElementsAre("S 18 5", "W 300 16"));  // no restart
  const auto texts = prompt_.Texts();
  EXPECT_THAT(texts, ::testing::Contains("Connection to the module \"192.168.1.25\" is lost !"));
  EXPECT_EQ(texts.back(), "SaveToFlash(300, 16) Error!");
  EXPECT_THAT(log_.Contents(),
              HasSubstr("CDlgConn::MakePLCControlled - SaveToFlash(300, 16) \"192.168.1.25\" "
                        "ERROR !"));
}

TEST_F(Conn, ApplyAllReportsExactlyTheDeadModule) {
  std::vector<std::string> ips;
  for (int last = 20; last < 25; ++last) ips.push_back("192.168.1." + std::to_string(last));
  for (const auto& ip : ips) line_[ip];
  line_["192.168.1.22"].dead = true;
  ConnectionSettings settings;
  settings.outputs = 1;
  settings.transparent = true;
  auto services = line_.Services(prompt_);
  const config::ApplyAllResult result = config::ApplyAll(ips, settings, services);
  ASSERT_TRUE(result.started);
  EXPECT_THAT(prompt_.Texts().front(),
              HasSubstr("(von 192.168.1.20 bis 192.168.1.24) auf SPS-Steuerung"));
  for (const auto& module : result.modules) {
    const bool dead = module.ip == "192.168.1.22";
    EXPECT_EQ(module.state,
              dead ? config::ApplyAllModule::State::kFailed : config::ApplyAllModule::State::kDone)
        << module.ip;
    if (dead) continue;
    FakeState& state = line_[module.ip];
    EXPECT_THAT(state.journal, ElementsAre("S 18 2", "S 34 0", "W 255 2", "G 255 2", "S 322 0",
                                           "S 330 0", "W 316 16", "G 316 16", "W 19 1", "W 251 3"));
    EXPECT_THAT(Regs(state, 316, 16), ElementsAreArray(config::TransparentBlock()));
  }
  EXPECT_EQ(result.message, "192.168.1.22: Connection to the module \"192.168.1.22\" is lost !\n");
}

// A program file named PLCDATA_… whose family field reads `family`.
std::string Program(const std::string& folder, const std::string& family) {
  std::vector<char> bytes(200, 0x11);
  std::fill(bytes.begin() + 24, bytes.begin() + 44, 0);
  std::copy(family.begin(), family.end(), bytes.begin() + 24);
  const std::string path = folder + "PLCDATA_" + family + ".bin";
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
  return path;
}

TEST_F(Conn, PlcFamiliesUploadTheirProgramLockAndLinkWithoutAModeSwitch) {
  const struct {
    uint16_t register6;
    const char* family;
  } cases[] = {{0x0220, "Draskufel"}, {0x0CC0, "Brevantrix-IO"}};
  for (const auto& c : cases) {
    base::ScriptedPrompt prompt;
    FakeState& selected = line_[ip_];
    selected.journal.clear();
    selected.regs[6] = c.register6;
    selected.regs[18] = 2;
    FakeModule module(selected);
    ConnectionSettings settings;
    settings.plcIo = true;
    settings.lockPlc = true;
    settings.downstream.node = 8;  // .27
    line_["192.168.1.27"];
    settings.plcFile = Program(log_.folder(), c.family);
    auto services = line_.Services(prompt);
    std::vector<std::string> uploads;
    services.upload = [&](const std::string&, const std::string& family,
                          const ConnectionSettings& s, base::Progress&) {
      uploads.push_back(family + " " + s.plcFile);
      return config::PlcUploadResult{1, "ok"};
    };
    std::vector<bool> locks;
    services.readLock = [&](const std::string&, bool lock) {
      locks.push_back(lock);
      return 1;
    };
    ASSERT_EQ(config::ApplyConnections(module, ip_, settings, services),
              config::ApplyOutcome::kDone)
        << c.family;
    EXPECT_THAT(uploads, ElementsAre(std::string(c.family) + " " + settings.plcFile));
    EXPECT_THAT(locks, ElementsAre(true));
    EXPECT_THAT(selected.journal, ElementsAre("W 300 16", "G 300 16", "W 19 1", "W 251 3"));
    EXPECT_EQ(selected.regs[308 + 1], 0x011B);
    EXPECT_TRUE(prompt.Texts().empty());  // no mode question for these families
  }
}

TEST_F(Conn, AProgramForAnotherFamilyChangesNothing) {
  FakeState& selected = line_[ip_];
  selected.regs[6] = 0x0900;
  FakeModule module(selected);
  ConnectionSettings settings;
  settings.plcIo = true;
  settings.plcFile = Program(log_.folder(), "Vermosand");
  auto services = line_.Services(prompt_);
  EXPECT_EQ(config::ApplyConnections(module, ip_, settings, services),
            config::ApplyOutcome::kRefused);
  EXPECT_TRUE(selected.journal.empty());

  // Apply All: every module of another family is named, and none is touched.
  const std::vector<std::string> ips = {"192.168.1.20", "192.168.1.21", "192.168.1.22"};
  line_["192.168.1.20"].regs[6] = 0x0700;
  line_["192.168.1.21"].regs[6] = 0x0900;
  line_["192.168.1.22"].regs[6] = 0x0C00;
  base::ScriptedPrompt prompt;
  auto all = line_.Services(prompt);
  const config::ApplyAllResult result = config::ApplyAll(ips, settings, all);
  EXPECT_FALSE(result.started);
  EXPECT_EQ(prompt.Texts().back(),
            "The operation will be aborted! The selected PLC program is for Vermosand devices, "
            "but the following devices are not compatible with it:\"192.168.1.21\", "
            "\"192.168.1.22\", ");
  for (const auto& ip : ips) EXPECT_TRUE(line_[ip].journal.empty()) << ip;
}

TEST_F(Conn, AnUnreadableLinkedModuleStopsApplyBeforeAnyWrite) {
  // Its descriptor words depend on its mode: a link written as if it were not in mode 6 would
  // be wrong for a module that is.
  const struct {
    const char* what;
    uint16_t register6;  // 0x0220: a PLC family, links written with PLC I/O mode
    bool upstream;
    bool reachable;  // false: no connection; true: register 18 refused
  } cases[] = {
      {"upstream module unreachable", 0x0900, true, false},
      {"downstream module refuses register 18", 0x0900, false, true},
      {"PLC family, upstream module refuses register 18", 0x0220, true, true},
  };
  for (const auto& c : cases) {
    Line line;
    base::ScriptedPrompt prompt;
    FakeState& selected = line[ip_];
    selected.regs[6] = c.register6;
    selected.regs[18] = c.register6 == 0x0220 ? 2 : 0;
    const std::string linked = "192.168.1.26";  // node 7
    line["192.168.1.24"].regs[18] = 0;
    if (c.reachable) {
      line[linked].regs[18] = 6;
      line[linked].refusedRead = 18;
    }
    FakeModule module(selected);
    ConnectionSettings settings;
    settings.plcIo = c.register6 == 0x0220;
    (c.upstream ? settings.upstream : settings.downstream).node = 7;
    (c.upstream ? settings.downstream : settings.upstream).node = 5;  // .24, readable
    auto services = line.Services(prompt);
    services.readLock = [](const std::string&, bool) { return 0; };
    EXPECT_EQ(config::ApplyConnections(module, ip_, settings, services),
              config::ApplyOutcome::kFailed)
        << c.what;
    EXPECT_TRUE(selected.journal.empty()) << c.what;
    EXPECT_EQ(line.slept, 0u) << c.what;  // no restart
    EXPECT_THAT(prompt.Texts(), ElementsAre("Connection to the module \"192.168.1.26\" is lost !"))
        << c.what;
  }
  EXPECT_THAT(log_.Contents(), HasSubstr("CDlgConn::OnButtonApply - Read Type Error (RegNo. 18) "
                                         "\"192.168.1.26\" ERROR !"));
}

TEST_F(Conn, TheCommandLineIsRefusedWhatApplyWouldLeaveUndone) {
  const auto settingsWith = [](auto change) {
    ConnectionSettings s;
    s.refuseUnused = true;
    change(s);
    return s;
  };
  const std::string plcOnly =
      "The outputs on PLC disconnection, a PLC program and the PLC lock are only set with PLC "
      "I/O mode; nothing was written.";
  const std::string program = Program(log_.folder(), "BrevantrixUx");
  const struct {
    const char* what;
    uint16_t register6;
    ConnectionSettings settings;
    std::string refusal;  // empty: taken
  } cases[] = {
      {"transparent without a mode switch", 0x0900,
       settingsWith([](ConnectionSettings& s) { s.transparent = true; }),
       "The transparent block is only written with a mode switch; nothing was written."},
      {"outputs off without PLC I/O", 0x0900,
       settingsWith([](ConnectionSettings& s) { s.outputs = 1; }), plcOnly},
      {"a program without PLC I/O", 0x0900,
       settingsWith([&](ConnectionSettings& s) { s.plcFile = program; }), plcOnly},
      {"the lock with hardware control", 0x0900, settingsWith([](ConnectionSettings& s) {
         s.hardware = true;
         s.lockPlc = true;
       }),
       plcOnly},
      {"links with a mode switch", 0x0900, settingsWith([](ConnectionSettings& s) {
         s.slave = true;
         s.upstream.node = 5;
         s.linksChosen = true;
       }),
       "A mode switch writes no links to neighbours; nothing was written."},
      {"PLC family: hardware control", 0x0CC0,
       settingsWith([](ConnectionSettings& s) { s.hardware = true; }),
       "Modules of this family only take PLC I/O mode; nothing was written."},
      {"PLC family: outputs off", 0x0220, settingsWith([](ConnectionSettings& s) {
         s.plcIo = true;
         s.outputs = 1;
       }),
       "The outputs on PLC disconnection are not set on modules of this family; nothing was "
       "written."},
      {"PLC family: links without PLC I/O", 0x0220, settingsWith([](ConnectionSettings& s) {
         s.downstream.node = 5;
         s.linksChosen = true;
       }),
       "Links are written on modules of this family only with PLC I/O mode; nothing was "
       "written."},
      {"PLC I/O with everything", 0x0900, settingsWith([&](ConnectionSettings& s) {
         s.plcIo = true;
         s.transparent = true;
         s.outputs = 1;
         s.plcFile = program;
         s.lockPlc = true;
       }),
       ""},
      {"links alone", 0x0900, settingsWith([](ConnectionSettings& s) {
         s.upstream.node = 5;
         s.linksChosen = true;
       }),
       ""},
      {"PLC family: a program without a mode", 0x0220,
       settingsWith([&](ConnectionSettings& s) { s.plcFile = program; }), ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(config::UnusedChoice(c.settings,
                                   (c.register6 & 0xF0) == 0x20 || (c.register6 & 0xF0) == 0xC0),
              c.refusal)
        << c.what;
    if (c.refusal.empty()) continue;
    Line line;
    base::ScriptedPrompt prompt;
    FakeState& selected = line[ip_];
    selected.regs[6] = c.register6;
    FakeModule module(selected);
    auto services = line.Services(prompt);
    int calls = 0;
    services.upload = [&](const std::string&, const std::string&, const ConnectionSettings&,
                          base::Progress&) {
      ++calls;
      return config::PlcUploadResult{1, "ok"};
    };
    services.readLock = [&](const std::string&, bool) { return ++calls, 1; };
    EXPECT_EQ(config::ApplyConnections(module, ip_, c.settings, services),
              config::ApplyOutcome::kRefused)
        << c.what;
    EXPECT_THAT(prompt.Texts(), ElementsAre(c.refusal)) << c.what;
    EXPECT_TRUE(selected.journal.empty()) << c.what;
    EXPECT_EQ(calls, 0) << c.what;
  }
}

TEST_F(Conn, APlcLockTheModuleDoesNotAcknowledgeIsAFailure) {
  const struct {
    const char* what;
    uint16_t register6;  // 0x0900: after the mode switch; 0x0220: before the links
    bool lock;
    int answer;
    config::ApplyOutcome outcome;
    std::string text;
  } cases[] = {
      {"no answer after the switch", 0x0900, true, -1, config::ApplyOutcome::kFailed,
       "The module \"192.168.1.25\" did not answer the PLC lock request !"},
      {"unlocked instead of locked", 0x0900, true, 0, config::ApplyOutcome::kFailed,
       "The module \"192.168.1.25\" reports PLC lock state 0 instead of 1 !"},
      {"unlock acknowledged", 0x0900, false, 0, config::ApplyOutcome::kDone, ""},
      {"PLC family: no answer, no links written", 0x0220, false, -1, config::ApplyOutcome::kFailed,
       "The module \"192.168.1.25\" did not answer the PLC lock request !"},
      {"PLC family: lock acknowledged", 0x0220, true, 1, config::ApplyOutcome::kDone, ""},
  };
  for (const auto& c : cases) {
    Line line;
    base::ScriptedPrompt prompt;
    FakeState& selected = line[ip_];
    selected.regs[6] = c.register6;
    selected.regs[18] = 2;  // already PLC I/O: no question
    FakeModule module(selected);
    ConnectionSettings settings;
    settings.plcIo = true;
    settings.lockPlc = c.lock;
    auto services = line.Services(prompt);
    services.readLock = [&](const std::string&, bool) { return c.answer; };
    EXPECT_EQ(config::ApplyConnections(module, ip_, settings, services), c.outcome) << c.what;
    if (c.text.empty()) {
      EXPECT_TRUE(prompt.Texts().empty()) << c.what;
    } else {
      EXPECT_THAT(prompt.Texts(), ElementsAre(c.text)) << c.what;
    }
    if (c.register6 == 0x0220 && c.outcome == config::ApplyOutcome::kFailed) {
      EXPECT_TRUE(selected.journal.empty()) << c.what;
    }
  }
}

// ---- extension ----

class Ext : public Conn {
 protected:
  void SetUp() override {
    line_[ip_].regs[90] = 1;
    line_[ip_].regs[170] = 1;
    line_["192.168.1.24"].regs[90] = 2;
    line_["192.168.1.24"].regs[170] = 2;
    line_["192.168.1.26"];
  }
  config::ExtensionOutcome Apply(const std::string& ip, config::MasterChoice choice) {
    FakeModule module(line_[ip]);
    auto services = line_.Services(prompt_);
    return config::ApplyExtension(module, ip, choice, services);
  }
};

TEST_F(Ext, RefusalsComeBeforeAnyWrite) {
  line_["192.168.1.20"].regs[90] = 1;
  line_["192.168.1.21"].regs[90] = 1;
  line_["192.168.1.30"];  // no motors
  const struct {
    const char* ip;
    config::MasterChoice choice;
    const char* text;
  } cases[] = {
      {"192.168.1.20", config::MasterChoice::kPreceding, "Das Modul hat kein vorgelagertes Modul"},
      {"192.168.1.25", config::MasterChoice::kNone, "Bitte Master-Modul auswählen"},
      {"192.168.1.21", config::MasterChoice::kFollowing, "Das Modul hat kein nachgelagertes Modul"},
      {"192.168.1.30", config::MasterChoice::kPreceding,
       "Module can't made Slave. It have no motors!"},
  };
  line_["192.168.1.29"];
  for (const auto& c : cases) {
    base::ScriptedPrompt prompt;
    FakeModule module(line_[c.ip]);
    auto services = line_.Services(prompt);
    EXPECT_EQ(config::ApplyExtension(module, c.ip, c.choice, services),
              config::ExtensionOutcome::kRefused)
        << c.ip;
    EXPECT_THAT(prompt.Texts(), ElementsAre(c.text));
  }
  for (auto& [ip, state] : line_.states_) EXPECT_TRUE(state.journal.empty()) << ip;
}

TEST_F(Ext, SecondApplyReusesTheMastersEntry) {
  FakeState& master = line_["192.168.1.24"];
  master.regs[179] = 3;
  master.regs[332] = 0xC0A8;  // entry 1 holds another extension
  master.regs[333] = 0x0117;
  ASSERT_EQ(Apply(ip_, config::MasterChoice::kPreceding), config::ExtensionOutcome::kDone);
  EXPECT_THAT(Regs(master, 340, 8), ElementsAre(0xC0A8, 0x0119, 1, 196, 134, 8, 1, 0));
  EXPECT_EQ(master.regs[179], 5);  // counted once: the value read plus entry 2
  FakeState& module = line_[ip_];
  EXPECT_EQ(module.regs[18], 1);
  EXPECT_THAT(Regs(module, 114, 2), ElementsAre(0xC0A8, 0x0118));
  EXPECT_THAT(Regs(module, 332, 8), ElementsAre(0xC0A8, 0x0118, 276, 276, 1, 1, 1, 0));
  EXPECT_THAT(Regs(module, 251, 3), ElementsAre(300, 333, 666));

  // The first entry becomes free; a second Apply still takes the module's own entry, and the
  // master counts nothing twice.
  std::fill_n(master.regs.begin() + 332, 8, 0);
  ASSERT_EQ(Apply(ip_, config::MasterChoice::kPreceding), config::ExtensionOutcome::kDone);
  int entries = 0;
  for (int e = 0; e < 4; ++e) entries += master.regs[332 + e * 8 + 1] == 0x0119;
  EXPECT_EQ(entries, 1);
  EXPECT_EQ(master.regs[341], 0x0119);
  EXPECT_EQ(master.regs[179], 5);
}

TEST_F(Ext, MovingToTheOtherMasterReleasesTheOldEntry) {
  FakeState& old = line_["192.168.1.24"];
  ASSERT_EQ(Apply(ip_, config::MasterChoice::kPreceding), config::ExtensionOutcome::kDone);
  ASSERT_EQ(old.regs[333], 0x0119);
  ASSERT_EQ(Apply(ip_, config::MasterChoice::kFollowing), config::ExtensionOutcome::kDone);
  EXPECT_THAT(Regs(old, 332, 8), ElementsAre(0, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_THAT(Regs(line_["192.168.1.26"], 332, 8),
              ElementsAre(0xC0A8, 0x0119, 1, 116, 134, 8, 1, 0));
  EXPECT_THAT(Regs(line_[ip_], 114, 2), ElementsAre(0, 0));
  EXPECT_THAT(Regs(line_[ip_], 194, 2), ElementsAre(0xC0A8, 0x011A));
}

}  // namespace
