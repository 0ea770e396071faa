#include "codec/huffman.h"

#include <algorithm>

#include "codec/memory.h"

namespace rz {

const uint16_t kLengthBase[31] = {3,  4,   5,   6,   7,   8,   9,   10, 11, 13, 15,
                                  17, 19,  23,  27,  31,  35,  43,  51, 59, 67, 83,
                                  99, 115, 131, 163, 195, 227, 258, 0,  0};
const uint16_t kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,  2, 2,
                                   3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
const uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint16_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

namespace {

// The slot for the next symbol in canonical order, or an invalid slot for the
// extra codes that fill an incomplete code space.
HuffEntry make_slot(const unsigned* sorted, unsigned used, unsigned& next_value, unsigned bits,
                    unsigned simple_count, const uint16_t* bases, const uint16_t* extras) {
  HuffEntry r{kOpInvalid, static_cast<uint8_t>(bits), 0, nullptr};
  if (next_value >= used) return r;
  unsigned sym = sorted[next_value++];
  if (sym < simple_count) {
    r.op = sym < 256 ? kOpLiteral : kOpEndOfBlock;
    r.value = static_cast<uint16_t>(sym);
  } else {
    r.op = static_cast<uint8_t>(extras[sym - simple_count]);
    r.value = bases[sym - simple_count];
  }
  return r;
}

// Width of a new table whose first code has length k, w bits resolved above
// it: as narrow as the codes under its prefix allow, at most z bits.  a is
// the number of codes of length k still to place, this one included.
unsigned table_width(unsigned k, unsigned w, unsigned z, unsigned a, const unsigned* count) {
  unsigned j = k - w;
  unsigned f = 1u << j;
  if (f > a) {
    f -= a;
    const unsigned* xp = count + k;
    while (j < z && ++j < z) {
      f <<= 1;
      if (f <= *++xp) break;
      f -= *xp;
    }
  }
  return j;
}

// The state of the table generation: the levels open along the current
// code, and the chain of blocks allocated so far.
struct TableWriter {
  unsigned l;                                  // top-level width; sub-levels resolve l bits
  HuffEntry* levels[kMaxCodeLength + 1] = {};  // the current table of each level
  unsigned prefix[kMaxCodeLength + 1] = {};    // the code prefix each level hangs under
  HuffEntry** chain;                           // where the next block is linked in
  HuffEntry* first = nullptr;
  HuffEntry* q = nullptr;  // the current table
  int h = -1;              // its level
  int w;                   // code bits resolved by the levels above it
  unsigned z = 0;          // its entries
  HuffArena* arena;        // where blocks come from; the codec heap when null

  TableWriter(unsigned top, HuffEntry** table, HuffArena* from)
      : l(top), chain(table), w(-static_cast<int>(top)), arena(from) {}

  HuffEntry* take_block(unsigned slots) {
    if (!arena) return static_cast<HuffEntry*>(codec_alloc(slots * sizeof(HuffEntry)));
    if (slots > arena->capacity - arena->used) return nullptr;
    HuffEntry* block = arena->slots + arena->used;
    arena->used += slots;
    return block;
  }

  // Open the tables that a code of length k (with a codes of that length
  // left, this one included) needs below the current level, each as narrow
  // as the codes under its prefix allow.  Returns 0 or -1 (no memory).
  int open_levels(unsigned k, unsigned a, unsigned g, const unsigned* count, unsigned i) {
    while (static_cast<int>(k) > w + static_cast<int>(l)) {
      ++h;
      w += static_cast<int>(l);
      unsigned limit = g - static_cast<unsigned>(w);
      if (limit > l) limit = l;
      unsigned j = table_width(k, static_cast<unsigned>(w), limit, a, count);
      z = 1u << j;
      HuffEntry* block = take_block(z + 1);
      if (!block) return -1;
      block[0] = HuffEntry{0, 0, 0, nullptr};
      q = block + 1;
      *chain = q;
      if (!first) first = q;
      chain = &block[0].next;
      levels[h] = q;
      if (h > 0) {
        prefix[h] = i;
        HuffEntry link{static_cast<uint8_t>(16 + j), static_cast<uint8_t>(l), 0, q};
        levels[h - 1][i >> (static_cast<unsigned>(w) - l)] = link;
      }
    }
    return 0;
  }

  // Store slot r of a code i of length k into every index of the current
  // table that ends in the code's bits.
  void place(HuffEntry r, unsigned i, unsigned k) {
    unsigned step = 1u << (k - static_cast<unsigned>(w));
    for (unsigned j = i >> w; j < z; j += step) q[j] = r;
  }

  // Close the levels whose prefix the next code i no longer has.
  void close_levels(unsigned i) {
    while ((i & ((1u << w) - 1)) != prefix[h]) {
      --h;
      w -= static_cast<int>(l);
    }
  }
};

// The next code after i, of length k, in bit-reversed order.
unsigned next_reversed(unsigned i, unsigned k) {
  unsigned bit = 1u << (k - 1);
  while (i & bit) {
    i ^= bit;
    bit >>= 1;
  }
  return i ^ bit;
}

// Check the code space of the lengths counted in count (shortest kmin,
// longest g).  Returns the space left over (>= 0), or -1 when the code is
// over-subscribed.
int left_over_space(const unsigned* count, unsigned kmin, unsigned g) {
  int y = 1 << kmin;
  for (unsigned j = kmin; j < g; ++j, y <<= 1)
    if ((y -= static_cast<int>(count[j])) < 0) return -1;
  y -= static_cast<int>(count[g]);
  return y < 0 ? -1 : y;
}

// The builder behind both entry points: blocks from arena, or from the
// codec heap when arena is null.
int build_table(HuffArena* arena, const unsigned* lengths, unsigned n, unsigned simple_count,
                const uint16_t* bases, const uint16_t* extras, HuffEntry** table,
                unsigned* lookup_bits) {
  if (n > kMaxSymbols) return 2;
  unsigned count[kMaxCodeLength + 2] = {};
  for (unsigned i = 0; i < n; ++i) {
    if (lengths[i] > kMaxCodeLength) return 2;
    ++count[lengths[i]];
  }
  if (count[0] == n) {
    *table = nullptr;
    *lookup_bits = 0;
    return 0;
  }
  unsigned kmin = 1, g = kMaxCodeLength;
  while (count[kmin] == 0) ++kmin;
  while (count[g] == 0) --g;
  unsigned l = std::clamp(*lookup_bits, kmin, g);
  *lookup_bits = l;
  int y = left_over_space(count, kmin, g);
  if (y < 0) return 2;
  // The space left over becomes extra codes of the longest length, whose
  // slots are invalid.
  count[g] += static_cast<unsigned>(y);

  // Symbols in canonical order: by length, then by symbol number.
  unsigned offset[kMaxCodeLength + 2] = {};
  for (unsigned j = 1; j <= kMaxCodeLength; ++j) offset[j + 1] = offset[j] + count[j];
  unsigned sorted[kMaxSymbols];
  unsigned used = 0;
  for (unsigned i = 0; i < n; ++i)
    if (lengths[i]) {
      sorted[offset[lengths[i]]++] = i;
      ++used;
    }

  const unsigned arena_used = arena ? arena->used : 0;
  TableWriter t(l, table, arena);
  unsigned i = 0;  // the current code, bit-reversed
  unsigned next_value = 0;
  for (unsigned k = kmin; k <= g; ++k) {
    for (unsigned a = count[k]; a > 0; --a) {
      if (t.open_levels(k, a, g, count, i) != 0) {
        if (arena)
          arena->used = arena_used;
        else
          free_huffman_table(&t.first);
        *table = nullptr;
        return -1;
      }
      t.place(make_slot(sorted, used, next_value, k - static_cast<unsigned>(t.w), simple_count,
                        bases, extras),
              i, k);
      i = next_reversed(i, k);
      t.close_levels(i);
    }
  }
  return (y != 0 && g != 1) ? 1 : 0;
}

}  // namespace

int build_huffman_table(const unsigned* lengths, unsigned n, unsigned simple_count,
                        const uint16_t* bases, const uint16_t* extras, HuffEntry** table,
                        unsigned* lookup_bits) {
  return build_table(nullptr, lengths, n, simple_count, bases, extras, table, lookup_bits);
}

int build_huffman_table_in(HuffArena* arena, const unsigned* lengths, unsigned n,
                           unsigned simple_count, const uint16_t* bases, const uint16_t* extras,
                           HuffEntry** table, unsigned* lookup_bits) {
  return build_table(arena, lengths, n, simple_count, bases, extras, table, lookup_bits);
}

void free_huffman_table(HuffEntry** table) {
  if (!table || !*table) return;
  HuffEntry* q = *table;
  while (q) {
    HuffEntry* block = q - 1;
    q = block->next;
    codec_free(block);
  }
  *table = nullptr;
}

}  // namespace rz
