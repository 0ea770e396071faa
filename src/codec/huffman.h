// Lookup tables for the canonical Huffman codes of DEFLATE.
//
// A table is indexed by the next input bits, least significant bit first, so
// a code's bits appear in the index reversed.  Codes longer than the top
// level continue in sub-tables.  Every table is one heap block of 2^k + 1
// slots whose first, hidden slot chains to the block allocated after it for
// the same code, so all levels are released from the top-level table.
#pragma once

#include <cstdint>

namespace rz {

// One slot.  op: 0..13 a length or distance symbol followed by op extra bits
// (value = its base); 15 end of block; 16 a literal or plain symbol (value =
// the symbol); 17..32 a link to a sub-table indexed by op - 16 more bits
// (next = the sub-table); 99 an invalid code.  bits: the input bits the slot
// consumes at its level.
struct HuffEntry {
  uint8_t op;
  uint8_t bits;
  uint16_t value;
  HuffEntry* next;
};

constexpr uint8_t kOpEndOfBlock = 15;
constexpr uint8_t kOpLiteral = 16;
constexpr uint8_t kOpInvalid = 99;
constexpr unsigned kMaxCodeLength = 16;
constexpr unsigned kMaxSymbols = 288;

// Base lengths and extra bits for literal/length symbols 257..287 (index
// symbol - 257).  286 and 287 carry extra 99 so that they decode as invalid.
extern const uint16_t kLengthBase[31];
extern const uint16_t kLengthExtra[31];
// Base distances and extra bits for distance symbols 0..29.
extern const uint16_t kDistanceBase[30];
extern const uint16_t kDistanceExtra[30];

// Build the table of a code from n code lengths (each 0..16, 0 = no code;
// n <= 288).  Symbols below simple_count are plain: op 16 below 256, op 15
// otherwise, value = the symbol.  The others take op = extras[sym -
// simple_count] and value = bases[sym - simple_count] (bases and extras may be
// null when every symbol is plain).  *lookup_bits holds the wanted top-level
// width on entry and the width used on return (clamped to the shortest and
// longest code length).
// Returns 0 for a complete code, for all lengths 0 (*table = nullptr,
// *lookup_bits = 0) and for a code whose longest length is 1; 1 for an
// incomplete code (built; unfilled slots are op 99); 2 for an over-subscribed
// code or a length above 16 (nothing built, *table not written); -1 when
// memory runs out (everything built for this code released, *table = nullptr).
int build_huffman_table(const unsigned* lengths, unsigned n, unsigned simple_count,
                        const uint16_t* bases, const uint16_t* extras, HuffEntry** table,
                        unsigned* lookup_bits);

// Slots for tables kept outside the heap.  A build into an arena takes its
// blocks from it in order; they are never released one by one (the arena's
// owner holds them for as long as it lives).
struct HuffArena {
  HuffEntry* slots;
  unsigned capacity;
  unsigned used;
};

// As build_huffman_table, with every block taken from arena.  Returns -1
// when the arena is too small (arena->used is then as it was, *table =
// nullptr).  Tables built here must not be given to free_huffman_table.
int build_huffman_table_in(HuffArena* arena, const unsigned* lengths, unsigned n,
                           unsigned simple_count, const uint16_t* bases, const uint16_t* extras,
                           HuffEntry** table, unsigned* lookup_bits);

// Release every block of a table's chain and set *table to nullptr.  A null
// reference is left alone.
void free_huffman_table(HuffEntry** table);

}  // namespace rz
