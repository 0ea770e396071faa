// The benchmark corpus: inputs made from a seed with integer arithmetic only,
// so that every machine makes the same bytes and figures from two machines
// compare.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rz::bench {

using Bytes = std::vector<uint8_t>;

// xorshift64*: small, fast and the same everywhere.
struct Rng {
  uint64_t s;
  explicit Rng(uint64_t seed) : s(seed ? seed : 0x9E3779B97F4A7C15ull) {}
  uint64_t next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1Dull;
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>((next() >> 32) % n); }
};

// Prose: words drawn with Zipf's law (frequency ~ 1 / rank) from a
// vocabulary whose commonest words are short, in sentences and paragraphs
// wrapped at about 72 columns, with some numbers and punctuation.
Bytes make_text(size_t n, uint64_t seed);

// Code-like binary: fixed-size records (counters, small enums, slowly
// changing values, offsets, references into a pool of identifiers) mixed
// with stretches of machine-code-like bytes from a small skewed opcode set.
Bytes make_binary(size_t n, uint64_t seed);

// Incompressible bytes.
Bytes make_random(size_t n, uint64_t seed);

struct TreeOptions {
  uint64_t seed = 1;
  uint64_t total_bytes = 100ull << 20;  // small and large files together, roughly
  unsigned small_files = 3000;          // 0 .. 64 KiB each, under small/
  unsigned large_files = 5;             // the rest of total_bytes, under large/
};

struct TreeSummary {
  unsigned files = 0;
  unsigned small_files = 0;
  unsigned directories = 0;
  uint64_t bytes = 0;
  uint64_t small_bytes = 0;
};

// Write the corpus tree under dir (created; must not hold a corpus already):
// small/ with options.small_files files in nested folders and large/ with
// options.large_files files.  Every file gets the same fixed modification
// time.  Returns 0, or -1 with *error set.
int write_corpus_tree(const std::string& dir, const TreeOptions& options, TreeSummary* summary,
                      std::string* error);

}  // namespace rz::bench
