#include "discovery/packets.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "base/bytes.h"
#include "platform/tick.h"

namespace discovery {
namespace {

TEST(Packets, HeaderStoresSequenceLeastSignificantByteFirst) {
  const auto header = MakePacketHeader(0x60, 0xCC, 0x0C, 0x80000123u);
  EXPECT_EQ(header, (std::array<uint8_t, 8>{0x60, 0, 0xCC, 0x0C, 0x23, 0x01, 0x00, 0x80}));
  const auto parsed = ParseAnswerPacket(header.data(), header.size());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->sequence, 0x80000123u);
  EXPECT_EQ(parsed->dataLength, 0u);  // the byte says 12, but no data is present
}

TEST(Packets, SequenceCounterIsSharedAndNeverRepeatsAcrossThreads) {
  const uint32_t first = NextSequenceNumber();
  EXPECT_GE(first, kFirstSequenceNumber);  // starts at 0x80000001 (other tests may have taken some)
  std::vector<std::vector<uint32_t>> taken(4);
  std::vector<std::thread> threads;
  for (auto& t : taken) {
    threads.emplace_back([&t] {
      for (int i = 0; i < 1000; ++i) t.push_back(NextSequenceNumber());
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<uint32_t> all;
  for (const auto& t : taken) all.insert(t.begin(), t.end());
  EXPECT_EQ(all.size(), 4000u);
  EXPECT_EQ(*all.begin(), first + 1);
  EXPECT_EQ(*all.rbegin(), first + 4000);
}

// A run hands out number n no earlier than its due millisecond; a later run starts in the
// millisecond the earlier one ended or after. However fast the earlier run took its numbers, the
// two never share one.
TEST(Packets, RunsThatFollowEachOtherNeverShareASequenceNumber) {
  struct Case {
    uint64_t startA;
    uint32_t takenByA;
    uint64_t gapMs;  // from A's last number to B's start
  };
  const Case cases[] = {{1000, 1, 0},
                        {1000, 5000, 0},
                        {1000, 5000, 1},
                        {1000, 5000, 300},
                        {77777, 16, 0},
                        {77777, 17, 0},
                        {(1ull << 27) - 3, 4000, 0}};  // across the wrap of the 31 low bits
  for (const auto& c : cases) {
    std::set<uint32_t> usedByA;
    const uint32_t firstA = FirstSequenceOfRun(c.startA);
    uint64_t lastMsA = c.startA;
    for (uint32_t n = 0; n < c.takenByA; ++n) {
      usedByA.insert(firstA + n);
      lastMsA = SequenceDueMs(c.startA, n);
    }
    const uint64_t startB = lastMsA + c.gapMs;
    const uint32_t firstB = FirstSequenceOfRun(startB);
    EXPECT_TRUE(firstA & 0x80000000u);
    EXPECT_TRUE(firstB & 0x80000000u);
    for (uint32_t n = 0; n < 20000; ++n) {
      ASSERT_EQ(usedByA.count(firstB + n), 0u)
          << "A from " << c.startA << " took " << c.takenByA << ", B " << n;
    }
  }
}

// The process's own counter is never ahead of the clock: each number is handed out no earlier
// than the millisecond it belongs to.
TEST(Packets, TheCounterWaitsForTheMillisecondItsNumberBelongsTo) {
  for (int i = 0; i < 200; ++i) {
    const uint32_t sequence = NextSequenceNumber();
    const uint64_t now = platform::BootTimeMs();
    // Numbers are 16 to the millisecond in the low 31 bits, which wrap every 2^27 ms.
    const uint64_t due = ((sequence & 0x7FFFFFFFu) - 1) / kSequencesPerMs;
    const uint64_t nowInWrap = now % (1ull << 27);
    if (nowInWrap < 1000) continue;  // just after the wrap the two cannot be compared
    EXPECT_GE(nowInWrap, due) << "number " << sequence;
  }
}

std::vector<uint8_t> Record(size_t length, uint8_t major, uint8_t minor, uint8_t capability) {
  std::vector<uint8_t> r = {0x00, 0x01, 0xE2, 0x40, 192, 168, 202,  21,         255,   255,
                            255,  0,    192,  168,  202, 1,   0x02, capability, major, minor};
  r.resize(length, 0xEE);
  return r;
}

TEST(Packets, NodeRecordFieldsFollowTheRecordLength) {
  struct Case {
    size_t length;
    uint32_t mask;
    uint32_t gateway;
    uint16_t revision;
  };
  const Case cases[] = {
      {8, 0, 0, 0},
      {15, 0, 0, 0},
      {16, 0x00FFFFFF, 0x01CAA8C0, 0},
      {19, 0x00FFFFFF, 0x01CAA8C0, 0},
      {20, 0x00FFFFFF, 0x01CAA8C0, 0x0402},
      {64, 0x00FFFFFF, 0x01CAA8C0, 0x0402},
  };
  for (const auto& c : cases) {
    const auto bytes = Record(c.length, 4, 2, 0x30);
    const auto record = ParseNodeRecord(bytes.data(), bytes.size());
    ASSERT_TRUE(record) << c.length;
    EXPECT_EQ(record->serialNumber, 123456u);
    EXPECT_EQ(record->ipAddress, base::Ipv4FromBytes(bytes.data() + 4));
    EXPECT_EQ(record->mask, c.mask) << c.length;
    EXPECT_EQ(record->gateway, c.gateway) << c.length;
    EXPECT_EQ(record->revision, c.revision) << c.length;
    EXPECT_EQ(record->length, c.length);
  }
  EXPECT_FALSE(ParseNodeRecord(Record(20, 4, 2, 0).data(), 7));
  // Only 64 bytes of a longer record are kept.
  const auto longer = Record(200, 4, 2, 0);
  EXPECT_EQ(ParseNodeRecord(longer.data(), longer.size())->length, 64u);
}

TEST(Packets, CapabilityByteKeptFromFirmware41On) {
  struct Case {
    uint8_t major, minor;
    uint8_t stored;
  };
  const Case cases[] = {{3, 9, 0}, {4, 0, 0}, {4, 1, 1}, {4, 7, 1}, {5, 0, 1}, {104, 0, 1}};
  for (const auto& c : cases) {
    const auto bytes = Record(20, c.major, c.minor, 1);
    const auto record = ParseNodeRecord(bytes.data(), bytes.size());
    EXPECT_EQ(record->capability, c.stored) << int(c.major) << "." << int(c.minor);
    EXPECT_EQ(record->bytes[17], c.stored) << int(c.major) << "." << int(c.minor);
  }
  // Without revision bytes the firmware counts as old.
  const auto shortRecord = Record(18, 4, 1, 1);
  EXPECT_EQ(ParseNodeRecord(shortRecord.data(), shortRecord.size())->capability, 0);
}

}  // namespace
}  // namespace discovery
