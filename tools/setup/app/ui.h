// What the setup program says and asks: messages on the terminal (or plain
// lines when standard error is not one), questions read from the terminal,
// the install log (--log FILE), one progress bar for the whole installation
// and machine-readable progress lines (--progress-fd N).
#pragma once

#include <cstdint>
#include <string>

namespace setup {

struct UiOptions {
  bool quiet = false;   // errors only
  bool silent = false;  // never ask, never wait
  bool yes = false;     // yes to every yes/no question (never a licence)
  int progress_fd = -1;
  std::string log_path;
  bool collect = false;  // messages kept for one box at the end (no console)
};

class Ui {
 public:
  // Opens the log (append) when one is named; false with a message when it
  // cannot be opened.
  bool start(const UiOptions& options);
  ~Ui();

  void info(const std::string& text);   // normal output (stdout), logged
  void warn(const std::string& text);   // stderr unless quiet, logged
  void error(const std::string& text);  // stderr always, logged
  void log(const std::string& text);    // the install log only
  // Opens the installation's window where there is one (not when quiet;
  // progress only when silent).
  void begin_window(const std::string& title);
  // The messages kept when collecting.
  const std::string& collected() const { return collected_; }
  // The last error reported, for a finish page.
  const std::string& last_error() const { return last_error_; }
  // What a successful run did, in one sentence, for the finish page.
  void set_outcome(const std::string& text) { outcome_ = text; }
  const std::string& outcome() const { return outcome_; }

  // Questions.  Each returns false when it cannot be asked (silent mode, no
  // terminal): the caller then takes the default or fails with "answer
  // needed".  A closed terminal counts as cannot ask.
  // --yes answers it unless yes_allowed is false (the licence).
  bool ask_yes_no(const std::string& question, bool default_yes, bool* answer,
                  bool yes_allowed = true);
  bool ask_text(const std::string& question, const std::string& default_text, std::string* out);
  // Shows a long text a page at a time on a terminal (straight through
  // otherwise); false when it cannot be shown.
  bool show_text(const std::string& title, const std::string& text);
  // Reads a line without echo.
  bool ask_secret(const std::string& question, std::string* out);

  // Progress of the whole installation in bytes: a bar with rate and time
  // left on a terminal, a plain line every 10% otherwise, and one line per
  // call on the progress descriptor ("progress STAGE DONE TOTAL").
  void begin_progress(const std::string& stage, uint64_t total);
  void progress(uint64_t done);
  void end_progress();
  // A line on the progress descriptor only ("file PATH", "result CODE", ...).
  void progress_line(const std::string& line);

  bool silent() const { return opt_.silent; }
  bool quiet() const { return opt_.quiet; }
  bool yes() const { return opt_.yes; }
  int log_fd() const { return log_fd_; }

 private:
  void clear_bar();
  void write_progress_fd(const std::string& line);
  bool tty_line(const std::string& question, std::string* line, bool echo);

  UiOptions opt_;
  int log_fd_ = -1;
  bool bar_ = false;  // a bar is drawn on stderr
  bool bar_shown_ = false;
  std::string stage_;
  uint64_t total_ = 0, last_done_ = 0;
  int last_step_ = -1;
  int64_t started_ms_ = 0, last_draw_ms_ = 0;
  std::string last_error_, collected_, outcome_;
};

// A path or name as shown on a terminal: control bytes, backslashes and DEL
// escaped (\t, \r, \n, \xNN), everything else as it is.
std::string shown(const std::string& raw);
// A size for people: "343 B", "936.1 KiB".
std::string human_bytes(double bytes);

// Monotonic milliseconds.
int64_t now_ms();

}  // namespace setup
