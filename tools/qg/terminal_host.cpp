#include "terminal_host.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "archive_tools.h"
#include "raziza3z.h"
#include "raziza3z_host.h"

namespace qg {

namespace {

TerminalHost* g_host = nullptr;
volatile sig_atomic_t g_cancel = 0;
uint32_t g_cancel_id = 0;
int g_window_marker = 0;  // the "window" the library reports to

// Ctrl-C, and a request to end (SIGTERM, or SIGHUP when the terminal
// goes): each cancels like the others, so that the running entry stops and
// its temporary file is removed.
constexpr int kCancelSignals[] = {SIGINT, SIGTERM, SIGHUP};

void on_interrupt(int signal_number) {
  g_cancel = 1;
  // Safe in a signal handler: the library's queue takes no lock.
  rz_host_post_message(&g_window_marker, g_cancel_id, 0, 0);
  // A second one of the same kind ends qg at once.
  signal(signal_number, SIG_DFL);
}

}  // namespace

bool ask_terminal_line(const std::string& question, std::string* line) {
  int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  if (::write(fd, question.data(), question.size()) < 0) {
    ::close(fd);
    return false;
  }
  char buf[256];
  ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return false;
  line->assign(buf, static_cast<size_t>(n));
  while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
  return true;
}

namespace {

int32_t box(void*, RZ_HWND, const char* text, const char* caption, uint32_t style) {
  return answer_box(g_host, text, caption, style);
}

void beep(void*, uint32_t) {
  if (::isatty(2)) std::fputc('\a', stderr);
}

intptr_t window_proc(void*, RZ_HWND, uint32_t message, uintptr_t, intptr_t lparam) {
  if (g_host && g_host->progress_bar && message == g_host->progress_message)
    draw_bar(g_host->label, static_cast<long>(lparam));
  return 0;
}

}  // namespace

void bind_progress_and_interrupt(uint32_t* progress_message, uint32_t* cancel_message) {
  *progress_message = rz_host_register_message("RUZI1");
  *cancel_message = rz_host_register_message("VORE2");
  g_cancel_id = *cancel_message;
  QEN_UINIT_MP(&g_window_marker);
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_interrupt;
  sigemptyset(&sa.sa_mask);
  for (int sig : kCancelSignals) sigaction(sig, &sa, nullptr);
}

void unbind_interrupt() {
  for (int sig : kCancelSignals) signal(sig, SIG_DFL);
}

void install_terminal_host(TerminalHost* host) {
  g_host = host;
  rz_host_set_message_box(box, nullptr);
  rz_host_set_beep(beep, nullptr);
  rz_host_set_window_proc(window_proc, nullptr);
  bind_progress_and_interrupt(&host->progress_message, &host->cancel_message);
}

void remove_terminal_host() {
  unbind_interrupt();
  rz_host_set_message_box(nullptr, nullptr);
  rz_host_set_beep(nullptr, nullptr);
  rz_host_set_window_proc(nullptr, nullptr);
  g_host = nullptr;
}

bool cancel_requested() {
  return g_cancel != 0;
}

bool drain_cancel_messages(const TerminalHost& host) {
  RzHostMessage m;
  bool seen = false;
  int32_t r;
  while ((r = rz_host_take_message(&m)) > 0)
    if (m.message == host.cancel_message) seen = true;
  return seen || cancel_requested();
}

bool read_password(const std::string& prompt, std::string* out) {
  int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct termios old_mode;
  bool have_mode = tcgetattr(fd, &old_mode) == 0;
  if (have_mode) {
    struct termios quiet = old_mode;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  bool ok = ::write(fd, prompt.data(), prompt.size()) >= 0;
  char buf[256];
  ssize_t n = ok ? ::read(fd, buf, sizeof buf - 1) : -1;
  if (have_mode) tcsetattr(fd, TCSAFLUSH, &old_mode);
  if (::write(fd, "\n", 1) < 0) n = -1;
  ::close(fd);
  if (n < 0) return false;
  out->assign(buf, static_cast<size_t>(n));
  while (!out->empty() && (out->back() == '\n' || out->back() == '\r')) out->pop_back();
  return true;
}

}  // namespace qg
