// User-interface operations of the platform seam: message boxes, the beep,
// registered window messages, the synchronous notification to a window and
// the calling thread's queue of posted messages.
//
// The core reaches them only through the active UiOps table.  Tests replace
// the table (set_ui_ops) to log calls or make one fail.  On Windows each
// operation is the USER32 call of the same meaning; on POSIX the host
// provides them through the callbacks and the queue of raziza3z_host.h.
#pragma once

#include <cstdint>

namespace rz::plat {

// Box styles and answers, with the values of the Windows constants.
constexpr uint32_t kMbOk = 0x0;
constexpr uint32_t kMbOkCancel = 0x1;
constexpr uint32_t kMbYesNoCancel = 0x3;
constexpr uint32_t kMbIconHand = 0x10;
constexpr uint32_t kMbIconQuestion = 0x20;
constexpr uint32_t kMbTaskModal = 0x2000;

constexpr int kAnswerNone = 0;  // the box could not be shown
constexpr int kAnswerOk = 1;
constexpr int kAnswerCancel = 2;
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;

constexpr uint32_t kWmQuit = 0x0012;

// One posted message, as the queue holds it.
struct UiMessage {
  void* window = nullptr;
  uint32_t message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
};

struct UiOps {
  // Show a modal box; returns the answer, or kAnswerNone when no box could
  // be shown.
  int (*message_box)(void* owner, const char* text, const char* caption, uint32_t style);
  // MessageBeep.
  void (*beep)(uint32_t type);
  // RegisterWindowMessageA: the same id for the same name, 0 on failure.
  uint32_t (*register_message)(const char* name);
  // SendMessageA: delivers synchronously to the window's procedure and
  // returns its result.  A null window receives nothing (result 0).
  intptr_t (*send_message)(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam);
  // PeekMessageA with PM_NOREMOVE over the calling thread's queue: true when
  // a message (a quit included) is waiting.
  bool (*peek_message)();
  // GetMessageA without blocking: 1 with a message in *out, 0 with the quit
  // in *out (its exit code in wparam), -1 when nothing is waiting.
  int (*get_message)(UiMessage* out);
  // TranslateMessage and DispatchMessageA.
  void (*translate_message)(const UiMessage* message);
  void (*dispatch_message)(const UiMessage* message);
  // PostQuitMessage.
  void (*post_quit_message)(int32_t exit_code);
};

// The table in use, and the platform's own.
const UiOps& ui_ops();
const UiOps& native_ui_ops();
// Install a table (tests); nullptr restores the native one.
void set_ui_ops(const UiOps* ops);

inline int ui_message_box(void* owner, const char* text, const char* caption, uint32_t style) {
  return ui_ops().message_box(owner, text, caption, style);
}
inline void ui_beep(uint32_t type) {
  ui_ops().beep(type);
}
inline uint32_t ui_register_message(const char* name) {
  return ui_ops().register_message(name);
}
inline intptr_t ui_send_message(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return ui_ops().send_message(window, message, wparam, lparam);
}
inline bool ui_peek_message() {
  return ui_ops().peek_message();
}
inline int ui_get_message(UiMessage* out) {
  return ui_ops().get_message(out);
}
inline void ui_translate_message(const UiMessage* m) {
  ui_ops().translate_message(m);
}
inline void ui_dispatch_message(const UiMessage* m) {
  ui_ops().dispatch_message(m);
}
inline void ui_post_quit_message(int32_t exit_code) {
  ui_ops().post_quit_message(exit_code);
}

}  // namespace rz::plat
