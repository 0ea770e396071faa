// qg under hostile or unlucky conditions: exit statuses from the one table,
// file errors that say why, names with control characters, offsets with no
// entry behind them, a pack that fails, and signals during an extraction.
// qg is run as a child process (POSIX only, like the other qg tests).
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "../../tools/qg/exit_codes.h"
#include "archive_bytes.h"
#include "qg_run.h"
#include "qg_spawn.h"
#include "qgwriter.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using rztest::run_qg;

namespace {

class QgHardening : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = dir_ / "tree";
    fs::create_directories(tree_ + "/sub");
    rztest::write_text(tree_ + "/a.txt", std::string(5000, 'a'));
    rztest::write_text(tree_ + "/sub/b.txt", "bee\n");
  }
  std::string pack(const std::string& name = "a.qg") {
    std::string out = dir_ / name;
    auto r = run_qg({"pack", tree_, "-o", out});
    EXPECT_EQ(r.status, 0) << r.output;
    return out;
  }
  std::string write(const std::vector<qgw::Entry>& entries, const std::string& name) {
    std::string path = dir_ / name;
    std::string error;
    EXPECT_EQ(qgw::write_archive(path, entries, {}, nullptr, &error), 0) << error;
    return path;
  }
  rztest::TempDir dir_;
  std::string tree_;
};

qgw::Entry entry(const std::string& name, const std::string& text, const std::string& dir = "") {
  qgw::Entry e;
  e.name = name;
  e.directory = dir;
  e.data.assign(text.begin(), text.end());
  return e;
}

// Runs a program on a terminal of its own (a pseudo-terminal that becomes
// its controlling terminal), answers its first question with `answer`, and
// returns the question as the terminal showed it.
std::string first_question(const std::vector<std::string>& argv, const std::string& answer) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return "";
  std::string slave = ::ptsname(master);
  pid_t pid = fork();
  if (pid == 0) {
    ::setsid();
    int fd = ::open(slave.c_str(), O_RDWR);  // the controlling terminal
    int null_fd = ::open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  std::string shown;
  char buf[1024];
  for (int i = 0; i < 200 && shown.find("[c]ancel: ") == std::string::npos; ++i) {
    ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;
    shown.append(buf, static_cast<size_t>(n));
  }
  if (::write(master, answer.data(), answer.size()) < 0) shown += "(no answer)";
  int st = 0;
  waitpid(pid, &st, 0);
  ::close(master);
  return shown;
}

bool has_raw_control(const std::string& text) {
  for (unsigned char c : text)
    if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
  return false;
}

TEST_F(QgHardening, HelpListsTheExitStatuses) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--help"},
                                        {"list", "--help"},
                                        {"extract", "--help"},
                                        {"pack", "--help"},
                                        {"script", "--help"},
                                        {"reg", "get", "--help"}}) {
    auto r = run_qg(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_NE(r.output.find(qg::kExitCodeTable), std::string::npos) << args[0] << r.output;
  }
}

TEST_F(QgHardening, EachKindOfFailureHasItsStatus) {
  std::string good = pack();
  fs::create_directories(dir_ / "folder");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"list", "--no-such-option", good}, qg::kExitUsage, "qg:"},
      {{"extract", good, "--yes", "--no"}, qg::kExitUsage, "exclude"},
      {{"list", good, "--offset", "12abc"}, qg::kExitUsage, "--offset"},
      {{"list", good, "--offset", "-1"}, qg::kExitUsage, "--offset"},
      {{"list", dir_ / "missing.qg"}, qg::kExitUnusable, "No such file or directory"},
      {{"test", dir_ / "missing.qg"}, qg::kExitUnusable, "No such file or directory"},
      {{"list", dir_ / "folder"}, qg::kExitUnusable, "Is a directory"},
      {{"extract", dir_ / "folder"}, qg::kExitUnusable, "Is a directory"},
      {{"pack", dir_ / "nothing", "-o", dir_ / "x.qg"},
       qg::kExitFileError,
       "No such file or directory"},
      {{"pack", tree_, "-o", dir_ / "no/such/folder/x.qg"},
       qg::kExitFileError,
       "No such file or directory"},
      {{"script", dir_ / "missing.ini"}, qg::kExitFileError, "No such file or directory"},
      {{"reg", "get", "HKXX", "Software"}, qg::kExitUsage, "unknown root"},
      {{"reg", "get", "HKCU", "Software\\None", "--registry", dir_ / "r.reg"},
       qg::kExitNotFound,
       "no such value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    auto r = run_qg(c.args);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
  }
}

TEST_F(QgHardening, ADamagedArchiveGivesTheSameStatusInListAndTest) {
  std::vector<uint8_t> bytes = rztest::read_file(pack());
  struct Case {
    const char* label;
    size_t keep;  // bytes of the archive kept
  } cases[] = {
      {"cut inside the first header", 20},
      {"cut inside the last entry's data", bytes.size() - 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::string damaged = dir_ / "damaged.qg";
    rztest::write_file(damaged, {bytes.begin(), bytes.begin() + static_cast<long>(c.keep)});
    auto list = run_qg({"list", damaged});
    auto test = run_qg({"test", damaged});
    EXPECT_EQ(list.status, qg::kExitUnusable) << list.output;
    EXPECT_EQ(test.status, qg::kExitUnusable) << test.output;
  }
}

TEST_F(QgHardening, OffsetsWithoutAnEntryBehindThemAreErrors) {
  std::string a = pack();
  long long size = static_cast<long long>(fs::file_size(a));
  // A stub with a stray signature whose "entry" ends on zero bytes, then
  // more of the stub: no archive at all.
  rztest::RawEntry stray;
  stray.name = "x";
  stray.data.assign(8, 0);
  std::vector<uint8_t> stub = rztest::concat({std::vector<uint8_t>(100, 0x90),
                                              rztest::entry_bytes(stray),
                                              {0, 0, 0, 0},
                                              std::vector<uint8_t>(2000, 0x90)});
  rztest::write_file(dir_ / "stub-only.exe", stub);
  // The same stub with a real archive behind it.
  std::vector<uint8_t> with = stub;
  std::vector<uint8_t> archive = rztest::read_file(a);
  with.insert(with.end(), archive.begin(), archive.end());
  rztest::write_file(dir_ / "setup.exe", with);
  rztest::write_file(dir_ / "empty.qg", {});
  rztest::write_file(dir_ / "zeros.qg", {0, 0, 0, 0});
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"list", a, "--offset", std::to_string(size)}, qg::kExitUnusable, "no entry at offset"},
      {{"list", a, "--offset", std::to_string(size + 100)},
       qg::kExitUnusable,
       "no entry at offset"},
      {{"extract", a, "--offset", std::to_string(size), "-d", dir_ / "o1"},
       qg::kExitUnusable,
       "no entry at offset"},
      {{"test", a, "--offset", std::to_string(size)}, qg::kExitUnusable, "no entry at offset"},
      {{"list", dir_ / "stub-only.exe"}, qg::kExitUnusable, "not an archive"},
      {{"test", dir_ / "stub-only.exe"}, qg::kExitUnusable, "not an archive"},
      {{"list", dir_ / "zeros.qg"}, qg::kExitUnusable, "no archive found"},
      {{"list", dir_ / "setup.exe"}, qg::kExitOk, "2 entries"},
      {{"list", dir_ / "empty.qg"}, qg::kExitOk, "0 entries"},
      {{"list", dir_ / "empty.qg", "--offset", "0"}, qg::kExitUnusable, "no entry at offset 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + (c.args.size() > 3 ? " " + c.args[3] : ""));
    auto r = run_qg(c.args);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
  }
}

TEST_F(QgHardening, ControlCharactersInNamesAreShownEscaped) {
  std::string evil_name = "\x1b[2Jwiped\rover\x07";
  std::string evil_dir = "\\d\x1b]0;title\x07";
  std::string a = write({entry(evil_name, "one"), entry("plain.txt", "two", evil_dir),
                         entry("c1\xc2\x9b"
                               "31m.txt",
                               "three")},
                        "evil.qg");
  auto list = run_qg({"list", a});
  EXPECT_EQ(list.status, 0) << list.output;
  EXPECT_FALSE(has_raw_control(list.output)) << list.output;
  EXPECT_NE(list.output.find("\\x1B[2Jwiped\\x0Dover\\x07"), std::string::npos) << list.output;
  EXPECT_NE(list.output.find("\\d\\x1B]0;title\\x07"), std::string::npos) << list.output;
  EXPECT_NE(list.output.find("c1\\x9B31m.txt"), std::string::npos) << list.output;
  // Messages of extract: a refused name, and skipped files.
  std::string out = dir_ / "out";
  auto first = run_qg({"extract", a, "-d", out});
  EXPECT_FALSE(has_raw_control(first.output)) << first.output;
  auto again = run_qg({"extract", a, "-d", out, "--skip-existing"});
  EXPECT_FALSE(has_raw_control(again.output)) << again.output;
  EXPECT_NE(again.output.find("skipped \\x1B[2Jwiped"), std::string::npos) << again.output;
  // A prompt on the terminal: the replace question names the file.
  std::string question = first_question({RZ_QG_PATH, "extract", a, "-d", out}, "c\n");
  ASSERT_NE(question.find("replace"), std::string::npos) << question;
  EXPECT_NE(question.find("\\x1B[2Jwiped\\x0Dover\\x07"), std::string::npos) << question;
  EXPECT_EQ(question.find('\x1b'), std::string::npos) << question;
  // The packer's warnings and errors name files of the folder being packed.
  std::string folder = dir_ / "evil-folder";
  fs::create_directories(folder);
  { std::ofstream(folder + "/" + evil_name) << "x"; }
  std::string script = dir_ / "evil.ini";
  { std::ofstream(script) << "[SETUP]\nName=Evil\nVersion=1\n"; }
  auto packed = run_qg({"pack", folder, "-o", dir_ / "evil.run", "--setup", script});
  EXPECT_EQ(packed.status, 0) << packed.output;
  EXPECT_FALSE(has_raw_control(packed.output)) << packed.output;
  EXPECT_NE(packed.output.find("Windows cannot create the name \\x1B[2Jwiped\\x0Dover\\x07"),
            std::string::npos)
      << packed.output;
  fs::create_symlink("/etc/" + evil_name, folder + "/out-" + evil_name);
  auto refused = run_qg({"pack", folder, "-o", dir_ / "evil2.run", "--setup", script});
  EXPECT_NE(refused.status, 0) << refused.output;
  EXPECT_FALSE(has_raw_control(refused.output)) << refused.output;
  EXPECT_NE(refused.output.find("leads outside"), std::string::npos) << refused.output;
}

TEST_F(QgHardening, AFailedPackLeavesTheOldArchiveAsItWas) {
  std::string out = pack("keep.qg");
  std::vector<uint8_t> before = rztest::read_file(out);
  // An input over the format's limit (sparse), and one that fails to read.
  std::string huge = dir_ / "huge.bin";
  { std::ofstream(huge, std::ios::binary).put('x'); }
  fs::resize_file(huge, (uint64_t{1} << 32) + 1);
  struct Case {
    const char* label;
    std::vector<std::string> inputs;
    const char* says;
  } cases[] = {
      {"input over 4 GiB - 1", {tree_, huge}, "too large"},
      {"read error on a later input", {tree_, "/proc/self/mem"}, "cannot read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> args = {"pack"};
    args.insert(args.end(), c.inputs.begin(), c.inputs.end());
    for (const std::string& target : {out, std::string(dir_ / "new.qg")}) {
      std::vector<std::string> with = args;
      with.insert(with.end(), {"-o", target});
      auto r = run_qg(with);
      EXPECT_EQ(r.status, qg::kExitFileError) << r.output;
      EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }
    EXPECT_EQ(rztest::read_file(out), before);
    EXPECT_FALSE(fs::exists(dir_ / "new.qg"));
    for (const auto& e : fs::directory_iterator(dir_.path()))
      EXPECT_EQ(e.path().string().find("qgtmp"), std::string::npos) << e.path();
    EXPECT_EQ(run_qg({"test", out}).status, 0);
  }
}

TEST_F(QgHardening, FileErrorsOfAnExtractionSayWhy) {
  std::string a = write({entry("f.txt", "data", "\\sub")}, "one.qg");
  struct Case {
    const char* label;
    std::function<void(const std::string& out)> prepare;
    const char* says;
  } cases[] = {
      {"a file where the folder goes",
       [](const std::string& out) {
         fs::create_directories(out);
         rztest::write_text(out + "/sub", "x");
       },
       "Not a directory"},
      {"a folder where the file goes",
       [](const std::string& out) { fs::create_directories(out + "/sub/f.txt"); },
       "Is a directory"},
      {"a read-only file in the way",
       [](const std::string& out) {
         fs::create_directories(out + "/sub");
         rztest::write_text(out + "/sub/f.txt", "old");
         rztest::make_read_only(out + "/sub/f.txt");
       },
       "read-only"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::string out = dir_ / ("out" + std::to_string(n++));
    c.prepare(out);
    auto r = run_qg({"extract", a, "-d", out, "--overwrite"});
    EXPECT_EQ(r.status, qg::kExitSomeFailed) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
  }
}

// The process's descriptors that name `path`.
bool has_open(pid_t pid, const std::string& path) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
    if (fs::read_symlink(e.path(), ec) == path) return true;
  return false;
}

TEST_F(QgHardening, SignalsToEndCancelAndCleanUp) {
  std::string error;
  std::string archive = dir_ / "big.qg";
  ASSERT_EQ(rztest::write_big_archive(archive, 64, &error), 0) << error;
  archive = fs::canonical(archive).string();
  struct Case {
    const char* command;
    int signal_number;
  } cases[] = {{"extract", SIGINT},
               {"extract", SIGTERM},
               {"extract", SIGHUP},
               {"test", SIGTERM},
               {"test", SIGHUP}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + std::to_string(c.signal_number));
    // On a busy machine qg may finish between the check and the signal; the
    // signal then only ends a finished process.  So qg is stopped first, and
    // signalled only while it is still inside the entry; otherwise again.
    bool signalled = false;
    for (int attempt = 0; attempt < 5 && !signalled; ++attempt) {
      std::string out = dir_ / ("out" + std::to_string(n++));
      fs::create_directories(out);
      std::vector<std::string> args = {c.command, archive};
      if (std::string(c.command) == "extract") args.insert(args.end(), {"-d", out});
      pid_t pid = rztest::start_qg(args);
      ASSERT_GE(pid, 0);
      // Inside the entry: its temporary file exists, or (test-only) the
      // archive is open.
      auto busy = [&] { return !fs::is_empty(out) || has_open(pid, archive); };
      bool seen = false;
      for (int i = 0; i < 20000 && !seen; ++i) {
        seen = busy();
        if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
      ASSERT_TRUE(seen);
      int st = 0;
      kill(pid, SIGSTOP);
      ASSERT_EQ(waitpid(pid, &st, WUNTRACED), pid);
      signalled = WIFSTOPPED(st) && busy();
      if (signalled) kill(pid, c.signal_number);
      kill(pid, SIGCONT);
      ASSERT_EQ(waitpid(pid, &st, 0), pid);
      if (!signalled) continue;
      ASSERT_TRUE(WIFEXITED(st)) << "qg died of the signal instead of cancelling";
      EXPECT_EQ(WEXITSTATUS(st), qg::kExitCancelled);
      EXPECT_TRUE(fs::is_empty(out));  // no output, no temporary file
    }
    EXPECT_TRUE(signalled) << "qg was never caught inside the entry";
  }
}

}  // namespace

#endif  // !_WIN32
