// Network operations of the platform seam: IPv4 name and service lookup,
// blocking TCP stream sockets, and a millisecond clock.
//
// The download reaches the network only through the active NetOps table.
// Tests replace the table (set_net_ops) to log calls, fake a lookup or make
// the Nth call fail.  Addresses are IPv4 in network byte order; ports are in
// host byte order.
#pragma once

#include <cstdint>

namespace rz::plat {

// An open socket; 0 means none.
using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = 0;

// Failures of receive besides the plain -1.
constexpr int32_t kNetFailed = -1;
constexpr int32_t kNetTimedOut = -2;     // nothing came within the receive time limit
constexpr int32_t kNetInterrupted = -3;  // a signal cut the wait short; nothing was lost

struct NetOps {
  // Start and stop the socket library; 0 on success.  start() may report
  // -5001 (the library would not start) or -5002 (wrong version); stop()
  // returns 0 or -1.
  int (*start)();
  int (*stop)();
  // A dotted IPv4 address text, read as it stands without any lookup.
  // Returns 1 and sets *address when the text is one, 0 otherwise.
  int (*parse_address)(const char* text, uint32_t* address);
  // Look up a host name.  Returns 0 and sets *address to the first IPv4
  // address found, or the resolver's error number (always > 0).
  int (*lookup_host)(const char* name, uint32_t* address);
  // The port of a named service over a protocol ("http", "tcp"), or 0 when
  // the service database does not know it.
  uint16_t (*service_port)(const char* service, const char* protocol);
  // A new blocking TCP stream socket, or kNoSocket.
  SocketHandle (*open_stream)();
  // Connect to address:port; 0 or -1.
  int (*connect)(SocketHandle socket, uint32_t address, uint16_t port);
  // Send up to n bytes: the count taken (at least 1), or -1.  Never raises
  // a signal when the peer has closed the connection.
  int32_t (*send)(SocketHandle socket, const void* data, uint32_t n);
  // Limit every later receive on the socket to timeout_ms of waiting (set
  // once, not before each receive); 0 or -1.
  int (*set_receive_timeout)(SocketHandle socket, uint32_t timeout_ms);
  // Receive up to n bytes: the count, 0 when the peer closed, kNetTimedOut
  // when the limit passed without a byte, kNetInterrupted when a signal cut
  // the wait short (callers measure the time with now_ms), or kNetFailed.
  int32_t (*receive)(SocketHandle socket, void* buffer, uint32_t n);
  // Close; 0 or -1.
  int (*close)(SocketHandle socket);
  // Milliseconds from a fixed point (a monotonic tick count that wraps).
  uint32_t (*now_ms)();
};

// The table in use, and the platform's own.
const NetOps& net_ops();
const NetOps& native_net_ops();
// Install a table (tests); nullptr restores the native one.
void set_net_ops(const NetOps* ops);

inline int net_start() {
  return net_ops().start();
}
inline int net_stop() {
  return net_ops().stop();
}
inline int net_parse_address(const char* text, uint32_t* address) {
  return net_ops().parse_address(text, address);
}
inline int net_lookup_host(const char* name, uint32_t* address) {
  return net_ops().lookup_host(name, address);
}
inline uint16_t net_service_port(const char* service, const char* protocol) {
  return net_ops().service_port(service, protocol);
}
inline SocketHandle net_open_stream() {
  return net_ops().open_stream();
}
inline int net_connect(SocketHandle s, uint32_t address, uint16_t port) {
  return net_ops().connect(s, address, port);
}
inline int32_t net_send(SocketHandle s, const void* data, uint32_t n) {
  return net_ops().send(s, data, n);
}
inline int net_set_receive_timeout(SocketHandle s, uint32_t timeout_ms) {
  return net_ops().set_receive_timeout(s, timeout_ms);
}
inline int32_t net_receive(SocketHandle s, void* buffer, uint32_t n) {
  return net_ops().receive(s, buffer, n);
}
inline int net_close(SocketHandle s) {
  return net_ops().close(s);
}
inline uint32_t net_now_ms() {
  return net_ops().now_ms();
}

// Send all n bytes, continuing short sends: 0, or -1 when a send fails.
int net_send_all(SocketHandle socket, const void* data, uint32_t n);

}  // namespace rz::plat
