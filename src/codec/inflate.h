// The resumable raw-DEFLATE decoder: one process-wide engine that decodes one
// stream over many calls, stopping at any byte of output.
#pragma once

#include <cstdint>

namespace rz {

// Where the engine takes its compressed bytes.
struct ByteSource {
  // Next plain compressed byte 0..255 (required); pulled one per call.
  int (*next_byte)();
  // Optional view of bytes the source already holds (already decrypted, all
  // belonging to the current stream): sets *data, returns the count (0 = none
  // now).
  uint32_t (*peek)(const unsigned char** data);
  // Take n bytes of the last view (n <= its count), with the same effect on
  // the source's counters as n calls of next_byte.
  void (*consume)(uint32_t n);
};

// inflate_error codes.
constexpr int kInflateOk = 0;
constexpr int kInflateNoMemory = 34;    // no memory for the window or a table
constexpr int kInflateBadData = 36;     // invalid data
constexpr int kInflateUnfinished = 37;  // final block never reached, or bytes left over
constexpr int kInflateWrongSize = 38;   // decoded length differs from the expected size
constexpr int kInflateBadFixed = 39;    // a fixed block's table could not be built

// The farthest a distance may reach back.
constexpr uint32_t kMaxDistance = 32768;
// The circular window: history and staging area for output.  Twice the
// farthest distance, so that the bytes just ahead of the write position are
// never history a distance can reach: the fast loop may then copy in whole
// 16- or 8-byte words and spill up to 15 bytes past the end of a match.
constexpr uint32_t kWindowSize = 2 * kMaxDistance;
// Room behind the window's end for such spills (at least 15 bytes).
constexpr uint32_t kWindowSlack = 16;

// Start decoding a stream from source (copied; peek and consume may both be
// null, and then only next_byte is used).  Obtains the window when none is
// held, resets RunningCrc.  Returns 0, or 34 (inflate_error set) when the
// window cannot be had.
int inflate_begin(const ByteSource* source);

// Decode up to limit bytes into out.  Returns the count delivered: exactly
// limit while the stream lasts, fewer (possibly 0) in the call in which the
// final block ends, 0 in every later call (the source is then not called).
// Returns -1 on failure with inflate_error set; the engine then refuses
// further reads of this stream.  expected_size is the stream's decoded size
// as the caller knows it; inflate_end compares it with what was delivered.
// Every delivered byte is folded into RunningCrc.  limit is capped at
// 2^31 - 1 so that the count fits the result.
int inflate_read(unsigned char* out, uint32_t limit, uint32_t expected_size);

// Finish the stream: 0 when it reached its final block and delivered exactly
// the expected size; 37 when the final block was never reached or when
// decoded bytes were still left (they are drained, counted and folded into
// RunningCrc, but delivered to no one); -1 otherwise: inflate_error 38 for a
// wrong length, 0 when no stream was begun or read, or the code of a failure
// met while draining.  Always releases the window and tables and clears the
// state.
int inflate_end();

// The code of the last failure (0 when none).
int inflate_error();

}  // namespace rz
