// The tag description file: what it gives, and every way it is refused.
#include <gtest/gtest.h>

#include "plc/tag_file.h"

namespace plc {
namespace {

TEST(TagFile, ReadsTagsOfEveryKind) {
  const auto info = ParseTagFile(R"({"program": "Sorter", "dataSize": 2500, "tags": [
      {"name": "Band ein", "type": 4, "offset": 0, "bit": 31, "control": "check"},
      {"name": "Weg", "type": 3, "offset": 4, "control": 2, "minimum": -10, "maximum": 2000,
       "unit": "mm"},
      {"name": "Modus", "type": 2, "offset": 6, "control": "combo",
       "items": [{"text": "Aus", "value": 0}, {"text": "Auto", "value": 1}]}]})",
                                 nullptr);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->program, "Sorter");
  EXPECT_EQ(info->dataSize, 2500u);
  ASSERT_EQ(info->tags.size(), 3u);
  EXPECT_EQ(info->tags[0].control, kControlCheck);
  EXPECT_EQ(info->tags[0].bit, 31);
  EXPECT_EQ(info->tags[1].minimum, -10);
  EXPECT_EQ(info->tags[1].unit, "mm");
  EXPECT_EQ(info->tags[2].items[1].text, "Auto");
  EXPECT_EQ(TagValueSize(info->tags[2].type), 1);
}

TEST(TagFile, RefusesWhatItCannotShow) {
  struct Case {
    const char* text;
    const char* reason;
  };
  const Case cases[] = {
      {"", "not JSON"},
      {"[]", "file: expected"},
      {R"({"tags": []})", "\"dataSize\" is missing"},
      {R"({"dataSize": 0, "tags": []})", "dataSize: 0 is outside"},
      {R"({"dataSize": 10, "tags": {}})", "tags: expected an array"},
      {R"({"dataSize": 10, "tags": [], "x": 1})", "unknown key \"x\""},
      {R"({"dataSize": 10, "tags": [{"offset": 1, "control": 2}]})", "needs a \"name\""},
      {R"({"dataSize": 10, "tags": [{"name": "a", "control": 2}]})", "needs an \"offset\""},
      {R"({"dataSize": 10, "tags": [{"name": "a", "offset": 9999, "control": 2}]})",
       "tags[0].offset: 9999 is outside 0..9996"},
      {R"({"dataSize": 10, "tags": [{"name": "a", "offset": 0, "control": 1, "bit": 32}]})",
       "tags[0].bit: 32 is outside"},
      {R"({"dataSize": 10, "tags": [{"name": "a", "offset": 0, "control": "slider"}]})",
       "expected \"check\""},
      {R"({"dataSize": 10, "tags": [{"name": "a", "type": 2, "offset": 0, "control": 2,
           "maximum": 300}]})",
       "tags[0].maximum: 300 is outside -128..255"},
      {R"({"dataSize": 10, "tags": [{"name": "a", "offset": 0, "control": 2, "minimum": 5,
           "maximum": 4}]})",
       "\"minimum\" is above \"maximum\""},
      {R"({"dataSize": 10, "tags": [{"name": "a", "offset": 0, "control": "combo"}]})",
       "a combo box needs items"},
      {R"({"dataSize": 10, "tags": [{"name": "a", "offset": 0, "control": 2, "minimum": 1.5}]})",
       "expected a whole number"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseTagFile(c.text, &error)) << c.text;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " -> " << error;
  }
}

TEST(TagFile, LivesNextToItsProgram) {
  EXPECT_EQ(TagFileForProgram("/a/b/Sorter.bin"), "/a/b/Sorter.tags.json");
  EXPECT_EQ(TagFileForProgram("/a.d/Sorter"), "/a.d/Sorter.tags.json");
  EXPECT_EQ(TagFileForProgram("/a/.hidden"), "/a/.hidden.tags.json");
}

}  // namespace
}  // namespace plc
