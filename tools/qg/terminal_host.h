// qg as a host of the library on a terminal: message boxes become questions
// on the terminal, progress becomes a bar, Ctrl-C becomes the cancel message.
// terminal_host.cpp does it on POSIX, win32/terminal_host_win32.cpp in a
// Windows console.
#pragma once

#include <cstdint>
#include <string>

namespace qg {

// How prompts are answered: asked on the terminal, or answered beforehand.
enum class Answer { ask, yes, no };

struct TerminalHost {
  Answer answer = Answer::ask;
  bool progress_bar = false;  // draw on stderr (only when it is a terminal)
  std::string label;          // what the bar shows (the current entry)
  uint32_t cancel_message = 0;
  uint32_t progress_message = 0;
};

// Registers "RUZI1" and "VORE2", binds the library's progress channel to
// qg, and turns the first Ctrl-C, SIGTERM or SIGHUP into the cancel message
// (a second one of the same kind ends qg at once, in case the library
// cannot report soon).
void bind_progress_and_interrupt(uint32_t* progress_message, uint32_t* cancel_message);
// Restores the default behaviour of those signals.
void unbind_interrupt();

#ifdef _WIN32
// Called with the percentage of every progress notification that qg's
// window receives, instead of the bar of install_terminal_host (qg get
// draws its own); nullptr removes it.
void set_progress_listener(void (*listener)(intptr_t percentage));
#endif

// Installs the callbacks, binds the progress channel and the Ctrl-C handler.
void install_terminal_host(TerminalHost* host);
// Restores the default Ctrl-C behaviour and removes the callbacks.
void remove_terminal_host();

// True once one of those signals came (the cancel message was posted).
bool cancel_requested();

// Takes the cancel messages still waiting for qg; true when there was one,
// or when cancel_requested().
bool drain_cancel_messages(const TerminalHost& host);

// Draws the bar for a walk shared by several processes: entries done of all.
void draw_entry_bar(size_t done, size_t total);

// Clears the bar's line on the terminal.
void end_progress_line(TerminalHost* host);

// Reads a password from the terminal without echo; false without a terminal.
bool read_password(const std::string& prompt, std::string* out);

// Shared by both hosts (terminal_prompts.cpp) ------------------------------

// Writes the question to the terminal and reads one line typed after it
// (each system's own); false when there is no terminal.
bool ask_terminal_line(const std::string& question, std::string* line);

// The library's box as a question on the terminal, unless host's answer
// option answers it: returns the RZ_ID* of the answer, 0 when there is no
// terminal to ask.  Other boxes are printed and return RZ_IDOK.
int32_t answer_box(TerminalHost* host, const char* text, const char* caption, uint32_t style);

// Draws the bar on stderr: label and percentage (clamped to 0-100).
void draw_bar(const std::string& label, long pct);

}  // namespace qg
