// A scripted TCP server on 127.0.0.1 for the download tests: it accepts one
// connection, reads the request up to its empty line, then plays a script of
// sends, pauses and closes.  Every wait is bounded; the destructor stops the
// thread and closes every socket.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace rztest {

struct Step {
  enum Kind { send, pause, hold, reset } kind;
  std::string bytes;
  int ms = 0;
};

inline Step Send(std::string bytes) {
  return Step{Step::send, std::move(bytes), 0};
}
inline Step Pause(int ms) {
  return Step{Step::pause, {}, ms};
}
// Keep the connection open until the client closes it, at most ms.
inline Step Hold(int ms) {
  return Step{Step::hold, {}, ms};
}
// End the script by resetting the connection instead of closing it.
inline Step Reset() {
  return Step{Step::reset, {}, 0};
}

class ScriptServer {
 public:
  explicit ScriptServer(std::vector<Step> steps) : steps_(std::move(steps)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~ScriptServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  uint16_t port() const { return port_; }
  // Waits (bounded) for the script to end, then gives the request received.
  std::string request() {
    finish();
    std::lock_guard<std::mutex> lock(mutex_);
    return request_;
  }
  bool accepted() {
    finish();
    return accepted_;
  }
  // True when the client closed its end while the server held the connection.
  bool client_closed() {
    finish();
    return client_closed_;
  }
  void finish() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  using Clock = std::chrono::steady_clock;

  // Poll in short slices so that stop_ ends every wait quickly.
  bool wait_for(int fd, short events, int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!stop_ && Clock::now() < end) {
      pollfd p{fd, events, 0};
      if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }

  void run() {
    if (!wait_for(listener_, POLLIN, 10000)) return;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    accepted_ = true;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    read_request(fd);
    for (const Step& s : steps_) {
      if (stop_) break;
      if (s.kind == Step::send) {
        ::send(fd, s.bytes.data(), s.bytes.size(), MSG_NOSIGNAL);
      } else if (s.kind == Step::pause) {
        std::this_thread::sleep_for(std::chrono::milliseconds(s.ms));
      } else if (s.kind == Step::reset) {
        // A zero linger time makes the close send a reset.
        linger off{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
        break;
      } else {
        hold(fd, s.ms);
      }
    }
    ::close(fd);
  }

  void read_request(int fd) {
    std::string got;
    while (got.find("\r\n\r\n") == std::string::npos && got.size() < 8192 &&
           wait_for(fd, POLLIN, 5000)) {
      char buf[1024];
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    request_ = got;
  }

  void hold(int fd, int ms) {
    while (wait_for(fd, POLLIN, ms)) {
      char buf[256];
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) {
        client_closed_ = true;
        return;
      }
    }
  }

  std::vector<Step> steps_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string request_;
  std::atomic<bool> accepted_{false};
  std::atomic<bool> client_closed_{false};
};

// A port on 127.0.0.1 where nothing listens: bound, then released.
inline uint16_t closed_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace rztest
