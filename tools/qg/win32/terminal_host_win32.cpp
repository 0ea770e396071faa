// qg as a host of the library in a Windows console: the library's boxes
// become questions on the console, progress becomes a bar drawn by a
// message-only window that receives "RUZI1", and Ctrl-C (a console control
// event, which arrives on a thread of its own) posts "VORE2" to that window,
// where the library's message pump finds it.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <io.h>

#include "archive_tools.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "terminal_host.h"

namespace qg {

namespace {

TerminalHost* g_host = nullptr;
std::atomic<int> g_cancel{0};
UINT g_cancel_id = 0, g_progress_id = 0;
HWND g_window = nullptr;
void (*g_listener)(intptr_t) = nullptr;

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == g_progress_id && g_progress_id != 0) {
    if (g_listener)
      g_listener(lparam);
    else if (g_host && g_host->progress_bar)
      draw_bar(g_host->label, static_cast<long>(lparam));
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

// The first Ctrl-C, Ctrl-Break or close cancels like a posted "VORE2"; a
// second one gets the default handling, which ends qg at once.
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  if (g_cancel.exchange(1) != 0) return FALSE;
  if (g_window) PostMessageA(g_window, g_cancel_id, 0, 0);
  return TRUE;
}

// The message-only window the library reports to.  Returns 0 or 1.
int make_window() {
  if (g_window) return 0;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = window_proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "qg-progress";
  if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return 1;
  g_window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             wc.hInstance, nullptr);
  return g_window ? 0 : 1;
}

// Reads one line from the console (not from a redirected standard input);
// false when there is none.
bool ask_line(const std::string& question, std::string* line, bool echo = true) {
  HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  HANDLE out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD mode = 0, n = 0;
  bool have_mode = GetConsoleMode(in, &mode) != 0;
  if (have_mode && !echo) SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  if (out != INVALID_HANDLE_VALUE)
    WriteFile(out, question.data(), static_cast<DWORD>(question.size()), &n, nullptr);
  char buf[256];
  BOOL ok = ReadFile(in, buf, sizeof buf - 1, &n, nullptr);
  if (have_mode && !echo) {
    SetConsoleMode(in, mode);
    DWORD w = 0;
    if (out != INVALID_HANDLE_VALUE) WriteFile(out, "\r\n", 2, &w, nullptr);
  }
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  CloseHandle(in);
  if (!ok || n == 0) return false;
  line->assign(buf, n);
  while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
  return true;
}

int32_t box(void*, RZ_HWND, const char* text, const char* caption, uint32_t style) {
  return answer_box(g_host, text, caption, style);
}

void beep(void*, uint32_t) {
  if (_isatty(2)) std::fputc('\a', stderr);
}

}  // namespace

void bind_progress_and_interrupt(uint32_t* progress_message, uint32_t* cancel_message) {
  g_progress_id = RegisterWindowMessageA("RUZI1");
  g_cancel_id = RegisterWindowMessageA("VORE2");
  *progress_message = g_progress_id;
  *cancel_message = g_cancel_id;
  // Without the window the library still works; it then reports no
  // progress and Ctrl-C ends qg as by default.
  if (make_window() == 0) QEN_UINIT_MP(g_window);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

void unbind_interrupt() {
  SetConsoleCtrlHandler(on_console_event, FALSE);
}

void set_progress_listener(void (*listener)(intptr_t percentage)) {
  g_listener = listener;
}

void install_terminal_host(TerminalHost* host) {
  g_host = host;
  rz_host_set_message_box(box, nullptr);
  rz_host_set_beep(beep, nullptr);
  bind_progress_and_interrupt(&host->progress_message, &host->cancel_message);
}

void remove_terminal_host() {
  unbind_interrupt();
  rz_host_set_message_box(nullptr, nullptr);
  rz_host_set_beep(nullptr, nullptr);
  g_host = nullptr;
}

bool cancel_requested() {
  return g_cancel.load() != 0;
}

bool drain_cancel_messages(const TerminalHost& host) {
  MSG m;
  bool seen = false;
  while (g_window &&
         PeekMessageA(&m, g_window, host.cancel_message, host.cancel_message, PM_REMOVE))
    seen = true;
  return seen || cancel_requested();
}

bool ask_terminal_line(const std::string& question, std::string* line) {
  return ask_line(question, line, true);
}

bool read_password(const std::string& prompt, std::string* out) {
  return ask_line(prompt, out, false);
}

}  // namespace qg
