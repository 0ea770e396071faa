// The response side of the download: the header parse.
//
// Format notes.  A response header is a status line "HTTP/1.x NNN text",
// header lines, and an empty line; lines end with CR LF or a lone LF.  The
// header may come in several chunks, so the parse runs over the bytes
// gathered so far and resumes where it stopped; the verdict never depends on
// where the chunks were cut.  A line is cut to 255 characters for the status
// test and the log; the framing lines (Content-Length, Transfer-Encoding)
// are read whole, however long they are.
#pragma once

#include <cstdint>

namespace rz::http {

// The header may take this many bytes in all, its empty line included.
constexpr uint32_t kHeaderLimit = 16384;
// A header line as examined: 255 characters and the NUL.
constexpr uint32_t kHeaderLineSize = 256;

enum class HeaderStep {
  need_more,  // no verdict yet: gather more bytes
  done,       // the empty line was read; the body begins at line_position
  failed,     // result holds the verdict (never 0)
};

// Receives each header line before it is examined (the header log).
using HeaderLineSink = void (*)(void* context, const char* line);

// The parse of one response; zero-initialise before the first call.
struct HeaderParse {
  uint32_t line_position;  // index of the next unread line in the buffer
  uint32_t lines;          // lines examined so far
  int32_t result;          // set when the step is failed
  int32_t status;          // the status of the status line, once read
  bool has_length;         // a valid Content-Length line was read
  bool after_framing;      // the last line was a Content-Length line
  uint64_t declared_length;
  char header_line[kHeaderLineSize];
};

// Examine the complete lines of buffer[p.line_position, filled).  Before the
// first line is complete its first bytes are compared with "HTTP/1.", so
// that a reply of another protocol fails at once.  Only 200 and 204 go on;
// another status fails with the status itself (the complete lines already
// received after it still go to the sink, for the log), and a first line
// that is no status line fails with 10010.  A header this client cannot take safely
// (Content-Length lines that disagree or cannot be read, a NUL or a stray CR
// in a line) fails with 10020, a transfer coding with 10030.  The caller
// decides what need_more means when no byte can come any more (the limit is
// reached or the server closed).
HeaderStep parse_header(HeaderParse& p, const unsigned char* buffer, uint32_t filled,
                        HeaderLineSink sink, void* context);

// The status of a status line "HTTP/1.<digits> <3 digits>[ text]", the
// prefix compared without regard to case and the status within 100-599.
// Returns 0 with *status set, or -1 when the line is no such line.
int parse_status_line(const char* line, int32_t* status);

// A Content-Length value of n bytes: optional spaces or tabs, decimal digits
// (leading zeros allowed), optional spaces or tabs.  Returns true with *out
// set when the text is that and the number fits 64 bits; false otherwise.
bool parse_content_length(const char* value, uint32_t n, uint64_t* out);

// True when text begins with prefix, ASCII letters compared without case.
bool starts_with_nocase(const char* text, const char* prefix);

}  // namespace rz::http
