// qg end to end: pack a folder tree, then list it, as a user would.
// qg is run as a child process through the POSIX shell (popen, fork and
// signals); on Windows the writer and the library are tested directly.
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "qg_run.h"
#include "temp_dir.h"

namespace {

using rztest::run_qg;

class QgTool : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = dir_ / "tree";
    std::filesystem::create_directories(tree_ + "/docs/deep");
    rztest::write_text(tree_ + "/readme.txt", std::string(3000, 'r'));
    rztest::write_text(tree_ + "/docs/guide.txt", "a guide\n");
    std::string big;
    for (int i = 0; i < 20000; ++i) big += std::to_string(i * 7919 % 10007) + ",";
    rztest::write_text(tree_ + "/docs/deep/numbers.csv", big);
  }
  rztest::TempDir dir_;
  std::string tree_;
};

TEST_F(QgTool, PackThenListShowsEveryEntry) {
  auto pack = run_qg({"pack", tree_, "-o", dir_ / "a.qg", "--level", "9"});
  ASSERT_EQ(pack.status, 0) << pack.output;
  auto list = run_qg({"list", dir_ / "a.qg"});
  ASSERT_EQ(list.status, 0) << list.output;
  EXPECT_NE(list.output.find("readme.txt"), std::string::npos);
  EXPECT_NE(list.output.find("\\docs\\deep"), std::string::npos);
  EXPECT_NE(list.output.find("numbers.csv"), std::string::npos);
  EXPECT_NE(list.output.find("3 entries"), std::string::npos);
  EXPECT_EQ(list.output.find("encrypted"), std::string::npos);
}

TEST_F(QgTool, EncryptedArchiveIsListedAsEncrypted) {
  ASSERT_EQ(run_qg({"pack", tree_, "-o", dir_ / "e.qg", "--password", "s3cret"}).status, 0);
  auto list = run_qg({"list", dir_ / "e.qg"});
  ASSERT_EQ(list.status, 0) << list.output;
  EXPECT_NE(list.output.find("encrypted"), std::string::npos);
}

TEST_F(QgTool, SelfExtractingArchiveIsFoundBehindItsStub) {
  std::vector<uint8_t> stub(5000, 0x90);
  stub[0] = 'M';
  stub[1] = 'Z';
  // A stray signature inside the stub must not be taken for the archive.
  stub[100] = 'Q';
  stub[101] = 'G';
  stub[102] = 3;
  stub[103] = 4;
  rztest::write_file(dir_ / "stub.exe", stub);
  auto pack = run_qg({"pack", tree_, "-o", dir_ / "setup.exe", "--sfx", dir_ / "stub.exe"});
  ASSERT_EQ(pack.status, 0) << pack.output;
  EXPECT_NE(pack.output.find("offset 5000"), std::string::npos) << pack.output;
  auto list = run_qg({"list", dir_ / "setup.exe"});
  ASSERT_EQ(list.status, 0) << list.output;
  EXPECT_NE(list.output.find("3 entries"), std::string::npos) << list.output;
  auto at = run_qg({"list", dir_ / "setup.exe", "--offset", "5000"});
  EXPECT_EQ(at.status, 0) << at.output;
  auto wrong = run_qg({"list", dir_ / "setup.exe", "--offset", "0"});
  EXPECT_NE(wrong.status, 0);
  EXPECT_NE(wrong.output.find("not an archive"), std::string::npos) << wrong.output;
}

TEST_F(QgTool, SpannedArchiveWritesVolumes) {
  auto pack = run_qg({"pack", tree_, "-o", dir_ / "DATA.QG", "--volume-size", "2048"});
  ASSERT_EQ(pack.status, 0) << pack.output;
  EXPECT_TRUE(std::filesystem::exists(dir_ / "DATA.-02"));
  auto list = run_qg({"list", dir_ / "DATA.QG"});
  EXPECT_EQ(list.status, 0) << list.output;
  EXPECT_NE(list.output.find("numbers.csv"), std::string::npos);
}

TEST_F(QgTool, ErrorsGiveAStatusAndOneLine) {
  struct Case {
    std::vector<std::string> args;
    const char* expected_text;
  } cases[] = {
      {{"list", dir_ / "missing.qg"}, "qg:"},
      {{"pack", dir_ / "nothing-here", "-o", dir_ / "x.qg"}, "No such file or directory"},
      {{"pack", tree_, "-o", dir_ / "x.qg", "--level", "12"}, "qg:"},
  };
  for (const auto& c : cases) {
    auto r = run_qg(c.args);
    EXPECT_NE(r.status, 0) << c.args[0];
    EXPECT_NE(r.output.find(c.expected_text), std::string::npos) << r.output;
  }
  EXPECT_EQ(run_qg({"pack", "--help"}).status, 0);
  EXPECT_EQ(run_qg({"list", "--help"}).status, 0);
}

}  // namespace

#endif  // !_WIN32
