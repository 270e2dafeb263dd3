#pragma once
// Socket error numbers as the Windows Sockets numbers that the logic and the log texts use.
namespace platform {

enum WsaError : int {
  kWsaEintr = 10004,
  kWsaEbadf = 10009,
  kWsaEacces = 10013,
  kWsaEfault = 10014,
  kWsaEinval = 10022,
  kWsaEmfile = 10024,
  kWsaEwouldblock = 10035,
  kWsaEinprogress = 10036,
  kWsaEalready = 10037,
  kWsaEnotsock = 10038,
  kWsaEdestaddrreq = 10039,
  kWsaEmsgsize = 10040,
  kWsaEprototype = 10041,
  kWsaEnoprotoopt = 10042,
  kWsaEprotonosupport = 10043,
  kWsaEopnotsupp = 10045,
  kWsaEafnosupport = 10047,
  kWsaEaddrinuse = 10048,
  kWsaEaddrnotavail = 10049,
  kWsaEnetdown = 10050,
  kWsaEnetunreach = 10051,
  kWsaEnetreset = 10052,
  kWsaEconnaborted = 10053,
  kWsaEconnreset = 10054,
  kWsaEnobufs = 10055,
  kWsaEisconn = 10056,
  kWsaEnotconn = 10057,
  kWsaEshutdown = 10058,
  kWsaEtimedout = 10060,
  kWsaEconnrefused = 10061,
  kWsaEhostdown = 10064,
  kWsaEhostunreach = 10065,
  kWsaHostNotFound = 11001,
};

// Maps an errno value to its Windows Sockets number; unknown values map to themselves.
// EPIPE maps to 10054 (reset) and EAGAIN to 10035 (would block). A wait that runs out of time
// is 10060 (kWsaEtimedout): code that waits with poll() or SO_RCVTIMEO reports it itself,
// since Linux gives EAGAIN (or nothing) where Windows Sockets gives 10060.
int WsaErrorFromErrno(int errnoValue);
// The current thread's last socket error (errno mapped).
int LastSocketError();

// The cause of a socket error in a few words for the user, shown beside the number the log
// texts carry: "timed out", "refused", "no route to the module" …; "" for a number without
// words of its own.
const char* SocketErrorWords(int wsaError);

}  // namespace platform
