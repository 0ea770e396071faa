// Helpers shared by the codec tests: a bit writer for hand-made streams, a
// byte source over a buffer (with or without a view), raw DEFLATE through
// zlib, and an allocator that fails on request.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "codec/inflate.h"
#include "codec/memory.h"

namespace rz::test {

using Bytes = std::vector<uint8_t>;

// Writes bits least significant first, as DEFLATE packs them.
class BitWriter {
 public:
  void bits(uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) bit((value >> i) & 1);
  }
  // A Huffman code is sent most significant bit first.
  void code(uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;) bit((code >> i) & 1);
  }
  void align() {
    while (used_ != 0) bit(0);
  }
  void byte(uint8_t b) { bits(b, 8); }
  // The fixed literal/length code of symbol sym.
  void fixed_symbol(unsigned sym) {
    if (sym < 144)
      code(0x30 + sym, 8);
    else if (sym < 256)
      code(0x190 + sym - 144, 9);
    else if (sym < 280)
      code(sym - 256, 7);
    else
      code(0xC0 + sym - 280, 8);
  }
  void fixed_distance(unsigned sym) { code(sym, 5); }
  size_t bit_length() const { return out_.size() * 8 - (used_ ? 8 - used_ : 0); }
  Bytes finish() const { return out_; }

 private:
  void bit(unsigned b) {
    if (used_ == 0) out_.push_back(0);
    out_.back() |= static_cast<uint8_t>(b << used_);
    used_ = (used_ + 1) & 7;
  }
  Bytes out_;
  unsigned used_ = 0;
};

// How the test source offers its bytes.
struct SourceMode {
  const char* name;
  bool view;          // offer peek/consume
  uint32_t view_max;  // at most this many bytes per view (like a refilling buffer)
};

// A byte source over one buffer.  Past the end it hands out a filler byte and
// counts how often it was asked.
struct TestSource {
  Bytes data;
  size_t pos = 0;
  size_t calls = 0;       // next_byte calls
  size_t beyond_end = 0;  // bytes asked for past the data
  uint32_t view_max = 0;
  uint32_t last_view = 0;  // count offered by the last peek
  uint8_t filler = 0;
};

TestSource& test_source();
// A ByteSource over test_source(), set up with data and mode.
ByteSource make_source(const Bytes& data, const SourceMode& mode);

// Raw DEFLATE (no wrapper) of data.
Bytes deflate_raw(const Bytes& data, int level, int strategy = Z_DEFAULT_STRATEGY,
                  int mem_level = 8);
// The standard CRC-32 of data.
uint32_t zlib_crc(const Bytes& data);

// Deterministic inputs.
Bytes random_bytes(size_t n, uint32_t seed);
Bytes text_bytes(size_t n, uint32_t seed);
// Alternating stretches of text and random bytes, which makes zlib mix stored
// and Huffman blocks.
Bytes mixed_bytes(size_t n, uint32_t seed);

// The result of decoding a whole stream with fixed-size reads.
struct DecodeRun {
  Bytes output;
  std::vector<int> returns;    // every inflate_read result
  std::vector<uint32_t> crcs;  // RunningCrc after every call
  int begin = 0;
  int read_error = 0;      // inflate_error after a -1, else 0
  int end = 0;             // inflate_end result
  int end_error = 0;       // inflate_error after inflate_end
  uint32_t final_crc = 0;  // RunningCrc after inflate_end
  size_t beyond_end = 0;
  size_t consumed = 0;
};

// Decode stream with reads of limit bytes until a short read or -1, then
// inflate_end.  expected defaults to the decoded length known to the test.
DecodeRun decode(const Bytes& stream, uint32_t limit, const SourceMode& mode, uint32_t expected,
                 size_t max_calls = 50'000'000);

// An allocator that fails the Nth allocation (1-based; 0 = never) and counts
// blocks still held.
struct FailingAllocator {
  static void install(int fail_at);
  static void remove();
  static int allocations();
  static int outstanding();
};

}  // namespace rz::test
