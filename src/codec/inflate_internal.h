// The engine's state record and the helpers shared by its two decoding paths:
// the resumable one in inflate.cpp and the fast loop in inflate_fast.cpp.
#pragma once

#include <cstdint>

#include "codec/huffman.h"
#include "codec/inflate.h"

namespace rz {

enum class BlockKind : uint8_t { none, stored, fixed, dynamic };

// Slots of the fixed code's tables, hidden chain slots included: the
// literal/length table of 7 lookup bits takes 129, its 76 sub-tables of 1
// bit (the 8-bit codes) 228 and its 28 sub-tables of 2 bits (the 9-bit
// codes) 140; the distance table of 5 bits takes 33; the fast loop's
// literal/length table of 9 bits, one level, 513.
constexpr unsigned kFixedTableSlots = 129 + 228 + 140 + 33 + 513;
// The fast loop's width for the fixed literal/length code: its longest code.
constexpr unsigned kFixedWideBits = 9;

// The fixed code's tables: built on the first fixed block and kept for the
// life of the process, as they never change.  Their slots live here, not on
// the heap, so no fixed block allocates anything.
struct FixedTables {
  HuffEntry slots[kFixedTableSlots];
  HuffEntry* literal = nullptr;  // null until built
  HuffEntry* distance = nullptr;
  // The same literal/length code resolved by one lookup of kFixedWideBits.
  // Only the fast loop uses it: its look-ahead is free, while the resumable
  // path keeps the 7-bit width so that it never pulls a byte beyond a
  // block's end code that it does not need.
  HuffEntry* wide_literal = nullptr;
  unsigned literal_bits = 0;
  unsigned distance_bits = 0;
};

struct InflateState {
  ByteSource source{};
  bool has_source = false;
  unsigned char* window = nullptr;  // kWindowSize (+ slack) bytes: history and staging area
  uint32_t window_pos = 0;          // where the next decoded byte goes
  uint32_t deliver_from = 0;        // first window byte not yet delivered
  unsigned char* output_cursor = nullptr;
  uint32_t output_total = 0;   // bytes delivered since inflate_begin, drain included
  uint32_t expected_size = 0;  // copied at every inflate_read
  uint32_t history = 0;        // delivered bytes of this stream still in the window
  // Stored bytes delivered straight to the caller in this call whose copy in
  // the window is still owed: the last window_debt bytes before
  // output_cursor (at most kMaxDistance are kept).
  uint32_t window_debt = 0;
  uint64_t bit_buffer = 0;  // next bit in bit 0; bits at and above bit_count are 0
  uint32_t bit_count = 0;
  BlockKind block_kind = BlockKind::none;
  bool block_ready = false;   // stored: LEN checked; fixed/dynamic: tables built
  bool copy_pending = false;  // a copy was cut short by the caller's limit
  bool started = false;
  bool final_block = false;
  bool failed = false;  // a read returned -1; the stream is dead
  uint32_t copy_length = 0;
  uint32_t copy_from = 0;
  uint32_t stored_remaining = 0;
  HuffEntry* literal_table = nullptr;
  HuffEntry* distance_table = nullptr;
  bool tables_fixed = false;  // the tables above are the fixed ones: not to be freed
  unsigned literal_bits = 0;
  unsigned distance_bits = 0;
  int error = 0;
  int failure = 0;  // the code that killed the stream
  FixedTables fixed;
};

InflateState& inflate_state();

// Bytes of this stream that a distance may reach back to from window_pos.
inline uint32_t reachable_history(const InflateState& s) {
  return s.history + (s.window_pos - s.deliver_from);
}

// The fast loop is entered with at least this much room left in the call
// (fewer bytes are not worth the entry) and at least this much input in the
// source's view (it needs 8 bytes ahead of its read position for a refill).
constexpr uint32_t kFastMinOutput = 8;
constexpr uint32_t kFastMinInput = 16;
// Stored bytes go straight from the view to the caller when the view holds
// at least this many; fewer are not worth the later copy into the window.
constexpr uint32_t kDirectMinStored = 64;

// Result of inflate_fast.
enum class FastResult { stopped, end_of_block, failed };

// Decode symbols of the current fixed or dynamic block straight from the
// source's view into the window while input and room last; see the header of
// inflate_fast.cpp for its entry conditions.  Adds the bytes it wrote to
// *produced.  On failure inflate_error is set in s.error.
FastResult inflate_fast(InflateState& s, uint32_t room, uint32_t* produced);

}  // namespace rz
