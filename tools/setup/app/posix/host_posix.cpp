#include "../host.h"

#include <signal.h>

#include <cstring>

#include "raziza3z.h"
#include "raziza3z_host.h"
#include "../ui.h"

namespace setup {

namespace {

// The process-wide records a signal handler and the library's callbacks
// need: the library calls back without a context of ours.
struct HostState {
  Ui* ui = nullptr;
  uint32_t progress_id = 0, cancel_id = 0;
  uint64_t base = 0, size = 0;
};
HostState g_state;
volatile sig_atomic_t g_cancel = 0;
int g_window = 0;  // the "window" the library reports to

void on_signal(int) {
  g_cancel = 1;
  // Safe here: the library's queue takes no lock and allocates nothing.
  rz_host_post_message(&g_window, g_state.cancel_id, 0, 0);
}

int32_t box(void*, RZ_HWND, const char* text, const char* caption, uint32_t style) {
  Ui* ui = g_state.ui;
  if ((style & 0xF) == RZ_MB_OK) {
    if (ui) ui->error(std::string(caption) + (*caption ? ": " : "") + shown(text));
    return RZ_IDOK;
  }
  // The setup program prepares every folder and backs up every file itself,
  // so the library has nothing left to ask; an unexpected question stops
  // the installation rather than guessing.
  if (ui) ui->error("unexpected question from the library: " + shown(text));
  return RZ_IDCANCEL;
}

intptr_t window_proc(void*, RZ_HWND, uint32_t message, uintptr_t, intptr_t lparam) {
  if (g_state.ui && message == g_state.progress_id) {
    uint64_t pct = lparam < 0 ? 0 : lparam > 100 ? 100 : static_cast<uint64_t>(lparam);
    g_state.ui->progress(g_state.base + g_state.size * pct / 100);
  }
  return 0;
}

}  // namespace

void host_start(Ui* ui) {
  g_state.ui = ui;
  g_state.progress_id = rz_host_register_message("RUZI1");
  g_state.cancel_id = rz_host_register_message("VORE2");
  rz_host_set_message_box(box, nullptr);
  rz_host_set_window_proc(window_proc, nullptr);
  QEN_UINIT_MP(&g_window);
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
}

void host_stop() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGHUP, SIG_DFL);
  rz_host_set_message_box(nullptr, nullptr);
  rz_host_set_window_proc(nullptr, nullptr);
  g_state.ui = nullptr;
}

void host_cancel() {
  on_signal(0);
}

bool cancel_requested() {
  return g_cancel != 0;
}

bool drain_cancel() {
  RzHostMessage m;
  bool seen = false;
  int32_t r;
  while ((r = rz_host_take_message(&m)) >= 0) {
    if (r == 0 || m.message == g_state.cancel_id) seen = true;
    if (r == 0) break;
  }
  return seen || g_cancel != 0;
}

void host_set_entry(uint64_t base, uint64_t size) {
  g_state.base = base;
  g_state.size = size;
}

}  // namespace setup
