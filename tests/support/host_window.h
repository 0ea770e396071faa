// The host's window and message queue, as the tests drive them.  On POSIX
// they are the callbacks and the queue of raziza3z_host.h; on Windows a real
// message-only window of the calling thread, RegisterWindowMessageA and
// PostMessageA, so the same test runs against the Win32 layer.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "raziza3z_host.h"

namespace rztest {

// Receives what the library sends or dispatches to the window.
using HostProc = intptr_t (*)(void* user, RZ_HWND window, uint32_t message, uintptr_t wparam,
                              intptr_t lparam);

#if defined(_WIN32)

class HostWindow {
 public:
  HostWindow(HostProc proc, void* user) : proc_(proc), user_(user) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &HostWindow::window_proc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "rztest_host_window";
    ::RegisterClassA(&wc);  // fails harmlessly when already registered
    window_ = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
    if (window_) ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    drain();
  }
  ~HostWindow() {
    if (window_) ::DestroyWindow(window_);
    drain();
  }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  // The window a host gives QEN_UINIT_MP; null when it could not be made.
  RZ_HWND handle() const { return window_; }
  static uint32_t register_message(const char* name) { return ::RegisterWindowMessageA(name); }
  // Posts to this window; 1 when queued.
  int post(uint32_t message, uintptr_t wparam, intptr_t lparam) const {
    return ::PostMessageA(window_, message, static_cast<WPARAM>(wparam),
                          static_cast<LPARAM>(lparam))
               ? 1
               : 0;
  }
  // Empties the thread's queue (a quit included).
  static void drain() {
    MSG m;
    while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

 private:
  // The system's own messages (creation, destruction) go to the default
  // procedure; the application's range goes to the test.
  static LRESULT CALLBACK window_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<HostWindow*>(::GetWindowLongPtrA(w, GWLP_USERDATA));
    if (self && m >= WM_USER)
      return static_cast<LRESULT>(
          self->proc_(self->user_, w, m, static_cast<uintptr_t>(wp), static_cast<intptr_t>(lp)));
    return ::DefWindowProcA(w, m, wp, lp);
  }
  HostProc proc_;
  void* user_;
  HWND window_ = nullptr;
};

#else

class HostWindow {
 public:
  HostWindow(HostProc proc, void* user) {
    drain();
    rz_host_set_window_proc(proc, user);
  }
  ~HostWindow() {
    rz_host_set_window_proc(nullptr, nullptr);
    drain();
  }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  // Any pointer names a window here; this object's address is used.
  RZ_HWND handle() const { return const_cast<HostWindow*>(this); }
  static uint32_t register_message(const char* name) { return rz_host_register_message(name); }
  int post(uint32_t message, uintptr_t wparam, intptr_t lparam) const {
    return rz_host_post_message(handle(), message, wparam, lparam);
  }
  static void drain() {
    while (rz_host_take_message(nullptr) >= 0) {
    }
  }
};

#endif

}  // namespace rztest
