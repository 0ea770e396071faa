// The file layer: Windows paths, MS-DOS times as local time, and the
// attribute word.  On POSIX the word is mapped onto permissions and an
// extended attribute; a Windows build runs the same cases against the real
// attributes.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/xattr.h>
#endif

#include <cstdlib>
#include <cstring>
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

// ---- Operations extraction uses to save system calls ---------------------

TEST(PosixFiles, ReadAtReadsWhereAskedWhateverThePosition) {
  rztest::TempDir dir;
  std::string p = dir / "r.bin";
  rztest::write_text(p, "0123456789");
  int64_t length = -1;
  plat::FileHandle h = plat::file_open_read_length(p.c_str(), &length);
  ASSERT_NE(h, plat::kNoFile);
  EXPECT_EQ(length, 10);
  struct Case {
    uint64_t at;
    uint32_t n;
    const char* expected;
  } cases[] = {{0, 4, "0123"}, {6, 10, "6789"}, {9, 1, "9"}, {10, 4, ""}, {4000, 4, ""}};
  ASSERT_EQ(plat::file_seek(h, 3, plat::SeekFrom::begin), 3);
  for (const Case& c : cases) {
    char buf[16] = {};
    EXPECT_EQ(plat::file_read_at(h, c.at, buf, c.n), static_cast<int32_t>(strlen(c.expected)))
        << c.at;
    EXPECT_STREQ(buf, c.expected) << c.at;
    EXPECT_EQ(plat::file_read_at_most(h, c.at, buf, c.n), strlen(c.expected)) << c.at;
  }
  // A caller that reads on sequentially seeks first.
  ASSERT_EQ(plat::file_seek(h, 8, plat::SeekFrom::begin), 8);
  char tail[4] = {};
  EXPECT_EQ(plat::file_read(h, tail, 3), 2);
  EXPECT_STREQ(tail, "89");
  plat::file_close(h);
  length = -7;
  EXPECT_EQ(plat::file_open_read_length(dir.path().c_str(), &length), plat::kNoFile);
  EXPECT_EQ(plat::file_open_read_length((dir / "missing").c_str(), &length), plat::kNoFile);
  EXPECT_EQ(length, -7);
}

// Windows holds directories by path and has no identity to compare (the
// kept folders are then never used again).
#if !defined(_WIN32)
TEST(PosixFiles, IdentityFollowsTheFileNotItsName) {
  rztest::TempDir dir;
  std::filesystem::create_directories(dir / "d");
  rztest::write_text(dir / "d/f", "x");
  rztest::write_text(dir / "g", "y");
  plat::FileIdentity d, d_again, f, f_windows, g;
  ASSERT_EQ(plat::file_identity((dir / "d").c_str(), &d), 0);
  ASSERT_EQ(plat::file_identity((dir / "d/../d/.").c_str(), &d_again), 0);
  ASSERT_EQ(plat::file_identity((dir / "d/f").c_str(), &f), 0);
  ASSERT_EQ(plat::file_identity((dir.path() + "\\d\\f").c_str(), &f_windows), 0);
  ASSERT_EQ(plat::file_identity((dir / "g").c_str(), &g), 0);
  EXPECT_EQ(d.directory, 1);
  EXPECT_EQ(f.directory, 0);
  EXPECT_TRUE(plat::same_file(d, d_again));
  EXPECT_TRUE(plat::same_file(f, f_windows));
  EXPECT_FALSE(plat::same_file(f, g));
  EXPECT_FALSE(plat::same_file(d, f));
  plat::FileIdentity missing;
  EXPECT_EQ(plat::file_identity((dir / "none").c_str(), &missing), -1);
  EXPECT_EQ(plat::file_identity("", &missing), -1);
  // An open directory has the identity of its path.
  plat::DirHandle h = plat::dir_open((dir / "d").c_str());
  ASSERT_NE(h, plat::kNoDir);
  plat::FileIdentity open;
  ASSERT_EQ(plat::dir_identity(h, &open), 0);
  EXPECT_TRUE(plat::same_file(open, d));
  // Renamed, it is the same directory; a new one under the old name is not.
  std::filesystem::rename(dir / "d", dir / "moved");
  std::filesystem::create_directories(dir / "d");
  plat::FileIdentity moved, fresh;
  ASSERT_EQ(plat::file_identity((dir / "moved").c_str(), &moved), 0);
  ASSERT_EQ(plat::file_identity((dir / "d").c_str(), &fresh), 0);
  EXPECT_TRUE(plat::same_file(open, moved));
  EXPECT_FALSE(plat::same_file(open, fresh));
  plat::dir_close(h);
}

TEST(PosixFiles, CreateNewMakesOnlyWhatIsNotThere) {
  rztest::TempDir dir;
  std::filesystem::create_directories(dir / "away");
  rztest::write_text(dir / "taken", "old");
  ASSERT_EQ(::symlink((dir / "away/victim").c_str(), (dir / "dangling").c_str()), 0);
  plat::DirHandle d = plat::dir_open(dir.path().c_str());
  ASSERT_NE(d, plat::kNoDir);
  struct Case {
    const char* name;
    int expected;
  } cases[] = {{"new", 0}, {"taken", 1}, {"dangling", 1}, {"away", 1}, {"no/such/folder", -1}};
  for (const Case& c : cases) {
    plat::FileHandle h = plat::kNoFile;
    EXPECT_EQ(plat::dir_create_new(d, c.name, &h), c.expected) << c.name;
    EXPECT_EQ(h != plat::kNoFile, c.expected == 0) << c.name;
    if (h != plat::kNoFile) {
      EXPECT_EQ(plat::file_write(h, "abc", 3), 3);
      plat::file_close(h);
    }
  }
  plat::dir_close(d);
  EXPECT_EQ(rztest::read_file(dir / "new"), std::vector<uint8_t>({'a', 'b', 'c'}));
  EXPECT_EQ(rztest::read_file(dir / "taken"), std::vector<uint8_t>({'o', 'l', 'd'}));
  EXPECT_FALSE(std::filesystem::exists(dir / "away/victim"));  // the link was not followed
}

// Attributes on the open file: read-only through the mode it was created
// with, hidden and system in the extended attribute, which is written for
// nothing else; the existence check reads the mode only.
TEST(PosixFiles, AttributesOnTheOpenFile) {
  rztest::TempDir dir;
  rztest::write_text(dir / "probe", "x");
  bool xattrs = ::setxattr((dir / "probe").c_str(), "user.probe", "1", 1, 0) == 0;
  plat::DirHandle d = plat::dir_open(dir.path().c_str());
  ASSERT_NE(d, plat::kNoDir);
  struct Case {
    const char* name;
    uint32_t attributes;
    bool read_only;
    const char* stored;  // the extended attribute's text, "" for none
  } cases[] = {
      {"plain", 0, false, ""},
      {"archive", plat::kAttrArchive, false, ""},
      {"read-only", plat::kAttrReadOnly | plat::kAttrArchive, true, ""},
      {"hidden", plat::kAttrHidden | plat::kAttrArchive, false, "0x22"},
      {"system read-only", plat::kAttrSystem | plat::kAttrReadOnly, true, "0x4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plat::FileHandle h = plat::kNoFile;
    ASSERT_EQ(plat::dir_create_new(d, c.name, &h), 0);
    EXPECT_EQ(plat::file_write(h, "data", 4), 4);
    EXPECT_EQ(plat::file_set_attributes_open(h, c.attributes), 0);
    EXPECT_EQ(plat::file_write(h, "more", 4), 4);  // still writable through the handle
    plat::file_close(h);
    std::string p = dir / c.name;
    struct stat st;
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ((st.st_mode & 0222) == 0, c.read_only);
    EXPECT_EQ(st.st_size, 8);
    EXPECT_EQ(plat::dir_attributes(d, c.name), c.read_only ? int64_t{plat::kAttrReadOnly} : 0);
    if (!xattrs) continue;
    char text[32] = {};
    ssize_t n = ::getxattr(p.c_str(), "user.DOSATTRIB", text, sizeof text - 1);
    EXPECT_EQ(n < 0 ? std::string() : std::string(text, static_cast<size_t>(n)), c.stored);
  }
  EXPECT_EQ(plat::dir_attributes(d, "."), int64_t{plat::kAttrDirectory});
  EXPECT_EQ(plat::dir_attributes(d, "none"), -1);
  plat::dir_close(d);
}

// Local time without mktime: the same instant as mktime gives, in zones with
// and without daylight saving, north and south, on and around the days the
// offset changes, and for days past a month's end.
TEST(PosixFiles, DosTimesMatchMktimeInEveryZone) {
  struct Stamp {
    int year, month, day, hour, minute, second;
  } stamps[] = {
      {1980, 1, 1, 0, 0, 0},    {2107, 12, 31, 23, 59, 58}, {2024, 2, 29, 12, 0, 0},
      {2023, 2, 30, 8, 15, 4},  {2026, 7, 15, 12, 30, 40},  {2024, 3, 31, 2, 30, 0},
      {2024, 3, 31, 1, 59, 58}, {2024, 3, 31, 3, 0, 0},     {2024, 3, 29, 2, 30, 0},
      {2024, 3, 30, 23, 0, 0},  {2024, 4, 2, 2, 30, 0},     {2024, 10, 27, 2, 30, 0},
      {2024, 10, 27, 1, 30, 0}, {2024, 10, 25, 2, 30, 0},   {2024, 10, 29, 2, 30, 0},
      {2024, 3, 10, 2, 30, 0},  {2024, 11, 3, 1, 30, 0},    {2024, 11, 5, 1, 30, 0},
      {2024, 4, 7, 2, 30, 0},   {2024, 10, 6, 2, 30, 0},    {2000, 12, 31, 23, 59, 58},
  };
  const char* zones[] = {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0",
                         "AEST-10AEDT,M10.1.0,M4.1.0/3", "<+0530>-5:30"};
  const char* saved = std::getenv("TZ");
  std::string old = saved ? saved : "";
  rztest::TempDir dir;
  std::string p = dir / "t";
  rztest::write_text(p, "");
  for (const char* zone : zones) {
    ::setenv("TZ", zone, 1);
    ::tzset();
    for (const Stamp& s : stamps) {
      SCOPED_TRACE(std::string(zone) + " " + std::to_string(s.year) + "-" +
                   std::to_string(s.month) + "-" + std::to_string(s.day) + " " +
                   std::to_string(s.hour) + ":" + std::to_string(s.minute));
      std::tm t = {};
      t.tm_year = s.year - 1900;
      t.tm_mon = s.month - 1;
      t.tm_mday = s.day;
      t.tm_hour = s.hour;
      t.tm_min = s.minute;
      t.tm_sec = s.second;
      t.tm_isdst = -1;
      time_t expected = std::mktime(&t);
      plat::FileHandle h = plat::file_create_rw(p.c_str());
      ASSERT_NE(h, plat::kNoFile);
      uint16_t date = static_cast<uint16_t>(((s.year - 1980) << 9) | (s.month << 5) | s.day);
      uint16_t time = static_cast<uint16_t>((s.hour << 11) | (s.minute << 5) | (s.second / 2));
      EXPECT_EQ(plat::file_set_dos_time(h, date, time), 0);
      plat::file_close(h);
      struct stat st;
      ASSERT_EQ(::stat(p.c_str(), &st), 0);
      EXPECT_EQ(st.st_mtime, expected);
    }
  }
  if (saved) {
    ::setenv("TZ", old.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}
#endif

}  // namespace
