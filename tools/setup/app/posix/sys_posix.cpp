// The setup program's seam on POSIX.
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../fields.h"
#include "../sys.h"

namespace setup::sys {

std::string self_open_name() {
  return "/proc/self/exe";
}

std::string self_path() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : self_open_name();
}

const char* uninstaller_name() {
  return "uninstall";
}

bool is_absolute(const std::string& path) {
  return !path.empty() && path[0] == '/';
}

size_t root_length(const std::string& path) {
  return is_absolute(path) ? 1 : 0;
}

std::string home_dir() {
  const char* h = std::getenv("HOME");
  return h && *h ? h : "/";
}

std::string current_dir() {
  char cwd[4096];
  return ::getcwd(cwd, sizeof cwd) ? cwd : "/";
}

std::string temp_dir() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

std::string programs_dir(bool) {
  return "";
}

namespace {

// An XDG base folder: the variable when it holds an absolute path (the
// rule for relative ones is to ignore them), else fallback below $HOME.
std::string xdg_base(const char* variable, const char* fallback) {
  const char* v = std::getenv(variable);
  if (v && v[0] == '/') return v;
  return home_dir() + "/" + fallback;
}

// The value of key in the lines of a user-dirs.dirs file: one double-quoted
// "$HOME/path" or "/path", '\' escaping the next character.  False when
// the key is absent or its value has neither form.
bool user_dir_value(const std::vector<std::string>& lines, const std::string& key,
                    std::string* out) {
  for (const std::string& line : lines) {
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line.compare(first, key.size() + 2, key + "=\"") != 0)
      continue;
    std::string value;
    size_t i = first + key.size() + 2;
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      value += line[i];
    }
    if (i == line.size()) return false;  // no closing quote
    if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) {
      *out = home_dir() + value.substr(5);
      return true;
    }
    if (value.empty() || value[0] != '/') return false;
    *out = value;
    return true;
  }
  return false;
}

}  // namespace

std::string start_menu_dir(bool) {
  return xdg_base("XDG_DATA_HOME", ".local/share") + "/applications";
}

// As xdg-user-dirs keeps it: XDG_DESKTOP_DIR in $XDG_CONFIG_HOME/user-dirs.dirs,
// else $HOME/Desktop.
std::string desktop_dir(bool) {
  std::vector<std::string> lines;
  std::string dir;
  if (read_lines(xdg_base("XDG_CONFIG_HOME", ".config") + "/user-dirs.dirs", &lines, 64u << 10) &&
      user_dir_value(lines, "XDG_DESKTOP_DIR", &dir))
    return dir;
  return home_dir() + "/Desktop";
}

std::string native_path(const std::string& path) {
  return path;
}

int make_dir(const std::string& path, unsigned mode) {
  return ::mkdir(path.c_str(), static_cast<mode_t>(mode));
}

int link_stat(const std::string& path, struct stat* st) {
  return ::lstat(path.c_str(), st);
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::lstat(a.c_str(), &sa) == 0 && ::lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

int sync_fd(int fd) {
  return ::fsync(fd);
}

int sync_data(int fd) {
  return ::fdatasync(fd);
}

int rename_replace(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str());
}

int hard_link(const std::string& from, const std::string& to) {
  return ::link(from.c_str(), to.c_str());
}

int64_t read_at(int fd, void* buf, size_t size, uint64_t offset) {
  return ::pread(fd, buf, size, static_cast<off_t>(offset));
}

int64_t write_at(int fd, const void* buf, size_t size, uint64_t offset) {
  return ::pwrite(fd, buf, size, static_cast<off_t>(offset));
}

int read_link(const std::string& path, std::string* target) {
  char buf[4096];
  ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
  if (n < 0) return -1;
  target->assign(buf, static_cast<size_t>(n));
  return 0;
}

int make_temp_file(const std::string& prefix, std::string* path) {
  std::string pattern = temp_dir() + "/" + prefix + ".XXXXXX";
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) return -1;
  ::close(fd);
  *path = pattern;
  return 0;
}

int try_lock(const std::string& key, std::string* error) {
  uint64_t h = 1469598103934665603ull;
  for (char c : key) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char name[64];
  std::snprintf(name, sizeof name, "/tmp/qg-setup-%016llx.lock",
                static_cast<unsigned long long>(h));
  // The descriptor stays open (and the lock held) until the process ends.
  int fd = ::open(name, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) fd = ::open(name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = std::string("cannot take the installation lock ") + name + ": " + std::strerror(errno);
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
  ::close(fd);
  return 1;
}

int free_bytes(const std::string& path, uint64_t* out) {
  struct statvfs vs;
  if (::statvfs(path.c_str(), &vs) != 0) return -1;
  *out = static_cast<uint64_t>(vs.f_bavail) * vs.f_frsize;
  return 0;
}

int run_and_wait(const std::vector<std::string>& argv, const std::string& dir, int* status,
                 std::string* error) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) ::_exit(126);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  if (pid < 0) {
    *error = std::strerror(errno);
    return -1;
  }
  int ws = 0;
  while (::waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
  }
  *status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + (WIFSIGNALED(ws) ? WTERMSIG(ws) : 0);
  return 0;
}

uint32_t os_bits() {
  return 4u | (sizeof(void*) == 8 ? 8u : 0u);
}

bool is_admin() {
  return ::geteuid() == 0;
}

int run_elevated(int*, std::string* error) {
  // Installing for all users is asked of Windows only; here the installer
  // installs as whoever runs it.
  *error = "no request for the administrator's rights on this system";
  return -1;
}

int32_t log_handle(int fd) {
  return fd;
}

int arguments(int argc, char** argv, std::vector<std::string>* out, std::string*) {
  out->assign(argv + (argc > 0 ? 1 : 0), argv + argc);
  return 0;
}

void attach_console() {}

bool has_console() {
  return true;
}

void show_output(const std::string& text, bool) {
  std::fputs(text.c_str(), stdout);
}

bool progress_fd_offered() {
  return true;
}

std::string help_notes() {
  return "";
}

bool can_remove_running_program() {
  return true;
}

int remove_after_exit(const std::string&, const std::vector<std::string>&) {
  return -1;  // not needed: a running program's file can be removed here
}

bool run_helper(const std::vector<std::string>&, int*) {
  return false;
}

int64_t now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleep_ms(unsigned ms) {
  ::usleep(static_cast<useconds_t>(ms) * 1000);
}

bool local_time(time_t t, struct tm* out) {
  return localtime_r(&t, out) != nullptr;
}

bool stderr_is_terminal() {
  return ::isatty(2) != 0;
}

bool box_yes_no(const std::string&, bool, bool*) {
  return false;  // questions go to the terminal here
}

bool box_text(const std::string&, const std::string&) {
  return false;
}

bool box_line(const std::string&, const std::string&, std::string*) {
  return false;
}

bool box_secret(const std::string&, std::string*) {
  return false;
}

// No window on POSIX: the terminal shows the bar and the messages.
void window_start(const std::string&, bool) {}
void window_progress(const std::string&, uint64_t, uint64_t) {}
void window_status(const std::string&) {}
void window_finish(const std::string&, bool) {}

bool has_terminal() {
  int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool terminal_line(const std::string& question, std::string* line, bool echo) {
  int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  termios old_mode;
  bool have_mode = !echo && tcgetattr(fd, &old_mode) == 0;
  if (have_mode) {
    termios quiet_mode = old_mode;
    quiet_mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd, TCSAFLUSH, &quiet_mode);
  }
  bool ok = write_all(fd, question);
  line->clear();
  char c;
  ssize_t n = 0;
  while (ok && (n = ::read(fd, &c, 1)) == 1 && c != '\n') *line += c;
  if (have_mode) {
    tcsetattr(fd, TCSAFLUSH, &old_mode);
    write_all(fd, "\n");
  }
  ::close(fd);
  if (!ok || (n <= 0 && line->empty())) return false;  // closed terminal
  while (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

}  // namespace setup::sys
