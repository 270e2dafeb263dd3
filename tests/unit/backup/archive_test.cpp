// The archive encodings of texts and array counts, and the reader's refusal of anything that
// runs past the end.
#include "backup/archive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Head(const std::vector<uint8_t>& data, size_t n) {
  return Bytes(data.begin(), data.begin() + n);
}

TEST(Archive, TextLengthEncodings) {
  struct Case {
    size_t length;
    Bytes prefix;
  };
  const Case cases[] = {
      {0, {0x00}},
      {5, {0x05}},
      {254, {0xFE}},
      {255, {0xFF, 0xFF, 0x00}},
      {0x1234, {0xFF, 0x34, 0x12}},
      {0xFFFD, {0xFF, 0xFD, 0xFF}},
      {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
      {0x10000, {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string text(c.length, 'x');
    backup::ArchiveWriter out;
    out.Text(text);
    ASSERT_EQ(out.Data().size(), c.prefix.size() + c.length);
    EXPECT_EQ(Head(out.Data(), c.prefix.size()), c.prefix);

    backup::ArchiveReader in(out.Data());
    std::string back;
    ASSERT_TRUE(in.Text(back));
    EXPECT_EQ(back, text);
    EXPECT_TRUE(in.AtEnd());
  }
}

TEST(Archive, ArrayCountEncodings) {
  struct Case {
    size_t count;
    Bytes prefix;
  };
  const Case cases[] = {
      {0, {0x00, 0x00}},
      {64, {0x40, 0x00}},
      {0xFFFE, {0xFE, 0xFF}},
      {0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
      {0x12345, {0xFF, 0xFF, 0x45, 0x23, 0x01, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    backup::ArchiveWriter out;
    out.Bytes(Bytes(c.count, 0xAB));
    ASSERT_EQ(out.Data().size(), c.prefix.size() + c.count);
    EXPECT_EQ(Head(out.Data(), c.prefix.size()), c.prefix);
    backup::ArchiveReader in(out.Data());
    Bytes back;
    ASSERT_TRUE(in.Bytes(c.count, back));
    EXPECT_EQ(back.size(), c.count);
    EXPECT_TRUE(in.AtEnd());
  }
}

TEST(Archive, NumbersAreLittleEndianAndWordsKeepTheirBytes) {
  backup::ArchiveWriter out;
  out.U8(0x01);
  out.U16(0x0302);
  out.U32(0x07060504);
  out.U64(0x0F0E0D0C0B0A0908ull);
  out.Words({0x1122, 0x3344});
  const Bytes expected = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
                          0x0C, 0x0D, 0x0E, 0x0F, 0x02, 0x00, 0x22, 0x11, 0x44, 0x33};
  EXPECT_EQ(out.Data(), expected);
}

// The marker of a wide-character text with as many bytes after it as it would count.
Bytes WideText() {
  Bytes b = {0xFF, 0xFE, 0xFF};
  b.insert(b.end(), 0xFFFE, 'a');
  return b;
}

TEST(Archive, ReaderRefusesWhatRunsPastTheEndOrIsNoText) {
  enum Kind { kText, kWords };
  struct Case {
    const char* name;
    Kind kind;
    Bytes data;
  };
  const Case cases[] = {
      {"text longer than the data", kText, {0x05, 'a', 'b'}},
      {"16-bit text length cut", kText, {0xFF, 0x10}},
      {"wide-character text marker", kText, WideText()},
      {"32-bit text length beyond the data",
       kText,
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}},
      {"word count beyond the data", kWords, {0x03, 0x00, 0x01, 0x00, 0x02, 0x00}},
      {"32-bit word count beyond the data", kWords, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0}},
      {"word count above the limit", kWords, {0x05, 0x00, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    backup::ArchiveReader in(c.data);
    if (c.kind == kText) {
      std::string text = "kept";
      EXPECT_FALSE(in.Text(text));
      EXPECT_EQ(text, "kept");
    } else {
      std::vector<uint16_t> words;
      EXPECT_FALSE(in.Words(4, words));
      EXPECT_TRUE(words.empty());
    }
    EXPECT_TRUE(in.Failed());
    // Once failed, every later read fails too, even one the bytes would hold.
    uint8_t byte = 0;
    EXPECT_FALSE(in.U8(byte));
  }
}

}  // namespace

namespace {

// A count is checked before anything is sized by it, against the limit and the bytes left.
TEST(Archive, CountIsCheckedAgainstLimitAndBytesLeft) {
  struct Case {
    Bytes data;
    size_t itemSize, maxItems;
    bool ok;
  };
  const Case cases[] = {
      {{0x02, 0x00, 1, 0, 2, 0}, 2, 2, true},
      {{0x03, 0x00, 1, 0, 2, 0}, 2, 9, false},  // three words, two there
      {{0x02, 0x00, 1, 0, 2, 0}, 2, 1, false},  // two words, one allowed
      {{0x04, 0x00, 1, 0, 2, 0}, 1, 4, true},   // four bytes there
      {{0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80}, 1, 0xFFFFFFFF, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data[0]);
    backup::ArchiveReader in(c.data);
    size_t count = 77;
    EXPECT_EQ(in.Count(c.itemSize, c.maxItems, count), c.ok);
    EXPECT_EQ(count, c.ok ? c.data[0] : 77u);
  }
}

}  // namespace
