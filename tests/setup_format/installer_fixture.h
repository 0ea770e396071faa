// Helpers of the installer-format tests: payload folders made on the spot,
// installers packed by qg with the small test stub, and byte surgery.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "installer.h"
#include "qg_run.h"
#include "temp_dir.h"

namespace fmt_test {

using rztest::QgResult;
using rztest::run_qg;

inline void make_file(const std::string& path, const std::string& text, mode_t mode = 0644,
                      time_t mtime = 0) {
  rztest::write_text(path, text);
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
  if (mtime) {
    timespec t[2] = {{mtime, 0}, {mtime, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, AT_SYMLINK_NOFOLLOW), 0) << path;
  }
}

inline void make_dir(const std::string& path, mode_t mode = 0755) {
  ASSERT_EQ(::mkdir(path.c_str(), mode), 0) << path;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

inline void make_link(const std::string& target, const std::string& path) {
  ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
}

// A script with a [SETUP] section (and a licence when `license` is set).
inline std::string write_script(const rztest::TempDir& dir, const std::string& license = "") {
  std::string text = "[SETUP]\nName=Format test\nVersion=1.0\nDefaultDir=/opt/format-test\n";
  if (!license.empty()) text += "License=" + license + "\n";
  std::string path = dir / "setup.ini";
  rztest::write_text(path, text);
  return path;
}

// qg pack FOLDER -o OUT --setup SCRIPT --stub <test stub> [extra...].
inline QgResult pack(const std::string& folder, const std::string& out, const std::string& script,
                     const std::vector<std::string>& extra = {},
                     const std::string& stub = RZ_TEST_STUB_PATH) {
  std::vector<std::string> args = {"pack", folder, "-o", out, "--setup", script, "--stub", stub};
  args.insert(args.end(), extra.begin(), extra.end());
  return run_qg(args);
}

inline qgsetup::InstallerLayout layout_of(const std::string& path) {
  qgsetup::InstallerLayout l;
  EXPECT_EQ(qgsetup::locate_installer(path, &l), qgsetup::kLocateOk) << path;
  return l;
}

inline void flip_byte(const std::string& path, uint64_t offset) {
  std::vector<uint8_t> bytes = rztest::read_file(path);
  ASSERT_LT(offset, bytes.size());
  bytes[offset] ^= 0x5A;
  rztest::write_file(path, bytes);
}

inline void truncate_to(const std::string& path, uint64_t length) {
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(length)), 0);
}

inline void append_bytes(const std::string& path, size_t count) {
  std::vector<uint8_t> bytes = rztest::read_file(path);
  bytes.resize(bytes.size() + count, 0x42);
  rztest::write_file(path, bytes);
}

// Names of the files in a folder (to see that nothing was left behind).
inline std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace fmt_test
