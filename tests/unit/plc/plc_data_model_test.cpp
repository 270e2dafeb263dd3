// The PLC data view's model: block plan, answer handling, tag values and the controls' requests.
#include <gtest/gtest.h>

#include <cstring>

#include "base/bytes.h"
#include "plc/plc_data_model.h"

namespace plc {
namespace {

// A read request as the manager leaves it after taking an answer with `status` and `data`.
void Answer(CTagRequest& request, uint8_t status, const std::vector<uint8_t>& data) {
  request.answer.fill(0);
  base::PutLE16(request.answer.data(), request.id);
  request.answer[2] = status;
  base::PutLE16(request.answer.data() + 4, request.kind);
  base::PutLE16(request.answer.data() + 6, static_cast<uint16_t>(data.size()));
  std::memcpy(request.answer.data() + kAnswerHeader, data.data(), data.size());
  request.answerLength = static_cast<uint32_t>(kAnswerHeader + data.size());
  request.state = status < 0x80 ? kStateAnswered : kStateError;
}

TEST(PlanBlockReads, BlocksOfAThousandUpToTheLimit) {
  struct Case {
    uint32_t dataSize;
    std::vector<std::pair<uint16_t, uint16_t>> reads;
  };
  const Case cases[] = {
      {2500, {{0, 1000}, {1000, 1000}, {2000, 500}}},
      {1000, {{0, 1000}}},
      {1, {{0, 1}}},
      {0, {}},
      {10000,
       {{0, 1000},
        {1000, 1000},
        {2000, 1000},
        {3000, 1000},
        {4000, 1000},
        {5000, 1000},
        {6000, 1000},
        {7000, 1000},
        {8000, 1000},
        {9000, 1000}}},
      {12345,
       {{0, 1000},
        {1000, 1000},
        {2000, 1000},
        {3000, 1000},
        {4000, 1000},
        {5000, 1000},
        {6000, 1000},
        {7000, 1000},
        {8000, 1000},
        {9000, 1000}}},
  };
  for (const Case& c : cases) {
    std::vector<std::pair<uint16_t, uint16_t>> got;
    for (const BlockRead& read : PlanBlockReads(c.dataSize))
      got.emplace_back(read.dataAddress, read.count);
    EXPECT_EQ(got, c.reads) << "data size " << c.dataSize;
  }
}

TEST(PlcDataModel, TagsRefreshWhenTheLastBlockArrives) {
  CPlcDataModel model;
  PlcTag edit{"Weg", 3, 2004, 0, kControlEdit, -500, 500, "mm", {}};
  model.SetProgram({"p", 2500, {edit}});
  CRequestQueue queue;
  std::vector<CTagRequest*> reads;
  for (CTagRequest& request : model.BlockRequests("10.0.0.1"))
    reads.push_back(queue.Append(request));
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads[2]->dataAddress, 2000);
  EXPECT_EQ(reads[2]->count, 500);

  std::vector<uint8_t> last(500, 0);
  base::PutLE16(last.data() + 4, static_cast<uint16_t>(-123));
  Answer(*reads[0], 0x40, std::vector<uint8_t>(1000, 0x11));
  Answer(*reads[1], 0x40, std::vector<uint8_t>(1000, 0x22));
  auto first = model.HandleAnswers(queue);
  EXPECT_EQ(first.taken, 2u);
  EXPECT_FALSE(first.refreshed);
  EXPECT_EQ(model.Value(edit), 0) << "tags show the image only once the last block is in";
  EXPECT_EQ(model.Image()[999], 0x11);
  EXPECT_EQ(model.Image()[1999], 0x22);

  Answer(*reads[2], 0x40, last);
  auto second = model.HandleAnswers(queue);
  EXPECT_EQ(second.taken, 1u);
  EXPECT_TRUE(second.refreshed);
  EXPECT_EQ(model.Value(edit), -123);
  EXPECT_EQ(model.ValueText(edit), "-123");
  EXPECT_TRUE(model.BlockReceived(2));
  std::lock_guard<std::mutex> lock(queue.Lock());
  EXPECT_TRUE(queue.Items().empty());
}

TEST(PlcDataModel, BlocksAnsweredInOnePassAllReachTheRefresh) {
  CPlcDataModel model;
  const PlcTag first{"Anfang", 4, 0, 0, kControlEdit, 0, 0, "", {}};
  const PlcTag last{"Ende", 2, 2000, 0, kControlEdit, 0, 0, "", {}};
  model.SetProgram({"p", 2001, {first, last}});
  CRequestQueue queue;
  std::vector<CTagRequest*> reads;
  for (CTagRequest& request : model.BlockRequests("10.0.0.1"))
    reads.push_back(queue.Append(request));
  ASSERT_EQ(reads.size(), 3u);
  Answer(*reads[0], 0x40, std::vector<uint8_t>(1000, 0x01));
  Answer(*reads[1], 0x40, std::vector<uint8_t>(1000, 0x02));
  Answer(*reads[2], 0x40, {0x03});
  ASSERT_TRUE(model.HandleAnswers(queue).refreshed);
  EXPECT_EQ(model.Value(first), 0x01010101) << "the first block, handled after the last one";
  EXPECT_EQ(model.Value(last), 3);
}

TEST(PlcDataModel, AnErrorAnswerIsNotCopied) {
  CPlcDataModel model;
  model.SetProgram({"p", 100, {}});
  CRequestQueue queue;
  CTagRequest* read = queue.Append(model.BlockRequests("10.0.0.1")[0]);
  Answer(*read, 0x85, std::vector<uint8_t>(100, 0x77));
  EXPECT_EQ(model.HandleAnswers(queue).taken, 0u);
  EXPECT_EQ(model.Image()[0], 0);
  EXPECT_FALSE(model.BlockReceived(0));
  const auto failures = model.TakeFailures(queue);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("status 0x85"), std::string::npos) << failures[0];
}

TEST(PlcDataModel, AnAnswerNeverFillsMoreThanWasAsked) {
  CPlcDataModel model;
  model.SetProgram({"p", 2000, {}});
  CRequestQueue queue;
  CTagRequest* read = queue.Append(CTagRequest::Read("10.0.0.1", 1990, 5));
  Answer(*read, 0x40, std::vector<uint8_t>(20, 0x99));
  model.HandleAnswers(queue);
  EXPECT_EQ(model.Image()[1994], 0x99);
  EXPECT_EQ(model.Image()[1995], 0) << "bytes past the request's count are not taken";
}

TEST(PlcDataModel, CheckBoxesReadTheirBitOfTheWordAtTheOffset) {
  struct Case {
    uint8_t bit;
    uint32_t word;
    bool ticked;
  };
  const Case cases[] = {{31, 0x80000000u, true},
                        {31, 0x7FFFFFFFu, false},
                        {0, 1, true},
                        {3, 0x08, true},
                        {3, 0xF7, false}};
  for (const Case& c : cases) {
    CPlcDataModel model;
    PlcTag check{"Bit", 4, 8, c.bit, kControlCheck, 0, 0, "", {}};
    model.SetProgram({"p", 16, {check}});
    CRequestQueue queue;
    CTagRequest* read = queue.Append(model.BlockRequests("10.0.0.1")[0]);
    std::vector<uint8_t> data(16, 0);
    base::PutLE32(data.data() + 8, c.word);
    Answer(*read, 0x40, data);
    ASSERT_TRUE(model.HandleAnswers(queue).refreshed);
    EXPECT_EQ(model.CheckValue(check), c.ticked) << "bit " << int(c.bit) << " of " << c.word;
  }
}

TEST(PlcDataModel, ValuesAreSignedByType) {
  std::vector<uint8_t> image(8, 0xFF);
  EXPECT_EQ(ImageValue(image, 0, 1), -1);
  EXPECT_EQ(ImageValue(image, 0, 2), -1);
  EXPECT_EQ(ImageValue(image, 4, 4), -1);
  EXPECT_EQ(ImageValue(image, 5, 4), 0) << "past the image's end reads nothing";
  EXPECT_EQ(ImageValue(image, 9, 1), 0);
}

TEST(PlcDataModel, EditsAreRangeCheckedBeforeAnythingIsSent) {
  CPlcDataModel model;
  model.baseAddress = 100;
  const PlcTag tag{"Weg", 3, 4, 0, kControlEdit, 10, 2000, "mm", {}};
  const std::string message =
      "Ungültige Wegeinstellung. Es sind nur Werte von 10 bis 2000 mm gültig von Weg.";
  struct Case {
    const char* text;
    bool sent;
    uint32_t value;
  };
  const Case cases[] = {{"10", true, 10},         {"2000", true, 2000}, {" 150 ", true, 150},
                        {"9", false, 0},          {"2001", false, 0},   {"-5", false, 0},
                        {"12abc", false, 0},      {"", false, 0},       {"1e3", false, 0},
                        {"99999999999", false, 0}};
  for (const Case& c : cases) {
    const EditOutcome outcome = model.EditRequest("10.0.0.1", tag, c.text);
    ASSERT_EQ(outcome.request.has_value(), c.sent) << c.text;
    if (!c.sent) {
      EXPECT_EQ(outcome.caption, "Achtung");
      EXPECT_EQ(outcome.message, message);
      continue;
    }
    const CTagRequest& r = *outcome.request;
    EXPECT_EQ(r.kind, kKindWrite);
    EXPECT_EQ(r.dataAddress, 104) << "writes add the base address";
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.requestLength, 14u);
    EXPECT_EQ(base::GetLE16(r.request.data() + 12), c.value);
  }
}

TEST(PlcDataModel, ControlsMakeTheirRequests) {
  CPlcDataModel model;
  const PlcTag check{"Bit", 4, 20, 31, kControlCheck, 0, 0, "", {}};
  EXPECT_EQ(model.CheckRequest("a", check, true).kind, kKindSetBit);
  const CTagRequest clear = model.CheckRequest("a", check, false);
  EXPECT_EQ(clear.kind, kKindClearBit);
  EXPECT_EQ(clear.count, 31);
  EXPECT_EQ(clear.requestLength, 12u);
  const PlcTag combo{"Modus", 2, 6, 0, kControlCombo, 0, 0, "", {{"Aus", 0}, {"Auto", -2}}};
  const auto write = model.ComboRequest("a", combo, 1);
  ASSERT_TRUE(write);
  EXPECT_EQ(write->count, 1);
  EXPECT_EQ(write->requestLength, 13u);
  EXPECT_EQ(write->request[12], 0xFE);
  EXPECT_FALSE(model.ComboRequest("a", combo, 2));
}

// Tags are tied to one program: a module that runs another one, none, one without a name or
// one that cannot be read is named as such; only the same program (as tag files and modules
// spell it) lets the view show and write.
TEST(PlcProgramCheck, TagsBelongOnlyToTheModuleThatRunsTheirProgram) {
  struct Case {
    const char* tagProgram;
    ModuleProgram module;
    const char* mismatch;  // "" when the tags belong to the module
  };
  const Case cases[] = {
      {"Sorter", {true, true, "PLCDATA_Sorter.bin", ""}, ""},
      {"Sorter", {true, true, "PLCDATA_Sorter", ""}, ""},
      {"PLCDATA_Sorter.bin", {true, true, "PLCDATA_sorter.BIN", ""}, ""},
      {"Sorter",
       {true, true, "PLCDATA_Mixer", ""},
       "module 10.0.0.1 runs the PLC program \"PLCDATA_Mixer\"; the tags are for \"Sorter\""},
      {"Sorter", {true, true, "PLCDATA_SorterB.bin", ""}, "runs the PLC program"},
      {"Sorter", {true, false, "", ""}, "module 10.0.0.1 runs no PLC program"},
      {"Sorter", {true, true, "", ""}, "carries no name"},
      {"Sorter",
       {false, false, "", "download failed: timeout"},
       "could not be read (download failed: timeout)"},
      {"", {true, true, "PLCDATA_Sorter.bin", ""}, "the tag file names no \"program\""},
      {"PLCDATA_.bin", {true, true, "PLCDATA_.bin", ""}, "the tag file names no \"program\""},
  };
  for (const Case& c : cases) {
    const std::string got = ProgramMismatch(c.tagProgram, "10.0.0.1", c.module);
    if (*c.mismatch == '\0') {
      EXPECT_EQ(got, "") << c.tagProgram << " / " << c.module.name;
    } else {
      EXPECT_NE(got.find(c.mismatch), std::string::npos)
          << c.tagProgram << " / " << c.module.name << " -> " << got;
    }
  }
}

// After a change of module the image holds nothing of the previous one: neither what was read
// before nor an answer to a read made before the change.
TEST(PlcDataModel, AChangeOfModuleEmptiesTheImageAndDropsTheOldModulesAnswers) {
  CPlcDataModel model;
  const PlcTag edit{"Weg", 3, 4, 0, kControlEdit, -500, 500, "mm", {}};
  model.SetProgram({"p", 10, {edit}});
  model.SetAddress("10.0.0.1");
  CRequestQueue queue;
  std::vector<uint8_t> data(10, 0);
  base::PutLE16(data.data() + 4, 77);
  Answer(*queue.Append(model.BlockRequests("10.0.0.1")[0]), 0x40, data);
  ASSERT_TRUE(model.HandleAnswers(queue).refreshed);
  EXPECT_EQ(model.Value(edit), 77);

  CTagRequest* late = queue.Append(model.BlockRequests("10.0.0.1")[0]);
  model.SetAddress("10.0.0.2");
  EXPECT_EQ(model.Value(edit), 0) << "the previous module's values are gone";
  EXPECT_FALSE(model.BlockReceived(0));
  Answer(*late, 0x40, data);
  const auto result = model.HandleAnswers(queue);
  EXPECT_EQ(result.taken, 1u) << "the old answer leaves the queue";
  EXPECT_FALSE(result.refreshed);
  EXPECT_EQ(model.Image()[4], 0) << "but never reaches the new module's image";

  base::PutLE16(data.data() + 4, 5);
  Answer(*queue.Append(model.BlockRequests("10.0.0.2")[0]), 0x40, data);
  ASSERT_TRUE(model.HandleAnswers(queue).refreshed);
  EXPECT_EQ(model.Value(edit), 5);
}

}  // namespace
}  // namespace plc
