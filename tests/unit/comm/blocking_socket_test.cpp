// The socket layer on loopback: time-out conversions, thrown texts, status codes.
#include "comm/blocking_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "platform/tick.h"

namespace {

sockaddr_in Loopback(uint16_t port = 0) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// A listening CBlockingSocket and one accepted connection to it.
struct ConnectedPair {
  ConnectedPair() {
    listener.Create(SOCK_STREAM);
    listener.Bind(Loopback());
    listener.Listen();
    sockaddr_in bound{};
    listener.GetSockAddr(&bound);
    client.Create(SOCK_STREAM);
    client.Connect(bound);
    EXPECT_TRUE(listener.Accept(server, nullptr));
  }
  CBlockingSocket listener;
  CBlockingSocket client;
  CBlockingSocket server;
};

TEST(BlockingSocketException, GetErrorMessageFollowsTheNumber) {
  struct Case {
    int number;
    const char* expected;
  };
  const Case cases[] = {
      {16, "Complete message"},
      {1, "Complete message error #1"},
      {10054, "Complete message error #10054"},
  };
  for (const Case& c : cases) {
    CBlockingSocketException e("Complete message", c.number);
    char buffer[64];
    EXPECT_TRUE(e.GetErrorMessage(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, c.expected);
  }
  CBlockingSocketException e("Receive", 10060);
  char small[8];
  EXPECT_TRUE(e.GetErrorMessage(small, sizeof small));
  EXPECT_STREQ(small, "Receive");  // at most size - 1 characters
}

TEST(BlockingSocketException, NumberZeroTakesTheCurrentSocketError) {
  errno = 0;  // as after a successful call
  CBlockingSocketException clean("Send", 0);
  EXPECT_EQ(clean.Number(), 0);
  EXPECT_EQ(clean.GetErrorMessage(), "Send error");
  errno = ECONNRESET;
  CBlockingSocketException reset("Send", 0);
  EXPECT_EQ(reset.Number(), 10054);
  EXPECT_EQ(reset.GetErrorMessage(), "Send error #10054");
}

TEST(BlockingSocket, ReceiveWaitsWholeSecondsOnly) {
  ConnectedPair pair;
  char buffer[16];
  uint32_t start = platform::GetTickCount();
  try {
    pair.client.Receive(buffer, sizeof buffer, 999);
    FAIL() << "no exception";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.Text(), "Receive timeout");
    EXPECT_TRUE(e.TimedOut());
  }
  EXPECT_LT(platform::TicksSince(start), 500u);  // 999 ms polls without waiting

  start = platform::GetTickCount();
  EXPECT_THROW(pair.client.Receive(buffer, sizeof buffer, 1000), CBlockingSocketException);
  EXPECT_GE(platform::TicksSince(start), 995u);
}

// A send goes out at once while the socket has room; once the peer stops reading and every
// buffer is full, it waits for room (whole seconds) and times out; a write larger than the
// buffers arrives whole, in order, while the peer reads.
TEST(BlockingSocket, SendWaitsForRoomOnlyWhenTheBuffersAreFull) {
  ConnectedPair pair;
  const int small = 4096;
  ::setsockopt(pair.client.Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ::setsockopt(pair.server.Handle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);

  std::string sent(1 << 20, '\0');
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 + i / 251);
  std::string received;
  std::thread reader([&] {
    char buffer[8192];
    while (received.size() < sent.size()) {
      int got = 0;
      try {
        got = pair.server.Receive(buffer, sizeof buffer, 5000);
      } catch (const CBlockingSocketException&) {
        break;  // the writer gave up: the comparison below fails
      }
      if (got <= 0) break;
      received.append(buffer, static_cast<size_t>(got));
    }
  });
  int written = -1;
  EXPECT_NO_THROW(written = pair.client.Write(sent.data(), sent.size(), 5000));
  EXPECT_EQ(written, static_cast<int>(sent.size()));
  reader.join();
  EXPECT_TRUE(received == sent) << received.size() << " of " << sent.size() << " bytes";

  // Nobody reads now: the sends fill the buffers, then one waits its second and times out.
  const std::string block(small, 'x');
  const uint32_t start = platform::GetTickCount();
  bool timedOut = false;
  for (int k = 0; k < 1000 && !timedOut; ++k) {
    try {
      pair.client.Send(block.data(), block.size(), 1000);
    } catch (const CBlockingSocketException& e) {
      EXPECT_EQ(e.Text(), "Send timeout");
      EXPECT_TRUE(e.TimedOut());
      timedOut = true;
    }
  }
  EXPECT_TRUE(timedOut);
  EXPECT_GE(platform::TicksSince(start), 995u);

  // The service port's socket: a time-out there is a send of 0 bytes.
  CCommandSocket command;
  ASSERT_EQ(command.Create(SOCK_STREAM), comm::kStatusOk);
  sockaddr_in bound{};
  pair.listener.GetSockAddr(&bound);
  ASSERT_TRUE(command.Connect(bound));
  CBlockingSocket commandPeer;
  ASSERT_TRUE(pair.listener.Accept(commandPeer, nullptr));
  ::setsockopt(commandPeer.Handle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  const std::string large(1 << 16, 'y');
  int last = 1;
  for (int k = 0; k < 1000 && last > 0; ++k) last = command.Send(large.data(), large.size(), 200);
  EXPECT_EQ(last, 0);
}

TEST(BlockingSocket, WriteAndReceiveCarryTheBytes) {
  ConnectedPair pair;
  const char text[] = "abcdef";
  EXPECT_EQ(pair.client.Write(text, 6, 1000), 6);
  char buffer[16] = {};
  EXPECT_EQ(pair.server.Receive(buffer, sizeof buffer, 1000), 6);
  EXPECT_STREQ(buffer, "abcdef");
  pair.client.Close();
  EXPECT_FALSE(pair.client.IsOpen());
  EXPECT_EQ(pair.server.Receive(buffer, sizeof buffer, 1000), 0);  // peer closed
}

TEST(BlockingSocket, FailuresThrowTheOperationName) {
  CBlockingSocket socket;
  socket.Create(SOCK_STREAM);
  try {
    socket.Connect(Loopback(1));  // nothing listens on port 1 of loopback
    FAIL() << "no exception";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.Text(), "Connect");
    EXPECT_EQ(e.Number(), 10061);
  }
  CBlockingSocket unbound;
  sockaddr_in address{};
  try {
    unbound.GetPeerAddr(&address);
    FAIL() << "no exception";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.Text(), "GetPeerName");
  }
}

TEST(BlockingSocket, DatagramsTravelAndTimeOutInSeconds) {
  CBlockingSocket receiver;
  receiver.Create(SOCK_DGRAM);
  receiver.Bind(Loopback());
  sockaddr_in bound{};
  receiver.GetSockAddr(&bound);
  CBlockingSocket sender;
  sender.Create(SOCK_DGRAM);
  EXPECT_EQ(sender.SendDatagram("hi", 2, bound, 1), 2);
  char buffer[8];
  sockaddr_in from{};
  EXPECT_EQ(receiver.ReceiveDatagram(buffer, sizeof buffer, &from, 1), 2);
  EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  try {
    receiver.ReceiveDatagram(buffer, sizeof buffer, &from, 0);
    FAIL() << "no exception";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.Text(), "Receive timeout");
    EXPECT_TRUE(e.TimedOut());
  }
}

void IgnoreSignal(int) {}

TEST(BlockingSocket, InterruptedAcceptReturnsFalse) {
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;  // no SA_RESTART: accept is interrupted
  struct sigaction previous {};
  sigaction(SIGUSR1, &action, &previous);
  CBlockingSocket listener;
  listener.Create(SOCK_STREAM);
  listener.Bind(Loopback());
  listener.Listen();
  std::atomic<int> result{-1};
  std::atomic<bool> entered{false};
  std::thread acceptor([&] {
    CBlockingSocket target;
    entered.store(true);
    try {
      result.store(listener.Accept(target, nullptr) ? 1 : 0);
    } catch (const CBlockingSocketException&) {
      result.store(2);
    }
  });
  while (!entered.load()) std::this_thread::yield();
  // Keep signalling until the blocked accept has seen one.
  while (result.load() < 0) {
    pthread_kill(acceptor.native_handle(), SIGUSR1);
    platform::SleepMs(10);
  }
  acceptor.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(result.load(), 0);
}

TEST(DatagramSocket, StatusCodes) {
  CDatagramSocket receiver;
  ASSERT_EQ(receiver.Create(), comm::kStatusOk);
  ASSERT_EQ(receiver.Bind(Loopback()), comm::kStatusOk);
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(receiver.Handle(), reinterpret_cast<sockaddr*>(&bound), &length);

  CDatagramSocket other;
  ASSERT_EQ(other.Create(), comm::kStatusOk);
  EXPECT_EQ(other.Bind(bound), comm::kStatusBindFailed);  // address in use

  uint32_t status = 1;
  char buffer[8];
  EXPECT_EQ(receiver.ReceiveFrom(buffer, sizeof buffer, nullptr, 0, &status), 0);
  EXPECT_EQ(status, comm::kStatusTimeout);
  EXPECT_EQ(other.SendTo("abc", 3, bound, 1, &status), 3);
  EXPECT_EQ(status, comm::kStatusOk);
  sockaddr_in from{};
  EXPECT_EQ(receiver.ReceiveFrom(buffer, sizeof buffer, &from, 1, &status), 3);
  EXPECT_EQ(status, comm::kStatusOk);
  EXPECT_EQ(receiver.Close(), comm::kStatusOk);
  EXPECT_FALSE(receiver.IsOpen());
  EXPECT_EQ(receiver.Close(), comm::kStatusCloseFailed);
}

// Linux frees a descriptor even when close() fails. The object must forget it then: a later
// Cleanup would otherwise close the descriptor that another part of the process was given under
// the same number since (here a pipe put exactly there).
TEST(BlockingSocket, AFailedCloseForgetsTheHandle) {
  struct Case {
    const char* name;
    std::function<int()> create;       // returns the handle
    std::function<bool()> closeFails;  // Close() reports its failure
    std::function<bool()> isOpen;
    std::function<void()> cleanup;
  };
  CBlockingSocket blocking;
  CDatagramSocket datagram;
  const Case cases[] = {
      {"CBlockingSocket",
       [&] {
         blocking.Create(SOCK_STREAM);
         return blocking.Handle();
       },
       [&] {
         try {
           blocking.Close();
         } catch (const CBlockingSocketException& e) {
           return e.Text() == "Close";
         }
         return false;
       },
       [&] { return blocking.IsOpen(); }, [&] { blocking.Cleanup(); }},
      {"CDatagramSocket",
       [&] {
         EXPECT_EQ(datagram.Create(), comm::kStatusOk);
         return datagram.Handle();
       },
       [&] { return datagram.Close() == comm::kStatusCloseFailed; },
       [&] { return datagram.IsOpen(); }, [&] { datagram.Cleanup(); }},
  };
  for (const auto& c : cases) {
    const int fd = c.create();
    ASSERT_GE(fd, 0) << c.name;
    ASSERT_EQ(::close(fd), 0);  // the descriptor is gone, so the object's close() fails
    EXPECT_TRUE(c.closeFails()) << c.name;
    EXPECT_FALSE(c.isOpen()) << c.name;
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ASSERT_EQ(::dup2(pipeEnds[0], fd), fd);  // someone else now owns that number
    c.cleanup();
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << c.name << ": the reused descriptor was closed";
    ::close(fd);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
  }
}

TEST(CommandSocket, CommandOnAClosedObjectSendsNothing) {
  CCommandSocket socket;
  EXPECT_EQ(socket.Command("b", 1, 1000), "");
}

TEST(CommandSocket, GreetingDrainAndOneAnswer) {
  CBlockingSocket listener;
  listener.Create(SOCK_STREAM);
  listener.Bind(Loopback());
  listener.Listen();
  sockaddr_in bound{};
  listener.GetSockAddr(&bound);
  std::string received;
  std::atomic<bool> staleQueued{false};
  std::thread module([&] {
    CBlockingSocket peer;
    listener.Accept(peer, nullptr);
    peer.Write("Welcome\r\n", 9, 1000);
    peer.Write("stale", 5, 1000);  // queued before the command: drained by Command
    staleQueued.store(true);       // on loopback the bytes are queued once the write returns
    char command[8];
    const int n = peer.Receive(command, sizeof command, 2000);
    received.assign(command, n > 0 ? static_cast<size_t>(n) : 0);
    peer.Write("Heap: 1234 Bytes Free\r\n", 23, 1000);
    peer.Receive(command, sizeof command, 2000);  // until the client closes
  });
  CCommandSocket socket;
  ASSERT_EQ(socket.Create(), comm::kStatusOk);
  ASSERT_TRUE(socket.ConnectTelnet("127.0.0.1", ntohs(bound.sin_port)));
  while (!staleQueued.load()) std::this_thread::yield();
  EXPECT_EQ(socket.Command("m", 1, 1000), "Heap: 1234 Bytes Free\r\n");
  // A time-out is an empty answer, not an error.
  char buffer[8];
  const uint32_t start = platform::GetTickCount();
  EXPECT_EQ(socket.Receive(buffer, sizeof buffer, 300), 0);
  EXPECT_GE(platform::TicksSince(start), 295u);  // milliseconds are honoured
  socket.Cleanup();
  module.join();
  EXPECT_EQ(received, "m");
}

}  // namespace
