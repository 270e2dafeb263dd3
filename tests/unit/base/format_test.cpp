#include "base/bytes.h"
#include "base/format.h"
#include "base/prompt.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Format, KeepsPrintfTextsAndGrowsPastTheSmallBuffer) {
  EXPECT_EQ(base::Format("%02d:%02d:%02d.%d\t%s", 5, 7, 9, 7, "x"), "05:07:09.7\tx");
  const std::string longText(2000, 'a');
  EXPECT_EQ(base::Format("<%s>", longText.c_str()), "<" + longText + ">");
}

TEST(Format, AddressAndMacTexts) {
  const uint8_t address[4] = {192, 168, 202, 21};
  EXPECT_EQ(base::Ipv4Text(base::Ipv4FromBytes(address)), "192.168.202.21");
  const unsigned char mac[6] = {0x00, 0x1b, 0xa2, 0x0a, 0xff, 0x01};
  EXPECT_EQ(base::MacText(mac), "00:1B:A2:0A:FF:01");
}

TEST(Bytes, BigAndLittleEndianRoundTrip) {
  uint8_t buffer[4];
  base::PutBE32(buffer, 0x80000001u);
  EXPECT_EQ(buffer[0], 0x80);
  EXPECT_EQ(base::GetBE32(buffer), 0x80000001u);
  base::PutLE32(buffer, 0x80000001u);
  EXPECT_EQ(buffer[0], 0x01);
  EXPECT_EQ(base::GetLE32(buffer), 0x80000001u);
  base::PutBE16(buffer, 0x1337);
  EXPECT_EQ(base::GetBE16(buffer), 0x1337);
  EXPECT_EQ(base::GetLE16(buffer), 0x3713);
}

TEST(ScriptedPrompt, AnswersFromItsScriptAndRecordsEveryText) {
  base::ScriptedPrompt prompt;
  prompt.QueueAnswer(base::PromptAnswer::No);
  prompt.QueueChoice(1);
  EXPECT_EQ(prompt.Ask("first?", "Quillmar", base::PromptButtons::YesNo, base::PromptIcon::Question),
            base::PromptAnswer::No);
  // Script exhausted: the first button of the set.
  EXPECT_EQ(prompt.Ask("second?", "Quillmar", base::PromptButtons::RetryCancel,
                       base::PromptIcon::Warning),
            base::PromptAnswer::Retry);
  EXPECT_EQ(prompt.ChooseAdapter({"a - (2 Knoten)", "b - (3 Knoten)"}), 1);
  EXPECT_EQ(prompt.ChooseAdapter({"a - (2 Knoten)"}), -1);
  prompt.Beep();
  EXPECT_EQ(prompt.CountOf("beep"), 1u);
  const auto texts = prompt.Texts();
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[0], "first?");
  EXPECT_EQ(texts[3], "b - (3 Knoten)");
}

}  // namespace
