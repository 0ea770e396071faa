// The setup program's window on Windows: one small wizard-style window whose
// pages are the installation's own questions (licence, yes/no questions,
// the target folder with a Browse button), its progress (a bar fed by the
// library's "RUZI1" notifications, Cancel posting "VORE2") and a finish
// page.  Made only when a window is wanted (not with /VERYSILENT); with /S
// it shows the progress alone and asks nothing.
#pragma once

#include <cstdint>
#include <string>

namespace setup::wizard {

// Creates the window titled title; questions false shows progress only.
void start(const std::string& title, bool questions);
bool active();
// Question pages: false when the window cannot ask (not made, or /S).
bool yes_no(const std::string& question, bool default_yes, bool* yes);
bool text_page(const std::string& title, const std::string& text);  // true: Next
bool folder_page(const std::string& question, const std::string& preset, std::string* out);
bool secret_page(const std::string& question, std::string* out);
// A program's output (--help, --list...) where no console shows it: a
// window of its own, its first line as the heading, the whole text in a
// scrolling box, and OK.  False when the window could not be made.
bool output_page(const std::string& text);
// One of the library's message boxes over the window (its texts are the
// library's, in the program's UTF-8): true with the button pressed.
bool library_box(const char* text, const char* caption, uint32_t style, int* answer);
// The progress page.
void progress(const std::string& stage, uint64_t done, uint64_t total);
void status(const std::string& text);
// The finish page; waits for Close when wait is set, then the window goes.
void finish(const std::string& text, bool wait);

}  // namespace setup::wizard
