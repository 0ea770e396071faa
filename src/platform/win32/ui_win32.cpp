// Windows user-interface operations over USER32: message boxes, the beep,
// registered messages, SendMessageA to the host's window and the calling
// thread's own message queue.
//
// A host (or a test) may answer the library's boxes and take its beeps
// itself through raziza3z_host.h; without that the real MessageBoxA and
// MessageBeep run.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/ui.h"
#include "raziza3z_host.h"

namespace rz::plat {

namespace {

// ---- Host overrides --------------------------------------------------------

struct HostCallbacks {
  RzMessageBoxFn message_box = nullptr;
  void* message_box_user = nullptr;
  RzBeepFn beep = nullptr;
  void* beep_user = nullptr;
};

SRWLOCK g_callbacks_lock = SRWLOCK_INIT;
HostCallbacks g_callbacks;

// A copy taken under the lock, so that a callback runs without holding it.
HostCallbacks callbacks() {
  ::AcquireSRWLockShared(&g_callbacks_lock);
  HostCallbacks copy = g_callbacks;
  ::ReleaseSRWLockShared(&g_callbacks_lock);
  return copy;
}

// ---- The operations --------------------------------------------------------

// MessageBoxA returns 0 when no box could be made, which is kAnswerNone.
int win_message_box(void* owner, const char* text, const char* caption, uint32_t style) {
  HostCallbacks cb = callbacks();
  if (cb.message_box)
    return cb.message_box(cb.message_box_user, owner, text ? text : "", caption ? caption : "",
                          style);
  return ::MessageBoxA(static_cast<HWND>(owner), text ? text : "", caption ? caption : "", style);
}

void win_beep(uint32_t type) {
  HostCallbacks cb = callbacks();
  if (cb.beep) {
    cb.beep(cb.beep_user, type);
    return;
  }
  ::MessageBeep(type);
}

uint32_t win_register_message(const char* name) {
  if (!name || !*name) return 0;
  return ::RegisterWindowMessageA(name);
}

// SendMessageA to a null window would go nowhere; it is not made at all.
intptr_t win_send_message(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (!window) return 0;
  return static_cast<intptr_t>(::SendMessageA(static_cast<HWND>(window), message,
                                              static_cast<WPARAM>(wparam),
                                              static_cast<LPARAM>(lparam)));
}

bool win_peek_message() {
  MSG m;
  return ::PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE) != 0;
}

// GetMessageA would block when the message that PeekMessageA saw was a sent
// one, handled inside the peek; taking with PM_REMOVE never waits.
int win_get_message(UiMessage* out) {
  MSG m;
  if (!::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) return -1;
  out->window = m.hwnd;
  out->message = m.message;
  out->wparam = static_cast<uintptr_t>(m.wParam);
  out->lparam = static_cast<intptr_t>(m.lParam);
  return m.message == WM_QUIT ? 0 : 1;
}

MSG msg_of(const UiMessage* m) {
  MSG msg = {};
  msg.hwnd = static_cast<HWND>(m->window);
  msg.message = m->message;
  msg.wParam = static_cast<WPARAM>(m->wparam);
  msg.lParam = static_cast<LPARAM>(m->lparam);
  msg.time = static_cast<DWORD>(::GetMessageTime());
  DWORD pos = static_cast<DWORD>(::GetMessagePos());
  msg.pt.x = static_cast<short>(LOWORD(pos));
  msg.pt.y = static_cast<short>(HIWORD(pos));
  return msg;
}

void win_translate_message(const UiMessage* m) {
  MSG msg = msg_of(m);
  ::TranslateMessage(&msg);
}

void win_dispatch_message(const UiMessage* m) {
  MSG msg = msg_of(m);
  ::DispatchMessageA(&msg);
}

void win_post_quit_message(int32_t exit_code) {
  ::PostQuitMessage(exit_code);
}

const UiOps kWinUiOps = {
    win_message_box,       win_beep,        win_register_message,  win_send_message,
    win_peek_message,      win_get_message, win_translate_message, win_dispatch_message,
    win_post_quit_message,
};

}  // namespace

const UiOps& native_ui_ops() {
  return kWinUiOps;
}

}  // namespace rz::plat

// ---- The host's side -------------------------------------------------------

extern "C" {

RZ_API void rz_host_set_message_box(RzMessageBoxFn fn, void* user) {
  ::AcquireSRWLockExclusive(&rz::plat::g_callbacks_lock);
  rz::plat::g_callbacks.message_box = fn;
  rz::plat::g_callbacks.message_box_user = fn ? user : nullptr;
  ::ReleaseSRWLockExclusive(&rz::plat::g_callbacks_lock);
}

RZ_API void rz_host_set_beep(RzBeepFn fn, void* user) {
  ::AcquireSRWLockExclusive(&rz::plat::g_callbacks_lock);
  rz::plat::g_callbacks.beep = fn;
  rz::plat::g_callbacks.beep_user = fn ? user : nullptr;
  ::ReleaseSRWLockExclusive(&rz::plat::g_callbacks_lock);
}

}  // extern "C"
