// The file layer: Windows paths, MS-DOS times as local time, and the
// attribute word.  On POSIX the word is mapped onto permissions and an
// extended attribute; a Windows build runs the same cases against the real
// attributes.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/xattr.h>
#endif

#include <ctime>
#include <filesystem>

#include "platform/file.h"
#include "temp_dir.h"

namespace plat = rz::plat;

namespace {

TEST(PosixFiles, BackslashesSeparateComponents) {
  rztest::TempDir dir;
  std::filesystem::create_directories(dir / "a/b");
  rztest::write_text(dir / "a/b/c.txt", "hello");
  std::string windows = dir.path() + "\\a\\b\\c.txt";
  plat::FileHandle h = plat::file_open_read(windows.c_str());
  ASSERT_NE(h, plat::kNoFile);
  EXPECT_EQ(plat::file_length(h), 5);
  char buf[8] = {};
  EXPECT_EQ(plat::file_read(h, buf, sizeof buf), 5);
  EXPECT_EQ(plat::file_close(h), 0);
  EXPECT_TRUE(plat::file_exists((dir.path() + "\\a").c_str()));
  EXPECT_EQ(plat::file_get_attributes((dir.path() + "\\a").c_str()) & plat::kAttrDirectory,
            plat::kAttrDirectory);
  EXPECT_EQ(plat::file_open_read((dir.path() + "\\a").c_str()), plat::kNoFile);  // not a file
}

TEST(PosixFiles, DosTimeIsLocalAndSetsOnlyTheModificationTime) {
  rztest::TempDir dir;
  std::string p = dir / "t.txt";
  plat::FileHandle h = plat::file_create_rw(p.c_str());
  ASSERT_NE(h, plat::kNoFile);
#if !defined(_WIN32)
  struct stat before;
  ASSERT_EQ(::stat(p.c_str(), &before), 0);
#endif
  uint16_t date = ((2019 - 1980) << 9) | (7 << 5) | 4;
  uint16_t time = (23 << 11) | (59 << 5) | 29;  // 58 seconds
  EXPECT_EQ(plat::file_set_dos_time(h, date, time), 0);
  EXPECT_EQ(plat::file_set_dos_time(h, (40 << 9) | (13 << 5) | 1, 0), -1);  // month 13
  plat::file_close(h);
  std::tm t = rztest::local_mtime(p);
  EXPECT_EQ(t.tm_year + 1900, 2019);
  EXPECT_EQ(t.tm_mon + 1, 7);
  EXPECT_EQ(t.tm_mday, 4);
  EXPECT_EQ(t.tm_hour, 23);
  EXPECT_EQ(t.tm_min, 59);
  EXPECT_EQ(t.tm_sec, 58);
#if !defined(_WIN32)
  struct stat st;
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_atim.tv_sec, before.st_atim.tv_sec);
#endif
}

TEST(PosixFiles, ReadOnlyClearsWritePermissionAndBlocksDeletion) {
  rztest::TempDir dir;
  std::string p = dir / "ro.txt";
  rztest::write_text(p, "x");
#if !defined(_WIN32)
  ::chmod(p.c_str(), 0664);
#endif
  ASSERT_FALSE(rztest::is_read_only(p));
  ASSERT_EQ(plat::file_set_attributes(p.c_str(), plat::kAttrReadOnly | plat::kAttrArchive), 0);
  EXPECT_TRUE(rztest::is_read_only(p));
#if !defined(_WIN32)
  struct stat st;
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_EQ(st.st_mode & 0444, 0444u);
#endif
  EXPECT_EQ(plat::file_get_attributes(p.c_str()) & plat::kAttrReadOnly, plat::kAttrReadOnly);
  EXPECT_EQ(plat::file_remove(p.c_str()), -1);
  EXPECT_TRUE(plat::file_exists(p.c_str()));
  ASSERT_EQ(plat::file_set_attributes(p.c_str(), plat::kAttrArchive), 0);
  EXPECT_EQ(plat::file_remove(p.c_str()), 0);
  EXPECT_FALSE(plat::file_exists(p.c_str()));
}

// On Windows the bits are the file's own attributes.
TEST(PosixFiles, HiddenSystemAndArchiveBitsLiveInAnExtendedAttribute) {
  rztest::TempDir dir;
  std::string p = dir / "h.txt";
  rztest::write_text(p, "x");
#if !defined(_WIN32)
  if (::setxattr(p.c_str(), "user.probe", "1", 1, 0) != 0)
    GTEST_SKIP() << "this file system keeps no user extended attributes";
#endif
  uint32_t want = plat::kAttrHidden | plat::kAttrSystem | plat::kAttrArchive;
  ASSERT_EQ(plat::file_set_attributes(p.c_str(), want | 0x4000), 0);  // unknown bits are ignored
  EXPECT_EQ(plat::file_get_attributes(p.c_str()), want);
  ASSERT_EQ(plat::file_set_attributes(p.c_str(), 0), 0);
#if defined(_WIN32)
  // Wine reports every plain file with the archive bit, even right after
  // FILE_ATTRIBUTE_NORMAL; Windows clears it.  The other bits must go.
  EXPECT_EQ(plat::file_get_attributes(p.c_str()) & ~int64_t{plat::kAttrArchive}, 0);
#else
  EXPECT_EQ(plat::file_get_attributes(p.c_str()), 0);
#endif
}

}  // namespace
