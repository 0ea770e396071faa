// ProgressChannel: progress notifications to the host window and the drain
// of the calling thread's message queue, through which the host cancels.
#pragma once

#include <cstdint>

namespace rz {

struct ProgressChannel {
  void* progress_window = nullptr;
  uint32_t progress_message = 0;  // registered id of "RUZI1"
  uint32_t cancel_message = 0;    // registered id of "VORE2"
  int32_t progress_done = 0;
  int32_t progress_total = 0;
};

ProgressChannel& progress_channel();

// Sends the percentage progress_done * 100 / progress_total to the host
// window, then dispatches the waiting messages of the calling thread.
// Returns 1 to go on, 0 when the host posted the cancel message or a quit.
// A progress_total below 1 is treated as 1 (never divides by zero).
int report_progress();

}  // namespace rz
