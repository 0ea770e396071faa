/* Drives the setup program's window the way a user would, for the Windows
 * checks (Wine's null graphics driver needs no display):
 *
 *   setup_clicker SETUP.EXE "ARGS" STEP...
 *
 * starts SETUP.EXE with ARGS and takes each STEP in turn, "HEADING|ACTION":
 * it waits (up to 20 s) for the window's page whose heading begins with
 * HEADING, then presses a button: "next" (Next, Yes, Install or Close),
 * "no", "cancel", or "folder=PATH" (types PATH into the folder box, then
 * Install).  Prints each page it saw and exits with the program's status,
 * or 90 when a page did not come. */
#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

enum { kHead = 100, kLine = 102, kNext = 106, kNo = 107, kCancel = 108 };

static DWORD g_pid;
static HWND g_found;

static BOOL CALLBACK find(HWND hwnd, LPARAM unused) {
  wchar_t cls[64];
  DWORD pid = 0;
  (void)unused;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == g_pid && GetClassNameW(hwnd, cls, 64) && wcscmp(cls, L"qg-setup-wizard") == 0) {
    g_found = hwnd;
    return FALSE;
  }
  return TRUE;
}

/* The window and its heading once the heading begins with want. */
static HWND wait_page(const char* want, char* head, size_t size) {
  for (int tries = 0; tries < 200; ++tries) {
    g_found = NULL;
    EnumWindows(find, 0);
    if (g_found) {
      HWND h = GetDlgItem(g_found, kHead);
      head[0] = 0;
      if (h) SendMessageA(h, WM_GETTEXT, (WPARAM)size, (LPARAM)head);
      if (strncmp(head, want, strlen(want)) == 0) return g_found;
    }
    Sleep(100);
  }
  return NULL;
}

static void press(HWND w, int id) {
  PostMessageA(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(w, id));
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: setup_clicker SETUP.EXE ARGS STEP...\n");
    return 2;
  }
  char line[4096];
  snprintf(line, sizeof line, "\"%s\" %s", argv[1], argv[2]);
  STARTUPINFOA si;
  PROCESS_INFORMATION pi;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
    fprintf(stderr, "clicker: cannot start %s (%lu)\n", argv[1], GetLastError());
    return 2;
  }
  g_pid = pi.dwProcessId;
  for (int i = 3; i < argc; ++i) {
    char want[512], head[512];
    const char* bar = strchr(argv[i], '|');
    if (!bar) return 2;
    snprintf(want, sizeof want, "%.*s", (int)(bar - argv[i]), argv[i]);
    const char* action = bar + 1;
    HWND w = wait_page(want, head, sizeof head);
    if (!w) {
      fprintf(stderr, "clicker: no page \"%s\" (last heading \"%s\")\n", want, head);
      TerminateProcess(pi.hProcess, 99);
      return 90;
    }
    printf("clicker: page \"%s\": %s\n", head, action);
    fflush(stdout);
    if (strncmp(action, "folder=", 7) == 0) {
      SendMessageA(GetDlgItem(w, kLine), WM_SETTEXT, 0, (LPARAM)(action + 7));
      press(w, kNext);
    } else {
      press(w, strcmp(action, "no") == 0 ? kNo : strcmp(action, "cancel") == 0 ? kCancel : kNext);
    }
  }
  DWORD code = 0;
  if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 99);
    fprintf(stderr, "clicker: the program did not end\n");
    return 90;
  }
  GetExitCodeProcess(pi.hProcess, &code);
  printf("clicker: exit status %lu\n", code);
  return (int)code;
}
