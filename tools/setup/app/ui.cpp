#include "ui.h"

#include "fields.h"

#include "sys.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace setup {

std::string human_bytes(double b) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int u = 0;
  while (b >= 1024 && u < 4) {
    b /= 1024;
    ++u;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, u ? "%.1f %s" : "%.0f %s", b, units[u]);
  return buf;
}

namespace {

std::string clock_text(int64_t seconds) {
  char buf[32];
  if (seconds >= 3600)
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  else
    std::snprintf(buf, sizeof buf, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  return buf;
}

}  // namespace

int64_t now_ms() {
  return sys::now_ms();
}

std::string shown(const std::string& raw) {
  std::string out;
  for (char ch : raw) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out;
}

bool Ui::start(const UiOptions& options) {
  opt_ = options;
  bar_ = sys::stderr_is_terminal() && !opt_.quiet;
  if (!opt_.log_path.empty()) {
    log_fd_ =
        ::open(opt_.log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | sys::kOpenPrivate, 0644);
    if (log_fd_ < 0) {
      error("cannot open the log " + shown(opt_.log_path) + ": " + std::strerror(errno));
      return false;
    }
  }
  return true;
}

Ui::~Ui() {
  clear_bar();
  if (log_fd_ >= 0) ::close(log_fd_);
}

void Ui::log(const std::string& text) {
  if (log_fd_ < 0) return;
  char stamp[32] = "";
  time_t t = ::time(nullptr);
  struct tm tmv;
  if (sys::local_time(t, &tmv)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &tmv);
  write_all(log_fd_, stamp + text + "\n");
}

void Ui::begin_window(const std::string& title) {
  if (!opt_.quiet) sys::window_start(title, !opt_.silent);
}

void Ui::info(const std::string& text) {
  log(text);
  sys::window_status(text);
  if (opt_.collect) collected_ += text + "\n";
  if (opt_.quiet) return;
  clear_bar();
  std::fflush(stdout);
  write_all(1, text + "\n");
}

void Ui::warn(const std::string& text) {
  log("warning: " + text);
  if (opt_.quiet) return;
  clear_bar();
  write_all(2, "qg-setup: warning: " + text + "\n");
}

void Ui::error(const std::string& text) {
  log("error: " + text);
  last_error_ = text;
  sys::window_status(text);
  if (opt_.collect) collected_ += "error: " + text + "\n";
  clear_bar();
  write_all(2, "qg-setup: " + text + "\n");
}

bool Ui::tty_line(const std::string& question, std::string* line, bool echo) {
  if (opt_.silent) return false;
  if (!sys::has_terminal()) return false;
  clear_bar();
  return sys::terminal_line(question, line, echo);
}

bool Ui::ask_yes_no(const std::string& question, bool default_yes, bool* answer, bool yes_allowed) {
  if (opt_.yes && yes_allowed) {
    *answer = true;
    log(question + " yes (--yes)");
    return true;
  }
  if (!opt_.silent && sys::box_yes_no(question, default_yes, answer)) {
    log(question + (*answer ? " yes" : " no"));
    return true;
  }
  for (;;) {
    std::string line;
    if (!tty_line(question + (default_yes ? " [Y/n] " : " [y/N] "), &line, true)) return false;
    if (line.empty()) {
      *answer = default_yes;
    } else if (line == "y" || line == "Y" || line == "yes") {
      *answer = true;
    } else if (line == "n" || line == "N" || line == "no") {
      *answer = false;
    } else {
      continue;
    }
    log(question + (*answer ? " yes" : " no"));
    return true;
  }
}

bool Ui::ask_text(const std::string& question, const std::string& default_text, std::string* out) {
  std::string line;
  if (!opt_.silent && sys::box_line(question, default_text, out)) {
    log(question + " " + *out);
    return true;
  }
  if (!tty_line(question + " [" + shown(default_text) + "] ", &line, true)) return false;
  *out = line.empty() ? default_text : line;
  log(question + " " + *out);
  return true;
}

bool Ui::ask_secret(const std::string& question, std::string* out) {
  if (!opt_.silent && sys::box_secret(question, out)) return true;
  return tty_line(question, out, false);
}

bool Ui::show_text(const std::string& title, const std::string& text) {
  if (opt_.silent) return false;
  if (!sys::has_terminal()) return sys::box_text(title, text);
  info(title);
  info("");
  // A page at a time, so a long licence can be read before it is accepted.
  size_t at = 0;
  int lines = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    write_all(1, text.substr(at, end - at) + "\n");
    at = end + 1;
    if (++lines == 20 && at < text.size()) {
      lines = 0;
      std::string dummy;
      if (!tty_line("-- more (Enter) --", &dummy, true)) return false;
    }
  }
  write_all(1, "\n");
  return true;
}

void Ui::write_progress_fd(const std::string& line) {
  if (opt_.progress_fd >= 0 && !write_all(opt_.progress_fd, line + "\n")) opt_.progress_fd = -1;
}

void Ui::progress_line(const std::string& line) {
  write_progress_fd(line);
}

void Ui::begin_progress(const std::string& stage, uint64_t total) {
  stage_ = stage;
  total_ = total;
  last_done_ = 0;
  last_step_ = -1;
  started_ms_ = now_ms();
  last_draw_ms_ = 0;
  log("begin " + stage + " (" + std::to_string(total) + " bytes)");
  progress(0);
}

void Ui::progress(uint64_t done) {
  last_done_ = done;
  write_progress_fd("progress " + stage_ + " " + std::to_string(done) + " " +
                    std::to_string(total_));
  int pct = total_ ? static_cast<int>(done * 100 / total_) : 100;
  if (pct > 100) pct = 100;
  if (opt_.quiet) return;
  sys::window_progress(stage_, done, total_);
  if (!bar_) {
    // Plain lines when standard error is no terminal: one per 10%.
    if (pct / 10 != last_step_) {
      last_step_ = pct / 10;
      write_all(2, stage_ + ": " + std::to_string(pct) + "% (" + human_bytes(double(done)) +
                       " of " + human_bytes(double(total_)) + ")\n");
    }
    return;
  }
  int64_t t = now_ms();
  if (done < total_ && t - last_draw_ms_ < 100) return;
  last_draw_ms_ = t;
  double secs = double(t - started_ms_) / 1000.0;
  double rate = secs > 0.05 ? double(done) / secs : 0;
  std::string left = rate > 0 && done < total_
                         ? clock_text(static_cast<int64_t>(double(total_ - done) / rate)) + " left"
                         : "";
  char bar[31];
  std::memset(bar, ' ', 30);
  std::memset(bar, '#', static_cast<size_t>(pct * 30 / 100));
  bar[30] = 0;
  // No rate before there is time enough to measure one (a small payload
  // is done within the first draw).
  std::string speed = rate > 0 ? human_bytes(rate) + "/s" : "";
  char line[200];
  std::snprintf(line, sizeof line, "\r%-10.10s [%s] %3d%% %10s %12s %s\x1b[K", stage_.c_str(), bar,
                pct, human_bytes(double(done)).c_str(), speed.c_str(), left.c_str());
  write_all(2, line);
  bar_shown_ = true;
}

void Ui::end_progress() {
  if (last_done_ < total_) last_done_ = total_;
  log("end " + stage_);
  clear_bar();
}

void Ui::clear_bar() {
  if (bar_shown_) {
    write_all(2, "\r\x1b[K");
    bar_shown_ = false;
  }
}

}  // namespace setup
