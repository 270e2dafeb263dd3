// The flash image through a real UDP socket on loopback: only the module's own answer from its
// flash image port is the image, and no more words are kept than the record has slots for.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "backup/module_link.h"

namespace {

// A UDP socket on 127.0.0.1 and a free port.
struct Peer {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  uint16_t port = 0;
  Peer() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    port = ntohs(local.sin_port);
    timeval wait{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  }
  ~Peer() { close(fd); }
  // Waits for the request and answers from `from` with `words` words k + 1.
  void AnswerFrom(const Peer& from, size_t words) const {
    char request[16];
    sockaddr_in client{};
    socklen_t length = sizeof client;
    const ssize_t got =
        recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&client), &length);
    ASSERT_EQ(got, 4);
    EXPECT_EQ(std::string(request, 4), "ERGR");
    std::vector<uint8_t> image(words * 2);
    for (size_t k = 0; k < words; ++k) image[2 * k] = static_cast<uint8_t>(k + 1);
    sendto(from.fd, image.data(), image.size(), 0, reinterpret_cast<sockaddr*>(&client),
           sizeof client);
  }
};

TEST(FlashImageLink, OnlyTheModulesPortCountsAndTheImageIsCut) {
  Peer module;
  Peer stranger;
  backup::LinkPorts ports;
  ports.flashImage = module.port;
  auto link = backup::MakeModuleLink("127.0.0.1", ports);
  bool bindFailed = true;
  ASSERT_TRUE(link->OpenFlashSocket(&bindFailed));

  // An answer from another port of the module's address is not the image.
  ASSERT_TRUE(link->SendFlashRequest());
  module.AnswerFrom(stranger, 10);
  EXPECT_FALSE(link->PollFlashImage(200, 512));

  // The module's own answer is, cut to the slots the record has.
  ASSERT_TRUE(link->SendFlashRequest());
  module.AnswerFrom(module, 600);
  const auto image = link->PollFlashImage(1000, 512);
  ASSERT_TRUE(image);
  ASSERT_EQ(image->size(), 512u);
  EXPECT_EQ((*image)[0], 1);
  EXPECT_EQ((*image)[511], 512 & 0xFF);
  link->CloseFlashSocket();
}

}  // namespace
