#include "platform/socket_errors.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(SocketErrorsTest, ErrnoMapsToWindowsSocketsNumbers) {
  const struct {
    int errnoValue;
    int wsa;
  } cases[] = {
      {0, 0},
      {EINTR, 10004},
      {EBADF, 10009},
      {EACCES, 10013},
      {EINVAL, 10022},
      {EAGAIN, 10035},
      {EINPROGRESS, 10036},
      {EALREADY, 10037},
      {ENOTSOCK, 10038},
      {EMSGSIZE, 10040},
      {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049},
      {ENETDOWN, 10050},
      {ENETUNREACH, 10051},
      {ECONNABORTED, 10053},
      {ECONNRESET, 10054},
      {EPIPE, 10054},
      {ENOBUFS, 10055},
      {EISCONN, 10056},
      {ENOTCONN, 10057},
      {ESHUTDOWN, 10058},
      {ETIMEDOUT, 10060},
      {ECONNREFUSED, 10061},
      {EHOSTDOWN, 10064},
      {EHOSTUNREACH, 10065},
      {ENOENT, ENOENT},  // no socket meaning: stays as it is
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::WsaErrorFromErrno(c.errnoValue), c.wsa) << "errno " << c.errnoValue;
  }
}

TEST(SocketErrorsTest, LastSocketErrorReadsErrno) {
  errno = ECONNREFUSED;
  EXPECT_EQ(platform::LastSocketError(), platform::kWsaEconnrefused);
  errno = EPIPE;
  EXPECT_EQ(platform::LastSocketError(), platform::kWsaEconnreset);
}

}  // namespace

namespace {

TEST(SocketErrorsTest, CausesInWordsBesideTheNumbers) {
  const struct {
    int wsa;
    const char* words;
  } cases[] = {
      {10060, "timed out"},
      {10061, "refused"},
      {10065, "no route to the module"},
      {10051, "no route to the module's network"},
      {10054, "the connection was closed by the module"},
      {10022, ""},
      {0, ""},
  };
  for (const auto& c : cases) EXPECT_STREQ(platform::SocketErrorWords(c.wsa), c.words) << c.wsa;
}

}  // namespace
