#include "wizard.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cwchar>

#include "../host.h"
#include "../ui.h"
#include "win_text.h"

namespace setup::wizard {

namespace {

enum Control : int {
  kHead = 100,
  kText,
  kLine,
  kBrowse,
  kBar,
  kStatus,
  kNext,
  kNo,
  kCancel,
  kSecret,
  kOutput,
};

// The one window of the process and the answer its buttons gave.
struct Window {
  HWND hwnd = nullptr;
  bool questions = false;
  int answer = 0;  // the button that ended the page's wait (0: none yet)
  bool progress_page = false;
  int dpi = 96;
  HFONT font = nullptr;
  std::string count_text;  // the progress page's byte count as shown
};
Window g_win;

int px(int v) {
  return MulDiv(v, g_win.dpi, 96);
}

HWND item(int id) {
  return GetDlgItem(g_win.hwnd, id);
}

void show(int id, bool visible) {
  ShowWindow(item(id), visible ? SW_SHOW : SW_HIDE);
}

void set_text(int id, const std::string& text) {
  // Edit controls break lines at CR LF only.
  std::wstring w;
  for (wchar_t c : wide(text)) {
    if (c == L'\n' && (w.empty() || w.back() != L'\r')) w += L'\r';
    w += c;
  }
  SetWindowTextW(item(id), w.c_str());
}

// Shows one page: which controls, and the buttons' labels ("" hides one).
void page(const std::string& head, bool text, bool line, bool bar, const char* next, const char* no,
          const char* cancel, bool secret = false) {
  set_text(kHead, head);
  show(kText, text);
  show(kLine, line);
  show(kSecret, secret);
  show(kOutput, false);
  show(kBrowse, line);
  show(kBar, bar);
  show(kStatus, bar);
  const struct {
    int id;
    const char* label;
  } buttons[] = {{kNext, next}, {kNo, no}, {kCancel, cancel}};
  for (const auto& b : buttons) {
    show(b.id, *b.label != 0);
    if (*b.label) set_text(b.id, b.label);
  }
  EnableWindow(item(kCancel), TRUE);
  g_win.progress_page = bar;
  g_win.answer = 0;
  ShowWindow(g_win.hwnd, SW_SHOW);
  UpdateWindow(g_win.hwnd);
}

// Runs the window's messages until a button ends the page: its id.
// Cancel on a question page cancels the installation (exit status 12),
// not merely that question.
int wait_answer() {
  MSG m;
  while (g_win.answer == 0 && GetMessageW(&m, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(g_win.hwnd, &m)) continue;
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  int answer = g_win.answer ? g_win.answer : kCancel;
  if (answer == kCancel) host_cancel();
  return answer;
}

// The text of an edit control, whole.
std::string text_of(int id) {
  int n = GetWindowTextLengthW(item(id));
  std::wstring buf(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(item(id), buf.data(), n + 1);
  buf.resize(static_cast<size_t>(n));
  return utf8(buf.c_str());
}

void browse() {
  BROWSEINFOW bi{};
  bi.hwndOwner = g_win.hwnd;
  bi.lpszTitle = L"Install into";
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  LPITEMIDLIST chosen = SHBrowseForFolderW(&bi);
  if (!chosen) return;
  wchar_t path[MAX_PATH];
  if (SHGetPathFromIDListW(chosen, path)) SetWindowTextW(item(kLine), path);
  CoTaskMemFree(chosen);
}

LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      int id = LOWORD(wparam);
      if (id == kBrowse) {
        browse();
        return 0;
      }
      if (id == IDCANCEL) id = kCancel;  // Escape
      if (id == IDOK) id = kNext;        // Enter
      if (id != kNext && id != kNo && id != kCancel) break;
      if (g_win.progress_page && id == kCancel) {
        // The library sees the cancel message in this thread's queue and
        // stops the entry it is extracting; the rollback follows.
        EnableWindow(item(kCancel), FALSE);
        set_text(kStatus, "Cancelling...");
        host_cancel();
        return 0;
      }
      g_win.answer = id;
      return 0;
    }
    case WM_CLOSE:
      if (g_win.progress_page) {
        host_cancel();
      } else {
        g_win.answer = kCancel;
      }
      return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

HWND control(const wchar_t* cls, DWORD style, int id, int x, int y, int w, int h) {
  bool edit = std::wcscmp(cls, WC_EDITW) == 0;
  HWND c = CreateWindowExW(edit ? WS_EX_CLIENTEDGE : 0, cls, L"", WS_CHILD | WS_TABSTOP | style,
                           px(x), px(y), px(w), px(h), g_win.hwnd,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
  SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(g_win.font), TRUE);
  return c;
}

}  // namespace

void start(const std::string& title, bool questions) {
  if (g_win.hwnd) return;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HDC screen = GetDC(nullptr);
  g_win.dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof ncm;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
  g_win.font = CreateFontIndirectW(&ncm.lfMessageFont);
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"qg-setup-wizard";
  RegisterClassW(&wc);
  RECT r = {0, 0, px(520), px(360)};
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  AdjustWindowRect(&r, style, FALSE);
  g_win.hwnd = CreateWindowExW(WS_EX_CONTROLPARENT, wc.lpszClassName,
                               wide(title.empty() ? "Setup" : title + " Setup").c_str(), style,
                               CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left, r.bottom - r.top,
                               nullptr, nullptr, wc.hInstance, nullptr);
  if (!g_win.hwnd) return;
  g_win.questions = questions;
  control(L"STATIC", WS_VISIBLE, kHead, 16, 12, 488, 36);
  control(WC_EDITW, ES_MULTILINE | ES_READONLY | WS_VSCROLL | ES_AUTOVSCROLL, kText, 16, 52, 488,
          240);
  control(WC_EDITW, ES_AUTOHSCROLL, kLine, 16, 60, 390, 24);
  control(L"BUTTON", BS_PUSHBUTTON, kBrowse, 414, 60, 90, 24);
  control(WC_EDITW, ES_AUTOHSCROLL | ES_PASSWORD, kSecret, 16, 60, 488, 24);
  // Program output keeps its columns: a fixed font, no wrapping.
  control(WC_EDITW, ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_HSCROLL | ES_AUTOHSCROLL, kOutput,
          16, 52, 488, 254);
  SendMessageW(item(kOutput), WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)),
               TRUE);
  set_text(kBrowse, "Browse...");
  control(PROGRESS_CLASSW, 0, kBar, 16, 70, 488, 22);
  SendMessageW(item(kBar), PBM_SETRANGE32, 0, 1000);
  control(L"STATIC", 0, kStatus, 16, 100, 488, 60);
  control(L"BUTTON", BS_DEFPUSHBUTTON, kNext, 232, 318, 86, 28);
  control(L"BUTTON", BS_PUSHBUTTON, kNo, 324, 318, 86, 28);
  control(L"BUTTON", BS_PUSHBUTTON, kCancel, 418, 318, 86, 28);
  page(title, false, false, true, "", "", "Cancel");
}

bool active() {
  return g_win.hwnd != nullptr;
}

bool yes_no(const std::string& question, bool default_yes, bool* yes) {
  if (!g_win.hwnd || !g_win.questions) return false;
  page(question, false, false, false, "Yes", "No", "Cancel");
  SetFocus(item(default_yes ? kNext : kNo));
  int a = wait_answer();
  if (a == kCancel) return false;
  *yes = a == kNext;
  return true;
}

bool text_page(const std::string& title, const std::string& text) {
  if (!g_win.hwnd || !g_win.questions) return false;
  page(title, true, false, false, "Next >", "", "Cancel");
  set_text(kText, text);
  return wait_answer() == kNext;
}

bool folder_page(const std::string& question, const std::string& preset, std::string* out) {
  if (!g_win.hwnd || !g_win.questions) return false;
  page(question, false, true, false, "Install", "", "Cancel");
  set_text(kLine, preset);
  if (wait_answer() != kNext) return false;
  *out = text_of(kLine);
  return !out->empty();
}

bool secret_page(const std::string& question, std::string* out) {
  if (!g_win.hwnd || !g_win.questions) return false;
  bool progress_was = g_win.progress_page;
  page(question, false, false, false, "OK", "", "Cancel", true);
  SetWindowTextW(item(kSecret), L"");
  SetFocus(item(kSecret));
  int answer = wait_answer();
  *out = text_of(kSecret);
  SetWindowTextW(item(kSecret), L"");  // not kept in the window once read
  // Asked during the extraction: its page comes back.
  if (progress_was) page("Installing...", false, false, true, "", "", "Cancel");
  return answer == kNext;
}

bool library_box(const char* text, const char* caption, uint32_t style, int* answer) {
  if (!g_win.hwnd) return false;
  // Owned by the window, so it stays above it and the window waits.
  int r = MessageBoxW(g_win.hwnd, wide(text).c_str(), wide(caption).c_str(),
                      (style & ~static_cast<uint32_t>(MB_TASKMODAL)) | MB_SETFOREGROUND);
  if (r == 0) return false;
  *answer = r;
  return true;
}

bool output_page(const std::string& text) {
  start("", true);
  if (!g_win.hwnd) return false;
  size_t eol = text.find('\n');
  page(text.substr(0, eol), false, false, false, "OK", "", "");
  show(kOutput, true);
  set_text(kOutput, text);
  SetFocus(item(kNext));
  wait_answer();
  DestroyWindow(g_win.hwnd);
  g_win.hwnd = nullptr;
  if (g_win.font) DeleteObject(g_win.font);
  g_win.font = nullptr;
  return true;
}

void progress(const std::string& stage, uint64_t done, uint64_t total) {
  if (!g_win.hwnd) return;
  if (!g_win.progress_page) page("Installing...", false, false, true, "", "", "Cancel");
  uint64_t permille = total ? (done > total ? 1000 : done * 1000 / total) : 1000;
  SendMessageW(item(kBar), PBM_SETPOS, static_cast<WPARAM>(permille), 0);
  static const struct {
    const char* stage;
    const char* text;
  } names[] = {{"verify", "Checking the installer..."},
               {"extract", "Installing the files..."},
               {"download", "Downloading..."}};
  for (const auto& n : names)
    if (stage == n.stage) set_text(kHead, n.text);
  // How far, in bytes, under the bar (set only when it changes: no flicker).
  std::string count =
      human_bytes(static_cast<double>(done)) + " of " + human_bytes(static_cast<double>(total));
  if (count != g_win.count_text) {
    g_win.count_text = count;
    set_text(kStatus, count);
  }
  UpdateWindow(g_win.hwnd);
}

void status(const std::string& text) {
  if (!g_win.hwnd) return;
  set_text(kStatus, text);
  UpdateWindow(item(kStatus));
}

void finish(const std::string& text, bool wait) {
  if (!g_win.hwnd) return;
  page(text, false, false, false, wait ? "Close" : "", "", "");
  if (wait) wait_answer();
  DestroyWindow(g_win.hwnd);
  g_win.hwnd = nullptr;
  if (g_win.font) DeleteObject(g_win.font);
  g_win.font = nullptr;
}

}  // namespace setup::wizard
