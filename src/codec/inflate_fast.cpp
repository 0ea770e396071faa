// The fast loop of the decoder.
//
// Entry conditions (checked by the caller, codes() in inflate.cpp): the
// current block is fixed or dynamic with its tables built, no copy is
// pending, and the source offers a view of at least kFastMinInput bytes.
//
// Why no bound check is needed inside one symbol:
// - Input.  The bit buffer is 64 bits wide and is refilled with one unaligned
//   8-byte load from the view, which needs 8 bytes ahead of the read
//   position; the loop runs while that holds.  After a refill at least 56
//   bits are buffered.  One iteration uses at most 48: a literal/length code
//   (15 bits) with 5 extra bits, a distance code (15) with 13 extra bits; or
//   at most 45 for a run of up to three literals (15 bits each at most).
//   Lookups read a few bits past the code itself, always inside the 64 loaded
//   bits.
// - Output.  The loop writes up to out_end, the nearer of the caller's limit
//   and the end of the window; it never wraps the window.  A match longer
//   than the room left is cut at out_end and left pending (copy_pending,
//   copy_length, copy_from) for the resumable path, which is what that path
//   does itself.  Copies move whole 16- or 8-byte words and may spill up to
//   15 bytes past their end: into the window's slack, or into bytes ahead of
//   the write position, which are more than 32768 back from anything still
//   to be decoded since the window is twice the farthest distance.  Those
//   bytes are neither staged output nor reachable history.
//
// On leaving, the whole bytes still in the bit buffer that came from the view
// are handed back (the view position moves back over them) and only the bytes
// actually used are consumed, so the source's counters, the bit state and the
// output are exactly what the resumable path would have produced.
#include <cstring>

#include "codec/inflate_internal.h"

namespace rz {

namespace {

inline uint64_t load_le64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

inline void copy8(unsigned char* dst, const unsigned char* src) {
  uint64_t v;
  std::memcpy(&v, src, 8);
  std::memcpy(dst, &v, 8);
}

// 16 bytes from src to dst; used where src lies at least 16 bytes before dst.
inline void copy16(unsigned char* dst, const unsigned char* src) {
  unsigned char v[16];
  std::memcpy(v, src, 16);
  std::memcpy(dst, v, 16);
}

// Copy len bytes from src to dst where src lies dist bytes before dst, with
// the result of a forward byte copy.  Whole 16- or 8-byte words are moved,
// so up to 15 bytes past dst + len are overwritten: the window leaves room
// for that, and those bytes are neither pending output nor history a
// distance can reach (see kWindowSize).
inline void copy_back(unsigned char* dst, const unsigned char* src, uint32_t len, uint32_t dist) {
  unsigned char* const end = dst + len;
  if (dist >= 16) {
    do {
      copy16(dst, src);
      dst += 16;
      src += 16;
    } while (dst < end);
  } else if (dist >= 8) {
    // Each word read lies wholly before the word written, or was written by
    // an earlier step of this copy.
    do {
      copy8(dst, src);
      dst += 8;
      src += 8;
    } while (dst < end);
  } else if (dist == 1) {
    uint64_t v = 0x0101010101010101ull * src[0];
    do {
      std::memcpy(dst, &v, 8);
      dst += 8;
    } while (dst < end);
  } else {
    while (dst < end) *dst++ = *src++;
  }
}

// Copy len bytes from a source that lies physically at or after dst (a
// distance that reaches across the start of the window), as a forward byte
// copy would; the source may run on past the window's end to its start.
inline void copy_wrapped(unsigned char* window, unsigned char* dst, const unsigned char* src,
                         uint32_t len) {
  const unsigned char* end = window + kWindowSize;
  for (uint32_t k = 0; k < len; ++k) {
    if (src == end) src = window;
    *dst++ = *src++;
  }
}

struct Bits {
  uint64_t buf;
  uint32_t count;
  void drop(uint32_t n) {
    buf >>= n;
    count -= n;
  }
  uint32_t peek(uint32_t n) const { return static_cast<uint32_t>(buf & ((uint64_t{1} << n) - 1)); }
};

// From the top-level slot e of a code, follow sub-table links.  Returns the
// final slot (op 99 for an invalid code, whose bits are not dropped).
inline const HuffEntry* follow_links(Bits& b, const HuffEntry* e) {
  // Links are ops 17..32: one unsigned compare tells them from the rest.
  while (static_cast<uint8_t>(e->op - (kOpLiteral + 1)) < 16) {
    b.drop(e->bits);
    e = &e->next[b.peek(e->op - 16u)];
  }
  return e;
}

constexpr HuffEntry kNoDistanceCodes = {kOpInvalid, 0, 0, nullptr};

}  // namespace

FastResult inflate_fast(InflateState& s, uint32_t room, uint32_t* produced) {
  const unsigned char* view = nullptr;
  uint32_t avail = s.source.peek(&view);
  if (avail < kFastMinInput || !view || !s.literal_table) return FastResult::stopped;

  const unsigned char* in = view;
  const unsigned char* const in_last = view + avail - 8;  // last position an 8-byte load may start
  unsigned char* const window = s.window;
  unsigned char* const out_start = window + s.window_pos;
  uint32_t space = kWindowSize - s.window_pos;
  if (room < space) space = room;
  unsigned char* const out_end = out_start + space;
  unsigned char* out = out_start;
  // Bytes of this stream a distance may reach from out: what was reachable
  // on entry plus what this call wrote, that is pos - window_pos on entry
  // more; kept as one offset to pos (taken modulo 2^32, the sum is exact).
  const uint32_t reach_offset = reachable_history(s) - s.window_pos;

  const HuffEntry* const lt = s.tables_fixed ? s.fixed.wide_literal : s.literal_table;
  // A block without distance codes has no distance table: a length symbol
  // then meets the invalid slot here.
  const HuffEntry* const dt = s.distance_table ? s.distance_table : &kNoDistanceCodes;
  const uint32_t lbits = s.tables_fixed ? kFixedWideBits : s.literal_bits;
  const uint32_t dbits = s.distance_table ? s.distance_bits : 0;
  Bits b{s.bit_buffer, s.bit_count};
  FastResult result = FastResult::stopped;

  while (out < out_end && in <= in_last) {
    // Refill to 56..63 bits; bits above count are the true next bits.
    b.buf |= load_le64(in) << b.count;
    in += (63 - b.count) >> 3;
    b.count |= 56;

    const HuffEntry* e = &lt[b.peek(lbits)];
    if (e->op == kOpLiteral) {
      // Three literal codes fit in one refill (see the header): runs of
      // literals decode up to three per refill.  Only a top-level literal
      // slot is taken here; anything else waits for the next round.
      b.drop(e->bits);
      *out++ = static_cast<unsigned char>(e->value);
      e = &lt[b.peek(lbits)];
      if (e->op != kOpLiteral || out == out_end) continue;
      b.drop(e->bits);
      *out++ = static_cast<unsigned char>(e->value);
      e = &lt[b.peek(lbits)];
      if (e->op != kOpLiteral || out == out_end) continue;
      b.drop(e->bits);
      *out++ = static_cast<unsigned char>(e->value);
      continue;
    }
    e = follow_links(b, e);
    if (e->op == kOpInvalid) goto bad;
    b.drop(e->bits);
    if (e->op == kOpLiteral) {
      *out++ = static_cast<unsigned char>(e->value);
      continue;
    }
    if (e->op == kOpEndOfBlock) {
      result = FastResult::end_of_block;
      break;
    }
    {
      uint32_t len = e->value + b.peek(e->op);
      b.drop(e->op);
      const HuffEntry* d = follow_links(b, &dt[b.peek(dbits)]);
      if (d->op == kOpInvalid) goto bad;
      b.drop(d->bits);
      uint32_t dist = d->value + b.peek(d->op);
      b.drop(d->op);
      uint32_t pos = static_cast<uint32_t>(out - window);
      // The history reachable from out: pos + reach_offset (see above).
      if (dist > pos + reach_offset) goto bad;
      // A match longer than the room left is cut there and left pending,
      // exactly as the resumable path leaves it.
      uint32_t left = static_cast<uint32_t>(out_end - out);
      uint32_t n = len <= left ? len : left;
      if (dist <= pos) {
        copy_back(out, out - dist, n, dist);
      } else {
        copy_wrapped(window, out, window + (pos + kWindowSize - dist), n);
      }
      out += n;
      if (n < len) {
        s.copy_pending = true;
        s.copy_length = len - n;
        s.copy_from = (pos + n + kWindowSize - dist) & (kWindowSize - 1);
        break;
      }
    }
  }
  {
    // Hand back the whole bytes of the view still unused in the bit buffer.
    uint32_t loaded = static_cast<uint32_t>(in - view);
    uint32_t unused = b.count >> 3;
    if (unused > loaded) unused = loaded;
    in -= unused;
    b.count -= unused * 8;
    b.buf &= (uint64_t{1} << b.count) - 1;
    s.source.consume(static_cast<uint32_t>(in - view));
    s.bit_buffer = b.buf;
    s.bit_count = b.count;
    uint32_t n = static_cast<uint32_t>(out - out_start);
    s.window_pos += n;
    *produced += n;
    return result;
  }
bad:
  s.error = kInflateBadData;
  return FastResult::failed;
}

}  // namespace rz
