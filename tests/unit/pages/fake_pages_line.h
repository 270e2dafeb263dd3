#pragma once
// A line of modules for the pages' tests: registers per address, modules that do not answer,
// and a log of every operation the pages sent ("connect a", "read 34+1", "write 22=12288",
// "save 34=80", "disconnect").
#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/format.h"
#include "pages/module_link.h"

namespace pagestest {

struct FakePagesLine : pages::ModuleLink {
  std::map<std::string, std::array<uint16_t, 513>> modules;
  std::set<std::string> silent;  // connect fails
  // The save command is never confirmed: the value is written (it shows in RAM) but the save
  // reports failure, as when register 253 does not return to 0 within 3000 ms.
  std::set<std::string> unconfirmedSaves;
  std::vector<std::string> ops;
  std::string connected;

  std::array<uint16_t, 513>& Add(const std::string& address) {
    auto& registers = modules[address];
    registers.fill(0);
    return registers;
  }

  bool Connect(const std::string& ipText) override {
    ops.push_back("connect " + ipText);
    connected.clear();
    if (silent.count(ipText) || !modules.count(ipText)) return false;
    connected = ipText;
    return true;
  }
  void Disconnect() override {
    ops.push_back("disconnect");
    connected.clear();
  }
  bool Read(uint16_t first, uint16_t count, uint16_t* values) override {
    ops.push_back(base::Format("read %u+%u", first, count));
    if (connected.empty() || first + count > 513) return false;
    for (uint16_t k = 0; k < count; ++k) values[k] = modules[connected][first + k];
    return true;
  }
  bool Write(uint16_t reg, uint16_t value) override {
    ops.push_back(base::Format("write %u=%u", reg, value));
    if (connected.empty() || reg >= 513) return false;
    modules[connected][reg] = value;
    return true;
  }
  bool SaveToFlash(uint16_t reg, uint16_t value) override {
    ops.push_back(base::Format("save %u=%u", reg, value));
    if (connected.empty() || reg >= 513) return false;
    modules[connected][reg] = value;
    return !unconfirmedSaves.count(connected);
  }

  // The writes and saves only, with the address they went to.
  std::vector<std::string> Changes() const {
    std::vector<std::string> changes;
    std::string at;
    for (const std::string& op : ops) {
      if (op.rfind("connect ", 0) == 0) at = op.substr(8);
      if (op.rfind("write ", 0) == 0 || op.rfind("save ", 0) == 0) changes.push_back(at + " " + op);
    }
    return changes;
  }
};

inline std::string Node(int node) {
  return base::Format("192.168.202.%d", node + 19);
}

}  // namespace pagestest
