// The parts of qg's terminal host that are the same on every system: the
// library's boxes as questions, and the progress bar.  Reading a line from
// the terminal is each system's own (ask_terminal_line).
#include <cstdio>
#include <cstring>

#include "archive_tools.h"
#include "raziza3z.h"
#include "raziza3z_host.h"
#include "terminal_host.h"

namespace qg {

namespace {

int32_t ask_yes_no_cancel(const TerminalHost& host, const std::string& text) {
  if (host.answer == Answer::yes) return RZ_IDYES;
  if (host.answer == Answer::no) return RZ_IDNO;
  std::string line;
  for (;;) {
    if (!ask_terminal_line(text + " [y]es/[n]o/[c]ancel: ", &line)) return 0;
    if (line == "y" || line == "Y" || line == "yes") return RZ_IDYES;
    if (line == "n" || line == "N" || line == "no") return RZ_IDNO;
    if (line == "c" || line == "C" || line == "cancel") return RZ_IDCANCEL;
  }
}

int32_t ask_ok_cancel(const TerminalHost& host, const std::string& text) {
  if (host.answer == Answer::yes) return RZ_IDOK;
  if (host.answer == Answer::no) return RZ_IDCANCEL;
  std::string line;
  if (!ask_terminal_line(text + " [Enter]=OK, c=cancel: ", &line)) return 0;
  return (line == "c" || line == "C" || line == "cancel") ? RZ_IDCANCEL : RZ_IDOK;
}

}  // namespace

// The texts name files of the archive: shown with control characters
// escaped.
int32_t answer_box(TerminalHost* host, const char* raw_text, const char* raw_caption,
                   uint32_t style) {
  end_progress_line(host);
  std::string text = printable(raw_text), caption = printable(raw_caption);
  static const TerminalHost kAsk;
  const TerminalHost& h = host ? *host : kAsk;
  switch (style & 0xF) {
    case RZ_MB_YESNOCANCEL:
      return ask_yes_no_cancel(h, text);
    case RZ_MB_OKCANCEL:
      return ask_ok_cancel(h, text);
    default:
      std::fprintf(stderr, "qg: %s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ",
                   text.c_str());
      return RZ_IDOK;
  }
}

void draw_bar(const std::string& label, long pct) {
  pct = pct < 0 ? 0 : (pct > 100 ? 100 : pct);
  char bar[41];
  std::memset(bar, ' ', 40);
  std::memset(bar, '#', static_cast<size_t>(pct * 40 / 100));
  bar[40] = 0;
  std::fprintf(stderr, "\r%-32.32s [%s] %3ld%%", label.c_str(), bar, pct);
  std::fflush(stderr);
}

void draw_entry_bar(size_t done, size_t total) {
  long pct = total ? static_cast<long>(done * 100 / total) : 100;
  draw_bar(std::to_string(done) + " of " + std::to_string(total) + " entries", pct);
}

void end_progress_line(TerminalHost* host) {
  if (host && host->progress_bar) {
    std::fprintf(stderr, "\r%79s\r", "");
    std::fflush(stderr);
  }
}

}  // namespace qg
