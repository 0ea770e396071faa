// qg get end to end: the real tool against servers on 127.0.0.1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "python_server.h"
#include "qg_run.h"
#include "script_server.h"
#include "temp_dir.h"

namespace rztest {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kOk5 = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n";

class QgGet : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    ASSERT_TRUE(std::ifstream(RZ_QG_PATH).good()) << "qg was not built";
  }
  std::string url(uint16_t port, const std::string& path = "/f") const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }
  std::string text_of(const std::string& path) const {
    std::vector<uint8_t> b = read_file(path);
    return std::string(b.begin(), b.end());
  }
  TempDir dir;
};

TEST_F(QgGet, DownloadsFromARealServer) {
  TempDir site;
  std::mt19937 gen(7);
  std::vector<uint8_t> big(2 * 1024 * 1024 + 3);
  for (auto& b : big) b = static_cast<uint8_t>(gen());
  write_file(site / "big.bin", big);
  write_file(site / "empty", {});
  PythonServer server(site.path());
  ASSERT_NE(server.port(), 0);

  auto r = run_qg({"get", url(server.port(), "/big.bin"), "-o", dir / "big.bin"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(read_file(dir / "big.bin"), big);
  EXPECT_NE(r.output.find(std::to_string(big.size()) + " bytes"), std::string::npos) << r.output;

  r = run_qg({"get", url(server.port(), "/empty"), "-o", dir / "empty"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(std::ifstream(dir / "empty").good());
  EXPECT_TRUE(read_file(dir / "empty").empty());

  r = run_qg({"get", url(server.port(), "/missing"), "-o", dir / "missing"});
  EXPECT_EQ(r.status, 7);
  EXPECT_NE(r.output.find("404"), std::string::npos) << r.output;
}

TEST_F(QgGet, ProxyCredentialsAgentAndHeaderLog) {
  ScriptServer server({Send("HTTP/1.1 200 OK\r\nX-Test: yes\r\nContent-Length: 5\r\n\r\nhello")});
  std::string log = dir / "headers.ini";
  auto r = run_qg({"get", "http://example.test:8080/p?q=1#frag", "-o", dir / "out", "--proxy",
                   "127.0.0.1:" + std::to_string(server.port()), "--user", "u:p", "--user-agent",
                   "agent-x", "--header-log", log});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(server.request(),
            "GET http://example.test:8080/p?q=1 HTTP/1.0\r\nHost: \r\n"
            "Authorization: Basic dTpw\r\nUser-Agent: agent-x\r\n\r\n");
  EXPECT_EQ(text_of(dir / "out"), "hello");
  std::string logged = text_of(log);
  EXPECT_NE(logged.find("[result]"), std::string::npos);
  EXPECT_NE(logged.find("=X-Test: yes"), std::string::npos) << logged;
}

TEST_F(QgGet, DefaultUserAgentNamesTheTool) {
  ScriptServer server({Send(kOk5 + "hello")});
  auto r = run_qg({"get", url(server.port(), "/a b"), "-o", dir / "out"});
  EXPECT_EQ(r.status, 0) << r.output;
  std::string request = server.request();
  // The space goes out percent-encoded, and the server is named.
  std::string start =
      "GET /a%20b HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
  EXPECT_EQ(request.substr(0, start.size()), start);
  EXPECT_NE(request.find("User-Agent: qg/"), std::string::npos) << request;
}

TEST_F(QgGet, ExitStatusAndMessageForEachOutcome) {
  struct Case {
    const char* name;
    std::vector<Step> steps;  // empty: no server
    std::vector<std::string> extra;
    int status;
    const char* says;
  };
  const std::string ok = "HTTP/1.0 200 OK\r\n";
  const Case cases[] = {
      {"cut short", {Send(ok + "Content-Length: 9\r\n\r\nhello")}, {}, 7, "before the whole file"},
      {"not http", {Send("SSH-2.0-x\r\n")}, {}, 7, "not an HTTP response"},
      {"header cut short", {Send(ok + "Content-Le")}, {}, 7, "before the end of its reply header"},
      {"server error", {Send("HTTP/1.0 500 Oops\r\n\r\n")}, {}, 7, "500"},
      {"redirect names its target",
       {Send("HTTP/1.1 301 Moved\r\nLocation: http://127.0.0.1:9/new/place\r\n\r\n")},
       {},
       7,
       "to http://127.0.0.1:9/new/place"},
      {"chunked",
       {Send(ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n")},
       {},
       7,
       "chunked"},
      {"lengths disagree",
       {Send(ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello")},
       {},
       7,
       "invalid"},
      {"stall", {Send(kOk5 + "he"), Hold(8000)}, {"--timeout", "1"}, 6, "nothing arrived"},
      {"reset", {Send(ok + "Content-Length: 9\r\n\r\nhe"), Pause(100), Reset()}, {}, 6, "reset"},
      {"refused", {}, {}, 6, "cannot connect"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<ScriptServer> server;
    uint16_t port = closed_port();
    if (!c.steps.empty()) {
      server = std::make_unique<ScriptServer>(c.steps);
      port = server->port();
    }
    write_text(dir / "out", "older file");
    std::vector<std::string> args = {"get", url(port), "-o", dir / "out"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    auto start = Clock::now();
    auto r = run_qg(args);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 8.0);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    // A failed download leaves the older file, and nothing beside it.
    EXPECT_EQ(text_of(dir / "out"), "older file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
  }
}

TEST_F(QgGet, RefusesWhatItCannotFetch) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const std::string out = dir / "never";
  const Case cases[] = {
      {{"get", "https://127.0.0.1/x", "-o", out}, "https:// is not supported"},
      {{"get", "ftp://127.0.0.1/x", "-o", out}, "not an http:// URL"},
      {{"get", "http://127.0.0.1:0/x", "-o", out}, "bad port"},
      {{"get", "http://u:p@127.0.0.1/x", "-o", out}, "--user"},
      {{"get", "http://[::1]/x", "-o", out}, "IPv4"},
      {{"get", "http://127.0.0.1/x", "-o", out, "--user", "nocolon"}, "USER:PASSWORD"},
      {{"get", "http://127.0.0.1/x", "-o", out, "--user", "u:" + std::string(169, 'p')},
       "170 characters"},
      {{"get", "http://127.0.0.1/" + std::string(300, 'x'), "-o", out}, "too long"},
      {{"get", "http://127.0.0.1/a\r\nX-Injected: 1", "-o", out}, "control character"},
      {{"get", "http://127.0.0.1/a\tb", "-o", out}, "control character"},
      {{"get", "http://127.0.0.1/", "-o", out, "--user-agent", "a\nX: 1"}, "control character"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    auto r = run_qg(c.args);
    EXPECT_EQ(r.status, 4) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_FALSE(std::ifstream(out).good());
  }
}

// A file error names the system's reason.
TEST_F(QgGet, FileErrorsSayWhy) {
  ASSERT_TRUE(std::filesystem::create_directory(dir / "folder"));
  struct Case {
    const char* name;
    std::string output;
    const char* says;
  };
  const Case cases[] = {
      {"missing folder", dir / "no/such/folder/out", "No such file or directory"},
      {"a folder", dir / "folder", "Is a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptServer server({Send(kOk5 + "hello")});
    auto r = run_qg({"get", url(server.port()), "-o", c.output});
    EXPECT_EQ(r.status, 5) << r.output;
    EXPECT_NE(r.output.find("cannot create " + c.output + ": " + c.says), std::string::npos)
        << r.output;
  }
}

// Runs qg with its output in a file; returns the child's pid.
pid_t spawn_qg(const std::vector<std::string>& args, const std::string& output_file) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(RZ_QG_PATH));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(RZ_QG_PATH, argv.data());
    ::_exit(127);
  }
  return pid;
}

// Waits at most ms for the child; -1 (and the child killed) when it is late.
int wait_exit(pid_t pid, int ms) {
  auto end = Clock::now() + std::chrono::milliseconds(ms);
  int status = 0;
  while (Clock::now() < end) {
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

// Ctrl-C says at once that qg stops, and a receive it cuts short sees the
// cancel: qg ends without waiting for the next chunk or for the stall time.
TEST_F(QgGet, CtrlCStopsAtOnceEvenDuringAStall) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"between chunks",
       {Send("HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nabc"), Pause(1500), Send("def"),
        Hold(8000)}},
      {"stalled", {Send("HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nabc"), Hold(8000)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptServer server(c.steps);
    std::string out = dir / "out", printed = dir / "printed";
    write_text(out, "older file");
    pid_t pid = spawn_qg({"get", url(server.port()), "-o", out, "--timeout", "30"}, printed);
    ASSERT_GT(pid, 0);
    // Interrupt once the first chunk is in the temporary file.
    auto end = Clock::now() + std::chrono::seconds(5);
    bool received = false;
    while (Clock::now() < end && !received) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().extension() == ".part" && e.file_size() == 3) received = true;
    }
    ASSERT_TRUE(received);
    auto start = Clock::now();
    ::kill(pid, SIGINT);
    EXPECT_EQ(wait_exit(pid, 8000), 3);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
    std::string said = text_of(printed);
    EXPECT_NE(said.find("stopping"), std::string::npos) << said;
    EXPECT_NE(said.find("cancelled"), std::string::npos) << said;
    EXPECT_EQ(text_of(out), "older file");
    std::filesystem::remove(printed);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
  }
}

}  // namespace
}  // namespace rztest
