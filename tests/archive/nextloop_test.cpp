// The archive walk over archives built byte by byte and made by the writer.
#include <gtest/gtest.h>

#include <cstring>

#include "archive_bytes.h"
#include "frame/extract_state.h"
#include "qgwriter.h"
#include "raziza3z.h"
#include "temp_dir.h"

using rztest::concat;
using rztest::entry_bytes;
using rztest::RawEntry;

namespace {

// Puts the process-wide state back to what a freshly loaded library has.
void reset_state() {
  QEN_RESETDLL();
  UDF1(0, 0);
  rz::extract_state().archive_path.clear();
}

class NextLoop : public ::testing::Test {
 protected:
  void SetUp() override { reset_state(); }
  void TearDown() override { reset_state(); }

  // One QEN_NEXTLOOP on `file` with a fresh path buffer.
  int32_t next(const std::string& file, int32_t mode = 0) {
    std::memset(path_, 0, sizeof path_);
    std::snprintf(path_, sizeof path_, "%s", file.c_str());
    std::memset(&info_, 0xAB, sizeof info_);
    return QEN_NEXTLOOP(path_, mode, &info_);
  }
  std::string file(const std::vector<uint8_t>& bytes, const std::string& name = "a.qg") {
    std::string p = dir_ / name;
    rztest::write_file(p, bytes);
    return p;
  }

  rztest::TempDir dir_;
  char path_[256];
  EntryInfo info_;
};

RawEntry entry(const std::string& name, const std::string& directory, size_t data_size) {
  RawEntry e;
  e.name = name;
  e.directory = directory;
  e.data.assign(data_size, 0x5A);
  e.unpacked_size = static_cast<uint32_t>(data_size * 2);
  e.crc32 = 0xCAFEF00D;
  return e;
}

// Files that end the walk at their first signature.
struct FirstSignatureCase {
  const char* label;
  std::vector<uint8_t> bytes;
  uint32_t data_start;
  int32_t expected;
};

TEST_F(NextLoop, FirstSignatureDecidesTheResult) {
  const std::vector<uint8_t> exe = {'M', 'Z', 0x90, 0, 3, 0, 0, 0, 4, 0, 0, 0};
  const FirstSignatureCase cases[] = {
      {"empty file", {}, 0, 1},
      {"four zero bytes", {0, 0, 0, 0}, 0, 1},
      {"stop signature", {'Q', 'G', 3, 6}, 0, 24},
      {"zip local header", {'P', 'K', 3, 4, 0, 0}, 0, 25},
      {"executable at data_start 0", exe, 0, 2},
      {"no signature inside the file", exe, 4, 8},
      {"data_start at the end of the file", exe, 12, 1},
      {"three bytes QG 03 at the end", {'Q', 'G', 3}, 0, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    reset_state();
    if (c.data_start) UDF1(c.data_start, 2961);
    EXPECT_EQ(next(file(c.bytes)), c.expected);
    EXPECT_EQ(GETSFP(), 0u);
    EXPECT_FALSE(rz::extract_state().entry_positioned);
    EXPECT_EQ(rz::extract_state().archive_handle, rz::plat::kNoFile);
  }
}

TEST_F(NextLoop, WalksTwoEntriesThenEnds) {
  RawEntry a = entry("first.txt", "\\docs", 10);
  a.reserved_22 = 0x1122;
  a.reserved_28 = 0x33445566;
  RawEntry b = entry("", "", 0);  // empty texts are valid; data follows the header directly
  std::string f = file(concat({entry_bytes(a), entry_bytes(b)}));

  ASSERT_EQ(next(f), 0);
  EXPECT_STREQ(info_.name, "first.txt");
  EXPECT_STREQ(info_.directory, "\\docs");
  EXPECT_EQ(uint32_t{info_.header.packed_size}, 10u);
  EXPECT_EQ(uint32_t{info_.header.unpacked_size}, 20u);
  EXPECT_EQ(uint32_t{info_.header.crc32}, 0xCAFEF00Du);
  EXPECT_EQ(uint16_t{info_.header.reserved_22}, 0x1122);
  EXPECT_EQ(uint32_t{info_.header.reserved_28}, 0x33445566u);
  uint32_t second = 40 + 9 + 5 + 10;
  EXPECT_EQ(GETSFP(), second);
  EXPECT_EQ(rz::extract_state().entry_offset, 0u);
  EXPECT_TRUE(rz::extract_state().entry_positioned);

  ASSERT_EQ(next(f), 0);
  EXPECT_STREQ(info_.name, "");
  EXPECT_EQ(rz::extract_state().entry_offset, second);
  EXPECT_EQ(GETSFP(), second + 40);

  EXPECT_EQ(next(f), 1);
  EXPECT_EQ(GETSFP(), 0u);
}

TEST_F(NextLoop, ZipSignatureInTheMiddleStopsTheWalk) {
  std::string f = file(concat({entry_bytes(entry("a", "", 3)), {'P', 'K', 3, 4, 9, 9}}));
  EXPECT_EQ(next(f), 0);
  EXPECT_EQ(next(f), 25);
  EXPECT_EQ(GETSFP(), 0u);
}

TEST_F(NextLoop, LastEntryCutShortGives8WithInfoFilled) {
  std::vector<uint8_t> bytes = entry_bytes(entry("cut.bin", "", 100));
  bytes.resize(bytes.size() - 1);
  std::string f = file(bytes);
  EXPECT_EQ(next(f), 8);
  EXPECT_STREQ(info_.name, "cut.bin");
  EXPECT_EQ(uint32_t{info_.header.packed_size}, 100u);
  EXPECT_EQ(GETSFP(), 0u);
  EXPECT_FALSE(rz::extract_state().entry_positioned);
}

TEST_F(NextLoop, HeaderOrTextsCutShortGive8) {
  std::vector<uint8_t> whole = entry_bytes(entry("name.txt", "\\dir", 0));
  // Cut inside the header, inside the name and inside the directory.
  for (size_t keep : {4u + 10u, 4u + 36u + 3u, 4u + 36u + 8u + 2u}) {
    SCOPED_TRACE(keep);
    reset_state();
    std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<long>(keep));
    EXPECT_EQ(next(file(bytes)), 8);
    EXPECT_EQ(GETSFP(), 0u);
    EXPECT_EQ(rz::extract_state().archive_handle, rz::plat::kNoFile);
  }
}

TEST_F(NextLoop, OverlongTextsAreRefusedWithoutWritingPastTheRecord) {
  for (int which = 0; which < 2; ++which) {
    SCOPED_TRACE(which ? "directory" : "name");
    reset_state();
    RawEntry e = entry("", "", 4);
    (which ? e.directory : e.name).assign(300, 'x');
    std::string f = file(entry_bytes(e));
    // The record sits inside a larger block whose tail must stay untouched.
    std::vector<uint8_t> block(sizeof(EntryInfo) + 64, 0xEE);
    std::memset(path_, 0, sizeof path_);
    std::snprintf(path_, sizeof path_, "%s", f.c_str());
    EXPECT_EQ(QEN_NEXTLOOP(path_, 0, reinterpret_cast<EntryInfo*>(block.data())), 8);
    for (size_t i = sizeof(EntryInfo); i < block.size(); ++i) ASSERT_EQ(block[i], 0xEE) << i;
    auto* info = reinterpret_cast<EntryInfo*>(block.data());
    EXPECT_EQ(std::strlen(info->name), 0u);
    EXPECT_EQ(GETSFP(), 0u);
  }
}

TEST_F(NextLoop, UnreadableArchiveGives21AndKeepsThePositionedEntry) {
  std::string f = file(concat({entry_bytes(entry("a", "", 1)), entry_bytes(entry("b", "", 1))}));
  ASSERT_EQ(next(f), 0);
  ASSERT_EQ(next(f), 0);
  uint32_t second = rz::extract_state().entry_offset;
  EXPECT_EQ(next(dir_ / "missing.qg"), 21);
  EXPECT_TRUE(rz::extract_state().entry_positioned);
  EXPECT_EQ(rz::extract_state().entry_offset, second);
  EXPECT_EQ(rz::extract_state().archive_handle, rz::plat::kNoFile);
}

TEST_F(NextLoop, ReadAndResetLeavesTheFirstEntryPositionedAtZero) {
  std::string f = file(concat({entry_bytes(entry("a", "", 2)), entry_bytes(entry("b", "", 2))}));
  ASSERT_EQ(next(f, NEXT_READ_AND_RESET), 0);
  EXPECT_STREQ(info_.name, "a");
  EXPECT_EQ(GETSFP(), 0u);
  EXPECT_EQ(rz::extract_state().entry_offset, 0u);
  EXPECT_TRUE(rz::extract_state().entry_positioned);
  ASSERT_EQ(next(f), 0);
  EXPECT_STREQ(info_.name, "a");  // the next walk starts over
}

TEST_F(NextLoop, SetsfpRevisitsAndSkipsEntries) {
  std::string f = file(concat({entry_bytes(entry("a", "", 2)), entry_bytes(entry("b", "", 2)),
                               entry_bytes(entry("c", "", 2))}));
  ASSERT_EQ(next(f), 0);
  uint32_t second = GETSFP();
  ASSERT_EQ(next(f), 0);
  EXPECT_STREQ(info_.name, "b");
  EXPECT_EQ(SETSFP(second), second);
  ASSERT_EQ(next(f), 0);
  EXPECT_STREQ(info_.name, "b");
  SETSFP(0);
  ASSERT_EQ(next(f), 0);
  EXPECT_STREQ(info_.name, "a");
}

TEST_F(NextLoop, Udf1KeyDecidesWhereTheEntriesBegin) {
  std::vector<uint8_t> stub(1000, 0x90);
  stub[0] = 'M';
  stub[1] = 'Z';
  std::string f = file(concat({stub, entry_bytes(entry("in.sfx", "", 5))}));

  EXPECT_EQ(UDF1(1000, 2961), 1000u);
  ASSERT_EQ(next(f), 0);
  EXPECT_STREQ(info_.name, "in.sfx");
  EXPECT_EQ(rz::extract_state().entry_offset, 1000u);
  EXPECT_EQ(GETSFP(), 1000u + 40 + 6 + 5);
  EXPECT_EQ(next(f), 1);  // end of file behind the entry

  EXPECT_EQ(UDF1(1000, 7), 0u);
  EXPECT_EQ(rz::extract_state().read_position, 0u);
  EXPECT_EQ(next(f), 2);  // read at offset 0: the stub is no archive
}

TEST_F(NextLoop, ContinuedSignatureMarksTheArchiveSpanned) {
  RawEntry a = entry("big", "", 50);
  a.sig_last = 5;
  std::vector<uint8_t> bytes = entry_bytes(a);
  bytes.resize(bytes.size() - 20);  // the rest of the data lies in the next volume
  std::string f = file(bytes);
  ASSERT_EQ(next(f), 0);  // no 8: the data may continue elsewhere
  EXPECT_TRUE(rz::extract_state().spanned_archive);
  // Once spanned, the path buffer is overwritten with the volume in use.
  EXPECT_EQ(next(dir_ / "other.qg"), 1);
  EXPECT_EQ(std::string(path_), f);
  EXPECT_FALSE(rz::extract_state().spanned_archive);
}

TEST_F(NextLoop, MarkSpannedModeMakesTheNextCallUseTheStoredPath) {
  std::string f = file(concat({entry_bytes(entry("a", "", 2)), entry_bytes(entry("b", "", 2))}));
  std::string decoy = file(entry_bytes(entry("decoy", "", 2)), "decoy.qg");
  ASSERT_EQ(next(f, NEXT_MARK_SPANNED), 0);
  ASSERT_EQ(next(decoy), 0);
  EXPECT_STREQ(info_.name, "b");
  EXPECT_EQ(std::string(path_), f);
}

TEST_F(NextLoop, StoredPathThatDoesNotFitTheBufferIsRefused) {
  rz::ExtractState& s = rz::extract_state();
  s.spanned_archive = true;
  s.archive_path.assign(300, 'v');
  std::memset(path_, 'k', sizeof path_);
  EXPECT_EQ(QEN_NEXTLOOP(path_, 0, &info_), 21);
  for (char c : path_) ASSERT_EQ(c, 'k');
}

TEST_F(NextLoop, ResetKeepsTheVolumePathAndResetsTheVolumeNumber) {
  rz::ExtractState& s = rz::extract_state();
  s.archive_path = dir_ / "DATA.-03";
  s.volume_number = 3;
  s.spanned_archive = true;
  s.scan_position = 77;
  EXPECT_EQ(QEN_RESETDLL(), 0);
  EXPECT_EQ(s.volume_number, 1);
  EXPECT_EQ(s.archive_path, dir_ / "DATA.-03");
  EXPECT_EQ(GETSFP(), 0u);
  EXPECT_FALSE(s.spanned_archive);
}

// Archives made by the writer: what it writes, the walk reads back.
TEST_F(NextLoop, WalksWriterArchivesWithEveryEnd) {
  for (qgw::End end : {qgw::End::none, qgw::End::zeros, qgw::End::stop}) {
    reset_state();
    std::vector<qgw::Entry> entries(3);
    for (int i = 0; i < 3; ++i) {
      entries[i].name = "file" + std::to_string(i) + ".txt";
      entries[i].directory = i ? "\\sub" : "";
      entries[i].data.assign(1000 * (i + 1), static_cast<uint8_t>('a' + i));
    }
    qgw::Options opt;
    opt.end = end;
    std::string f = dir_ / "w.qg";
    std::string error;
    ASSERT_EQ(qgw::write_archive(f, entries, opt, nullptr, &error), 0) << error;
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(next(f), 0);
      EXPECT_EQ(info_.name, entries[i].name);
      EXPECT_EQ(info_.directory, entries[i].directory);
      EXPECT_EQ(uint32_t{info_.header.unpacked_size}, 1000u * (i + 1));
      EXPECT_EQ(uint16_t{info_.header.method}, 2);
    }
    EXPECT_EQ(next(f), end == qgw::End::stop ? 24 : 1);
  }
}

}  // namespace
