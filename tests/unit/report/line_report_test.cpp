// What the hand-over report makes of what it read: figures a short discovery record does not
// carry, the PLC program cell, and the serial that tells whose figures were read.
#include <gtest/gtest.h>

#include <cstring>

#include "discovery/discover.h"
#include "discovery/packets.h"
#include "report/line_report.h"

namespace {

// A node as the discovery makes it from a record of `length` bytes.
CNode_Data NodeWithRecord(size_t length) {
  uint8_t record[28] = {0x00, 0x3E, 0x8F, 0x11, 192, 168, 202,  20,   255, 255,
                        255,  0,    192,  168,  202, 1,   0x00, 0x90, 4,   12};
  const auto parsed = discovery::ParseNodeRecord(record, length);
  return *discovery::NodeFromRecord(*parsed, {});
}

TEST(LineReport, ARecordWithoutRevisionLeavesFirmwareAndPositionUnknown) {
  struct Case {
    size_t length;
    bool carries;
  };
  for (const Case& c : {Case{8, false}, Case{16, false}, Case{20, true}, Case{28, true}}) {
    EXPECT_EQ(report::RecordCarriesRevision(NodeWithRecord(c.length)), c.carries) << c.length;
  }
  CNode_Data erased = NodeWithRecord(20);
  erased.record[18] = erased.record[19] = 0xFF;
  EXPECT_FALSE(report::RecordCarriesRevision(erased));
}

TEST(LineReport, ThePlcProgramCellTellsNoneFromNotRead) {
  struct Case {
    config::PlcProgramOnModule program;
    const char* text;
  };
  const Case cases[] = {
      {{true, 0, "", ""}, "none"},
      {{true, 18, "PLCDATA_Sorter", ""}, "PLCDATA_Sorter"},
      {{true, 1002, "", ""}, "no name (1002 bytes)"},
      {{false, 0, "", "the service port gave no program length"},
       "not read: the service port gave no program length"},
      {{false, 2000, "", "download ended after 1000 of 2000 bytes"},
       "not read: download ended after 1000 of 2000 bytes"},
  };
  for (const Case& c : cases) EXPECT_EQ(report::PlcProgramText(c.program), c.text);
}

TEST(LineReport, RegistersTwentyEightAndTwentyNineTellWhoseFiguresTheyAre) {
  // 29 * 65536 + 28, low word first.
  EXPECT_EQ(report::OtherModuleAnswers(4100005, 0x8FA5, 0x003E), "");
  EXPECT_EQ(report::OtherModuleAnswers(4100006, 0x8FA5, 0x003E),
            "another module (SN 4100005) answers on this address: the address is shared");
}

}  // namespace
