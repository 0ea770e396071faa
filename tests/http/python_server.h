// Runs "python3 -m http.server" on 127.0.0.1 at a port the system picks,
// serving one folder, and stops it in the destructor.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace rztest {

class PythonServer {
 public:
  explicit PythonServer(const std::string& folder) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(out[1], STDERR_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::execlp("python3", "python3", "-u", "-m", "http.server", "--bind", "127.0.0.1",
               "--directory", folder.c_str(), "0", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    output_ = out[0];
    if (pid_ > 0) read_port();
  }
  ~PythonServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (output_ >= 0) ::close(output_);
  }
  PythonServer(const PythonServer&) = delete;
  PythonServer& operator=(const PythonServer&) = delete;

  // 0 when the server did not start within ten seconds.
  uint16_t port() const { return port_; }

 private:
  // The server announces "Serving HTTP on 127.0.0.1 port N (...)".
  void read_port() {
    std::string text;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end && text.find(")") == std::string::npos) {
      pollfd p{output_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buf[256];
      ssize_t n = ::read(output_, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<size_t>(n));
    }
    size_t at = text.find(" port ");
    if (at != std::string::npos) port_ = static_cast<uint16_t>(std::stoi(text.substr(at + 6)));
  }

  pid_t pid_ = -1;
  int output_ = -1;
  uint16_t port_ = 0;
};

}  // namespace rztest
