// A failing disk through the platform seam: fail the Nth call of one kind,
// for N = 1, 2, ... until the extraction passes.  Every run must end with a
// clean result code, no open file or folder once the scan is reset, no
// temporary file, and the existing output file intact (or, where there was
// none, no output file).
#include <gtest/gtest.h>

#include <filesystem>

#include "frame/extract_state.h"
#include "platform/file.h"
#include "qgwriter.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

enum class Kind { open_read, read, write, create, rename, seek, open_dir, walk };

struct Injector {
  Kind kind = Kind::read;
  int fail_at = 0;  // 1-based; 0 never fails
  int calls = 0;
  int open_handles = 0;
  int open_dirs = 0;
  bool fire() { return ++calls == fail_at; }
};
Injector g_inj;

rz::plat::FileOps make_failing_ops() {
  using namespace rz::plat;
  FileOps ops = native_file_ops();
  ops.open_read = [](const char* p) -> FileHandle {
    if (g_inj.kind == Kind::open_read && g_inj.fire()) return kNoFile;
    FileHandle h = native_file_ops().open_read(p);
    if (h != kNoFile) ++g_inj.open_handles;
    return h;
  };
  ops.open_read_length = [](const char* p, int64_t* length) -> FileHandle {
    if (g_inj.kind == Kind::open_read && g_inj.fire()) return kNoFile;
    FileHandle h = native_file_ops().open_read_length(p, length);
    if (h != kNoFile) ++g_inj.open_handles;
    return h;
  };
  ops.create_new_at = [](DirHandle d, const char* name, FileHandle* out) -> int {
    if (g_inj.kind == Kind::create && g_inj.fire()) return -1;
    int r = native_file_ops().create_new_at(d, name, out);
    if (r == 0) ++g_inj.open_handles;
    return r;
  };
  ops.create_temp_at = [](DirHandle d, const char* prefix, char* name,
                          uint32_t size) -> FileHandle {
    if (g_inj.kind == Kind::create && g_inj.fire()) return kNoFile;
    FileHandle h = native_file_ops().create_temp_at(d, prefix, name, size);
    if (h != kNoFile) ++g_inj.open_handles;
    return h;
  };
  ops.open_directory = [](const char* p) -> DirHandle {
    if (g_inj.kind == Kind::open_dir && g_inj.fire()) return kNoDir;
    DirHandle d = native_file_ops().open_directory(p);
    if (d != kNoDir) ++g_inj.open_dirs;
    return d;
  };
  ops.open_beneath = [](DirHandle root, const char* rel, int create, DirHandle* out) -> int {
    if (g_inj.kind == Kind::walk && g_inj.fire()) return -1;
    int r = native_file_ops().open_beneath(root, rel, create, out);
    if (r == 0) ++g_inj.open_dirs;
    return r;
  };
  ops.close_directory = [](DirHandle d) {
    --g_inj.open_dirs;
    return native_file_ops().close_directory(d);
  };
  ops.close = [](FileHandle h) {
    --g_inj.open_handles;
    return native_file_ops().close(h);
  };
  ops.read = [](FileHandle h, void* b, uint32_t n) -> int32_t {
    if (g_inj.kind == Kind::read && g_inj.fire()) return -1;
    return native_file_ops().read(h, b, n);
  };
  ops.read_at = [](FileHandle h, uint64_t at, void* b, uint32_t n) -> int32_t {
    if (g_inj.kind == Kind::read && g_inj.fire()) return -1;
    return native_file_ops().read_at(h, at, b, n);
  };
  ops.write = [](FileHandle h, const void* b, uint32_t n) -> int32_t {
    if (g_inj.kind == Kind::write && g_inj.fire()) return n > 1 ? static_cast<int32_t>(n / 2) : -1;
    return native_file_ops().write(h, b, n);
  };
  ops.rename_at = [](DirHandle d, const char* a, const char* b) {
    if (g_inj.kind == Kind::rename && g_inj.fire()) return -1;
    return native_file_ops().rename_at(d, a, b);
  };
  ops.seek = [](FileHandle h, int64_t off, SeekFrom from) -> int64_t {
    if (g_inj.kind == Kind::seek && g_inj.fire()) return -1;
    return native_file_ops().seek(h, off, from);
  };
  return ops;
}

class FailingDisk : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    QEN_RESETDLL();
    UDF1(0, 0);
    ops_ = make_failing_ops();
  }
  void TearDown() override {
    rz::plat::set_file_ops(nullptr);
    QEN_RESETDLL();
  }
  rztest::TempDir dir_;
  rz::plat::FileOps ops_;
};

TEST_P(FailingDisk, EveryFailureEndsCleanly) {
  std::vector<uint8_t> data(300000);
  uint32_t x = 3;
  for (auto& b : data)
    b = static_cast<uint8_t>("abcde \n"[((x = x * 1664525u + 1013904223u) >> 24) % 7]);
  std::vector<qgw::Entry> entries(1);
  entries[0].name = "f.txt";
  entries[0].data = data;
  std::string archive = dir_ / "a.qg";
  std::string error;
  qgw::Options opt;
  opt.password = "pw";
  ASSERT_EQ(qgw::write_archive(archive, entries, opt, nullptr, &error), 0) << error;
  QEN_DECRYPTKEY("pw");
  std::string out = dir_ / "out";
  fs::create_directories(out);

  for (bool existing : {true, false}) {
    SCOPED_TRACE(existing ? "over an existing file" : "a new file");
    bool passed = false;
    for (int n = 1; n < 400 && !passed; ++n) {
      SCOPED_TRACE(n);
      fs::remove_all(out);
      fs::create_directories(out);
      if (existing) rztest::write_text(out + "/f.txt", "existing");
      char path[256];
      std::snprintf(path, sizeof path, "%s", archive.c_str());
      EntryInfo info;
      rz::plat::set_file_ops(nullptr);
      ASSERT_EQ(QEN_NEXTLOOP(path, 0, &info), 0);
      g_inj = Injector{GetParam(), n};
      rz::plat::set_file_ops(&ops_);
      char spare[4] = "";
      int32_t r = QEN_UNPACK("f.txt", spare, path, out.c_str(), UNPACK_OVERWRITE | UNPACK_QUIET);
      EXPECT_EQ(rz::extract_state().archive_handle, rz::plat::kNoFile);
      // The folders written into stay open until the scan ends.
      QEN_RESETDLL();
      rz::plat::set_file_ops(nullptr);
      EXPECT_EQ(g_inj.open_handles, 0) << "result " << r;
      EXPECT_EQ(g_inj.open_dirs, 0) << "result " << r;
      size_t files =
          static_cast<size_t>(std::distance(fs::directory_iterator(out), fs::directory_iterator()));
      if (r == 0) {
        EXPECT_EQ(files, 1u);
        EXPECT_EQ(rztest::read_file(out + "/f.txt"), data);
        passed = g_inj.calls < n;  // the failure point lies beyond the last call
      } else if (existing) {
        EXPECT_EQ(files, 1u) << "result " << r;
        EXPECT_EQ(rztest::read_file(out + "/f.txt"),
                  std::vector<uint8_t>({'e', 'x', 'i', 's', 't', 'i', 'n', 'g'}))
            << "result " << r;
      } else {
        EXPECT_EQ(files, 0u) << "result " << r;
      }
    }
    EXPECT_TRUE(passed);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FailingDisk,
                         ::testing::Values(Kind::open_read, Kind::read, Kind::write, Kind::create,
                                           Kind::rename, Kind::seek, Kind::open_dir, Kind::walk));

}  // namespace
