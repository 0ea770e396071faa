/*
 * A small Windows host that drives raziza3z.dll as a setup program would:
 * it binds a message-only window to the progress channel, walks the archive
 * with QEN_NEXTLOOP and extracts each entry with QEN_UNPACK into the
 * destination, keeping the entries' directories.
 *
 *   rz_host_extract ARCHIVE DESTINATION [PASSWORD]
 *
 * Prints one line per entry and a summary line; exit status 0 when every
 * entry was extracted.  Built against the import library, as a C program,
 * with the exports declared __stdcall on 32-bit Windows by raziza3z.h.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "raziza3z.h"
#include "raziza3z_host.h"

static UINT g_progress_message;
static unsigned g_progress_seen;

static LRESULT CALLBACK progress_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != 0 && message == g_progress_message && wparam == 1) {
    ++g_progress_seen;
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

static HWND make_progress_window(void) {
  WNDCLASSA wc;
  memset(&wc, 0, sizeof wc);
  wc.lpfnWndProc = progress_proc;
  wc.hInstance = GetModuleHandleA(NULL);
  wc.lpszClassName = "rz_host_extract";
  if (!RegisterClassA(&wc)) return NULL;
  return CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance,
                         NULL);
}

#if defined(_WIN64)
/* The 64-bit DLL lets the host answer the boxes; nothing here should ask,
 * so any box is reported and answered Cancel/No rather than waiting. */
static int32_t answer_box(void* user, RZ_HWND owner, const char* text, const char* caption,
                          uint32_t style) {
  (void)user;
  (void)owner;
  fprintf(stderr, "box: [%s] %s (style 0x%x)\n", caption, text, (unsigned)style);
  return (style & 0xF) == RZ_MB_OK         ? RZ_IDOK
         : (style & 0xF) == RZ_MB_OKCANCEL ? RZ_IDCANCEL
                                           : RZ_IDNO;
}
#endif

int main(int argc, char** argv) {
  char path[256];
  char spare[4];
  EntryInfo info;
  HWND window;
  unsigned extracted = 0, failed = 0;
  int32_t r;
  if (argc < 3 || argc > 4 || strlen(argv[1]) > 255) {
    fprintf(stderr, "usage: rz_host_extract ARCHIVE DESTINATION [PASSWORD]\n");
    return 2;
  }
#if defined(_WIN64)
  rz_host_set_message_box(answer_box, NULL);
#endif
  window = make_progress_window();
  g_progress_message = RegisterWindowMessageA("RUZI1");
  if (!window || QEN_UINIT_MP(window) != 0) {
    fprintf(stderr, "cannot bind the progress window\n");
    return 3;
  }
  if (argc == 4) QEN_DECRYPTKEY(argv[3]);
  QEN_RESETDLL();
  UDF1(0, 2961);
  strcpy(path, argv[1]);
  for (;;) {
    r = QEN_NEXTLOOP(path, 0, &info);
    if (r == 1) break;
    if (r != 0) {
      fprintf(stderr, "QEN_NEXTLOOP: %d\n", (int)r);
      return 4;
    }
    spare[0] = 0;
    r = QEN_UNPACK(info.name, spare, path, argv[2],
                   UNPACK_USE_DIRECTORY | UNPACK_NO_PATH_PROMPT | UNPACK_QUIET | UNPACK_PROGRESS);
    printf("%-6d %10lu %08lx %s%s%s\n", (int)r, (unsigned long)info.header.unpacked_size,
           (unsigned long)info.header.crc32, info.directory, info.directory[0] ? "\\" : "",
           info.name);
    if (r == 0)
      ++extracted;
    else
      ++failed;
  }
  QEN_RESETDLL();
  DestroyWindow(window);
  printf("host: %u extracted, %u failed, %u progress notifications\n", extracted, failed,
         g_progress_seen);
  return failed == 0 && extracted > 0 ? 0 : 1;
}
