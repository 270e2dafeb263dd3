// The as-built record's comparison: every kind of change of a module, the chain a module hangs
// on, and the records that are refused before a comparison.
#include "topology/line_record.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

json ModuleJson(uint32_t serial, int column, int row, const char* direction, json parent,
                const char* ip = "10.0.0.1", const char* firmware = "4.20") {
  return {{"serial", serial},
          {"ip", ip},
          {"firmware", firmware},
          {"column", column},
          {"row", row},
          {"direction", direction},
          {"parent", parent},
          {"left", nullptr},
          {"right", nullptr},
          {"error", nullptr},
          {"linkedToPcSwitch", parent.is_null()}};
}

json LineJson(std::vector<json> modules) {
  return {{"adapter", "p1"}, {"modules", modules}};
}

std::map<uint32_t, std::vector<std::string>> Changes(const json& record, const json& now) {
  std::map<uint32_t, std::vector<std::string>> out;
  for (const auto& c : topology::CompareLine(record, now)) out[c.serial] = c.changes;
  return out;
}

TEST(LineRecord, EveryKindOfChange) {
  // Two chains: 1-2-3 and 4-5.
  const json record = LineJson({ModuleJson(1, 1, 0, "left-to-right", nullptr, "10.0.0.20"),
                                ModuleJson(2, 2, 0, "left-to-right", 1, "10.0.0.21"),
                                ModuleJson(3, 3, 0, "left-to-right", 2, "10.0.0.22"),
                                ModuleJson(4, 1, 1, "right-to-left", nullptr, "10.0.0.26"),
                                ModuleJson(5, 2, 1, "right-to-left", 4, "10.0.0.27")});
  EXPECT_TRUE(Changes(record, record).empty());
  // 3 gone, 6 new, 2 turned with another address and firmware, 5 in the same place of a chain
  // that now starts at another module (another chain, same row and column).
  const json now = LineJson({ModuleJson(1, 1, 0, "left-to-right", nullptr, "10.0.0.20"),
                             ModuleJson(2, 2, 0, "right-to-left", 1, "10.0.0.40", "4.22"),
                             ModuleJson(7, 1, 1, "right-to-left", nullptr, "10.0.0.26"),
                             ModuleJson(5, 2, 1, "right-to-left", 7, "10.0.0.27"),
                             ModuleJson(4, 1, 2, "right-to-left", nullptr, "10.0.0.26"),
                             ModuleJson(6, 3, 0, "left-to-right", 2, "10.0.0.22")});
  using V = std::vector<std::string>;
  EXPECT_EQ(Changes(record, now), (std::map<uint32_t, V>{
                                      {2, V{"turned", "other address", "other firmware"}},
                                      {3, V{"missing"}},
                                      {4, V{"moved"}},
                                      {5, V{"moved"}},
                                      {6, V{"new"}},
                                      {7, V{"new"}},
                                  }));
  const auto changes = topology::CompareLine(record, now);
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(topology::DescribeChange(changes[0]),
            "SN 2 (10.0.0.40): turned (left-to-right -> right-to-left), other address "
            "(10.0.0.21 -> 10.0.0.40), other firmware (4.20 -> 4.22)");
}

TEST(LineRecord, RecordsThatCannotBeCompared) {
  struct Case {
    const char* name;
    json record;
    bool ok;
  };
  const Case cases[] = {
      {"a drawing", LineJson({ModuleJson(1, 1, 0, "left-to-right", nullptr)}), true},
      {"no modules", json{{"found", 1}}, false},
      {"modules not a list", json{{"modules", 3}}, false},
      {"no serial", LineJson({json{{"column", 1}, {"row", 0}}}), false},
      {"a serial twice",
       LineJson({ModuleJson(1, 1, 0, "left-to-right", nullptr),
                 ModuleJson(1, 2, 0, "left-to-right", 1)}),
       false},
      {"parent not a serial", LineJson({ModuleJson(1, 1, 0, "left-to-right", "x")}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string reason;
    EXPECT_EQ(topology::IsLineRecord(c.record, &reason), c.ok);
    EXPECT_EQ(reason.empty(), c.ok) << reason;
  }
  json negative = LineJson({ModuleJson(1, 1, 0, "left-to-right", nullptr)});
  negative["modules"][0]["serial"] = -1;
  std::string reason;
  EXPECT_FALSE(topology::IsLineRecord(negative, &reason));
}

}  // namespace
