#pragma once
// The hand-over report of a line: what an engineer leaves with the plant when the line is
// commissioned. The line as the topology window lays it out, and per module its identity, the
// node screen's fields with their units, its connections, its PLC program and its health.
// A module that could not be read is listed as such, never left out. Toolkit-free; collecting
// blocks its caller (it runs the modules in parallel) and may run on any thread.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/progress.h"
#include "config/plc_program.h"
#include "diag/line_health.h"
#include "discovery/inventory.h"
#include "params/field_text.h"

class CMRegApp;

namespace report {

struct ModuleReport {
  uint32_t serial = 0;
  std::string ip;
  std::string mac;
  // "4.12" as the screens show it; "unknown" when the module's discovery record is too short to
  // carry it (8 and 16 bytes: no revision, no position byte)
  std::string firmware;
  std::string linePosition;  // "first", "last", "first and last", "middle" or "unknown"
  std::string direction;     // "Left To Right", "Right To Left" or "undetermined"
  int row = -1;              // in the topology drawing; -1 when not drawn
  int column = -1;
  std::optional<uint32_t> parentSerial;  // the module drawn before it (toward the PC)
  std::string topologyError;             // the drawing's error text for it, if any

  bool readable = false;  // the node screen could connect and read the module
  std::string failure;    // why not, when not readable
  std::string family;     // "0x09" (register 6 bits 4..7)
  std::string mode;       // the control mode of register 18, named
  std::string upstream;   // the linked module's address, "" when none
  std::string downstream;
  // The program's name, "none" when the module holds no program, "no name (N bytes)" for a
  // program that names itself nowhere, "not read: why" when it could not be read; "" when the
  // module was not readable at all.
  std::string plcProgram;
  std::vector<params::ShownField> fields;
  diag::ModuleHealth health;
};

struct LineReport {
  std::string date;  // "2026-12-10 16:20:05" local time
  std::string adapterName;
  std::string adapterDescription;
  std::string adapterIp;
  std::string adapterMask;
  std::string adapterMac;
  size_t found = 0;  // modules discovered on the adapter
  size_t drawn = 0;  // modules the layout placed
  std::string outcome;
  std::string title;                  // the topology window's title line
  std::vector<ModuleReport> modules;  // drawn ones by row and column, then the others
};

// The control mode of register 18 as the connections dialog names it.
std::string ModeName(uint16_t register18);
// The linked module of a connection descriptor (8 words): "a.b.c.d", "" when the side is empty.
std::string LinkedAddress(const uint16_t* descriptor);
// The line position byte of a node record.
std::string LinePositionText(uint8_t positionByte);
// Whether a node's discovery record carries the flags byte and the revision (20 bytes or
// more): records of 8 and 16 bytes leave their zeros there, as the list copies of a discovery
// take it (a revision of 0x0000 or 0xFFFF).
bool RecordCarriesRevision(const CNode_Data& node);
// The PLC program cell of a module.
std::string PlcProgramText(const config::PlcProgramOnModule& program);
// Why the figures read at an address are not those of the module with `serial`: another module
// answers there (both share the address); "" when registers 28/29 name the module itself.
std::string OtherModuleAnswers(uint32_t serial, uint16_t register28, uint16_t register29);

// What collecting reads of one module, in its own connections; a seam for tests.
using ModuleReader = std::function<void(ModuleReport&)>;
// The real reader: the node screen's connection and full read, then registers 6, 18 and
// 300..315, the health figures and the PLC program name.
void ReadModuleForReport(ModuleReport& module);

// The topology of the selected adapter (discovery and GetTopology ran already) and, for the
// modules of `onlyAddresses` (all when empty), the reads, on at most `threads` threads. The
// progress counts modules read; cancelling leaves the rest listed as not read.
LineReport CollectLineReport(CMRegApp& app, const std::vector<std::string>& onlyAddresses,
                             base::Progress& progress, unsigned threads = 8,
                             const ModuleReader& reader = ReadModuleForReport);

}  // namespace report
