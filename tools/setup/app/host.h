// The setup program as the library's host: message boxes answered through
// the terminal UI, progress notifications turned into the installation's
// progress bar, and SIGINT, SIGTERM and SIGHUP turned into the library's
// cancel message.
#pragma once

#include <cstdint>
#include <string>

namespace setup {

class Ui;

// Registers the messages, binds the progress channel and the signals.
void host_start(Ui* ui);
// Restores the signals' default handling and removes the callbacks.
void host_stop();

// Cancels as a signal would (the window's Cancel button).
void host_cancel();
// True once a cancel signal arrived.
bool cancel_requested();
// Drains the library's queue; true when it held the cancel (or quit).
bool drain_cancel();

// Progress of the entry being extracted: the window procedure reports
// base + percent * size / 100 to the UI.
void host_set_entry(uint64_t base, uint64_t size);

}  // namespace setup
