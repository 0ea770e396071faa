#include "frame/progress.h"

#include <cstdint>

#include "frame/extract_state.h"
#include "platform/ui.h"
#include "raziza3z.h"

namespace rz {

namespace {

ProgressChannel g_channel;

// progress_done * 100 / progress_total, truncated toward zero.  Worked in
// 64 bits and held to the 32-bit range, so a large count cannot overflow
// into a negative percentage; a total below 1 counts as 1.
int32_t percent_done(const ProgressChannel& c) {
  int64_t total = c.progress_total < 1 ? 1 : c.progress_total;
  int64_t percent = static_cast<int64_t>(c.progress_done) * 100 / total;
  if (percent > INT32_MAX) return INT32_MAX;
  if (percent < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(percent);
}

// Dispatch what waits in the queue.  Returns 0 on the quit (re-posted with
// its exit code, so that the host's own loop still ends) or after the cancel
// message has been dispatched; 1 once the queue is empty.
int drain_messages(uint32_t cancel_message) {
  while (plat::ui_peek_message()) {
    plat::UiMessage m;
    int got = plat::ui_get_message(&m);
    if (got < 0) break;  // taken by someone else meanwhile
    if (got == 0) {
      plat::ui_post_quit_message(static_cast<int32_t>(m.wparam));
      return 0;
    }
    plat::ui_translate_message(&m);
    plat::ui_dispatch_message(&m);
    // Before registration the cancel id is 0; a message 0 does not cancel.
    if (cancel_message != 0 && m.message == cancel_message) return 0;
  }
  return 1;
}

}  // namespace

ProgressChannel& progress_channel() {
  return g_channel;
}

int report_progress() {
  ProgressChannel& c = g_channel;
  // A null window receives nothing, as on Windows.
  if (c.progress_window)
    plat::ui_send_message(c.progress_window, c.progress_message, 1,
                          static_cast<intptr_t>(percent_done(c)));
  return drain_messages(c.cancel_message);
}

}  // namespace rz

extern "C" {

// Binds the progress channel and the boxes' owner to window and registers
// the progress ("RUZI1") and cancel ("VORE2") names.  0 when both ids and the
// window are non-zero, otherwise 1 (what was stored stays stored).
RZ_API int32_t RZ_CALL QEN_UINIT_MP(RZ_HWND window) {
  rz::ProgressChannel& c = rz::progress_channel();
  c.progress_window = window;
  rz::extract_state().owner_window = window;
  c.progress_message = rz::plat::ui_register_message("RUZI1");
  c.cancel_message = rz::plat::ui_register_message("VORE2");
  return c.progress_message != 0 && c.cancel_message != 0 && window != nullptr ? 0 : 1;
}

}  // extern "C"
