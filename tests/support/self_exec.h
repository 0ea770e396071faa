// Runs this test program again in the calling (child) process, with the
// given arguments after the program name.  In an emulated build (32-bit
// programs under qemu-i386) the kernel may not run the program itself, so it
// goes through the emulator that RZ_TEST_EMULATOR names.
#pragma once

#include <unistd.h>

#include <climits>
#include <initializer_list>
#include <vector>

namespace rz_test {

inline void exec_self(std::initializer_list<const char*> args) {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) ::_exit(127);
  self[n] = '\0';
  std::vector<char*> argv;
#ifdef RZ_TEST_EMULATOR
  argv.push_back(const_cast<char*>(RZ_TEST_EMULATOR));
#endif
  argv.push_back(self);
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

}  // namespace rz_test
