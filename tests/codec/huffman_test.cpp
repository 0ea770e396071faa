// The Huffman table builder: results, width clamping, sub-tables, invalid
// slots and memory failures.
#include "codec/huffman.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec_test_util.h"

namespace rz::test {
namespace {

// Decode the code that the bits give (LSB first) through a table; returns the
// slot reached and the bits used, or op 99.
HuffEntry walk(const HuffEntry* t, unsigned l, uint32_t bits, unsigned* used) {
  *used = 0;
  for (;;) {
    const HuffEntry& e = t[bits & ((1u << l) - 1)];
    if (e.op == kOpInvalid) return e;
    bits >>= e.bits;
    *used += e.bits;
    if (e.op <= kOpLiteral) return e;
    l = e.op - 16u;
    t = e.next;
  }
}

// The canonical code of each symbol (RFC 1951 3.2.2), bit-reversed for lookup.
std::vector<uint32_t> reversed_codes(const std::vector<unsigned>& lengths) {
  unsigned count[17] = {}, next[17] = {};
  for (unsigned l : lengths) ++count[l];
  count[0] = 0;
  for (unsigned b = 1, code = 0; b <= 16; ++b) {
    code = (code + count[b - 1]) << 1;
    next[b] = code;
  }
  std::vector<uint32_t> out(lengths.size());
  for (size_t s = 0; s < lengths.size(); ++s) {
    unsigned l = lengths[s];
    if (!l) continue;
    uint32_t c = next[l]++, r = 0;
    for (unsigned i = 0; i < l; ++i) r |= ((c >> i) & 1) << (l - 1 - i);
    out[s] = r;
  }
  return out;
}

struct Built {
  int result;
  HuffEntry* table = nullptr;
  unsigned bits;
};

Built build(const std::vector<unsigned>& lengths, unsigned simple, unsigned wanted,
            const uint16_t* bases = nullptr, const uint16_t* extras = nullptr) {
  Built b{0, nullptr, wanted};
  b.result = build_huffman_table(lengths.data(), static_cast<unsigned>(lengths.size()), simple,
                                 bases, extras, &b.table, &b.bits);
  return b;
}

TEST(Huffman, Results) {
  struct Case {
    const char* name;
    std::vector<unsigned> lengths;
    unsigned wanted;
    int result;
    unsigned bits;  // width used
  } cases[] = {
      {"all zero", {0, 0, 0, 0}, 7, 0, 0},
      {"one code of length 1", {0, 1, 0}, 7, 0, 1},
      {"two codes of length 1", {1, 1}, 7, 0, 1},
      {"three codes of length 1", {1, 1, 1}, 7, 2, 1},
      {"over-subscribed deeper", {1, 2, 2, 3}, 9, 2, 3},
      {"incomplete", {1, 2, 0, 0}, 9, 1, 2},
      {"complete 1-2-3-3", {1, 2, 3, 3}, 9, 0, 3},
      {"wider than longest is narrowed", {2, 2, 2, 3, 3}, 9, 0, 3},
      {"narrower than shortest is widened",
       {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,
        5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5},
       2,
       0,
       5},
      {"length above 16", {17, 1}, 7, 2, 7},
  };
  for (const Case& c : cases) {
    FailingAllocator::install(0);
    Built b = build(c.lengths, static_cast<unsigned>(c.lengths.size()), c.wanted);
    EXPECT_EQ(b.result, c.result) << c.name;
    EXPECT_EQ(b.bits, c.bits) << c.name;
    if (c.result == 2) {
      EXPECT_EQ(b.table, nullptr) << c.name << ": reference not written";
      EXPECT_EQ(FailingAllocator::allocations(), 0) << c.name << ": nothing allocated";
    }
    if (c.lengths == std::vector<unsigned>{0, 0, 0, 0}) {
      EXPECT_EQ(b.table, nullptr);
    }
    free_huffman_table(&b.table);
    EXPECT_EQ(b.table, nullptr);
    EXPECT_EQ(FailingAllocator::outstanding(), 0) << c.name;
    FailingAllocator::remove();
  }
}

TEST(Huffman, SingleCodeLeavesTheOtherSlotInvalid) {
  Built b = build({0, 1, 0}, 3, 7);
  ASSERT_EQ(b.result, 0);
  ASSERT_NE(b.table, nullptr);
  EXPECT_EQ(b.table[0].op, kOpLiteral);
  EXPECT_EQ(b.table[0].value, 1);
  EXPECT_EQ(b.table[1].op, kOpInvalid);
  free_huffman_table(&b.table);
}

// Every symbol of a code decodes from its canonical bits, through sub-tables
// where the code is longer than the top level, for the fixed code and for
// long, skewed codes that need two and three levels.
TEST(Huffman, EveryCodeDecodesToItsSymbol) {
  std::vector<unsigned> fixed(288);
  for (unsigned i = 0; i < 288; ++i) fixed[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  std::vector<unsigned> skewed;  // lengths 1..15 then two of 15: complete
  for (unsigned l = 1; l <= 15; ++l) skewed.push_back(l);
  skewed.push_back(15);
  std::vector<unsigned> distances = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15};
  struct Case {
    const char* name;
    std::vector<unsigned> lengths;
    unsigned wanted;
    int result;
  } cases[] = {{"fixed literal/length", fixed, 7, 0},
               {"skewed, 9-bit top", skewed, 9, 0},
               {"skewed, 6-bit top (three levels)", distances, 6, 0}};
  for (const Case& c : cases) {
    unsigned n = static_cast<unsigned>(c.lengths.size());
    Built b = build(c.lengths, n, c.wanted);
    ASSERT_EQ(b.result, c.result) << c.name;
    std::vector<uint32_t> codes = reversed_codes(c.lengths);
    for (unsigned s = 0; s < n; ++s) {
      // Junk bits above the code must not matter.
      for (uint32_t junk : {0u, 0xFFFFu, 0x5A5Au}) {
        unsigned used = 0;
        HuffEntry e = walk(b.table, b.bits, codes[s] | (junk << c.lengths[s]), &used);
        ASSERT_NE(e.op, kOpInvalid) << c.name << " symbol " << s;
        EXPECT_EQ(e.value, s) << c.name;
        EXPECT_EQ(e.op, s < 256 ? kOpLiteral : kOpEndOfBlock) << c.name;
        EXPECT_EQ(used, c.lengths[s]) << c.name << " symbol " << s;
      }
    }
    free_huffman_table(&b.table);
  }
}

TEST(Huffman, FixedLiteralCodeWithBases) {
  std::vector<unsigned> fixed(288);
  for (unsigned i = 0; i < 288; ++i) fixed[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  Built b = build(fixed, 257, 7, kLengthBase, kLengthExtra);
  ASSERT_EQ(b.result, 0);
  EXPECT_EQ(b.bits, 7u);
  std::vector<uint32_t> codes = reversed_codes(fixed);
  unsigned used;
  HuffEntry eob = walk(b.table, b.bits, codes[256], &used);
  EXPECT_EQ(eob.op, kOpEndOfBlock);
  HuffEntry len = walk(b.table, b.bits, codes[265], &used);  // 11-12, one extra bit
  EXPECT_EQ(len.op, 1);
  EXPECT_EQ(len.value, 11);
  HuffEntry longest = walk(b.table, b.bits, codes[285], &used);
  EXPECT_EQ(longest.op, 0);
  EXPECT_EQ(longest.value, 258);
  EXPECT_EQ(walk(b.table, b.bits, codes[286], &used).op, kOpInvalid);
  EXPECT_EQ(walk(b.table, b.bits, codes[287], &used).op, kOpInvalid);
  free_huffman_table(&b.table);
}

TEST(Huffman, FixedDistanceCodeIsIncomplete) {
  std::vector<unsigned> lengths(30, 5);
  Built b = build(lengths, 0, 5, kDistanceBase, kDistanceExtra);
  EXPECT_EQ(b.result, 1);
  ASSERT_NE(b.table, nullptr);
  std::vector<unsigned> all32(32, 5);
  std::vector<uint32_t> codes = reversed_codes(all32);
  unsigned used;
  HuffEntry d29 = walk(b.table, b.bits, codes[29], &used);
  EXPECT_EQ(d29.value, 24577);
  EXPECT_EQ(d29.op, 13);
  EXPECT_EQ(walk(b.table, b.bits, codes[30], &used).op, kOpInvalid);
  EXPECT_EQ(walk(b.table, b.bits, codes[31], &used).op, kOpInvalid);
  free_huffman_table(&b.table);
}

// Fail each allocation of a multi-level build in turn: -1, reference none,
// nothing left allocated.
TEST(Huffman, MemoryFailureReleasesEverything) {
  std::vector<unsigned> lengths = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15};
  FailingAllocator::install(0);
  Built ok = build(lengths, 16, 6);
  int blocks = FailingAllocator::allocations();
  free_huffman_table(&ok.table);
  FailingAllocator::remove();
  ASSERT_GE(blocks, 3);
  for (int n = 1; n <= blocks; ++n) {
    FailingAllocator::install(n);
    HuffEntry* t = reinterpret_cast<HuffEntry*>(&n);  // anything but none
    unsigned bits = 6;
    int r = build_huffman_table(lengths.data(), 16, 16, nullptr, nullptr, &t, &bits);
    EXPECT_EQ(r, -1) << n;
    EXPECT_EQ(t, nullptr) << n;
    EXPECT_EQ(FailingAllocator::outstanding(), 0) << n;
    FailingAllocator::remove();
  }
}

}  // namespace
}  // namespace rz::test

namespace rz::test {
namespace {

// Two tables hold the same slots at every level.
void expect_same_table(const HuffEntry* a, const HuffEntry* b, unsigned width,
                       const std::string& where) {
  for (unsigned i = 0; i < (1u << width); ++i) {
    ASSERT_EQ(a[i].op, b[i].op) << where << " slot " << i;
    ASSERT_EQ(a[i].bits, b[i].bits) << where << " slot " << i;
    if (a[i].op > kOpLiteral && a[i].op != kOpInvalid) {
      expect_same_table(a[i].next, b[i].next, a[i].op - 16u, where + "/" + std::to_string(i));
    } else if (a[i].op != kOpInvalid) {
      ASSERT_EQ(a[i].value, b[i].value) << where << " slot " << i;
    }
  }
}

std::vector<unsigned> fixed_literal_lengths() {
  std::vector<unsigned> fixed(288);
  for (unsigned i = 0; i < 288; ++i) fixed[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return fixed;
}

// A build into an arena makes the same table as one from the heap and takes
// nothing from the heap; an arena one slot too small fails cleanly.
TEST(HuffmanArena, SameTablesWithoutTheHeap) {
  std::vector<unsigned> skewed = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15};
  struct Case {
    const char* name;
    std::vector<unsigned> lengths;
    unsigned simple;
    const uint16_t* bases;
    const uint16_t* extras;
    unsigned wanted;
    int result;
  } cases[] = {
      {"fixed literal/length", fixed_literal_lengths(), 257, kLengthBase, kLengthExtra, 7, 0},
      {"fixed distance", std::vector<unsigned>(30, 5), 0, kDistanceBase, kDistanceExtra, 5, 1},
      {"skewed, three levels", skewed, 16, nullptr, nullptr, 6, 0},
  };
  for (const Case& c : cases) {
    unsigned n = static_cast<unsigned>(c.lengths.size());
    Built heap = build(c.lengths, c.simple, c.wanted, c.bases, c.extras);
    ASSERT_EQ(heap.result, c.result) << c.name;

    std::vector<HuffEntry> slots(2000);
    HuffArena arena{slots.data(), 2000, 3};  // a table already in the arena stays
    HuffEntry* t = nullptr;
    unsigned bits = c.wanted;
    FailingAllocator::install(0);
    EXPECT_EQ(
        build_huffman_table_in(&arena, c.lengths.data(), n, c.simple, c.bases, c.extras, &t, &bits),
        c.result)
        << c.name;
    EXPECT_EQ(FailingAllocator::allocations(), 0) << c.name;
    FailingAllocator::remove();
    ASSERT_EQ(bits, heap.bits) << c.name;
    ASSERT_EQ(t, slots.data() + 4) << c.name << ": after the hidden slot of the first block";
    expect_same_table(t, heap.table, bits, c.name);
    free_huffman_table(&heap.table);

    unsigned needed = arena.used - 3;
    HuffArena short_arena{slots.data(), needed - 1, 0};
    t = slots.data();
    bits = c.wanted;
    EXPECT_EQ(build_huffman_table_in(&short_arena, c.lengths.data(), n, c.simple, c.bases, c.extras,
                                     &t, &bits),
              -1)
        << c.name;
    EXPECT_EQ(t, nullptr) << c.name;
    EXPECT_EQ(short_arena.used, 0u) << c.name;
  }
}

}  // namespace
}  // namespace rz::test
