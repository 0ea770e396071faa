// QEN_UNPACK: results, options, prompts, progress, volumes and the promise
// that a failed extraction never costs an existing file.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>

#include "archive_bytes.h"
#include "frame/extract_state.h"
#include "frame/messages.h"
#include "host_window.h"
#include "qgwriter.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using rztest::entry_bytes;
using rztest::RawEntry;

namespace {

struct Box {
  std::string text, caption;
  uint32_t style;
};

// Records every box and answers from a script (0 when the script is empty).
struct Host {
  std::vector<Box> boxes;
  std::deque<int32_t> answers;
  std::function<void(const Box&)> on_box;
  std::vector<intptr_t> percents;
  int beeps = 0;
  uint32_t progress_message = 0;

  static int32_t box(void* user, RZ_HWND, const char* text, const char* caption, uint32_t style) {
    auto* h = static_cast<Host*>(user);
    h->boxes.push_back({text, caption, style});
    if (h->on_box) h->on_box(h->boxes.back());
    if (h->answers.empty()) return 0;
    int32_t a = h->answers.front();
    h->answers.pop_front();
    return a;
  }
  static void beep(void* user, uint32_t) { ++static_cast<Host*>(user)->beeps; }
  static intptr_t proc(void* user, RZ_HWND, uint32_t msg, uintptr_t, intptr_t lparam) {
    auto* h = static_cast<Host*>(user);
    if (msg == h->progress_message) h->percents.push_back(lparam);
    return 0;
  }
};

void reset_library() {
  QEN_RESETDLL();
  UDF1(0, 0);
  QEN_DECRYPTKEY("");
  QEN_U_FILERENAME("");
  rz::reset_message_texts();
  rz::extract_state().quiet = false;
  rz::extract_state().test_only = false;
  rztest::HostWindow::drain();
}

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    // Compressible but not trivial: words from a small alphabet.
    v[i] = static_cast<uint8_t>("abcdefgh  \n"[(x >> 16) % 11]);
  }
  return v;
}

class Unpack : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_library();
    rz_host_set_message_box(&Host::box, &host_);
    rz_host_set_beep(&Host::beep, &host_);
    window_ = std::make_unique<rztest::HostWindow>(&Host::proc, &host_);
    out_ = dir_ / "out";
  }
  void TearDown() override {
    rz_host_set_message_box(nullptr, nullptr);
    rz_host_set_beep(nullptr, nullptr);
    window_.reset();
    reset_library();
  }

  std::string write(const std::vector<qgw::Entry>& entries, const qgw::Options& opt = {},
                    const std::string& name = "a.qg") {
    std::string path = dir_ / name;
    std::string error;
    EXPECT_EQ(qgw::write_archive(path, entries, opt, &report_, &error), 0) << error;
    return path;
  }
  std::string raw(const std::vector<uint8_t>& bytes, const std::string& name = "raw.qg") {
    std::string path = dir_ / name;
    rztest::write_file(path, bytes);
    return path;
  }
  // Positions on the next entry of `archive`; returns QEN_NEXTLOOP's result.
  int32_t next(const std::string& archive) {
    std::snprintf(path_, sizeof path_, "%s", archive.c_str());
    return QEN_NEXTLOOP(path_, 0, &info_);
  }
  int32_t unpack(const std::string& name, uint32_t options, const std::string& dest = "") {
    char spare[4] = "";
    return QEN_UNPACK(name.c_str(), spare, path_, (dest.empty() ? out_ : dest).c_str(), options);
  }
  bool exists(const std::string& p) { return fs::exists(p); }
  std::vector<std::string> files_in(const std::string& d) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(d, ec)) names.push_back(e.path().string());
    return names;
  }

  rztest::TempDir dir_;
  std::string out_;
  Host host_;
  std::unique_ptr<rztest::HostWindow> window_;
  qgw::Report report_;
  char path_[256] = {};
  EntryInfo info_{};
};

qgw::Entry mem_entry(const std::string& name, const std::vector<uint8_t>& data,
                     const std::string& dir = "") {
  qgw::Entry e;
  e.name = name;
  e.directory = dir;
  e.data = data;
  return e;
}

TEST_F(Unpack, ExtractsEntriesWithDirectoriesTimeAndAttributes) {
  std::vector<qgw::Entry> entries = {mem_entry("a.txt", pattern(70000, 1)),
                                     mem_entry("b.bin", pattern(10, 2), "\\sub\\deep"),
                                     mem_entry("empty", {}, "\\sub")};
  entries[0].dos_date = ((2021 - 1980) << 9) | (3 << 5) | 14;
  entries[0].dos_time = (15 << 11) | (9 << 5) | 5;  // seconds field 5 becomes 10: 20 s
  entries[1].attributes = 0x21;                     // read-only
  std::string a = write(entries);
  for (const auto& e : entries) {
    ASSERT_EQ(next(a), 0);
    ASSERT_EQ(unpack(e.name, UNPACK_USE_DIRECTORY | UNPACK_NO_PATH_PROMPT), 0) << e.name;
  }
  EXPECT_EQ(next(a), 1);
  EXPECT_EQ(rztest::read_file(out_ + "/a.txt"), entries[0].data);
  EXPECT_EQ(rztest::read_file(out_ + "/sub/deep/b.bin"), entries[1].data);
  EXPECT_TRUE(rztest::read_file(out_ + "/sub/empty").empty());
  EXPECT_TRUE(host_.boxes.empty());

  std::tm t = rztest::local_mtime(out_ + "/a.txt");
  EXPECT_EQ(t.tm_year + 1900, 2021);
  EXPECT_EQ(t.tm_mon + 1, 3);
  EXPECT_EQ(t.tm_mday, 14);
  EXPECT_EQ(t.tm_hour, 15);
  EXPECT_EQ(t.tm_min, 9);
  EXPECT_EQ(t.tm_sec, 20);
  EXPECT_TRUE(rztest::is_read_only(out_ + "/sub/deep/b.bin"));
  EXPECT_FALSE(rztest::is_read_only(out_ + "/a.txt"));
  // No temporary file is left behind.
  for (const auto& f : files_in(out_)) EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;
}

TEST_F(Unpack, SecondsFieldTwentyBecomesSixteenSeconds) {
  std::vector<qgw::Entry> entries = {mem_entry("t", pattern(5, 3))};
  entries[0].dos_date = ((2020 - 1980) << 9) | (1 << 5) | 2;
  entries[0].dos_time = (10 << 11) | (0 << 5) | 20;  // (2 * 20) mod 32 = 8: 16 s
  std::string a = write(entries);
  ASSERT_EQ(next(a), 0);
  ASSERT_EQ(unpack("t", UNPACK_NO_PATH_PROMPT), 0);
  std::tm t = rztest::local_mtime(out_ + "/t");
  EXPECT_EQ(t.tm_year + 1900, 2020);
  EXPECT_EQ(t.tm_sec, 16);
}

TEST_F(Unpack, EncryptedEntriesNeedTheRightPassword) {
  qgw::Options opt;
  opt.password = "Correct Horse";
  std::vector<qgw::Entry> entries = {mem_entry("s.txt", pattern(100000, 4)), mem_entry("e", {})};
  std::string a = write(entries, opt);
  QEN_DECRYPTKEY("wrong");
  ASSERT_EQ(next(a), 0);
  // The check byte may match by chance (1 in 256); then the data fails.
  int32_t r = unpack("s.txt", UNPACK_NO_PATH_PROMPT);
  EXPECT_NE(r, 0);
  EXPECT_FALSE(exists(out_ + "/s.txt"));
  if (r == 50) {
    EXPECT_FALSE(exists(out_));
  }
  QEN_DECRYPTKEY("Correct Horse");
  ASSERT_EQ(unpack("s.txt", UNPACK_NO_PATH_PROMPT), 0);
  EXPECT_EQ(rztest::read_file(out_ + "/s.txt"), entries[0].data);
  ASSERT_EQ(next(a), 0);
  EXPECT_EQ(unpack("e", UNPACK_NO_PATH_PROMPT), 0);  // 12-byte header and no data
}

// Entries built byte by byte for the result codes of the header checks.
struct HeaderCase {
  const char* label;
  RawEntry entry;
  int32_t expected;
  bool creates_file;
};

TEST_F(Unpack, HeaderChecksDecideTheResult) {
  RawEntry stored_empty;
  stored_empty.name = "x";
  stored_empty.method = 0;
  RawEntry bad_crc = stored_empty;
  bad_crc.crc32 = 0x12345678;
  RawEntry v16 = stored_empty;
  v16.version_needed = 16;
  RawEntry v17 = stored_empty;
  v17.version_needed = 17;
  const HeaderCase cases[] = {
      {"unknown method, no data, crc 0", stored_empty, 0, true},
      {"unknown method, crc not 0", bad_crc, 31, false},
      {"version 16", v16, 0, true},
      {"version 17", v17, 32, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(out_);
    host_.boxes.clear();
    std::string a = raw(entry_bytes(c.entry));
    ASSERT_EQ(next(a), 0);
    EXPECT_EQ(unpack("x", UNPACK_NO_PATH_PROMPT), c.expected);
    EXPECT_EQ(exists(out_ + "/x"), c.creates_file);
    if (c.expected == 32) {
      ASSERT_EQ(host_.boxes.size(), 1u);
      EXPECT_EQ(host_.boxes[0].text, std::string(rz::message_text(11)) + "x");
      EXPECT_FALSE(exists(out_));  // refused before any directory is made
    }
    QEN_RESETDLL();
  }
}

TEST_F(Unpack, CallsThatEndBeforeDecoding) {
  std::string a = write({mem_entry("f", pattern(100, 5))});
  // Empty name or archive path: 52, but the archive path is taken first.
  char spare[4] = "";
  EXPECT_EQ(QEN_UNPACK("", spare, a.c_str(), out_.c_str(), 0), 52);
  EXPECT_EQ(rz::extract_state().archive_path, a);
  EXPECT_EQ(QEN_UNPACK("f", spare, "", out_.c_str(), 0), 52);
  // No entry positioned: 6 with the error box naming the output name.
  EXPECT_EQ(QEN_UNPACK("f", spare, a.c_str(), out_.c_str(), 0), 6);
  std::snprintf(path_, sizeof path_, "%s", a.c_str());
  ASSERT_EQ(host_.boxes.size(), 1u);
  EXPECT_EQ(host_.boxes[0].text, std::string(rz::message_text(10)) + "f");
  EXPECT_EQ(host_.boxes[0].caption, rz::message_text(2));
  EXPECT_EQ(host_.boxes[0].style, 0x2010u);
  EXPECT_STREQ(spare, "\\");
  // The archive cannot be opened: 21, with a box unless quiet.
  ASSERT_EQ(next(a), 0);
  std::snprintf(path_, sizeof path_, "%s", (dir_ / "gone.qg").c_str());
  EXPECT_EQ(unpack("f", 0), 21);
  EXPECT_EQ(host_.boxes.size(), 2u);
  EXPECT_EQ(unpack("f", UNPACK_QUIET), 21);
  EXPECT_EQ(host_.boxes.size(), 2u);
  EXPECT_FALSE(exists(out_));
}

TEST_F(Unpack, ShortReadsGive8BeforeAnythingIsCreated) {
  RawEntry e;
  e.name = "n";
  e.directory = "\\d";
  e.attributes = 0x20 | RZ_ATTR_ENCRYPTED;
  e.data = std::vector<uint8_t>(12, 1);
  std::vector<uint8_t> whole = entry_bytes(e);
  // Positioned on the whole entry, then extracted from a shorter file.
  for (size_t keep : {20u, 41u, 43u, 50u}) {
    SCOPED_TRACE(keep);
    std::string a = raw(whole, "whole.qg");
    ASSERT_EQ(next(a), 0);
    raw(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(keep)), "whole.qg");
    EXPECT_EQ(unpack("n", UNPACK_NO_PATH_PROMPT), 8);
    EXPECT_FALSE(exists(out_));
    QEN_RESETDLL();
  }
}

TEST_F(Unpack, HostileStoredDirectoriesAreRefused) {
  const char* hostile[] = {"sibling",           "..\\up", "\\..\\evil",
                           "\\a\\..\\..\\x",    "\\..",   "C:\\x",
                           "\\\\server\\share", "//x",    "\\a/../../x"};
  fs::create_directories(out_);
  for (const char* d : hostile) {
    SCOPED_TRACE(d);
    std::string a = write({mem_entry("payload", pattern(50, 6), d)});
    ASSERT_EQ(next(a), 0);
    EXPECT_EQ(unpack("payload", UNPACK_USE_DIRECTORY | UNPACK_NO_PATH_PROMPT), 53);
    EXPECT_EQ(files_in(dir_.path()).size(), 2u);  // the archive and the empty out folder
    QEN_RESETDLL();
  }
  // Without UNPACK_USE_DIRECTORY the stored directory is not used at all.
  std::string a = write({mem_entry("payload", pattern(50, 6), "\\..\\evil")});
  ASSERT_EQ(next(a), 0);
  EXPECT_EQ(unpack("payload", UNPACK_NO_PATH_PROMPT), 0);
  EXPECT_TRUE(exists(out_ + "/payload"));
}

TEST_F(Unpack, ExistingFileSurvivesEveryFailedExtraction) {
  std::vector<uint8_t> good = pattern(5000, 7);
  std::vector<uint8_t> compressed = qgw::deflate_raw(good, 6);
  auto damaged = [&](std::function<void(qgw::Entry&)> change) {
    qgw::Entry e = mem_entry("keep.txt", good);
    change(e);
    return e;
  };
  struct Case {
    const char* label;
    qgw::Entry entry;
    int32_t expected;
  } cases[] = {
      {"corrupt data", damaged([&](qgw::Entry& e) {
         std::vector<uint8_t> bad = compressed;
         bad[0] = 0xFF;  // block type 3
         e.raw_data = bad;
       }),
       36},
      {"more data than the size", damaged([](qgw::Entry& e) { e.unpacked_size = 4000; }), 38},
      {"less data than the size", damaged([](qgw::Entry& e) { e.unpacked_size = 6000; }), 38},
      {"crc mismatch", damaged([](qgw::Entry& e) { e.crc32 = 1; }), 31},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::create_directories(out_);
    rztest::write_text(out_ + "/keep.txt", "precious");
    std::string a = write({c.entry});
    ASSERT_EQ(next(a), 0);
    EXPECT_EQ(unpack("keep.txt", UNPACK_OVERWRITE | UNPACK_QUIET), c.expected);
    EXPECT_EQ(rztest::read_file(out_ + "/keep.txt"),
              std::vector<uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
    EXPECT_EQ(files_in(out_).size(), 1u);
    // Test-only mode runs the same checks and gives the same code.
    EXPECT_EQ(unpack("keep.txt", UNPACK_TEST_ONLY | UNPACK_QUIET), c.expected);
    QEN_RESETDLL();
  }
}

TEST_F(Unpack, StreamCutShortDoesNotDecodeFillerForever) {
  // Half of a stream, and a size that would allow gigabytes of output: the
  // extraction must end as soon as the data runs out.
  std::vector<uint8_t> data = pattern(400000, 21);
  std::vector<uint8_t> packed = qgw::deflate_raw(data, 6);
  qgw::Entry e = mem_entry("cut.txt", data);
  e.raw_data =
      std::vector<uint8_t>(packed.begin(), packed.begin() + static_cast<long>(packed.size() / 2));
  e.unpacked_size = 0xF0000000u;
  std::string a = write({e});
  for (uint32_t mode : {0u, static_cast<uint32_t>(UNPACK_TEST_ONLY)}) {
    ASSERT_EQ(next(a), 0);
    int32_t r = unpack("cut.txt", mode | UNPACK_QUIET);
    EXPECT_TRUE(r == 8 || r == 36) << r;
    EXPECT_FALSE(exists(out_ + "/cut.txt"));
    QEN_RESETDLL();
  }
}

TEST_F(Unpack, CrcMismatchIsShownUnlessQuiet) {
  qgw::Entry e = mem_entry("c.txt", pattern(300, 8));
  e.crc32 = 99;
  std::string a = write({e});
  ASSERT_EQ(next(a), 0);
  EXPECT_EQ(unpack("c.txt", UNPACK_NO_PATH_PROMPT), 31);
  ASSERT_EQ(host_.boxes.size(), 1u);
  EXPECT_EQ(host_.boxes[0].text, std::string(rz::message_text(15)) + out_ + "\\c.txt");
  EXPECT_EQ(host_.boxes[0].caption, rz::message_text(2));
  EXPECT_EQ(unpack("c.txt", UNPACK_QUIET), 31);
  EXPECT_EQ(host_.boxes.size(), 1u);
}

TEST_F(Unpack, ReplacePromptAndExistingFileOptions) {
  std::vector<uint8_t> data = pattern(2000, 9);
  std::string a = write({mem_entry("r.txt", data)});
  struct Case {
    const char* label;
    uint32_t options;
    std::deque<int32_t> answers;
    int32_t expected;
    bool replaced;
    size_t boxes;
  } cases[] = {
      {"Yes replaces", 0, {RZ_IDYES}, 0, true, 1},
      {"No keeps", 0, {RZ_IDNO}, -22, false, 1},
      {"Cancel keeps", 0, {RZ_IDCANCEL}, -30, false, 1},
      {"other answer counts as Yes", 0, {99}, 0, true, 1},
      {"skip existing", UNPACK_SKIP_EXISTING, {}, -1, false, 0},
      {"overwrite", UNPACK_OVERWRITE, {}, 0, true, 0},
      {"overwrite wins over skip", UNPACK_OVERWRITE | UNPACK_SKIP_EXISTING, {}, 0, true, 0},
      {"quiet does not silence it", UNPACK_QUIET, {RZ_IDNO}, -22, false, 1},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::create_directories(out_);
    rztest::write_text(out_ + "/r.txt", "old");
    host_.boxes.clear();
    host_.answers = c.answers;
    ASSERT_EQ(next(a), 0);
    EXPECT_EQ(unpack("r.txt", c.options), c.expected);
    EXPECT_EQ(rztest::read_file(out_ + "/r.txt") == data, c.replaced);
    ASSERT_EQ(host_.boxes.size(), c.boxes);
    if (c.boxes) {
      EXPECT_EQ(host_.boxes[0].text, "Are you sure you wish to replace " + out_ + "\\r.txt");
      EXPECT_EQ(host_.boxes[0].caption, "Warning");
      EXPECT_EQ(host_.boxes[0].style, 0x2023u);
    }
    QEN_RESETDLL();
  }
}

TEST_F(Unpack, ReadOnlyExistingFileIsNotReplaced) {
  std::string a = write({mem_entry("ro.txt", pattern(100, 10))});
  fs::create_directories(out_);
  rztest::write_text(out_ + "/ro.txt", "locked");
  ASSERT_TRUE(rztest::make_read_only(out_ + "/ro.txt"));
  ASSERT_EQ(next(a), 0);
  EXPECT_EQ(unpack("ro.txt", UNPACK_OVERWRITE), 15);
  host_.answers = {RZ_IDYES};
  EXPECT_EQ(unpack("ro.txt", 0), 15);
  EXPECT_EQ(rztest::read_file(out_ + "/ro.txt").size(), 6u);
  EXPECT_EQ(files_in(out_).size(), 1u);
}

TEST_F(Unpack, CreatePathPrompt) {
  std::string a = write({mem_entry("p.txt", pattern(10, 11))});
  struct Case {
    const char* label;
    uint32_t options;
    std::deque<int32_t> answers;
    int32_t expected;
    size_t boxes;
  } cases[] = {
      {"Yes creates", 0, {RZ_IDYES}, 0, 1},
      {"No", 0, {RZ_IDNO}, -22, 1},
      {"Cancel", 0, {RZ_IDCANCEL}, -30, 1},
      {"no prompt option", UNPACK_NO_PATH_PROMPT, {}, 0, 0},
      {"quiet skips the prompt", UNPACK_QUIET, {}, 0, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(out_);
    host_.boxes.clear();
    host_.answers = c.answers;
    ASSERT_EQ(next(a), 0);
    std::string dest = out_ + "/x/y";
    EXPECT_EQ(unpack("p.txt", c.options, dest), c.expected);
    EXPECT_EQ(exists(dest + "/p.txt"), c.expected == 0);
    ASSERT_EQ(host_.boxes.size(), c.boxes);
    if (c.boxes) {
      EXPECT_EQ(host_.boxes[0].text, "Create Path: " + dest);
      EXPECT_EQ(host_.boxes[0].caption, "");
      EXPECT_EQ(host_.boxes[0].style, 0x2023u);
    }
    QEN_RESETDLL();
  }
}

TEST_F(Unpack, RenameAndRepeatedExtraction) {
  std::vector<uint8_t> data = pattern(3000, 12);
  std::string a = write({mem_entry("orig.txt", data)});
  ASSERT_EQ(next(a), 0);
  QEN_U_FILERENAME("renamed.txt");
  EXPECT_EQ(unpack("orig.txt", UNPACK_RENAME | UNPACK_NO_PATH_PROMPT), 0);
  EXPECT_EQ(unpack("orig.txt", UNPACK_RENAME | UNPACK_OVERWRITE), 0);  // same entry again
  EXPECT_EQ(unpack("orig.txt", UNPACK_OVERWRITE), 0);                  // rename only with the bit
  QEN_U_FILERENAME("");
  EXPECT_EQ(unpack("second.txt", UNPACK_RENAME), 0);
  EXPECT_EQ(rztest::read_file(out_ + "/renamed.txt"), data);
  EXPECT_EQ(rztest::read_file(out_ + "/orig.txt"), data);
  EXPECT_EQ(rztest::read_file(out_ + "/second.txt"), data);
}

TEST_F(Unpack, TestOnlyModeCreatesNothing) {
  std::string a = write({mem_entry("t.txt", pattern(90000, 13), "\\dir")});
  ASSERT_EQ(next(a), 0);
  EXPECT_EQ(unpack("t.txt", UNPACK_TEST_ONLY | UNPACK_USE_DIRECTORY), 0);
  EXPECT_FALSE(exists(out_));
  EXPECT_TRUE(host_.boxes.empty());
}

TEST_F(Unpack, ProgressReportsWholeGroupsAndTheHostCancels) {
  host_.progress_message = rztest::HostWindow::register_message("RUZI1");
  uint32_t cancel = rztest::HostWindow::register_message("VORE2");
  ASSERT_NE(window_->handle(), nullptr);
  ASSERT_EQ(QEN_UINIT_MP(window_->handle()), 0);
  std::vector<uint8_t> data = pattern(200000, 14);  // 3 whole groups of 65536 bytes
  std::string a = write({mem_entry("big.bin", data)});
  ASSERT_EQ(next(a), 0);
  EXPECT_EQ(unpack("big.bin", UNPACK_PROGRESS | UNPACK_NO_PATH_PROMPT), 0);
  EXPECT_EQ(host_.percents, (std::vector<intptr_t>{33, 66, 100}));

  // A cancel posted before the start stops the call at the first report.
  fs::create_directories(out_);
  rztest::write_text(out_ + "/big.bin", "earlier");
  host_.percents.clear();
  ASSERT_EQ(window_->post(cancel, 0, 0), 1);
  EXPECT_EQ(unpack("big.bin", UNPACK_PROGRESS | UNPACK_OVERWRITE), -2);
  EXPECT_EQ(host_.percents, (std::vector<intptr_t>{33}));
  EXPECT_EQ(rztest::read_file(out_ + "/big.bin").size(), 7u);
  EXPECT_EQ(files_in(out_).size(), 1u);

  // Without the progress bit nothing is reported and the owner is cleared.
  host_.percents.clear();
  EXPECT_EQ(unpack("big.bin", UNPACK_TEST_ONLY), 0);
  EXPECT_TRUE(host_.percents.empty());
  EXPECT_EQ(rz::extract_state().owner_window, nullptr);
}

// Spanned archives: extraction moves the scan into later volumes.
class Volumes : public Unpack {
 protected:
  std::vector<qgw::Entry> entries_ = {mem_entry("one.bin", noise(3000, 1)),
                                      mem_entry("two.bin", noise(7000, 2), "\\s"),
                                      mem_entry("three.bin", noise(500, 3))};
  static std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed;
    for (auto& b : v) b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    return v;
  }
  std::string make(uint64_t volume_size, const std::optional<std::string>& password = {}) {
    qgw::Options opt;
    opt.volume_size = volume_size;
    opt.password = password;
    return write(entries_, opt, "DATA.EXE");
  }
  // Walks and extracts like a host; returns the first non-zero result.
  int32_t extract_all(const std::string& archive, uint32_t options = UNPACK_NO_PATH_PROMPT) {
    std::snprintf(path_, sizeof path_, "%s", archive.c_str());
    for (;;) {
      int32_t r = QEN_NEXTLOOP(path_, 0, &info_);
      if (r == 1) return 0;
      if (r != 0) return r;
      char spare[4] = "";
      r = QEN_UNPACK(info_.name, spare, path_, out_.c_str(), options | UNPACK_USE_DIRECTORY);
      if (r != 0) return r;
    }
  }
};

TEST_F(Volumes, EntriesCrossingBoundariesExtractAndTheScanFollows) {
  std::string a = make(2500, std::string("pw"));
  ASSERT_GE(report_.volumes.size(), 4u);  // two.bin crosses at least two boundaries
  QEN_DECRYPTKEY("pw");
  ASSERT_EQ(extract_all(a), 0);
  EXPECT_EQ(rztest::read_file(out_ + "/one.bin"), entries_[0].data);
  EXPECT_EQ(rztest::read_file(out_ + "/s/two.bin"), entries_[1].data);
  EXPECT_EQ(rztest::read_file(out_ + "/three.bin"), entries_[2].data);
  EXPECT_TRUE(host_.boxes.empty());
}

TEST_F(Volumes, VolumeFoundUnderTheSecondName) {
  std::string a = make(4000);
  fs::rename(dir_ / "DATA.-02", dir_ / "DATA._02");
  ASSERT_EQ(extract_all(a), 0);
  EXPECT_EQ(rztest::read_file(out_ + "/s/two.bin"), entries_[1].data);
}

TEST_F(Volumes, DiskPromptUntilTheVolumeAppears) {
  std::string a = make(4000);
  fs::rename(dir_ / "DATA.-02", dir_ / "hidden");
  host_.answers = {RZ_IDOK, 5, RZ_IDOK};  // OK while missing, an odd answer, OK once there
  host_.on_box = [&](const Box&) {
    if (host_.boxes.size() == 2) fs::rename(dir_ / "hidden", dir_ / "DATA.-02");
  };
  ASSERT_EQ(extract_all(a), 0);
  ASSERT_EQ(host_.boxes.size(), 3u);
  EXPECT_EQ(host_.boxes[0].text, "Please insert disk # 02 and click OK to continue");
  EXPECT_EQ(host_.boxes[0].caption, "Unpack");
  EXPECT_EQ(host_.boxes[0].style, 0x2011u);
  EXPECT_EQ(host_.beeps, 1);
  EXPECT_EQ(rztest::read_file(out_ + "/s/two.bin"), entries_[1].data);
}

TEST_F(Volumes, CancelAtTheDiskPromptFailsTheEntryOnly) {
  std::string a = make(4000);
  fs::remove(dir_ / "DATA.-02");
  host_.answers = {RZ_IDCANCEL};

  EXPECT_EQ(extract_all(a), -30);
  ASSERT_EQ(host_.boxes.size(), 1u);
  EXPECT_EQ(host_.boxes[0].text, "Please insert disk # 02 and click OK to continue");
  EXPECT_EQ(rz::extract_state().volume_number, 2);  // counted before the prompt
  EXPECT_TRUE(exists(out_ + "/one.bin"));
  EXPECT_FALSE(exists(out_ + "/s/two.bin"));
  EXPECT_EQ(rz::extract_state().archive_handle, rz::plat::kNoFile);
}

// The extraction reads header, texts, encryption header and data with one
// read sized from what the walk saw.  An entry that does not fit that read
// (another file at the same offset, with longer texts than the walk's
// entry) is read whole all the same, and one cut short is reported so.
TEST_F(Unpack, EntriesBeyondTheFirstReadAreReadWhole) {
  std::vector<uint8_t> data = pattern(3000, 9);
  // A tiny entry to walk: the extraction then reads about a kilobyte first.
  std::string walked = write({mem_entry("s", pattern(5, 1))}, {}, "walked.qg");
  struct Case {
    const char* label;
    size_t name_length, directory_length;
    bool encrypted;
    size_t cut;  // the file ends after this many bytes; 0: whole
    int32_t expected;
  } cases[] = {
      {"texts longer than the first read", 600, 600, false, 0, 0},
      {"encryption header across the end of the first read", 491, 491, true, 0, 0},
      {"data beginning just after the first read", 494, 494, false, 0, 0},
      {"long texts and encrypted data", 700, 650, true, 0, 0},
      {"cut short in the texts", 600, 600, false, 900, 8},
      {"cut short in the encryption header", 491, 491, true, 1030, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    qgw::Options opt;
    if (c.encrypted) opt.password = "pw";
    QEN_DECRYPTKEY(c.encrypted ? "pw" : "");
    std::vector<uint8_t> plain = rztest::read_file(write({mem_entry("n", data)}, opt, "one.qg"));
    // Splice longer texts into the header's place of the one-letter name.
    std::vector<uint8_t> bytes(plain.begin(), plain.begin() + 36);
    rztest::put_le(bytes, static_cast<uint32_t>(c.name_length), 2);
    rztest::put_le(bytes, static_cast<uint32_t>(c.directory_length), 2);
    bytes.insert(bytes.end(), c.name_length, 'n');
    bytes.push_back('\\');
    bytes.insert(bytes.end(), c.directory_length - 1, 'd');
    bytes.insert(bytes.end(), plain.begin() + 41, plain.end());
    if (c.cut) bytes.resize(c.cut);
    std::string other = raw(bytes, "other.qg");
    fs::remove_all(out_);
    QEN_RESETDLL();
    ASSERT_EQ(next(walked), 0);
    char spare[4] = "";
    EXPECT_EQ(QEN_UNPACK("f.bin", spare, other.c_str(), out_.c_str(), UNPACK_NO_PATH_PROMPT),
              c.expected);
    if (c.expected == 0) {
      EXPECT_EQ(rztest::read_file(out_ + "/f.bin"), data);
    } else {
      EXPECT_FALSE(exists(out_ + "/f.bin"));
    }
  }
}

}  // namespace
