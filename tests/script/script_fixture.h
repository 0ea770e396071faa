// A script, a registry store and an install log in a temporary folder, made
// current through INITMAK and the host's store setting.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "raziza3z.h"
#include "raziza3z_host.h"
#include "temp_dir.h"

namespace rz_test {

class ScriptFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    script_ = dir_.file("setup.ini");
    store_ = dir_.file("store.reg");
    log_path_ = dir_.file("install.log");
    log_fd_ = ::open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(log_fd_, 0);
    rz_host_set_registry_file(store_.c_str());
  }
  void TearDown() override {
    INITMAK("", 0, 0, 0, -1);
    rz_host_set_registry_file(nullptr);
    if (log_fd_ >= 0) ::close(log_fd_);
  }
  // Writes the script and makes it current with the given masks and mode.
  void use_script(const std::string& text, uint32_t os_mask = 0xffffffff,
                  uint32_t condition_mask = 0xffffffff, int32_t mode = 0) {
    write_file(script_, text);
    INITMAK(script_.c_str(), mode, os_mask, condition_mask, log_fd_);
  }
  std::string log() const { return read_file(log_path_); }

  TempDir dir_;
  std::string script_, store_, log_path_;
  int log_fd_ = -1;
};

}  // namespace rz_test
