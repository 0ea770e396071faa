// The resumable decoder.
//
// Format notes:
// - Bits are read least significant first; Huffman codes arrive bit-reversed,
//   which the tables absorb (see huffman.h).
// - need(n) pulls bytes only while fewer than n bits are buffered, one byte
//   per source call.  Because symbols are looked up through the full table
//   width, the engine may pull one byte it uses only to look ahead; at the
//   end of a stream that byte lies beyond the compressed data and the source
//   must answer it.  Never more than one.
// - A stored block starts at a byte boundary.  The look-ahead may have left
//   whole bytes in the bit buffer when a Huffman block precedes it: those are
//   the next bytes of the stream, so LEN and NLEN (and then the data) come
//   from them first and only then from the source.
// - Output is staged in the window and delivered (copied to the caller and
//   folded into RunningCrc) at every flush: when the window fills and before
//   every return with a count.
#include <algorithm>
#include <cstring>

#include "codec/crc32.h"
#include "codec/inflate_internal.h"
#include "codec/memory.h"

namespace rz {

namespace {

InflateState g_engine;

// The order in which the code-length code's lengths are sent.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

int fail(InflateState& s, int code) {
  s.error = code;
  s.failure = code;
  s.failed = true;
  return -1;
}

void need(InflateState& s, unsigned n) {
  while (s.bit_count < n) {
    auto byte = static_cast<uint8_t>(s.source.next_byte());
    s.bit_buffer |= uint64_t{byte} << s.bit_count;
    s.bit_count += 8;
  }
}

unsigned take(InflateState& s, unsigned n) {
  auto v = static_cast<unsigned>(s.bit_buffer & ((uint64_t{1} << n) - 1));
  s.bit_buffer >>= n;
  s.bit_count -= n;
  return v;
}

unsigned need_take(InflateState& s, unsigned n) {
  need(s, n);
  return take(s, n);
}

// Decode one symbol through table t of top-level width l into *out.  Returns
// 0, or -1 for an invalid code or a code that has no table.
int decode_symbol(InflateState& s, const HuffEntry* t, unsigned l, HuffEntry* out) {
  if (!t) return -1;
  for (;;) {
    need(s, l);
    const HuffEntry& e = t[s.bit_buffer & ((uint64_t{1} << l) - 1)];
    if (e.op == kOpInvalid) return -1;
    take(s, e.bits);
    if (e.op <= kOpLiteral) {
      *out = e;
      return 0;
    }
    l = e.op - 16u;
    t = e.next;
  }
}

// Deliver the staged bytes: copy them to the caller and fold them into
// RunningCrc in one pass.
void flush(InflateState& s) {
  uint32_t n = s.window_pos - s.deliver_from;
  if (n == 0) return;
  running_crc_add_copy(s.output_cursor, s.window + s.deliver_from, n);
  s.output_cursor += n;
  s.deliver_from += n;
  s.output_total += n;
  s.history = std::min(kWindowSize, s.history + n);
}

void wrap_if_full(InflateState& s) {
  if (s.window_pos == kWindowSize) {
    flush(s);
    s.window_pos = 0;
    s.deliver_from = 0;
  }
}

// Drop the current block's tables; the fixed ones stay built for the next
// fixed block.
void release_tables(InflateState& s) {
  if (s.tables_fixed) {
    s.literal_table = s.distance_table = nullptr;
    s.tables_fixed = false;
    return;
  }
  if (s.literal_table) free_huffman_table(&s.literal_table);
  if (s.distance_table) free_huffman_table(&s.distance_table);
}

void end_block(InflateState& s) {
  s.block_kind = BlockKind::none;
  s.block_ready = false;
  s.copy_pending = false;
}

// Put the stored bytes that went straight to the caller into the window, as
// far back as a distance can reach.  Must run before anything else writes
// the window and before inflate_read returns (the caller's buffer is only
// borrowed for the call).
void settle_window(InflateState& s) {
  if (s.window_debt == 0) return;
  uint32_t m = std::min(s.window_debt, kMaxDistance);
  const unsigned char* src = s.output_cursor - m;
  uint32_t start = (s.window_pos + kWindowSize - m) & (kWindowSize - 1);
  uint32_t first = std::min(m, kWindowSize - start);
  std::memcpy(s.window + start, src, first);
  std::memcpy(s.window, src + first, m - first);
  s.window_debt = 0;
}

// Deliver up to max stored bytes from the source's view straight to the
// caller, folding them into RunningCrc in the same pass; the window's copy is
// owed until settle_window.  Only when nothing is staged in the window, so
// that the order of output is kept.  Returns the count (0 when not possible).
uint32_t stored_direct(InflateState& s, uint32_t max) {
  if (!s.source.peek || s.bit_count != 0 || s.window_pos != s.deliver_from) return 0;
  const unsigned char* data = nullptr;
  uint32_t n = s.source.peek(&data);
  if (n < kDirectMinStored || !data) return 0;
  n = std::min(n, max);
  running_crc_add_copy(s.output_cursor, data, n);
  s.source.consume(n);
  s.output_cursor += n;
  s.output_total += n;
  s.history = std::min(kWindowSize, s.history + n);
  s.window_pos = s.deliver_from = (s.window_pos + n) & (kWindowSize - 1);
  s.window_debt = std::min(kMaxDistance, s.window_debt + std::min(n, kMaxDistance));
  return n;
}

// After the bits up to the byte boundary are dropped, the buffer holds whole
// bytes only: they come first, then the source.
uint8_t stored_byte(InflateState& s) {
  if (s.bit_count >= 8) return static_cast<uint8_t>(take(s, 8));
  return static_cast<uint8_t>(s.source.next_byte());
}

// Take up to max bytes of a stored block from the source's view into the
// window.  Returns the count taken (0 when the source offers no view now).
uint32_t stored_from_view(InflateState& s, uint32_t max) {
  if (!s.source.peek || s.bit_count != 0) return 0;
  const unsigned char* data = nullptr;
  uint32_t n = s.source.peek(&data);
  if (n == 0 || !data) return 0;
  n = std::min({n, max, kWindowSize - s.window_pos});
  std::memcpy(s.window + s.window_pos, data, n);
  s.source.consume(n);
  s.window_pos += n;
  return n;
}

// Stored block: LEN, NLEN, then LEN bytes as they are.  Returns the bytes
// delivered or -1.
int stored_block(InflateState& s, uint32_t room) {
  if (!s.block_ready) {
    take(s, s.bit_count & 7);
    uint8_t h[4];
    for (uint8_t& b : h) b = stored_byte(s);
    uint32_t len = h[0] | uint32_t{h[1]} << 8;
    uint32_t nlen = h[2] | uint32_t{h[3]} << 8;
    if ((nlen ^ 0xFFFFu) != len) return fail(s, kInflateBadData);
    s.stored_remaining = len;
    s.block_ready = true;
  }
  uint32_t i = 0;
  while (i < room) {
    if (s.stored_remaining == 0) {
      end_block(s);
      break;
    }
    uint32_t want = std::min(room - i, s.stored_remaining);
    uint32_t n = stored_direct(s, want);
    if (n) {
      s.stored_remaining -= n;
      i += n;
      continue;
    }
    settle_window(s);
    n = stored_from_view(s, want);
    if (n == 0) {
      s.window[s.window_pos++] = stored_byte(s);
      n = 1;
    }
    s.stored_remaining -= n;
    i += n;
    wrap_if_full(s);
  }
  flush(s);
  return static_cast<int>(i);
}

// Copy n bytes inside the window from copy_from to window_pos with the result
// of a forward byte-by-byte copy, so that a distance shorter than the length
// repeats the bytes just written.
void window_copy(InflateState& s, uint32_t n) {
  unsigned char* dst = s.window + s.window_pos;
  const unsigned char* src = s.window + s.copy_from;
  if (s.window_pos - s.copy_from >= n) {
    std::memmove(dst, src, n);
  } else {
    for (uint32_t k = 0; k < n; ++k) dst[k] = src[k];
  }
  s.window_pos += n;
  s.copy_from += n;
}

// Continue the current copy until it is done or the room is used up (then
// copy_pending is set).  Pieces stop at the end of the window, where both
// positions wrap.
void run_copy(InflateState& s, uint32_t room, uint32_t* produced) {
  s.copy_pending = false;
  while (s.copy_length > 0 && !s.copy_pending) {
    s.copy_from &= kWindowSize - 1;
    uint32_t n = kWindowSize - std::max(s.copy_from, s.window_pos);
    n = std::min(n, s.copy_length);
    if (*produced + n > room) {
      s.copy_pending = true;
      n = room - *produced;
    }
    *produced += n;
    s.copy_length -= n;
    window_copy(s, n);
    wrap_if_full(s);
  }
}

bool fast_path_possible(const InflateState& s, uint32_t room_left) {
  return s.source.peek && room_left >= kFastMinOutput;
}

// Decode one length/distance pair's distance after its length symbol e, and
// set up the copy.  Returns 0 or -1.
int start_copy(InflateState& s, const HuffEntry& e) {
  s.copy_length = e.value + need_take(s, e.op);
  HuffEntry d;
  if (decode_symbol(s, s.distance_table, s.distance_bits, &d) != 0) return fail(s, kInflateBadData);
  uint32_t distance = d.value + need_take(s, d.op);
  // A distance must stay inside this stream's output: the window is not
  // cleared between streams, and before that it holds bytes of an earlier
  // entry or memory never written.
  if (distance > reachable_history(s)) return fail(s, kInflateBadData);
  s.copy_from = s.window_pos - distance;
  return 0;
}

// Decode the symbols of a fixed or dynamic block.  Returns the bytes
// delivered or -1.
int codes(InflateState& s, uint32_t room) {
  uint32_t produced = 0;
  while (produced < room) {
    if (!s.copy_pending && fast_path_possible(s, room - produced)) {
      uint32_t before = produced;
      FastResult r = inflate_fast(s, room - produced, &produced);
      if (r == FastResult::failed) return fail(s, s.error);
      wrap_if_full(s);  // the fast loop may stop right at the window's end
      if (r == FastResult::end_of_block) {
        end_block(s);
        break;
      }
      // Without progress (too little input in view) one symbol is decoded
      // below instead.
      if (produced != before || s.copy_pending) continue;
    }
    if (!s.copy_pending) {
      HuffEntry e;
      if (decode_symbol(s, s.literal_table, s.literal_bits, &e) != 0)
        return fail(s, kInflateBadData);
      if (e.op == kOpLiteral) {
        s.window[s.window_pos++] = static_cast<unsigned char>(e.value);
        ++produced;
        wrap_if_full(s);
        continue;
      }
      if (e.op == kOpEndOfBlock) {
        end_block(s);
        break;
      }
      if (start_copy(s, e) != 0) return -1;
    }
    run_copy(s, room, &produced);
  }
  flush(s);
  return static_cast<int>(produced);
}

// Run the codes of a fixed or dynamic block; its tables go when the block
// ends or fails.
int run_codes(InflateState& s, uint32_t room) {
  int r = codes(s, room);
  if (r < 0 || s.block_kind == BlockKind::none) release_tables(s);
  return r;
}

// Build the fixed codes' tables into their own slots: literal/length
// lengths 8, 9, 7, 8 over 0-143, 144-255, 256-279, 280-287, and 30 distance
// codes of length 5.  Returns 0, or -1 when they cannot be built (the slots
// would not hold them), which no fixed block can get past.
int build_fixed_tables(FixedTables& f) {
  unsigned lengths[288];
  for (unsigned i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  HuffArena arena{f.slots, kFixedTableSlots, 0};
  HuffEntry *literal = nullptr, *wide = nullptr, *distance = nullptr;
  unsigned literal_bits = 7, wide_bits = kFixedWideBits, distance_bits = 5;
  if (build_huffman_table_in(&arena, lengths, 288, 257, kLengthBase, kLengthExtra, &literal,
                             &literal_bits) != 0 ||
      build_huffman_table_in(&arena, lengths, 288, 257, kLengthBase, kLengthExtra, &wide,
                             &wide_bits) != 0 ||
      wide_bits != kFixedWideBits)
    return -1;
  for (unsigned i = 0; i < 30; ++i) lengths[i] = 5;
  // The fixed distance code is incomplete by design (codes 30 and 31 unused).
  if (build_huffman_table_in(&arena, lengths, 30, 0, kDistanceBase, kDistanceExtra, &distance,
                             &distance_bits) != 1)
    return -1;
  f.literal_bits = literal_bits;
  f.distance_bits = distance_bits;
  f.distance = distance;
  f.wide_literal = wide;
  f.literal = literal;
  return 0;
}

// A fixed block's set-up: point the block at the fixed tables, built once.
int setup_fixed(InflateState& s) {
  release_tables(s);
  if (!s.fixed.literal && build_fixed_tables(s.fixed) != 0) return fail(s, kInflateBadFixed);
  s.literal_table = s.fixed.literal;
  s.distance_table = s.fixed.distance;
  s.literal_bits = s.fixed.literal_bits;
  s.distance_bits = s.fixed.distance_bits;
  s.tables_fixed = true;
  s.block_ready = true;
  return 0;
}

// Read the nl + nd literal/length and distance code lengths through the
// code-length code.  Returns 0 or -1.
int read_code_lengths(InflateState& s, const HuffEntry* table, unsigned bits, unsigned total,
                      unsigned* lengths) {
  unsigned previous = 0;
  for (unsigned i = 0; i < total;) {
    HuffEntry e;
    if (decode_symbol(s, table, bits, &e) != 0) return -1;
    unsigned sym = e.value, repeat = 1, value = sym;
    if (sym == 16) {
      repeat = need_take(s, 2) + 3;
      value = previous;
    } else if (sym == 17) {
      repeat = need_take(s, 3) + 3;
      value = 0;
    } else if (sym == 18) {
      repeat = need_take(s, 7) + 11;
      value = 0;
    }
    if (repeat > total - i) return -1;
    for (unsigned k = 0; k < repeat; ++k) lengths[i++] = value;
    previous = sym <= 15 ? sym : (sym == 16 ? previous : 0);
  }
  return 0;
}

// Build one table of a dynamic block; any result but 0 fails the block.
int build_dynamic(InflateState& s, const unsigned* lengths, unsigned n, unsigned simple,
                  const uint16_t* bases, const uint16_t* extras, HuffEntry** table,
                  unsigned* bits) {
  int r = build_huffman_table(lengths, n, simple, bases, extras, table, bits);
  if (r == 0) return 0;
  if (r == 1) free_huffman_table(table);
  return fail(s, r < 0 ? kInflateNoMemory : kInflateBadData);
}

int setup_dynamic(InflateState& s) {
  unsigned nl = need_take(s, 5) + 257;
  unsigned nd = need_take(s, 5) + 1;
  unsigned nb = need_take(s, 4) + 4;
  if (nl > 286 || nd > 30) return fail(s, kInflateBadData);
  unsigned lengths[286 + 30] = {};
  for (unsigned i = 0; i < nb; ++i) lengths[kCodeLengthOrder[i]] = need_take(s, 3);
  release_tables(s);
  HuffEntry* cl_table = nullptr;
  unsigned cl_bits = 7;
  if (build_dynamic(s, lengths, 19, 19, nullptr, nullptr, &cl_table, &cl_bits) != 0) return -1;
  int r = read_code_lengths(s, cl_table, cl_bits, nl + nd, lengths);
  free_huffman_table(&cl_table);
  if (r != 0) return fail(s, kInflateBadData);
  s.literal_bits = 9;
  if (build_dynamic(s, lengths, nl, 257, kLengthBase, kLengthExtra, &s.literal_table,
                    &s.literal_bits) != 0)
    return -1;
  s.distance_bits = 6;
  if (build_dynamic(s, lengths + nl, nd, 0, kDistanceBase, kDistanceExtra, &s.distance_table,
                    &s.distance_bits) != 0) {
    free_huffman_table(&s.literal_table);
    return -1;
  }
  s.block_ready = true;
  return 0;
}

int run_block(InflateState& s, uint32_t room) {
  switch (s.block_kind) {
    case BlockKind::stored:
      return stored_block(s, room);
    case BlockKind::fixed:
      settle_window(s);
      if (!s.block_ready && setup_fixed(s) != 0) return -1;
      return run_codes(s, room);
    case BlockKind::dynamic:
      settle_window(s);
      if (!s.block_ready && setup_dynamic(s) != 0) return -1;
      return run_codes(s, room);
    case BlockKind::none:
      break;
  }
  return 0;
}

// BFINAL and BTYPE.  Returns 0 or -1 (block type 3).
int read_block_header(InflateState& s) {
  if (need_take(s, 1)) s.final_block = true;
  switch (need_take(s, 2)) {
    case 0:
      s.block_kind = BlockKind::stored;
      break;
    case 1:
      s.block_kind = BlockKind::fixed;
      break;
    case 2:
      s.block_kind = BlockKind::dynamic;
      break;
    default:
      return fail(s, kInflateBadData);
  }
  s.block_ready = false;
  s.copy_pending = false;
  return 0;
}

// The block loop of inflate_read: the count delivered, or -1.
int read_blocks(InflateState& s, uint32_t limit) {
  uint32_t total = 0;
  for (;;) {
    if (s.block_kind == BlockKind::none) {
      if (s.final_block) return static_cast<int>(total);
      if (read_block_header(s) != 0) return -1;
    }
    int r = run_block(s, limit - total);
    if (r < 0) return -1;
    if (r == 0 && s.final_block) return static_cast<int>(total);
    total += static_cast<uint32_t>(r);
    if (total >= limit) return static_cast<int>(total);
  }
}

void clear_stream(InflateState& s) {
  s.has_source = false;
  s.source = ByteSource{};
  s.window_pos = s.deliver_from = 0;
  s.output_cursor = nullptr;
  s.output_total = 0;
  s.history = 0;
  s.window_debt = 0;
  s.bit_buffer = 0;
  s.bit_count = 0;
  s.block_kind = BlockKind::none;
  s.block_ready = s.copy_pending = s.started = s.final_block = s.failed = false;
  s.copy_length = s.copy_from = s.stored_remaining = 0;
}

}  // namespace

InflateState& inflate_state() {
  return g_engine;
}

int inflate_error() {
  return g_engine.error;
}

int inflate_begin(const ByteSource* source) {
  InflateState& s = g_engine;
  s.error = kInflateOk;
  if (!s.window) {
    s.window = static_cast<unsigned char*>(codec_alloc(kWindowSize + kWindowSlack));
    if (!s.window) {
      s.error = kInflateNoMemory;
      return kInflateNoMemory;
    }
  }
  clear_stream(s);
  if (source) s.source = *source;
  // The view is used only as a pair: a peek without consume is ignored.
  if (!s.source.peek || !s.source.consume) {
    s.source.peek = nullptr;
    s.source.consume = nullptr;
  }
  s.has_source = source && source->next_byte;
  running_crc_reset();
  return 0;
}

int inflate_read(unsigned char* out, uint32_t limit, uint32_t expected_size) {
  InflateState& s = g_engine;
  s.started = true;
  s.expected_size = expected_size;
  if (s.failed) {
    s.error = s.failure;
    return -1;
  }
  // Reading without a begun stream would go through a missing window.
  if (!s.window || !s.has_source) return fail(s, kInflateUnfinished);
  limit = std::min<uint32_t>(limit, 0x7FFFFFFF);
  s.output_cursor = out;
  int r = read_blocks(s, limit);
  if (r >= 0) settle_window(s);
  return r;
}

int inflate_end() {
  InflateState& s = g_engine;
  s.error = kInflateOk;
  int result = -1;
  if (s.window && s.has_source && s.started) {
    if (!s.final_block) {
      s.error = kInflateUnfinished;
      result = kInflateUnfinished;
    } else {
      // Decoded bytes nobody fetched: counted and folded in, delivered to no one.
      uint32_t drained = 0;
      int r = 0;
      unsigned char scratch[16];
      if (s.block_kind != BlockKind::none) {
        // Once past the expected size the result is settled (a wrong size),
        // so the drain stops there: a damaged stream, or a truncated one fed
        // with filler bytes, may otherwise decode without end.
        while (s.output_total <= s.expected_size &&
               (r = inflate_read(scratch, sizeof scratch, s.expected_size)) == 16)
          drained += 16;
      }
      if (r >= 0) {
        if (s.output_total != s.expected_size) {
          s.error = kInflateWrongSize;
        } else {
          result = 0;
          if (drained) s.error = result = kInflateUnfinished;
        }
      }
    }
  }
  codec_free(s.window);
  s.window = nullptr;
  release_tables(s);
  clear_stream(s);
  return result;
}

}  // namespace rz
