/* Drives the setup program's window the way a user would, for the Windows
 * checks (Wine's null graphics driver needs no display):
 *
 *   setup_clicker SETUP.EXE "ARGS" STEP...
 *
 * starts SETUP.EXE with ARGS and takes each STEP in turn, "HEADING|ACTION":
 * it waits (up to 20 s) for the window's page whose heading begins with
 * HEADING, then presses a button: "next" (Next, Yes, Install or Close),
 * "no", "cancel", "folder=PATH" (types PATH into the folder box, then
 * Install) or "password=TEXT" (types TEXT into the password box, then OK);
 * or "pause=MS" waits, "shot" only takes a picture.  Prints each page it saw and exits with the
 * program's status, or 90 when a page did not come.
 *
 * With CLICKER_SHOTS=DIR it saves a picture of the window (drawn by the
 * window itself, so no display is needed) as DIR\NN.bmp before each step's
 * button; with CLICKER_DETACHED=1 the program gets no console to print to. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

enum { kHead = 100, kLine = 102, kNext = 106, kNo = 107, kCancel = 108, kSecret = 109 };

static DWORD g_pid;
static HWND g_found;
static int g_shots;

/* Saves what the screen shows of the window as a 24-bit BMP: 0, or -1.
 * (Another process's window cannot draw into this one's bitmap under Wine,
 * so the picture is read from the screen.) */
static int save_shot(HWND w, const char* path) {
  RECT r;
  if (!GetWindowRect(w, &r)) return -1;
  int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(NULL);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi;
  memset(&bi, 0, sizeof bi);
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = NULL;
  HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
  int ok = -1;
  if (bmp && bits) {
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    DWORD row = (DWORD)((width * 3 + 3) & ~3), image = row * (DWORD)height;
    BITMAPFILEHEADER fh;
    memset(&fh, 0, sizeof fh);
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + image;
    FILE* f = fopen(path, "wb");
    if (f) {
      ok = fwrite(&fh, sizeof fh, 1, f) == 1 &&
                   fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
                   fwrite(bits, 1, image, f) == image
               ? 0
               : -1;
      if (fclose(f) != 0) ok = -1;
    }
    SelectObject(mem, old);
  }
  if (bmp) DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(NULL, screen);
  return ok;
}

static void maybe_shot(HWND w) {
  const char* dir = getenv("CLICKER_SHOTS");
  if (!dir || !*dir) return;
  char path[1024];
  snprintf(path, sizeof path, "%s\\%02d.bmp", dir, ++g_shots);
  /* Drawn and on top before the picture is taken. */
  SetForegroundWindow(w);
  RedrawWindow(w, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  if (save_shot(w, path) != 0)
    fprintf(stderr, "clicker: cannot save %s\n", path);
  else
    printf("clicker: picture %s\n", path);
}

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
  const char* detached = getenv("CLICKER_DETACHED");
  DWORD flags = 0;
  if (detached && *detached == '1') {
    /* As Explorer starts it: no console and no standard handles. */
    flags = DETACHED_PROCESS;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = NULL;
  }
  if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, flags, NULL, NULL, &si, &pi)) {
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
    if (strncmp(action, "pause=", 6) == 0) {
      Sleep((DWORD)atoi(action + 6));
      continue;
    }
    if (strcmp(action, "shot") == 0) {
      maybe_shot(w);
      continue;
    }
    if (strncmp(action, "folder=", 7) == 0 || strncmp(action, "password=", 9) == 0) {
      int folder = action[0] == 'f';
      SendMessageA(GetDlgItem(w, folder ? kLine : kSecret), WM_SETTEXT, 0,
                   (LPARAM)(action + (folder ? 7 : 9)));
    }
    maybe_shot(w);
    if (strncmp(action, "folder=", 7) == 0 || strncmp(action, "password=", 9) == 0) {
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
