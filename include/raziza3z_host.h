/*
 * raziza3z host side for platforms without Windows' user interface services.
 *
 * On Windows a host gives the library a window and a message queue; here the
 * host registers callbacks and fills the library's message queue, which the
 * thread that calls the exports drains.
 */
#ifndef RAZIZA3Z_HOST_H
#define RAZIZA3Z_HOST_H

#include <stdint.h>

#include "raziza3z.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Message boxes, the beep and window messages -------------------- */

/* The message-box and beep callbacks serve on Windows too, where a host may
 * answer the library's boxes itself; there, without a callback, the real
 * MessageBoxA and MessageBeep run.  Window messages and the queue below are
 * the POSIX stand-in for the Windows message queue. */

/* Answers of a message box. */
#define RZ_IDOK 1
#define RZ_IDCANCEL 2
#define RZ_IDYES 6
#define RZ_IDNO 7

/* Style bits of the library's boxes (the values of the Windows MB_ flags):
 * error boxes are RZ_MB_OK | RZ_MB_ICONHAND | RZ_MB_TASKMODAL, the Create
 * Path and replace prompts RZ_MB_YESNOCANCEL | RZ_MB_ICONQUESTION |
 * RZ_MB_TASKMODAL, the disk prompt RZ_MB_OKCANCEL | RZ_MB_ICONHAND |
 * RZ_MB_TASKMODAL. */
#define RZ_MB_OK 0x0
#define RZ_MB_OKCANCEL 0x1
#define RZ_MB_YESNOCANCEL 0x3
#define RZ_MB_ICONHAND 0x10
#define RZ_MB_ICONQUESTION 0x20
#define RZ_MB_TASKMODAL 0x2000

#if !defined(_WIN32)
/* The quit message, as rz_host_take_message hands it out. */
#define RZ_WM_QUIT 0x0012
#endif

/* Ask the user.  Called on the thread running the export, which waits for
 * the answer.  owner is the window the host gave QEN_UINIT_MP (null after a
 * QEN_UNPACK without its progress option).  Return RZ_IDOK, RZ_IDCANCEL,
 * RZ_IDYES or RZ_IDNO, or 0 when the question cannot be asked: the library
 * then takes the default of the box (below). */
typedef int32_t (*RzMessageBoxFn)(void* user, RZ_HWND owner, const char* text, const char* caption,
                                  uint32_t style);

/* Sound the alert of the given kind (1 before the first disk prompt). */
typedef void (*RzBeepFn)(void* user, uint32_t type);

#if !defined(_WIN32)

/* The host's window procedure.  It receives the progress notification
 * ("RUZI1", wparam 1, lparam the percentage), sent synchronously while an
 * extraction or download runs, and every posted message that the library's
 * queue dispatches to a window (the cancel message included).  Messages for
 * a null window are not delivered, as on Windows. */
typedef intptr_t (*RzWindowProcFn)(void* user, RZ_HWND window, uint32_t message, uintptr_t wparam,
                                   intptr_t lparam);
#endif /* !_WIN32 */

/* Install a callback with the pointer handed back to it; a null function
 * removes it.  Install them before calling the exports.
 *
 * On POSIX, without a message-box callback every box takes its default: error boxes
 * are not shown; the Create Path prompt answers Yes (the directory is
 * created); the replace prompt answers No (the existing file is kept, the
 * extraction returns -22); the disk prompt answers Cancel (the extraction
 * returns -30).  Without a beep callback there is no sound; without a window
 * procedure notifications and dispatched messages go nowhere. */
RZ_API void rz_host_set_message_box(RzMessageBoxFn fn, void* user);
RZ_API void rz_host_set_beep(RzBeepFn fn, void* user);
#if !defined(_WIN32)
RZ_API void rz_host_set_window_proc(RzWindowProcFn fn, void* user);

/* Register a message name: the same id for the same name (compared without
 * regard to ASCII case), ids from 0xC000 to 0xFFFF.  0 for a null or empty
 * name, a name longer than 255 characters, or when every id is taken.  It
 * takes a lock: register up front, not from a signal handler.  The library
 * registers "RUZI1" (progress) and "VORE2" (cancel) in QEN_UINIT_MP. */
RZ_API uint32_t rz_host_register_message(const char* name);

/* One posted message. */
typedef struct RzHostMessage {
  RZ_HWND window;
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
} RzHostMessage;

/* Post a message to the library's queue, which the running extraction or
 * download drains (the thread that calls the exports owns it).  Safe from
 * any thread and from a signal handler: no allocation, no lock.  Returns 1,
 * or 0 when the queue is full (it holds 1024 messages).  Posting the
 * registered "VORE2" cancels the running operation. */
RZ_API int32_t rz_host_post_message(RZ_HWND window, uint32_t message, uintptr_t wparam,
                                    intptr_t lparam);

/* Ask the running operation to stop, and the host's own loop to end, with
 * this exit code (PostQuitMessage).  Safe from any thread and from a signal
 * handler.  The quit is handed out once no posted message is waiting; a
 * second quit before it is taken replaces the exit code. */
RZ_API void rz_host_post_quit(int32_t exit_code);

/* The host's own loop: take the next waiting message without blocking.
 * Returns 1 with a message in *out; 0 with the quit in *out (message
 * RZ_WM_QUIT, wparam the exit code), which stays taken; -1 when nothing is
 * waiting.  out may be null to discard the message.  The library re-posts a
 * quit that it takes while draining, so the host still sees it here. */
RZ_API int32_t rz_host_take_message(RzHostMessage* out);

#endif /* !_WIN32 */

/* ---- HTTP download -------------------------------------------------- */

/* The header log, an INI file with one entry per response header line in
 * the section "result" (GETHTTP with log_headers).  A null or empty path
 * restores the default: "didereva.txt" in the current directory, or
 * "c:\didereva.txt" on Windows.  Returns
 * 0, or -1 (nothing changed) for a path of 4096 characters or more.  Set it
 * between downloads, not during one. */
RZ_API int32_t rz_host_set_header_log(const char* path);
RZ_API const char* rz_host_header_log(void);

/* How long GETHTTP waits for the next byte, in milliseconds, before it ends
 * with GETHTTP_RECEIVE_FAILED; 0 restores the default of 60000. */
RZ_API void rz_host_set_stall_time(uint32_t milliseconds);
RZ_API uint32_t rz_host_stall_time(void);

/* ---- Registry store ------------------------------------------------- */

#if !defined(_WIN32)

/* The registry that WRITEREG, GETREG and REGTLB use is a text file in the
 * registry editor's REGEDIT4 export format.  It is the file named here; with
 * a null or empty path, the file named by the environment variable
 * RAZIZA3Z_REGISTRY; without it, $XDG_DATA_HOME/raziza3z/registry.reg
 * ($XDG_DATA_HOME defaults to $HOME/.local/share).  Missing folders are
 * created on the first write.  Returns 0, or -1 when out of memory.  Set it
 * before the script services run, not during one. */
RZ_API int32_t rz_host_set_registry_file(const char* path);

/* Value types of the store (the Windows REG_ numbers). */
#define RZ_REG_NONE 0
#define RZ_REG_SZ 1
#define RZ_REG_EXPAND_SZ 2
#define RZ_REG_BINARY 3
#define RZ_REG_DWORD 4
#define RZ_REG_MULTI_SZ 7

/* The typed registry for hosts (a setup program that records and restores
 * values).  Roots are the RZ_ROOT_ codes of raziza3z.h; key paths are
 * below the root with backslashes, names and paths compared without regard
 * to ASCII case.  Each call reads the store afresh; each change is one
 * atomic replace of the store under its lock, as WRITEREG's are. */

/* Typed read of one value. root is an RZ_ROOT_ code, name "" the key's default value.
 * *size holds the capacity of data on entry and the value's size on return (data may be null to ask
 * the size). Returns 0 read; 1 the key or value does not exist; 2 data too small (*type and *size
 * set); -1 the store cannot be read. type and size may be null when not wanted (a null size is a
 * capacity of 0). */
RZ_API int32_t rz_host_reg_query(int32_t root, const char* key, const char* name, uint32_t* type,
                                 void* data, uint32_t* size);
/* Write one value with its type (restoring a previous value), creating the key and
 * the keys above it.  0, or -1 when the store cannot be written (also for a root
 * code outside 1-5, a key path with an empty component, or a line break in the key
 * path or the name, which the store cannot hold). */
RZ_API int32_t rz_host_reg_set(int32_t root, const char* key, const char* name, uint32_t type,
                               const void* data, uint32_t size);
/* Delete a value: 0 deleted, 1 it did not exist, -1 the store cannot be written. */
RZ_API int32_t rz_host_reg_delete_value(int32_t root, const char* key, const char* name);
/* Delete a key with no values and no subkeys: 0 deleted, 1 it did not exist, 2 not empty,
 * -1 the store cannot be written.  A root itself (an empty key path) is never deleted: 2. */
RZ_API int32_t rz_host_reg_delete_key(int32_t root, const char* key);

/* What the store met since the previous call, then cleared: 0 nothing; bit 1
 * (RZ_STORE_WRITE_FAILED) a write failed; bit 2 (RZ_STORE_BAD_LINES) malformed lines were skipped.
 * Lets a host see whether WRITEREG's writes landed. */
#define RZ_STORE_WRITE_FAILED 1
#define RZ_STORE_BAD_LINES 2
RZ_API uint32_t rz_host_registry_status(void);

#endif /* !_WIN32 */

#ifdef __cplusplus
}
#endif

#endif /* RAZIZA3Z_HOST_H */
