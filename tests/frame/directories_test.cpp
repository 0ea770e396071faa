// QEN_FILEEXISTS and QEN_CREATEPATH, each case in a private temporary
// directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "host_fixture.h"
#include "platform/file.h"
#include "raziza3z.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using rztest::HostTest;

std::string current_directory() {
  std::error_code ec;
  std::string here = fs::current_path(ec).string();
  return ec ? "" : here;
}

bool make_dir(const std::string& path) {
  std::error_code ec;
  return fs::create_directory(path, ec);
}

class DirectoryTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    temp_ = std::make_unique<rztest::TempDir>();
    root = temp_->path();
    ASSERT_FALSE(root.empty());
    cwd_before = current_directory();
  }
  void TearDown() override {
    if (current_directory() != cwd_before) {
      std::error_code ec;
      fs::current_path(cwd_before, ec);
      ASSERT_FALSE(ec);
    }
    temp_.reset();
    HostTest::TearDown();
  }
  // Calls QEN_CREATEPATH on a writable copy; the caller's text as the call
  // left it goes to *after.
  int32_t create(const std::string& path, std::string* after = nullptr) {
    std::string buffer = path;
    buffer.resize(path.size() + 1);
    int32_t r = QEN_CREATEPATH(buffer.data());
    if (after) *after = buffer.c_str();
    return r;
  }
  void touch(const std::string& path) { std::ofstream(path) << "x"; }
  bool is_dir(const std::string& path) { return fs::is_directory(root + "/" + path); }

  std::unique_ptr<rztest::TempDir> temp_;
  std::string root, cwd_before;
};

struct CreateCase {
  const char* name;
  const char* path;         // below the temporary directory
  const char* left;         // the caller's text afterwards, below it
  const char* directories;  // must exist afterwards
};

TEST_F(DirectoryTest, CreatesEveryMissingLevel) {
  const CreateCase cases[] = {
      {"trailing backslash", "\\a\\b\\", "\\a\\b", "a/b"},
      {"trailing slash", "/c/d/", "/c/d", "c/d"},
      {"no trailing separator", "/e/f/g", "/e/f/g", "e/f/g"},
      {"mixed separators", "/h/i\\j/k", "/h/i\\j/k", "h/i/j/k"},
      {"only one separator is taken off", "/l/m//", "/l/m/", "l/m"},
      {"doubled separator inside", "/n//o", "/n//o", "n/o"},
      {"already there", "/a/b", "/a/b", "a/b"},
  };
  for (const CreateCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string left;
    EXPECT_EQ(create(root + c.path, &left), 0);
    EXPECT_EQ(left, root + c.left);
    EXPECT_TRUE(is_dir(c.directories));
  }
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(current_directory(), cwd_before);
}

// A POSIX root written with backslashes; a Windows path begins with its
// drive instead, which the other cases cover.
#if !defined(_WIN32)
TEST_F(DirectoryTest, AbsolutePathInWindowsSyntaxStartsAtTheRoot) {
  std::string windows = root + "\\p\\q";
  for (char& ch : windows)
    if (ch == '/') ch = '\\';
  ASSERT_EQ(windows[0], '\\');
  EXPECT_EQ(create(windows), 0);
  EXPECT_TRUE(is_dir("p/q"));
}
#endif

TEST_F(DirectoryTest, RelativePathResolvesAsWrittenWithoutMovingTheCurrentDirectory) {
  std::error_code ec;
  fs::current_path(root, ec);
  ASSERT_FALSE(ec);
  const std::string here = current_directory();
  ASSERT_TRUE(make_dir("A"));
  // With A already present, A\B is made inside it, not under A\A.
  EXPECT_EQ(create("A\\B"), 0);
  EXPECT_TRUE(is_dir("A/B"));
  EXPECT_FALSE(fs::exists(root + "/A/A"));
  EXPECT_EQ(create("r1/r2\\r3"), 0);
  EXPECT_TRUE(is_dir("r1/r2/r3"));
  // Three characters with a separator: not shortened, still made.
  std::string left;
  EXPECT_EQ(create("ab/", &left), 0);
  EXPECT_EQ(left, "ab/");
  EXPECT_TRUE(is_dir("ab"));
  EXPECT_EQ(current_directory(), here);
}

TEST_F(DirectoryTest, EmptyPathAndExistingFileCreateNothing) {
  EXPECT_EQ(create(""), 0);
  touch(root + "/file");
  std::string left;
  EXPECT_EQ(create(root + "/file/", &left), 0);
  EXPECT_EQ(left, root + "/file");
  EXPECT_TRUE(fs::is_regular_file(root + "/file"));
  EXPECT_EQ(QEN_CREATEPATH(nullptr), 0);
  // Short roots keep their separator.
  EXPECT_EQ(create("/", &left), 0);
  EXPECT_EQ(left, "/");
  EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1)
      << "only the file itself";
  EXPECT_TRUE(boxes.empty());
}

TEST_F(DirectoryTest, LevelThatCannotBeMadeGivesSevenAfterTheErrorBox) {
  // A file stands where the second of three levels should go.
  ASSERT_TRUE(make_dir(root + "/p"));
  touch(root + "/p/q");
  rz::extract_state().owner_window = &cwd_before;
  std::string path = root + "/p/q/r/";
  std::string left;
  EXPECT_EQ(create(path, &left), 7);
  EXPECT_EQ(left, root + "/p/q/r");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Error creating directory: " + left);
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].style, 0x2010u);
  EXPECT_EQ(boxes[0].owner, &cwd_before);
  EXPECT_TRUE(fs::is_regular_file(root + "/p/q"));
  EXPECT_EQ(current_directory(), cwd_before);
}

TEST_F(DirectoryTest, ErrorBoxFollowsTheTableAndTheQuietFlag) {
  touch(root + "/blocked");
  const std::string path = root + "/blocked/x";
  QEN_U_SETMSG(2, "Fehler");
  QEN_U_SETMSG(7, "");
  EXPECT_EQ(create(path), 7);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Fehler");
  EXPECT_EQ(boxes[0].text, path);  // an empty message shows only the path
  rz::extract_state().quiet = true;
  EXPECT_EQ(create(path), 7);
  EXPECT_EQ(boxes.size(), 1u);
}

// ---- Failures through the file seam ---------------------------------------

rz::plat::FileOps g_ops;
int g_make_calls = 0;
int g_fail_make_call = 0;  // which call fails; 0: none
bool g_create_then_fail = false;

int counted_make_directory(const char* path) {
  ++g_make_calls;
  if (g_make_calls == g_fail_make_call) {
    // The level appears (another process made it) but the call still fails.
    if (g_create_then_fail) rz::plat::native_file_ops().make_directory(path);
    return -1;
  }
  return rz::plat::native_file_ops().make_directory(path);
}

class DirectorySeamTest : public DirectoryTest {
 protected:
  void SetUp() override {
    DirectoryTest::SetUp();
    g_ops = rz::plat::native_file_ops();
    g_ops.make_directory = counted_make_directory;
    g_make_calls = 0;
    g_fail_make_call = 0;
    g_create_then_fail = false;
    rz::plat::set_file_ops(&g_ops);
  }
  void TearDown() override {
    rz::plat::set_file_ops(nullptr);
    DirectoryTest::TearDown();
  }
};

TEST_F(DirectorySeamTest, EachFailedLevelKeepsTheLevelsAbove) {
  const char* levels[] = {"s1", "s2", "s3"};
  for (int fail = 1; fail <= 3; ++fail) {
    SCOPED_TRACE(fail);
    std::string base = root + "/run" + std::to_string(fail);
    ASSERT_TRUE(make_dir(base));
    g_make_calls = 0;
    g_fail_make_call = fail;
    boxes.clear();
    EXPECT_EQ(create(base + "/s1/s2/s3"), 7);
    EXPECT_EQ(boxes.size(), 1u);
    std::string level = base;
    for (int i = 0; i < 3; ++i) {
      level += std::string("/") + levels[i];
      EXPECT_EQ(fs::is_directory(level), i + 1 < fail) << level;
    }
  }
  g_fail_make_call = 0;
  EXPECT_EQ(create(root + "/run1/s1/s2/s3"), 0);
  EXPECT_TRUE(fs::is_directory(root + "/run1/s1/s2/s3"));
}

TEST_F(DirectorySeamTest, LevelMadeByAnotherProcessMeanwhileCounts) {
  g_fail_make_call = 1;
  g_create_then_fail = true;
  EXPECT_EQ(create(root + "/t1/t2"), 0);
  EXPECT_TRUE(is_dir("t1/t2"));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(DirectoryTest, FileExistsForFilesAndDirectoriesOnly) {
  touch(root + "/plain");
  touch(root + "/readonly");
  ASSERT_TRUE(rztest::make_read_only(root + "/readonly"));
  struct Case {
    std::string path;
    int32_t expected;
  };
  std::string windows = root + "\\plain";
  const Case cases[] = {
      {root, 1},    {root + "/plain", 1},   {root + "/readonly", 1},
      {windows, 1}, {root + "/missing", 0}, {root + "/missing/inside", 0},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(QEN_FILEEXISTS(c.path.c_str()), c.expected) << c.path;
  EXPECT_EQ(QEN_FILEEXISTS(nullptr), 0);
}

}  // namespace
