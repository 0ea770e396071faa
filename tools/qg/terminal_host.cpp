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

// Reads one line from the terminal; false when there is none.
bool ask_line(const std::string& question, std::string* line) {
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

int32_t ask_yes_no_cancel(const std::string& text) {
  if (g_host->answer == Answer::yes) return RZ_IDYES;
  if (g_host->answer == Answer::no) return RZ_IDNO;
  std::string line;
  for (;;) {
    if (!ask_line(text + " [y]es/[n]o/[c]ancel: ", &line)) return 0;
    if (line == "y" || line == "Y" || line == "yes") return RZ_IDYES;
    if (line == "n" || line == "N" || line == "no") return RZ_IDNO;
    if (line == "c" || line == "C" || line == "cancel") return RZ_IDCANCEL;
  }
}

int32_t ask_ok_cancel(const std::string& text) {
  if (g_host->answer == Answer::yes) return RZ_IDOK;
  if (g_host->answer == Answer::no) return RZ_IDCANCEL;
  std::string line;
  if (!ask_line(text + " [Enter]=OK, c=cancel: ", &line)) return 0;
  return (line == "c" || line == "C" || line == "cancel") ? RZ_IDCANCEL : RZ_IDOK;
}

// The texts name files of the archive: shown with control characters
// escaped.
int32_t box(void*, RZ_HWND, const char* raw_text, const char* raw_caption, uint32_t style) {
  end_progress_line(g_host);
  std::string text = printable(raw_text), caption = printable(raw_caption);
  switch (style & 0xF) {
    case RZ_MB_YESNOCANCEL:
      return ask_yes_no_cancel(text);
    case RZ_MB_OKCANCEL:
      return ask_ok_cancel(text);
    default:
      std::fprintf(stderr, "qg: %s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ",
                   text.c_str());
      return RZ_IDOK;
  }
}

void beep(void*, uint32_t) {
  if (::isatty(2)) std::fputc('\a', stderr);
}

void draw_bar(const std::string& label, long pct) {
  pct = pct < 0 ? 0 : (pct > 100 ? 100 : pct);
  char bar[41];
  std::memset(bar, ' ', 40);
  std::memset(bar, '#', static_cast<size_t>(pct * 40 / 100));
  bar[40] = 0;
  std::fprintf(stderr, "\r%-32.32s [%s] %3ld%%", label.c_str(), bar, pct);
  std::fflush(stderr);
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

void draw_entry_bar(size_t done, size_t total) {
  long pct = total ? static_cast<long>(done * 100 / total) : 100;
  draw_bar(std::to_string(done) + " of " + std::to_string(total) + " entries", pct);
}

void end_progress_line(TerminalHost* host) {
  if (host && host->progress_bar) {
    std::fprintf(stderr, "\r%79s\r", "");
    std::fflush(stderr);
  }
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
