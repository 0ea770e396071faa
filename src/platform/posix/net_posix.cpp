// POSIX network operations.  Handles are descriptors plus one, so that 0
// stays "no socket" even when descriptor 0 is in use.
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "platform/net.h"

namespace rz::plat {

namespace {

int fd_of(SocketHandle h) {
  return static_cast<int>(h - 1);
}

// The socket library needs no start here.
int posix_start() {
  return 0;
}
int posix_stop() {
  return 0;
}

// inet_aton accepts the classic forms ("127.0.0.1", "127.1", "0x7f.1").
int posix_parse_address(const char* text, uint32_t* address) {
  if (!text || !*text) return 0;
  struct in_addr a;
  if (::inet_aton(text, &a) == 0) return 0;
  *address = a.s_addr;
  return 1;
}

// getaddrinfo's error codes are negative on some systems; the caller adds
// the number to a base, so it is made positive here.
int posix_lookup_host(const char* name, uint32_t* address) {
  struct addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = nullptr;
  int rc = ::getaddrinfo(name, nullptr, &hints, &found);
  if (rc != 0 || !found) {
    if (found) ::freeaddrinfo(found);
    int code = rc < 0 ? -rc : rc;
    return code != 0 ? code : EAI_NONAME < 0 ? -EAI_NONAME : EAI_NONAME;
  }
  const auto* in = reinterpret_cast<const struct sockaddr_in*>(found->ai_addr);
  *address = in->sin_addr.s_addr;
  ::freeaddrinfo(found);
  return 0;
}

uint16_t posix_service_port(const char* service, const char* protocol) {
  struct servent entry;
  struct servent* result = nullptr;
  char scratch[1024];
  if (::getservbyname_r(service, protocol, &entry, scratch, sizeof scratch, &result) != 0 ||
      !result)
    return 0;
  return ntohs(static_cast<uint16_t>(result->s_port));
}

SocketHandle posix_open_stream() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? kNoSocket : static_cast<SocketHandle>(fd) + 1;
}

int posix_connect(SocketHandle h, uint32_t address, uint16_t port) {
  if (h == kNoSocket) return -1;
  struct sockaddr_in peer;
  std::memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = address;
  if (::connect(fd_of(h), reinterpret_cast<const struct sockaddr*>(&peer), sizeof peer) == 0)
    return 0;
  if (errno != EINTR) return -1;
  // An interrupted connect goes on in the background; wait for its outcome.
  struct pollfd p = {fd_of(h), POLLOUT, 0};
  while (::poll(&p, 1, -1) < 0) {
    if (errno != EINTR) return -1;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd_of(h), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return -1;
  return error == 0 ? 0 : -1;
}

// MSG_NOSIGNAL: a closed peer gives EPIPE, not SIGPIPE.
int32_t posix_send(SocketHandle h, const void* data, uint32_t n) {
  if (h == kNoSocket) return -1;
  for (;;) {
    ssize_t put = ::send(fd_of(h), data, n, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    return put <= 0 ? -1 : static_cast<int32_t>(put);
  }
}

// SO_RCVTIMEO holds milliseconds to the microsecond; 0 would mean "wait
// for ever", so the shortest limit is 1 ms.
int posix_set_receive_timeout(SocketHandle h, uint32_t timeout_ms) {
  if (h == kNoSocket) return -1;
  if (timeout_ms == 0) timeout_ms = 1;
  struct timeval limit;
  limit.tv_sec = static_cast<time_t>(timeout_ms / 1000u);
  limit.tv_usec = static_cast<suseconds_t>((timeout_ms % 1000u) * 1000u);
  return ::setsockopt(fd_of(h), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 ? 0 : -1;
}

// An interrupted receive is handed back, not retried: the caller may have a
// cancel waiting (Ctrl-C) and decides itself whether to go on.
int32_t posix_receive(SocketHandle h, void* buffer, uint32_t n) {
  if (h == kNoSocket) return kNetFailed;
  if (n > 0x7fffffffu) n = 0x7fffffffu;
  ssize_t got = ::recv(fd_of(h), buffer, n, 0);
  if (got >= 0) return static_cast<int32_t>(got);
  if (errno == EINTR) return kNetInterrupted;
  if (errno == EAGAIN || errno == EWOULDBLOCK) return kNetTimedOut;
  return kNetFailed;
}

int posix_close(SocketHandle h) {
  if (h == kNoSocket) return -1;
  return ::close(fd_of(h)) == 0 ? 0 : -1;
}

uint32_t posix_now_ms() {
  struct timespec t;
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  uint64_t ms =
      static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

const NetOps kPosixNetOps = {
    posix_start,       posix_stop,         posix_parse_address,
    posix_lookup_host, posix_service_port, posix_open_stream,
    posix_connect,     posix_send,         posix_set_receive_timeout,
    posix_receive,     posix_close,        posix_now_ms,
};

}  // namespace

const NetOps& native_net_ops() {
  return kPosixNetOps;
}

}  // namespace rz::plat
