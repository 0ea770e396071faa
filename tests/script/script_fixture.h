// A script, a registry store and an install log in a temporary folder, made
// current through INITMAK and the host's store setting.
#pragma once

#include <gtest/gtest.h>
#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <string>

#include "raziza3z.h"
#include "raziza3z_host.h"
#include "temp_dir.h"

namespace rz_test {

// The host's number for a file it opened (the install log): a descriptor on
// POSIX, a file handle on Windows, whose value fits in 32 bits.  -1 on
// failure.
inline int32_t open_host_file(const std::string& path, bool writable) {
#if defined(_WIN32)
  HANDLE h = ::CreateFileA(
      path.c_str(), writable ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, writable ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? -1 : static_cast<int32_t>(reinterpret_cast<intptr_t>(h));
#else
  return writable ? ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                  : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
}

inline void close_host_file(int32_t file) {
#if defined(_WIN32)
  ::CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(file)));
#else
  ::close(file);
#endif
}

class ScriptFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    script_ = dir_.file("setup.ini");
    store_ = dir_.file("store.reg");
    log_path_ = dir_.file("install.log");
    log_fd_ = open_host_file(log_path_, true);
    ASSERT_NE(log_fd_, -1);
#if !defined(_WIN32)
    rz_host_set_registry_file(store_.c_str());
#endif
  }
  void TearDown() override {
    INITMAK("", 0, 0, 0, -1);
#if !defined(_WIN32)
    rz_host_set_registry_file(nullptr);
#endif
    if (log_fd_ != -1) close_host_file(log_fd_);
  }
  // Writes the script and makes it current with the given masks and mode.
  void use_script(const std::string& text, uint32_t os_mask = 0xffffffff,
                  uint32_t condition_mask = 0xffffffff, int32_t mode = 0) {
    write_file(script_, text);
    INITMAK(script_.c_str(), mode, os_mask, condition_mask, log_fd_);
  }
  std::string log() const {
    return read_file(log_path_);
  }

  TempDir dir_;
  std::string script_, store_, log_path_;
  int log_fd_ = -1;
};

}  // namespace rz_test
