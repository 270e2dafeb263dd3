#include "platform/socket_errors.h"

#include <cerrno>

namespace platform {

int WsaErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case 0:
      return 0;
    case EINTR:
      return kWsaEintr;
    case EBADF:
      return kWsaEbadf;
    case EACCES:
    case EPERM:
      return kWsaEacces;
    case EFAULT:
      return kWsaEfault;
    case EINVAL:
      return kWsaEinval;
    case EMFILE:
    case ENFILE:
      return kWsaEmfile;
    case EAGAIN:  // EWOULDBLOCK has the same value on Linux
      return kWsaEwouldblock;
    case EINPROGRESS:
      return kWsaEinprogress;
    case EALREADY:
      return kWsaEalready;
    case ENOTSOCK:
      return kWsaEnotsock;
    case EDESTADDRREQ:
      return kWsaEdestaddrreq;
    case EMSGSIZE:
      return kWsaEmsgsize;
    case EPROTOTYPE:
      return kWsaEprototype;
    case ENOPROTOOPT:
      return kWsaEnoprotoopt;
    case EPROTONOSUPPORT:
      return kWsaEprotonosupport;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:  // ENOTSUP has the same value on Linux
      return kWsaEopnotsupp;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return kWsaEafnosupport;
    case EADDRINUSE:
      return kWsaEaddrinuse;
    case EADDRNOTAVAIL:
      return kWsaEaddrnotavail;
    case ENETDOWN:
      return kWsaEnetdown;
    case ENETUNREACH:
      return kWsaEnetunreach;
    case ENETRESET:
      return kWsaEnetreset;
    case ECONNABORTED:
      return kWsaEconnaborted;
    case ECONNRESET:
    case EPIPE:  // writing to a connection the peer has reset or closed
      return kWsaEconnreset;
    case ENOBUFS:
    case ENOMEM:
      return kWsaEnobufs;
    case EISCONN:
      return kWsaEisconn;
    case ENOTCONN:
      return kWsaEnotconn;
    case ESHUTDOWN:
      return kWsaEshutdown;
    case ETOOMANYREFS:
      return 10059;
    case ETIMEDOUT:
      return kWsaEtimedout;
    case ECONNREFUSED:
      return kWsaEconnrefused;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return kWsaEhostdown;
    case EHOSTUNREACH:
      return kWsaEhostunreach;
    default:
      return errnoValue;
  }
}

int LastSocketError() {
  return WsaErrorFromErrno(errno);
}

const char* SocketErrorWords(int wsaError) {
  switch (wsaError) {
    case kWsaEtimedout:
      return "timed out";
    case kWsaEconnrefused:
      return "refused";
    case kWsaEhostunreach:
    case kWsaEhostdown:
      return "no route to the module";
    case kWsaEnetunreach:
    case kWsaEnetdown:
      return "no route to the module's network";
    case kWsaEconnreset:
    case kWsaEconnaborted:
    case kWsaEnetreset:
      return "the connection was closed by the module";
    case kWsaEaddrnotavail:
      return "address not available";
    case kWsaEintr:
      return "interrupted";
    case kWsaEacces:
      return "not permitted";
    case kWsaEmsgsize:
      return "answer too long";
    case kWsaEnotconn:
    case kWsaEshutdown:
      return "not connected";
    default:
      return "";
  }
}

}  // namespace platform
