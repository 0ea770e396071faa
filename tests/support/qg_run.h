// Runs the qg program built with the tests and captures what it prints.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

namespace rztest {

struct QgResult {
  int status = -1;
  std::string output;  // stdout and stderr together
};

inline std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs program with args (stdin_text fed to it, or /dev/null).
inline QgResult run_program(const std::string& program, const std::vector<std::string>& args,
                            const std::string& stdin_text = "") {
  std::string cmd = shell_quote(program);
  for (const auto& a : args) cmd += " " + shell_quote(a);
  cmd += " 2>&1";
  if (stdin_text.empty()) cmd += " </dev/null";
  QgResult r;
  FILE* p = popen(cmd.c_str(), stdin_text.empty() ? "r" : "w");
  if (!p) return r;
  if (stdin_text.empty()) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  } else {
    fwrite(stdin_text.data(), 1, stdin_text.size(), p);
  }
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline QgResult run_qg(const std::vector<std::string>& args, const std::string& stdin_text = "") {
  return run_program(RZ_QG_PATH, args, stdin_text);
}

}  // namespace rztest
