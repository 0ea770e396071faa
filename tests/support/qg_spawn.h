// For tests that signal a running qg: an archive with one big entry (so
// that a signal lands while it is being decoded), and qg started as a child
// process whose output is thrown away.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "qgwriter.h"

namespace rztest {

// `megabytes` of sparse noise at level 1; returns the writer's result.
inline int write_big_archive(const std::string& path, size_t megabytes, std::string* error) {
  qgw::Entry big;
  big.name = "big.bin";
  big.data.resize(megabytes << 20);
  uint32_t x = 7;
  for (size_t i = 0; i < big.data.size(); i += 4)
    big.data[i] = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 28);
  qgw::Options opt;
  opt.level = 1;
  return qgw::write_archive(path, {big}, opt, nullptr, error);
}

// Starts qg with `args`; returns its process id (-1 when fork failed).
inline pid_t start_qg(const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int null_fd = ::open("/dev/null", O_WRONLY);
  dup2(null_fd, 1);
  dup2(null_fd, 2);
  std::vector<char*> argv = {const_cast<char*>("qg")};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(RZ_QG_PATH, argv.data());
  _exit(127);
}

}  // namespace rztest
