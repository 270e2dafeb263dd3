#pragma once
// How the advanced pages reach modules: one module at a time, by IP address, as the node
// screen's register helpers do (connect, read, write, write and save, disconnect). Register
// numbers given to PageRegisters are the screen's own; they pass through the mirror map of a
// module whose register 6 marks it reversed.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pages {

// The transport under the pages: module numbers, no mirror map. Implemented over the
// register client (MakeSocketModuleLink) and by the tests' fake line.
class ModuleLink {
 public:
  virtual ~ModuleLink() = default;
  // Closes any open connection and connects to the module at `ipText`.
  virtual bool Connect(const std::string& ipText) = 0;
  virtual void Disconnect() = 0;
  // Host-order values; false when the module did not answer or refused.
  virtual bool Read(uint16_t first, uint16_t count, uint16_t* values) = 0;
  virtual bool Write(uint16_t reg, uint16_t value) = 0;
  // The value (function 6), then the save command for that register and its confirmation.
  virtual bool SaveToFlash(uint16_t reg, uint16_t value) = 0;
};

// A link over the register client (port 502, the identity check of every connect).
std::unique_ptr<ModuleLink> MakeSocketModuleLink();

// The pages' register helpers over a link: after a connect the module's register 6 decides
// whether its numbers are mirrored.
class PageRegisters {
 public:
  explicit PageRegisters(ModuleLink& link) : link_(link) {}

  bool Connect(const std::string& ipText);
  void Disconnect();
  bool Connected() const { return connected_; }
  const std::string& Address() const { return address_; }
  bool Mirrored() const { return mirrored_; }

  std::optional<uint16_t> ReadOne(uint16_t reg);
  // A block starting at `first`, mapped as one (the pages read only unmapped blocks).
  bool ReadBlock(uint16_t first, uint16_t count, std::vector<uint16_t>* values);
  bool WriteOne(uint16_t reg, uint16_t value);
  bool SaveToFlash(uint16_t reg, uint16_t value);

 private:
  uint16_t ToModule(uint16_t reg) const;

  ModuleLink& link_;
  bool connected_ = false;
  bool mirrored_ = false;
  std::string address_;
};

// "a.b.c.(node + 19)" of the network "a.b.c.d"; empty when the network is not an address or
// the node is outside 1..236.
std::string NodeAddressText(const std::string& network, int node);
// The addresses of nodes from..to of the network (to 0: the From node alone); empty when the
// From node is not a node number or To lies below it or beyond node 236.
std::vector<std::string> RangeAddresses(const std::string& network, int from, int to);

// What the user is told about a setting that is not in the module's flash. `inModule`: the
// module shows it (the write went through but the save was not confirmed within 3000 ms, so it
// holds only until the module restarts); otherwise it was not written at all.
std::string NotSavedText(const std::string& address, const std::string& setting, bool inModule);
// The modules an operation on several modules did not write or save, one line each, told
// together once the operation has ended.
std::string FailedModulesText(const std::string& operation,
                              const std::vector<std::string>& failedAddresses);

}  // namespace pages
