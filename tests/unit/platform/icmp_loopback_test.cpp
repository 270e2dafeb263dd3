// Echo on loopback only; the lab integration test covers real interfaces.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/icmp.h"

namespace {

TEST(IcmpTest, LoopbackAnswersWithTheSameData) {
  if (geteuid() != 0) {
    const int probe = socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    if (probe < 0) GTEST_SKIP() << "neither root nor allowed by net.ipv4.ping_group_range";
    close(probe);
  }
  uint32_t roundTrip = 12345;
  const uint32_t loopback = htonl(INADDR_LOOPBACK);
  ASSERT_TRUE(platform::PingIpv4(loopback, 1000, &roundTrip))
      << "needs root or net.ipv4.ping_group_range that includes this group";
  EXPECT_LT(roundTrip, 1000u);
  platform::EchoOptions large;
  large.dataSize = 1400;
  large.fillByte = 0xA5;
  EXPECT_TRUE(platform::PingIpv4(loopback, 1000, large));
  platform::EchoOptions tooLarge;
  tooLarge.dataSize = 1473;
  EXPECT_FALSE(platform::PingIpv4(loopback, 1000, tooLarge));
}

}  // namespace
