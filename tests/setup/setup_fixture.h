// End-to-end helpers for the setup program: run qg and installers as child
// processes (every run bounded in time, never waiting on a prompt), pack
// installers from a payload folder, and snapshot folders so that the state
// before and after an installation can be compared.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace rztest {

struct Outcome {
  int status = -1;                    // exit status, or 128 + signal
  std::string output;                 // stdout and stderr
  std::vector<std::string> progress;  // lines of --progress-fd 3
};

struct RunOptions {
  std::vector<std::string> env;  // NAME=VALUE added to the environment
  std::string cwd;
  int timeout_seconds = 120;
  // Called for each progress line with the child's pid (e.g. to signal it).
  std::function<void(const std::string& line, pid_t pid)> on_progress;
  std::string stdin_text;  // fed through a pipe; empty: /dev/null
};

// Runs argv; the child's fd 3 is a pipe whose lines reach on_progress.
inline Outcome run(const std::vector<std::string>& argv, const RunOptions& o = {}) {
  Outcome r;
  int out[2], prog[2], in[2];
  if (::pipe2(out, O_CLOEXEC) || ::pipe2(prog, O_CLOEXEC) || ::pipe2(in, O_CLOEXEC)) return r;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    ::dup2(prog[1], 3);
    if (!o.cwd.empty() && ::chdir(o.cwd.c_str()) != 0) ::_exit(126);
    for (const std::string& e : o.env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(prog[1]);
  ::close(in[0]);
  if (!o.stdin_text.empty() && ::write(in[1], o.stdin_text.data(), o.stdin_text.size()) < 0) {
  }
  ::close(in[1]);
  std::string pending;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {prog[0], POLLIN, 0}};
  int open_fds = 2;
  auto deadline = ::time(nullptr) + o.timeout_seconds;
  while (open_fds > 0) {
    if (::time(nullptr) > deadline) {
      ::kill(-pid, SIGKILL);
      r.output += "\n[test: killed after timeout]\n";
      break;
    }
    if (::poll(fds, 2, 200) <= 0) continue;
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
        continue;
      }
      if (i == 0) {
        r.output.append(buf, static_cast<size_t>(n));
        continue;
      }
      pending.append(buf, static_cast<size_t>(n));
      size_t nl;
      while ((nl = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        r.progress.push_back(line);
        if (o.on_progress) o.on_progress(line, pid);
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  int st = 0;
  ::waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

// One entry of a snapshot: type, mode, size, content or link target, time.
struct Node {
  char type = '?';
  unsigned mode = 0;
  std::string content;
  long long mtime = 0;
  bool operator==(const Node& o) const {
    return type == o.type && mode == o.mode && content == o.content && mtime == o.mtime;
  }
};

// Everything below root (root itself included), by relative path.  Times of
// folders are left out: making and removing an entry changes them.
inline std::map<std::string, Node> snapshot(const std::string& root) {
  std::map<std::string, Node> out;
  namespace fs = std::filesystem;
  std::error_code ec;
  struct stat st;
  if (::lstat(root.c_str(), &st) != 0) return out;
  out[""] = Node{'d', static_cast<unsigned>(st.st_mode & 07777), "", 0};
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    std::string p = it->path().string();
    if (::lstat(p.c_str(), &st) != 0) continue;
    Node n;
    n.mode = static_cast<unsigned>(st.st_mode & 07777);
    if (S_ISDIR(st.st_mode)) {
      n.type = 'd';
    } else if (S_ISLNK(st.st_mode)) {
      n.type = 'l';
      n.mode = 0;
      char buf[4096];
      ssize_t k = ::readlink(p.c_str(), buf, sizeof buf);
      n.content.assign(buf, k > 0 ? static_cast<size_t>(k) : 0);
    } else {
      n.type = 'f';
      auto bytes = read_file(p);
      n.content.assign(bytes.begin(), bytes.end());
      n.mtime = static_cast<long long>(st.st_mtime);
    }
    out[p.substr(root.size())] = n;
  }
  return out;
}

// A registry store's text with the sections of empty keys that only stand
// above other keys left out (the store writes such parents out or not);
// an empty key with nothing below it stays, since that is a leftover.
inline std::string normalized_store(const std::string& text) {
  std::vector<std::string> sections;
  std::string cur;
  size_t at = 0;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(at, nl - at);
    at = nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line[0] == '[' && !cur.empty()) {
      sections.push_back(cur);
      cur.clear();
    }
    cur += line + "\n";
  }
  if (!cur.empty()) sections.push_back(cur);
  std::string out;
  for (const std::string& s : sections) {
    bool empty_key = s[0] == '[' && s.find('\n') == s.size() - 1;
    std::string key = s.substr(0, s.size() - 2);  // "[name" without "]\n"
    bool parent = false;
    for (const std::string& o : sections) parent = parent || o.rfind(key + "\\", 0) == 0;
    if (!(empty_key && parent)) out += s;
  }
  return out;
}

// The world's state: its files, with the registry store compared by what it
// holds.
inline std::map<std::string, Node> snapshot_world(const std::string& root) {
  auto snap = snapshot(root);
  auto it = snap.find("/registry.reg");
  if (it != snap.end()) {
    it->second.content = normalized_store(it->second.content);
    it->second.mtime = 0;  // rewritten by every change, even one undone
  }
  return snap;
}

// The differences between two snapshots, one line each ("" when equal).
inline std::string diff(const std::map<std::string, Node>& a,
                        const std::map<std::string, Node>& b) {
  std::string d;
  for (const auto& [path, node] : a) {
    auto it = b.find(path);
    if (it == b.end())
      d += "gone: " + path + "\n";
    else if (!(it->second == node))
      d += "changed: " + path + "\n";
  }
  for (const auto& [path, node] : b)
    if (!a.count(path)) d += "new: " + path + "\n";
  return d;
}

}  // namespace rztest
