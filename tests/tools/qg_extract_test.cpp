// qg extract and qg test end to end: trees, passwords, volumes, answers,
// hostile names and Ctrl-C.
// qg is run as a child process through the POSIX shell (popen, fork and
// signals); on Windows the writer and the library are tested directly.
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "qg_run.h"
#include "qg_spawn.h"
#include "qgwriter.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using rztest::run_qg;

namespace {

class QgExtract : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = dir_ / "tree";
    fs::create_directories(tree_ + "/a/b");
    rztest::write_text(tree_ + "/top.txt", "top level\n");
    rztest::write_text(tree_ + "/a/middle.txt", std::string(40000, 'm'));
    std::string noisy;
    uint32_t x = 1;
    for (int i = 0; i < 30000; ++i) noisy += static_cast<char>((x = x * 69069u + 1) >> 24);
    rztest::write_text(tree_ + "/a/b/noise.bin", noisy);
  }
  void expect_same_tree(const std::string& got) {
    for (const char* f : {"/top.txt", "/a/middle.txt", "/a/b/noise.bin"})
      EXPECT_EQ(rztest::read_file(got + f), rztest::read_file(tree_ + f)) << f;
  }
  rztest::TempDir dir_;
  std::string tree_;
};

TEST_F(QgExtract, PlainEncryptedAndSpannedArchivesExtractToTheSameTree) {
  struct Case {
    const char* label;
    std::vector<std::string> pack_extra, extract_extra;
  } cases[] = {
      {"plain", {}, {}},
      {"encrypted", {"--password", "pa55"}, {"--password", "pa55"}},
      {"spanned", {"--volume-size", "9000"}, {}},
      {"encrypted and spanned", {"--volume-size", "9000", "--password", "x"}, {"--password", "x"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::string archive = dir_ / ("arc" + std::to_string(n) + ".qg");
    std::string out = dir_ / ("out" + std::to_string(n++));
    std::vector<std::string> pack = {"pack", tree_, "-o", archive};
    pack.insert(pack.end(), c.pack_extra.begin(), c.pack_extra.end());
    ASSERT_EQ(run_qg(pack).status, 0);
    std::vector<std::string> test = {"test", archive};
    test.insert(test.end(), c.extract_extra.begin(), c.extract_extra.end());
    auto t = run_qg(test);
    EXPECT_EQ(t.status, 0) << t.output;
    EXPECT_NE(t.output.find("3 entries OK, 0 failed"), std::string::npos) << t.output;
    EXPECT_FALSE(fs::exists(out));
    std::vector<std::string> ex = {"extract", archive, "-d", out};
    ex.insert(ex.end(), c.extract_extra.begin(), c.extract_extra.end());
    auto r = run_qg(ex);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("3 extracted, 0 skipped, 0 failed"), std::string::npos) << r.output;
    expect_same_tree(out);
  }
}

TEST_F(QgExtract, ExistingFilesFollowTheAnswerOptions) {
  ASSERT_EQ(run_qg({"pack", tree_, "-o", dir_ / "a.qg"}).status, 0);
  std::string out = dir_ / "out";
  fs::create_directories(out);
  struct Case {
    std::vector<std::string> flags;
    bool replaced;
    int status;
  } cases[] = {
      {{"--no"}, false, 0},             // No to the replace prompt keeps the file
      {{"--skip-existing"}, false, 0},  // kept without asking
      {{}, false, 0},                   // no terminal: the prompt's default keeps it
      {{"--yes"}, true, 0},
      {{"--overwrite"}, true, 0},
  };
  for (const auto& c : cases) {
    rztest::write_text(out + "/top.txt", "mine");
    std::vector<std::string> args = {"extract", dir_ / "a.qg", "-d", out};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    auto r = run_qg(args);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_EQ(rztest::read_file(out + "/top.txt") == rztest::read_file(tree_ + "/top.txt"),
              c.replaced)
        << (c.flags.empty() ? "(none)" : c.flags[0]);
  }
}

TEST_F(QgExtract, WrongPasswordFailsWithoutLeavingFiles) {
  ASSERT_EQ(run_qg({"pack", tree_, "-o", dir_ / "e.qg", "--password", "right"}).status, 0);
  auto r = run_qg({"extract", dir_ / "e.qg", "-d", dir_ / "out", "--password", "wrong"});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("wrong password"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(dir_ / "out/top.txt"));
}

TEST_F(QgExtract, HostileNamesAndDirectoriesStayInside) {
  std::vector<qgw::Entry> entries(3);
  entries[0].name = "../escape.txt";
  entries[1].name = "ok.txt";
  entries[1].directory = "\\..\\..\\up";
  entries[2].name = "fine.txt";
  for (auto& e : entries) e.data = {'x'};
  std::string error;
  ASSERT_EQ(qgw::write_archive(dir_ / "evil.qg", entries, {}, nullptr, &error), 0) << error;
  fs::create_directories(dir_ / "deep/dest");
  auto r = run_qg({"extract", dir_ / "evil.qg", "-d", dir_ / "deep/dest"});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("1 extracted, 0 skipped, 2 failed"), std::string::npos) << r.output;
  EXPECT_TRUE(fs::exists(dir_ / "deep/dest/fine.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "deep/escape.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "up"));
  EXPECT_FALSE(fs::exists(dir_ / "deep/up"));
}

TEST_F(QgExtract, CtrlCCancelsTheRunningEntryCleanly) {
  // One big entry, so that the interrupt lands during its extraction.
  std::string error;
  ASSERT_EQ(rztest::write_big_archive(dir_ / "big.qg", 96, &error), 0) << error;
  std::string out = dir_ / "out";
  fs::create_directories(out);
  pid_t pid = rztest::start_qg({"extract", dir_ / "big.qg", "-d", out});
  ASSERT_GE(pid, 0);
  // Wait until the entry is being written, then interrupt.
  bool writing = false;
  for (int i = 0; i < 20000 && !writing; ++i) {
    for (auto& e : fs::directory_iterator(out)) writing = true, (void)e;
    if (!writing) std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  ASSERT_TRUE(writing);
  kill(pid, SIGINT);
  int st = 0;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st)) << "qg died of a signal instead of cancelling";
  EXPECT_EQ(WEXITSTATUS(st), 3);
  EXPECT_TRUE(fs::is_empty(out));  // neither the output nor its temporary file remains
}

// -j 2 against one process: the same tree, exit status and messages (in the
// same order) on a table of archives, with and without existing files and
// answers, for qg extract and qg test.  Where a question may need asking or
// the archive spans volumes, -j runs in one process, with the same results.
std::map<std::string, std::vector<uint8_t>> tree_of(const std::string& root) {
  std::map<std::string, std::vector<uint8_t>> files;
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(root, ec))
    files[e.path().string().substr(root.size())] =
        e.is_regular_file() ? rztest::read_file(e.path().string()) : std::vector<uint8_t>{'/'};
  return files;
}

TEST_F(QgExtract, ParallelWorkersGiveTheSameResultsAsOneProcess) {
  // More entries than workers, one of them large enough to report progress.
  for (int i = 0; i < 12; ++i)
    rztest::write_text(tree_ + "/a/many" + std::to_string(i) + ".txt",
                       std::string(static_cast<size_t>(100 + 997 * i), static_cast<char>('a' + i)));
  std::string plain = dir_ / "plain.qg", locked = dir_ / "locked.qg", spanned = dir_ / "sp.qg";
  ASSERT_EQ(run_qg({"pack", tree_, "-o", plain}).status, 0);
  ASSERT_EQ(run_qg({"pack", tree_, "-o", locked, "--password", "pw"}).status, 0);
  ASSERT_EQ(run_qg({"pack", tree_, "-o", spanned, "--volume-size", "9000"}).status, 0);
  // Failures among good entries: a CRC-32 mismatch and a hostile name; and
  // a walk that ends in bytes that are no entry.
  std::vector<qgw::Entry> mixed(5);
  for (size_t i = 0; i < mixed.size(); ++i) {
    mixed[i].name = "m" + std::to_string(i);
    mixed[i].data.assign(3000 + i, static_cast<uint8_t>('k' + i));
  }
  mixed[1].crc32 = 12345;
  mixed[3].name = "../out.txt";
  std::string damaged = dir_ / "damaged.qg", error;
  ASSERT_EQ(qgw::write_archive(damaged, mixed, {}, nullptr, &error), 0) << error;
  // Two entries with one output path: their order decides which stays.
  std::vector<qgw::Entry> twice(3);
  for (size_t i = 0; i < twice.size(); ++i) {
    twice[i].name = i == 2 ? "other" : "same";
    twice[i].data.assign(2000, static_cast<uint8_t>('p' + i));
  }
  std::string doubled = dir_ / "twice.qg";
  ASSERT_EQ(qgw::write_archive(doubled, twice, {}, nullptr, &error), 0) << error;
  std::string trailing = dir_ / "trailing.qg";
  std::vector<uint8_t> bytes = rztest::read_file(plain);
  bytes.resize(bytes.size() - 4);  // the end marker, if any, goes; junk follows
  for (const char* junk : {"JUNK", "JUNK"}) bytes.insert(bytes.end(), junk, junk + 4);
  rztest::write_file(trailing, bytes);

  struct Case {
    const char* label;
    std::string archive;
    std::vector<std::string> args;
    bool existing;  // the tree is there already (one file of it changed)
    int status;     // of qg extract and qg test alike
  } cases[] = {
      {"plain", plain, {}, false, 0},
      {"encrypted", locked, {"--password", "pw"}, false, 0},
      {"wrong password", locked, {"--password", "nope"}, false, 1},
      {"spanned over volumes", spanned, {}, false, 0},
      {"damaged entry and hostile name", damaged, {}, false, 1},
      {"junk after the entries", trailing, {"--offset", "0"}, false, 2},
      {"one output path twice, --overwrite", doubled, {"--overwrite"}, false, 0},
      {"one output path twice, no answer given", doubled, {}, false, 0},
      {"existing files, --no", plain, {"--no"}, true, 0},
      {"existing files, --skip-existing", plain, {"--skip-existing"}, true, 0},
      {"existing files, --yes", plain, {"--yes"}, true, 0},
      {"existing files, --overwrite", plain, {"--overwrite"}, true, 0},
      {"existing files, no answer given", plain, {}, true, 0},
  };
  std::string out = dir_ / "out";
  for (const auto& c : cases) {
    for (const char* command : {"extract", "test"}) {
      SCOPED_TRACE(std::string(c.label) + ", qg " + command);
      rztest::QgResult runs[2];
      std::map<std::string, std::vector<uint8_t>> trees[2];
      for (int j = 0; j < 2; ++j) {
        fs::remove_all(out);
        fs::create_directories(out);
        if (c.existing) {
          ASSERT_EQ(run_qg({"extract", plain, "-d", out}).status, 0);
          rztest::write_text(out + "/a/many3.txt", "changed");
        }
        std::vector<std::string> args = {command, c.archive};
        if (std::string(command) == "extract") args.insert(args.end(), {"-d", out});
        bool extract = std::string(command) == "extract";
        for (const std::string& arg : c.args)
          if (extract || (arg != "--skip-existing" && arg != "--overwrite")) args.push_back(arg);
        args.insert(args.end(), {"-j", j == 0 ? "1" : "2"});
        runs[j] = run_qg(args);
        trees[j] = tree_of(out);
      }
      EXPECT_EQ(runs[0].status, c.status) << runs[0].output;
      EXPECT_EQ(runs[1].status, runs[0].status);
      EXPECT_EQ(runs[1].output, runs[0].output);
      EXPECT_TRUE(trees[1] == trees[0]);
    }
  }
}

}  // namespace

#endif  // !_WIN32
