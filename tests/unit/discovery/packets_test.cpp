#include "discovery/packets.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "base/bytes.h"

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
