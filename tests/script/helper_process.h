// Another process of this test program: a test that writes the store runs a
// disabled helper test in a fresh process, which reads it back.
#pragma once
#if !defined(_WIN32)

#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace rz_test {

// Runs this test program again with only the given test and the environment
// set; returns the exit status and the standard output.
inline int run_helper(const std::string& test, const std::vector<std::string>& env,
                      std::string& out) {
  int pipe_fd[2];
  if (::pipe(pipe_fd) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe_fd[1], 1);
    ::close(pipe_fd[0]);
    for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::string filter = "--gtest_filter=" + test;
    ::execl("/proc/self/exe", "test_script", filter.c_str(), "--gtest_also_run_disabled_tests",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipe_fd[1]);
  char buf[4096];
  ssize_t n;
  while ((n = ::read(pipe_fd[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  ::close(pipe_fd[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace rz_test

#endif  // !_WIN32
