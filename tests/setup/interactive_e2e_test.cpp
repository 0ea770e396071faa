// An interactive installation on a pseudo-terminal, answered by the test:
// the questions appear in order, each with its default, and the session
// ends by itself (every read is bounded).
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "setup_fixture.h"

namespace {

namespace fs = std::filesystem;

class Pty {
 public:
  explicit Pty(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    struct winsize ws = {24, 100, 0, 0};
    pid_ = ::forkpty(&fd_, nullptr, nullptr, &ws);
    if (pid_ == 0) {
      for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
  }
  ~Pty() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) ::close(fd_);
  }
  // Reads until `text` appears (true) or 20 seconds pass or the child ends.
  bool expect(const std::string& text) {
    for (int i = 0; i < 200; ++i) {
      if (seen_.find(text, cursor_) != std::string::npos) {
        cursor_ = seen_.find(text, cursor_) + text.size();
        return true;
      }
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buf[1024];
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) return false;
      seen_.append(buf, static_cast<size_t>(n));
    }
    return false;
  }
  void answer(const std::string& line) {
    std::string l = line + "\r";
    ASSERT_EQ(::write(fd_, l.data(), l.size()), static_cast<ssize_t>(l.size()));
  }
  int wait() {
    expect("\x01never\x01");  // drain until the child closes the terminal
    int st = 0;
    ::waitpid(pid_, &st, 0);
    reaped_ = true;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  const std::string& transcript() const { return seen_; }

 private:
  int fd_ = -1;
  pid_t pid_ = -1;
  bool reaped_ = false;
  std::string seen_;
  size_t cursor_ = 0;
};

TEST(SetupInteractive, AsksForLicenceComponentsAndTargetOnATerminal) {
  rztest::TempDir tmp;
  std::string src = tmp.path() + "/src";
  fs::create_directories(src + "/payload/bin");
  rztest::write_text(src + "/payload/bin/app", "#!/bin/sh\necho hi\n");
  rztest::write_text(src + "/LICENSE.txt", "You may use this.\n");
  rztest::write_text(
      src + "/setup.ini",
      "[SETUP]\nName=Pty Demo\nVersion=3\nDefaultDir=~/pty-demo\nLicense=LICENSE.txt\n"
      "[COMPONENTS]\nNdx=1\n+1name=extras\n+1description=more\n+1default=1\n");
  std::string installer = tmp.path() + "/setup.run";
  rztest::Outcome p = rztest::run(
      {RZ_QG_PATH, "pack", src + "/payload", "-o", installer, "--setup", src + "/setup.ini"});
  ASSERT_EQ(p.status, 0) << p.output;
  std::string home = tmp.path() + "/home";
  fs::create_directories(home);
  Pty pty({installer}, {"HOME=" + home, "RAZIZA3Z_REGISTRY=" + tmp.path() + "/reg.reg"});
  ASSERT_TRUE(pty.expect("Pty Demo 3")) << pty.transcript();
  ASSERT_TRUE(pty.expect("You may use this.")) << pty.transcript();
  ASSERT_TRUE(pty.expect("Do you accept the licence? [y/N]")) << pty.transcript();
  pty.answer("y");
  ASSERT_TRUE(pty.expect("Install extras (more)? [Y/n]")) << pty.transcript();
  pty.answer("");
  ASSERT_TRUE(pty.expect("Install into [" + home + "/pty-demo]")) << pty.transcript();
  pty.answer("");
  ASSERT_TRUE(pty.expect("is installed in " + home + "/pty-demo")) << pty.transcript();
  EXPECT_EQ(pty.wait(), 0) << pty.transcript();
  EXPECT_TRUE(fs::exists(home + "/pty-demo/bin/app"));

  // --yes answers yes/no questions, but the licence is still asked.
  Pty yes({installer, "--yes", "--target", tmp.path() + "/third"}, {"HOME=" + home});
  ASSERT_TRUE(yes.expect("Do you accept the licence? [y/N]")) << yes.transcript();
  yes.answer("y");
  EXPECT_EQ(yes.wait(), 0) << yes.transcript();
  EXPECT_EQ(yes.transcript().find("Install extras"), std::string::npos) << yes.transcript();

  // Refusing the licence installs nothing.
  Pty refuse({installer, "--target", tmp.path() + "/second"}, {"HOME=" + home});
  ASSERT_TRUE(refuse.expect("[y/N]")) << refuse.transcript();
  refuse.answer("n");
  EXPECT_EQ(refuse.wait(), 12) << refuse.transcript();
  EXPECT_FALSE(fs::exists(tmp.path() + "/second"));
}

}  // namespace
