// The Win32 file layer against the real file system: handles, attributes,
// deletion rules, rename over a file, DOS times, and the host's log handle.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/hostfile.h"
#include "raziza3z.h"
#include "win32_fixture.h"

namespace {

using namespace rz::plat;

class Win32File : public ::testing::Test {
 protected:
  rzwin::TempDir dir_;
  const FileOps& ops_ = native_file_ops();
};

TEST_F(Win32File, CreateWriteSeekReadLength) {
  ASSERT_FALSE(dir_.path().empty());
  std::string p = dir_.file("data.bin");
  FileHandle f = ops_.create_rw(p.c_str());
  ASSERT_NE(f, kNoFile);
  EXPECT_EQ(ops_.write(f, "abcdefghij", 10), 10);
  EXPECT_EQ(ops_.length(f), 10);
  EXPECT_EQ(ops_.seek(f, -4, SeekFrom::end), 6);
  char got[8] = {};
  EXPECT_EQ(ops_.read(f, got, sizeof got), 4);
  EXPECT_EQ(std::string(got, 4), "ghij");
  EXPECT_EQ(ops_.read(f, got, sizeof got), 0) << "end of file";
  EXPECT_EQ(ops_.seek(f, -1, SeekFrom::begin), -1) << "a negative position is refused";
  EXPECT_EQ(ops_.seek(f, 0, SeekFrom::current), 10) << "and the position is kept";
  EXPECT_EQ(ops_.close(f), 0);
  // create_rw truncates an existing file.
  f = ops_.create_rw(p.c_str());
  ASSERT_NE(f, kNoFile);
  EXPECT_EQ(ops_.length(f), 0);
  EXPECT_EQ(ops_.close(f), 0);
}

TEST_F(Win32File, OpenReadRefusesWhatIsNoFile) {
  EXPECT_EQ(ops_.open_read(dir_.file("missing").c_str()), kNoFile);
  EXPECT_EQ(ops_.open_read(dir_.path().c_str()), kNoFile) << "a folder";
  EXPECT_EQ(ops_.open_read(""), kNoFile);
  EXPECT_EQ(ops_.read(kNoFile, nullptr, 0), -1);
  EXPECT_EQ(ops_.close(kNoFile), -1);
}

TEST_F(Win32File, AttributesRoundTrip) {
  std::string p = dir_.file("a.txt");
  ASSERT_TRUE(rzwin::write_file(p, "x"));
  const uint32_t cases[] = {kAttrReadOnly,
                            kAttrHidden,
                            kAttrSystem,
                            kAttrArchive,
                            kAttrReadOnly | kAttrHidden | kAttrArchive,
                            0};
  // Wine reports the archive bit on every file; Windows keeps what was set.
  for (uint32_t a : cases) {
    EXPECT_EQ(ops_.set_attributes(p.c_str(), a), 0) << a;
    int64_t got = ops_.get_attributes(p.c_str());
    EXPECT_EQ(got & ~int64_t{kAttrArchive}, int64_t{a & ~kAttrArchive}) << a;
    if (a & kAttrArchive) {
      EXPECT_EQ(got & kAttrArchive, kAttrArchive) << a;
    }
  }
  EXPECT_EQ(ops_.get_attributes(dir_.path().c_str()) & kAttrDirectory, kAttrDirectory);
  EXPECT_EQ(ops_.get_attributes(dir_.file("missing").c_str()), -1);
  EXPECT_EQ(ops_.set_attributes(dir_.file("missing").c_str(), 0), -1);
}

// Replacing a read-only file by rename is refused by Windows but allowed by
// Wine, so only deletion is checked for it.
TEST_F(Win32File, ReadOnlyFileIsNotDeletedAndRenameReplaces) {
  std::string p = dir_.file("ro.txt"), other = dir_.file("other.txt");
  ASSERT_TRUE(rzwin::write_file(p, "keep"));
  ASSERT_TRUE(rzwin::write_file(other, "new"));
  ASSERT_EQ(ops_.set_attributes(p.c_str(), kAttrReadOnly), 0);
  EXPECT_EQ(ops_.remove(p.c_str()), -1);
  EXPECT_EQ(rzwin::read_file(p), "keep");
  ASSERT_EQ(ops_.set_attributes(p.c_str(), 0), 0);
  EXPECT_EQ(ops_.rename_replace(other.c_str(), p.c_str()), 0);
  EXPECT_EQ(rzwin::read_file(p), "new");
  EXPECT_EQ(ops_.get_attributes(other.c_str()), -1);
  EXPECT_EQ(ops_.remove(p.c_str()), 0);
  EXPECT_EQ(ops_.remove(p.c_str()), -1) << "already gone";
}

TEST_F(Win32File, MakeDirectoryOnlyOneLevel) {
  std::string d = dir_.file("sub");
  EXPECT_EQ(ops_.make_directory(d.c_str()), 0);
  EXPECT_EQ(ops_.make_directory(d.c_str()), -1) << "exists";
  EXPECT_EQ(ops_.make_directory(dir_.file("x\\y").c_str()), -1) << "missing parent";
  EXPECT_EQ(ops_.remove(d.c_str()), -1) << "DeleteFileA does not remove folders";
}

// The entry's time is local time; reading it back through the local clock
// gives the same DOS fields (even seconds).
TEST_F(Win32File, DosTimeIsLocalTime) {
  struct Case {
    uint16_t date, time;
    int result;
  };
  const Case cases[] = {
      {static_cast<uint16_t>((21 << 9) | (2 << 5) | 3),
       static_cast<uint16_t>((4 << 11) | (5 << 5) | 3), 0},
      {static_cast<uint16_t>((44 << 9) | (12 << 5) | 31),
       static_cast<uint16_t>((23 << 11) | (59 << 5) | 29), 0},
      {static_cast<uint16_t>((21 << 9) | (13 << 5) | 1), 0, -1},  // month 13
      {static_cast<uint16_t>((21 << 9) | (1 << 5) | 1), static_cast<uint16_t>(24 << 11),
       -1},  // hour 24
  };
  std::string p = dir_.file("t.bin");
  for (const Case& c : cases) {
    FileHandle f = ops_.create_rw(p.c_str());
    ASSERT_NE(f, kNoFile);
    EXPECT_EQ(ops_.set_dos_time(f, c.date, c.time), c.result) << c.date << " " << c.time;
    if (c.result == 0) {
      FILETIME utc, local;
      WORD date = 0, time = 0;
      ASSERT_TRUE(::GetFileTime(reinterpret_cast<HANDLE>(f), nullptr, nullptr, &utc));
      ASSERT_TRUE(::FileTimeToLocalFileTime(&utc, &local));
      ASSERT_TRUE(::FileTimeToDosDateTime(&local, &date, &time));
      EXPECT_EQ(date, c.date);
      EXPECT_EQ(time, c.time);
    }
    ops_.close(f);
  }
}

// LOGINFO writes through the handle the host opened, at its position.
TEST_F(Win32File, LogGoesToTheHostsHandle) {
  std::string p = dir_.file("install.log");
  HANDLE h = ::CreateFileA(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  auto number = static_cast<int32_t>(reinterpret_cast<intptr_t>(h));
  EXPECT_NE(file_from_host(number), kNoFile);
  EXPECT_EQ(file_from_host(-1), kNoFile);
  EXPECT_EQ(LOGINFO("first", "one", number), 11);
  EXPECT_EQ(LOGINFO("second", "two", number), 12);
  ::CloseHandle(h);
  EXPECT_EQ(rzwin::read_file(p), "first one\r\nsecond two\r\n");
  EXPECT_EQ(LOGINFO("x", "y", -1), -1) << "no handle";
}

TEST_F(Win32File, FileExistsAndCreatePath) {
  std::string deep = dir_.file("a\\b\\c\\");
  char buf[300];
  std::snprintf(buf, sizeof buf, "%s", deep.c_str());
  EXPECT_EQ(QEN_CREATEPATH(buf), 0);
  EXPECT_EQ(QEN_FILEEXISTS(dir_.file("a\\b\\c").c_str()), 1);
  EXPECT_EQ(QEN_FILEEXISTS(dir_.file("a\\b\\d").c_str()), 0);
}

}  // namespace
