// The setup program as the library's host on Windows: a message-only window
// receives the library's progress notifications ("RUZI1"), the console's
// Ctrl-C and Ctrl-Break post the cancel message ("VORE2") to the thread the
// library runs on, and the library's message boxes are answered here
// without being shown, so an unattended run never waits on a hidden box.
#include <windows.h>

#include "../host.h"
#include "../ui.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "wizard.h"

namespace setup {

namespace {

// The records the window procedure and the console handler need: neither
// gets a context of ours.
struct HostState {
  Ui* ui = nullptr;
  UINT progress_id = 0, cancel_id = 0;
  uint64_t base = 0, size = 0;
  HWND window = nullptr;
  DWORD thread = 0;
};
HostState g_state;
volatile LONG g_cancel = 0;

BOOL WINAPI on_console(DWORD) {
  InterlockedExchange(&g_cancel, 1);
  PostThreadMessageW(g_state.thread, g_state.cancel_id, 0, 0);
  return TRUE;
}

int32_t box(void*, RZ_HWND, const char* text, const char* caption, uint32_t style) {
  Ui* ui = g_state.ui;
  // With the window up and someone to answer, the library's box is shown
  // as the library asks for it (its text, caption and buttons), over the
  // window; an unattended run never shows one.
  if (ui && !ui->silent() && wizard::active()) {
    int answer = 0;
    ui->log(std::string(caption) + (*caption ? ": " : "") + shown(text));
    if (wizard::library_box(text, caption, style, &answer)) return answer;
  }
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

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (g_state.ui && message == g_state.progress_id && g_state.progress_id) {
    uint64_t pct = lparam < 0 ? 0 : lparam > 100 ? 100 : static_cast<uint64_t>(lparam);
    g_state.ui->progress(g_state.base + g_state.size * pct / 100);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

HWND make_window() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = window_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"qg-setup-progress";
  RegisterClassW(&wc);
  return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         wc.hInstance, nullptr);
}

}  // namespace

void host_start(Ui* ui) {
  // No system box either (a drive without a disk, a crash report): an
  // unattended run must never wait on one.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
  g_state.ui = ui;
  g_state.thread = GetCurrentThreadId();
  g_state.progress_id = RegisterWindowMessageA("RUZI1");
  g_state.cancel_id = RegisterWindowMessageA("VORE2");
  rz_host_set_message_box(box, nullptr);
  g_state.window = make_window();
  QEN_UINIT_MP(g_state.window);
  SetConsoleCtrlHandler(on_console, TRUE);
}

void host_stop() {
  SetConsoleCtrlHandler(on_console, FALSE);
  rz_host_set_message_box(nullptr, nullptr);
  if (g_state.window) DestroyWindow(g_state.window);
  g_state.window = nullptr;
  g_state.ui = nullptr;
}

void host_cancel() {
  on_console(0);
}

bool cancel_requested() {
  return g_cancel != 0;
}

bool drain_cancel() {
  MSG m;
  bool seen = false;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT || (m.message == g_state.cancel_id && g_state.cancel_id)) {
      seen = true;
      continue;
    }
    DispatchMessageW(&m);
  }
  return seen || g_cancel != 0;
}

void host_set_entry(uint64_t base, uint64_t size) {
  g_state.base = base;
  g_state.size = size;
}

}  // namespace setup
