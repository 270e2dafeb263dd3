// The tag description file: what it gives, and every way it is refused.
#include <gtest/gtest.h>

#include <cstdint>

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
       "tags[0].offset: 9999 is outside 0..6"},
      {R"({"dataSize": 10, "tags": [{"name": "a", "offset": 0, "control": 1, "bit": 32}]})",
       "tags[0].bit: 32 is outside"},
      {R"({"dataSize": 10, "tags": [{"name": "a", "offset": 0, "control": "slider"}]})",
       "expected \"check\""},
      {R"({"dataSize": 10, "tags": [{"name": "a", "type": 2, "offset": 0, "control": 2,
           "maximum": 300}]})",
       "tags[0].maximum: 300 is outside -128..127"},
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

// A tag must lie inside the data the view reads (the program's data size, at most 10000 bytes),
// and its limits and items inside what the view reads back (signed values).
TEST(TagFile, TagsStayInsideTheProgramsDataAndTheirTypesSignedRange) {
  struct Case {
    const char* tag;
    const char* reason;  // nullptr: taken
  };
  const Case cases[] = {
      {R"({"name": "a", "type": 3, "offset": 98, "control": 2})", nullptr},
      {R"({"name": "a", "type": 3, "offset": 99, "control": 2})",
       "tags[0].offset: 99 is outside 0..98"},
      {R"({"name": "a", "type": 2, "offset": 100, "control": 2})", "100 is outside 0..99"},
      {R"({"name": "a", "type": 2, "offset": 96, "control": "check"})", nullptr},
      {R"({"name": "a", "type": 2, "offset": 97, "control": "check"})",
       "offset (a check box reads 4 bytes): 97 is outside 0..96"},
      {R"({"name": "a", "type": 2, "offset": 0, "control": 2, "maximum": 127})", nullptr},
      {R"({"name": "a", "type": 2, "offset": 0, "control": 2, "maximum": 128})",
       "maximum: 128 is outside -128..127"},
      {R"({"name": "a", "type": 3, "offset": 0, "control": 2, "maximum": 40000})",
       "maximum: 40000 is outside -32768..32767"},
      {R"({"name": "a", "type": 4, "offset": 0, "control": 2, "maximum": 3000000000})",
       "maximum: 3000000000 is outside -2147483648..2147483647"},
      {R"({"name": "a", "type": 2, "offset": 0, "control": "combo",
           "items": [{"text": "x", "value": 255}]})",
       "items[0].value: 255 is outside -128..127"},
      {R"({"name": "a", "type": 3, "offset": 0, "control": "combo",
           "items": [{"text": "x", "value": -32768}]})",
       nullptr},
  };
  for (const Case& c : cases) {
    const std::string text =
        std::string(R"({"program": "P", "dataSize": 100, "tags": [)") + c.tag + "]}";
    std::string error;
    const auto info = ParseTagFile(text, &error);
    if (!c.reason) {
      EXPECT_TRUE(info) << c.tag << " -> " << error;
      continue;
    }
    EXPECT_FALSE(info) << c.tag;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.tag << " -> " << error;
  }
  // A data size above what the view reads: tags stay in the 10000 bytes it does read.
  std::string error;
  EXPECT_FALSE(ParseTagFile(R"({"dataSize": 20000, "tags": [{"name": "a", "type": 2,
                                "offset": 10000, "control": 2}]})",
                            &error));
  EXPECT_NE(error.find("10000 is outside 0..9999"), std::string::npos) << error;
}

// An edit tag whose file gives no limits takes its type's range (not 0..0, which would refuse
// every value but 0); a single limit keeps the type's other bound.
TEST(TagFile, AnEditTagWithoutLimitsTakesItsTypesRange) {
  const auto info = ParseTagFile(R"({"program": "P", "dataSize": 100, "tags": [
      {"name": "b", "type": 2, "offset": 0, "control": "edit"},
      {"name": "w", "type": 3, "offset": 2, "control": "edit", "minimum": 0},
      {"name": "d", "type": 4, "offset": 4, "control": "edit", "maximum": 10}]})",
                                 nullptr);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->tags[0].minimum, -128);
  EXPECT_EQ(info->tags[0].maximum, 127);
  EXPECT_EQ(info->tags[1].minimum, 0);
  EXPECT_EQ(info->tags[1].maximum, 32767);
  EXPECT_EQ(info->tags[2].minimum, INT32_MIN);
  EXPECT_EQ(info->tags[2].maximum, 10);
}

TEST(TagFile, LivesNextToItsProgram) {
  EXPECT_EQ(TagFileForProgram("/a/b/Sorter.bin"), "/a/b/Sorter.tags.json");
  EXPECT_EQ(TagFileForProgram("/a.d/Sorter"), "/a.d/Sorter.tags.json");
  EXPECT_EQ(TagFileForProgram("/a/.hidden"), "/a/.hidden.tags.json");
}

}  // namespace
}  // namespace plc
