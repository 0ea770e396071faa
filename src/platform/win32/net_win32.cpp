// Windows Sockets 1.1 (WSOCK32) network operations.  Handles are the SOCKET
// values; INVALID_SOCKET never leaves this file (it becomes kNoSocket).
#define WIN32_LEAN_AND_MEAN
#include <winsock.h>
#include <windows.h>

#include <cstring>

#include "platform/net.h"

namespace rz::plat {

namespace {

constexpr WORD kVersion11 = 0x0101;  // major 1 in the low byte, minor 1 in the high

SOCKET socket_of(SocketHandle h) {
  return static_cast<SOCKET>(h);
}

// Ask for version 1.1; any other version granted is refused, and a started
// library is stopped again on every failure.
int win_start() {
  WSADATA data;
  std::memset(&data, 0, sizeof data);
  if (::WSAStartup(kVersion11, &data) != 0) {
    ::WSACleanup();
    return -5001;
  }
  if (data.wVersion != kVersion11) {
    ::WSACleanup();
    return -5002;
  }
  return 0;
}

int win_stop() {
  return ::WSACleanup() == 0 ? 0 : -1;
}

// inet_addr answers INADDR_NONE both for a bad text and for the broadcast
// address itself, which is told apart by its text.
int win_parse_address(const char* text, uint32_t* address) {
  if (!text || !*text) return 0;
  unsigned long a = ::inet_addr(text);
  if (a == INADDR_NONE && std::strcmp(text, "255.255.255.255") != 0) return 0;
  *address = static_cast<uint32_t>(a);
  return 1;
}

int win_lookup_host(const char* name, uint32_t* address) {
  if (!name || !*name) return WSAHOST_NOT_FOUND;
  const hostent* h = ::gethostbyname(name);
  if (!h || h->h_addrtype != AF_INET || h->h_length != 4 || !h->h_addr_list || !h->h_addr_list[0]) {
    int code = ::WSAGetLastError();
    return code > 0 ? code : WSAHOST_NOT_FOUND;
  }
  std::memcpy(address, h->h_addr_list[0], 4);
  return 0;
}

uint16_t win_service_port(const char* service, const char* protocol) {
  if (!service || !*service) return 0;
  const servent* s = ::getservbyname(service, protocol);
  return s ? ::ntohs(static_cast<u_short>(s->s_port)) : 0;
}

SocketHandle win_open_stream() {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

int win_connect(SocketHandle h, uint32_t address, uint16_t port) {
  if (h == kNoSocket) return -1;
  sockaddr_in peer;
  std::memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = ::htons(port);
  peer.sin_addr.s_addr = address;
  return ::connect(socket_of(h), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 ? 0
                                                                                             : -1;
}

// Windows raises no signal on a closed peer; send just fails.
int32_t win_send(SocketHandle h, const void* data, uint32_t n) {
  if (h == kNoSocket) return -1;
  if (n > 0x7fffffffu) n = 0x7fffffffu;
  int put = ::send(socket_of(h), static_cast<const char*>(data), static_cast<int>(n), 0);
  return put <= 0 ? -1 : static_cast<int32_t>(put);
}

// SO_RCVTIMEO takes a DWORD of milliseconds here; 0 would mean "wait for
// ever", so the shortest limit is 1 ms.
int win_set_receive_timeout(SocketHandle h, uint32_t timeout_ms) {
  if (h == kNoSocket) return -1;
  DWORD limit = timeout_ms ? timeout_ms : 1;
  return ::setsockopt(socket_of(h), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                      sizeof limit) == 0
             ? 0
             : -1;
}

// No signal interrupts a receive here; WSAEINTR comes only from a blocking
// call cancelled by the socket library.
int32_t win_receive(SocketHandle h, void* buffer, uint32_t n) {
  if (h == kNoSocket) return kNetFailed;
  if (n > 0x7fffffffu) n = 0x7fffffffu;
  int got = ::recv(socket_of(h), static_cast<char*>(buffer), static_cast<int>(n), 0);
  if (got >= 0) return static_cast<int32_t>(got);
  int error = ::WSAGetLastError();
  if (error == WSAETIMEDOUT) return kNetTimedOut;
  if (error == WSAEINTR) return kNetInterrupted;
  return kNetFailed;
}

int win_close(SocketHandle h) {
  if (h == kNoSocket) return -1;
  return ::closesocket(socket_of(h)) == 0 ? 0 : -1;
}

uint32_t win_now_ms() {
  return static_cast<uint32_t>(::GetTickCount());
}

const NetOps kWinNetOps = {
    win_start,       win_stop,    win_parse_address, win_lookup_host,         win_service_port,
    win_open_stream, win_connect, win_send,          win_set_receive_timeout, win_receive,
    win_close,       win_now_ms,
};

}  // namespace

const NetOps& native_net_ops() {
  return kWinNetOps;
}

}  // namespace rz::plat
