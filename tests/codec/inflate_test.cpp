// The inflate engine: differential runs against zlib over every source mode
// and many output limits, resumption, and a table of invalid streams.
#include "codec/inflate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codec/crc32.h"
#include "codec_test_util.h"

namespace rz::test {
namespace {

constexpr unsigned kLengthExtraBits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr unsigned kDistanceExtraBits[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

const SourceMode kBytes{"bytes", false, 0};
const SourceMode kView1{"view of 1", true, 1};
const SourceMode kView512{"view of 512", true, 512};
const SourceMode kViewAll{"whole view", true, 0xFFFFFFFFu};
const SourceMode kAllModes[] = {kBytes, kView1, kView512, kViewAll};

// Check one complete decode of a valid stream.
void expect_valid(const DecodeRun& run, const Bytes& data, uint32_t limit, size_t stream_size,
                  const std::string& what) {
  ASSERT_EQ(run.begin, 0) << what;
  ASSERT_EQ(run.read_error, 0) << what;
  ASSERT_EQ(run.output.size(), data.size()) << what;
  ASSERT_TRUE(run.output == data) << what;
  for (size_t i = 0; i + 1 < run.returns.size(); ++i)
    ASSERT_EQ(run.returns[i], static_cast<int>(limit)) << what << " call " << i;
  EXPECT_EQ(run.end, 0) << what;
  EXPECT_EQ(run.end_error, 0) << what;
  EXPECT_EQ(run.final_crc, ~zlib_crc(data)) << what;
  EXPECT_EQ(run.consumed, stream_size) << what;
  EXPECT_LE(run.beyond_end, 1u) << what << ": at most one look-ahead byte past the stream";
}

struct Corpus {
  const char* name;
  Bytes data;
};

const std::vector<Corpus>& corpora() {
  static const std::vector<Corpus> c = {
      {"empty", {}},
      {"one byte", {'x'}},
      {"short text", text_bytes(300, 1)},
      {"text", text_bytes(60000, 2)},
      {"random", random_bytes(40000, 3)},
      {"mixed", mixed_bytes(90000, 4)},
      {"zeros", Bytes(70000, 0)},
  };
  return c;
}

struct Packing {
  const char* name;
  int level;
  int strategy;
  int mem_level;
};

const Packing kPackings[] = {
    {"level 0", 0, Z_DEFAULT_STRATEGY, 8},
    {"level 1", 1, Z_DEFAULT_STRATEGY, 8},
    {"level 2", 2, Z_DEFAULT_STRATEGY, 8},
    {"level 3", 3, Z_DEFAULT_STRATEGY, 8},
    {"level 4", 4, Z_DEFAULT_STRATEGY, 8},
    {"level 5", 5, Z_DEFAULT_STRATEGY, 8},
    {"level 6", 6, Z_DEFAULT_STRATEGY, 8},
    {"level 7", 7, Z_DEFAULT_STRATEGY, 8},
    {"level 8", 8, Z_DEFAULT_STRATEGY, 8},
    {"level 9", 9, Z_DEFAULT_STRATEGY, 9},
    {"filtered", 6, Z_FILTERED, 8},
    {"huffman only", 6, Z_HUFFMAN_ONLY, 8},
    {"rle", 6, Z_RLE, 8},
    {"fixed", 6, Z_FIXED, 8},
    {"small blocks", 6, Z_DEFAULT_STRATEGY, 1},
};

// Every corpus, every packing, decoded in every source mode at several limits.
// The view modes must give the same returns and the same RunningCrc after
// every call as the byte-at-a-time source.
TEST(InflateZlib, DecodesEverythingIdenticallyInEveryMode) {
  const uint32_t limits[] = {1, 7, 1024, 40000, 0x7FFFFFFF};
  for (const Corpus& c : corpora()) {
    for (const Packing& p : kPackings) {
      Bytes stream = deflate_raw(c.data, p.level, p.strategy, p.mem_level);
      for (uint32_t limit : limits) {
        if (limit < 1024 && c.data.size() > 40000) continue;  // kept in the next test
        DecodeRun reference;
        for (const SourceMode& m : kAllModes) {
          std::string what = std::string(c.name) + ", " + p.name + ", " + m.name + ", limit " +
                             std::to_string(limit);
          DecodeRun run = decode(stream, limit, m, static_cast<uint32_t>(c.data.size()));
          expect_valid(run, c.data, limit, stream.size(), what);
          if (&m == &kAllModes[0]) {
            reference = run;
          } else {
            EXPECT_EQ(run.returns, reference.returns) << what;
            EXPECT_EQ(run.crcs, reference.crcs) << what;
          }
          if (HasFatalFailure()) return;
        }
      }
    }
  }
}

// Small limits over the larger inputs, which walk every copy and stored block
// through cuts at every position and the window's wrap.
TEST(InflateZlib, SmallLimitsOnLargeInputs) {
  for (const Corpus& c : corpora()) {
    if (c.data.size() <= 40000) continue;
    Bytes stream = deflate_raw(c.data, 6);
    for (uint32_t limit : {1u, 3u, 258u}) {
      for (const SourceMode& m : {kBytes, kViewAll}) {
        std::string what = std::string(c.name) + ", " + m.name + ", limit " + std::to_string(limit);
        expect_valid(decode(stream, limit, m, static_cast<uint32_t>(c.data.size())), c.data, limit,
                     stream.size(), what);
        if (HasFatalFailure()) return;
      }
    }
  }
}

// Larger than the window several times over, with long-distance matches that
// cross the window's end.
TEST(InflateZlib, LongStreamWithFarMatches) {
  Bytes base = random_bytes(20000, 21);
  Bytes data;
  for (int i = 0; i < 12; ++i) {
    data.insert(data.end(), base.begin(), base.end());
    Bytes noise = random_bytes(9000 + 700 * i, 30 + i);
    data.insert(data.end(), noise.begin(), noise.end());
  }
  Bytes stream = deflate_raw(data, 9);
  for (const SourceMode& m : kAllModes)
    for (uint32_t limit : {1000u, 32768u, 0x7FFFFFFFu})
      expect_valid(decode(stream, limit, m, static_cast<uint32_t>(data.size())), data, limit,
                   stream.size(), std::string(m.name) + " " + std::to_string(limit));
}

// zlib's streams for text followed by incompressible bytes put stored blocks
// behind Huffman blocks, where the look-ahead has buffered whole bytes.
TEST(InflateZlib, StoredBlocksAfterHuffmanBlocks) {
  for (uint32_t seed = 0; seed < 24; ++seed) {
    Bytes data = text_bytes(2000 + seed * 37, seed);
    Bytes noise = random_bytes(3000 + seed, 100 + seed);
    data.insert(data.end(), noise.begin(), noise.end());
    Bytes tail = text_bytes(500, 200 + seed);
    data.insert(data.end(), tail.begin(), tail.end());
    Bytes stream = deflate_raw(data, 6);
    for (const SourceMode& m : kAllModes)
      expect_valid(decode(stream, 4096, m, static_cast<uint32_t>(data.size())), data, 4096,
                   stream.size(), std::string(m.name) + " seed " + std::to_string(seed));
  }
}

// Hand-made: a fixed block ending at every bit alignment, then a stored block.
TEST(InflateStreams, StoredBlockAfterFixedBlockAtEveryAlignment) {
  for (unsigned nine_bit = 0; nine_bit < 8; ++nine_bit) {
    for (unsigned extra_eight = 0; extra_eight < 3; ++extra_eight) {
      BitWriter w;
      Bytes want;
      w.bits(0, 1);
      w.bits(1, 2);
      for (unsigned i = 0; i < nine_bit; ++i) {
        w.fixed_symbol(200 + i);
        want.push_back(static_cast<uint8_t>(200 + i));
      }
      for (unsigned i = 0; i < extra_eight; ++i) {
        w.fixed_symbol('a' + i);
        want.push_back(static_cast<uint8_t>('a' + i));
      }
      w.fixed_symbol(256);
      w.bits(1, 1);
      w.bits(0, 2);
      w.align();
      const char* stored = "stored bytes after it";
      uint16_t len = static_cast<uint16_t>(std::char_traits<char>::length(stored));
      w.bits(len, 16);
      w.bits(static_cast<uint16_t>(~len), 16);
      for (const char* p = stored; *p; ++p) {
        w.byte(static_cast<uint8_t>(*p));
        want.push_back(static_cast<uint8_t>(*p));
      }
      Bytes stream = w.finish();
      for (const SourceMode& m : kAllModes)
        for (uint32_t limit : {1u, 5u, 1000u})
          expect_valid(decode(stream, limit, m, static_cast<uint32_t>(want.size())), want, limit,
                       stream.size(),
                       std::string(m.name) + " align " + std::to_string(nine_bit) + "/" +
                           std::to_string(extra_eight) + " limit " + std::to_string(limit));
    }
  }
}

// ---- Hand-made dynamic blocks ----------------------------------------------

// The canonical codes (RFC 1951 3.2.2) of a list of lengths.
std::vector<uint32_t> canonical_codes(const std::vector<unsigned>& lengths) {
  unsigned count[17] = {}, next[17] = {};
  for (unsigned l : lengths) ++count[l];
  count[0] = 0;
  for (unsigned b = 1, code = 0; b <= 16; ++b) {
    code = (code + count[b - 1]) << 1;
    next[b] = code;
  }
  std::vector<uint32_t> out(lengths.size());
  for (size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s]) out[s] = next[lengths[s]]++;
  return out;
}

// A dynamic block header: HLIT, HDIST, HCLEN, the code-length code lengths
// (in the sent order) and a sequence of code-length symbols with their extra
// bits.
struct ClSymbol {
  unsigned sym;
  unsigned extra;
};
constexpr unsigned kClOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                   11, 4,  12, 3, 13, 2, 14, 1, 15};

void dynamic_header(BitWriter& w, bool final, unsigned nl, unsigned nd,
                    const std::vector<unsigned>& cl_lengths /* by symbol, 19 */, unsigned nb,
                    const std::vector<ClSymbol>& symbols) {
  w.bits(final ? 1 : 0, 1);
  w.bits(2, 2);
  w.bits(nl - 257, 5);
  w.bits(nd - 1, 5);
  w.bits(nb - 4, 4);
  for (unsigned i = 0; i < nb; ++i) w.bits(cl_lengths[kClOrder[i]], 3);
  std::vector<uint32_t> codes = canonical_codes(cl_lengths);
  for (const ClSymbol& s : symbols) {
    w.code(codes[s.sym], cl_lengths[s.sym]);
    if (s.sym == 16) w.bits(s.extra, 2);
    if (s.sym == 17) w.bits(s.extra, 3);
    if (s.sym == 18) w.bits(s.extra, 7);
  }
}

// Code-length symbols that send lengths literally (each 0..15) using a code
// in which 0..15 have 4 bits.
std::vector<unsigned> flat_cl_code() {
  std::vector<unsigned> cl(19, 4);
  cl[16] = cl[17] = cl[18] = 0;
  return cl;
}
std::vector<ClSymbol> literal_lengths(const std::vector<unsigned>& lengths) {
  std::vector<ClSymbol> out;
  for (unsigned l : lengths) out.push_back({l, 0});
  return out;
}

// A complete dynamic block from literal/length and distance lengths, then
// the given symbols (literal/length symbols; a length symbol is followed by
// its distance symbol; no extra bits are used by the cases here).
Bytes dynamic_stream(const std::vector<unsigned>& lit, const std::vector<unsigned>& dist,
                     const std::vector<unsigned>& symbols) {
  BitWriter w;
  std::vector<unsigned> all = lit;
  all.insert(all.end(), dist.begin(), dist.end());
  dynamic_header(w, true, static_cast<unsigned>(lit.size()), static_cast<unsigned>(dist.size()),
                 flat_cl_code(), 19, literal_lengths(all));
  std::vector<uint32_t> lc = canonical_codes(lit), dc = canonical_codes(dist);
  for (size_t i = 0; i < symbols.size(); ++i) {
    unsigned s = symbols[i];
    w.code(lc[s], lit[s]);
    if (s > 256 && i + 1 < symbols.size()) {
      unsigned d = symbols[++i];
      w.code(dc[d], dist[d]);
    }
  }
  return w.finish();
}

std::vector<unsigned> lit_lengths(std::initializer_list<std::pair<unsigned, unsigned>> set,
                                  unsigned n = 257) {
  std::vector<unsigned> l(n, 0);
  for (auto [sym, len] : set) l[sym] = len;
  return l;
}

Bytes fixed_stream(std::initializer_list<unsigned> symbols_and_distances) {
  BitWriter w;
  w.bits(1, 1);
  w.bits(1, 2);
  bool distance_next = false;
  for (unsigned s : symbols_and_distances) {
    if (distance_next) {
      w.fixed_distance(s);
      distance_next = false;
    } else {
      w.fixed_symbol(s);
      distance_next = s > 256;
    }
  }
  return w.finish();
}

// A fixed block of `literals` literal bytes followed by the given symbols,
// with zero extra bits wherever a length or distance symbol has them; long
// enough for the fast loop to meet what follows.
Bytes fixed_after_literals(unsigned literals, std::initializer_list<unsigned> tail,
                           bool trailer = true) {
  BitWriter w;
  w.bits(1, 1);
  w.bits(1, 2);
  for (unsigned i = 0; i < literals; ++i) w.fixed_symbol('a' + i % 26);
  bool distance_next = false;
  for (unsigned s : tail) {
    if (distance_next) {
      w.fixed_distance(s);
      if (s < 30) w.bits(0, kDistanceExtraBits[s]);
      distance_next = false;
    } else {
      w.fixed_symbol(s);
      if (s > 256 && s < 286) w.bits(0, kLengthExtraBits[s - 257]);
      distance_next = s > 256;
    }
  }
  if (trailer)
    for (int i = 0; i < 40; ++i) w.fixed_symbol('z');  // whatever follows the fault
  return w.finish();
}

Bytes bits_stream(std::initializer_list<std::pair<uint32_t, unsigned>> fields) {
  BitWriter w;
  for (auto [v, n] : fields) w.bits(v, n);
  return w.finish();
}

// Each way a stream can be invalid, with the code inflate_read fails with.
TEST(InflateStreams, InvalidStreams) {
  // Code-length code with 18 (1 bit), 0 and 1 (2 bits).
  std::vector<unsigned> cl18(19, 0);
  cl18[18] = 1;
  cl18[0] = 2;
  cl18[1] = 2;
  auto header = [](unsigned nl, unsigned nd, const std::vector<unsigned>& cl, unsigned nb,
                   const std::vector<ClSymbol>& syms) {
    BitWriter w;
    dynamic_header(w, true, nl, nd, cl, nb, syms);
    return w.finish();
  };
  std::vector<unsigned> cl_over(19, 0), cl_incomplete(19, 0), cl_zero(19, 0);
  cl_over[16] = cl_over[17] = cl_over[18] = cl_over[0] = 1;
  cl_incomplete[16] = cl_incomplete[17] = cl_incomplete[18] = 2;
  std::vector<unsigned> no_dist(1, 0);
  std::vector<unsigned> one_dist = {1, 1};

  struct Case {
    const char* name;
    Bytes stream;
    int error;
  } cases[] = {
      {"block type 3", bits_stream({{1, 1}, {3, 2}}), 36},
      {"stored LEN/NLEN mismatch", bits_stream({{1, 1}, {0, 2}, {0, 5}, {5, 16}, {5, 16}}), 36},
      {"HLIT 30", bits_stream({{1, 1}, {2, 2}, {30, 5}, {0, 5}, {0, 4}}), 36},
      {"HLIT 31", bits_stream({{1, 1}, {2, 2}, {31, 5}, {0, 5}, {0, 4}}), 36},
      {"HDIST 30", bits_stream({{1, 1}, {2, 2}, {0, 5}, {30, 5}, {0, 4}}), 36},
      {"HDIST 31", bits_stream({{1, 1}, {2, 2}, {0, 5}, {31, 5}, {0, 4}}), 36},
      {"code-length code over-subscribed", header(257, 1, cl_over, 4, {}), 36},
      {"code-length code incomplete", header(257, 1, cl_incomplete, 4, {}), 36},
      {"code-length code all zero", header(257, 1, cl_zero, 4, {}), 36},
      {"code-length run past the end", header(257, 1, cl18, 19, {{18, 127}, {18, 127}}), 36},
      {"repeat past the end", header(257, 1, cl18, 19, {{18, 127}, {18, 108}, {1, 0}, {0, 0}}), 36},
      {"literal code over-subscribed",
       dynamic_stream(lit_lengths({{0, 1}, {1, 1}, {256, 1}}), one_dist, {0}), 36},
      {"literal code incomplete", dynamic_stream(lit_lengths({{0, 2}, {256, 2}}), one_dist, {0}),
       36},
      {"distance code incomplete",
       dynamic_stream(lit_lengths({{0, 1}, {256, 1}}), {2, 2}, {0, 256}), 36},
      {"all-zero literal code", header(257, 1, cl18, 19, {{18, 127}, {18, 109}}), 36},
      {"length without distance codes",
       dynamic_stream(lit_lengths({{'A', 1}, {256, 2}, {257, 2}}, 258), no_dist, {'A', 257, 0}),
       36},
      {"fixed symbol 286", fixed_stream({'a', 286}), 36},
      {"fixed symbol 287", fixed_stream({'a', 287}), 36},
      {"fixed distance 30", fixed_stream({'a', 'b', 'c', 257, 30}), 36},
      {"fixed distance 31", fixed_stream({'a', 'b', 'c', 257, 31}), 36},
      {"distance before the first byte", fixed_stream({'a', 257, 1}), 36},
      {"distance from an empty output", fixed_stream({257, 0}), 36},
      // The same faults after enough input for the fast loop to meet them.
      {"fixed symbol 286 after 60 literals", fixed_after_literals(60, {286}), 36},
      {"fixed symbol 287 after 60 literals", fixed_after_literals(60, {287}), 36},
      {"fixed distance 30 after 60 literals", fixed_after_literals(60, {257, 30}), 36},
      {"distance 65 after 64 literals", fixed_after_literals(64, {257, 12}), 36},
      {"length without distance codes after 60 literals",
       dynamic_stream(lit_lengths({{'A', 1}, {256, 2}, {257, 2}}, 258), no_dist,
                      [] {
                        std::vector<unsigned> v(60, 'A');
                        v.push_back(257);
                        v.push_back(0);
                        for (int i = 0; i < 20; ++i) v.push_back('A');
                        return v;
                      }()),
       36},
  };
  for (const Case& c : cases) {
    for (const SourceMode& m : kAllModes) {
      for (uint32_t limit : {1u, 4096u}) {
        DecodeRun run = decode(c.stream, limit, m, 100);
        ASSERT_FALSE(run.returns.empty());
        EXPECT_EQ(run.returns.back(), -1) << c.name << ", " << m.name;
        EXPECT_EQ(run.read_error, c.error) << c.name << ", " << m.name;
        // A dead stream stays dead.
        unsigned char b[4];
        EXPECT_EQ(inflate_read(b, 4, 100), -1) << c.name;
        EXPECT_EQ(inflate_error(), c.error) << c.name;
      }
    }
  }
}

// Streams that the rules around those errors must still accept.
TEST(InflateStreams, ValidCornerCases) {
  std::vector<unsigned> cl16(19, 0);  // 16 (1 bit), 1 and 18 (2 bits)
  cl16[16] = 1;
  cl16[1] = 2;
  cl16[18] = 2;
  BitWriter first16;
  // 16 as the first symbol repeats zeros: 3 zeros, then 62 zeros (3..64),
  // 'A' = 1, 190 zeros, 256 = 1, then two distance lengths of 1.
  dynamic_header(first16, true, 257, 2, cl16, 19,
                 {{16, 0}, {18, 51}, {1, 0}, {18, 127}, {18, 41}, {1, 0}, {1, 0}, {1, 0}});
  first16.code(0, 1);
  first16.code(0, 1);
  first16.code(1, 1);

  Bytes literals_only = dynamic_stream(lit_lengths({{'A', 1}, {256, 1}}),
                                       std::vector<unsigned>(1, 0), {'A', 'A', 256});
  // Distance 1 repeats the last byte: 'a', then 258 + 3 copies.
  Bytes run = fixed_stream({'a', 285, 0, 257, 0, 256});
  // A stored block with LEN 0 delivers nothing; the next block follows in
  // the same call.
  BitWriter empty_stored;
  empty_stored.bits(0, 1);
  empty_stored.bits(0, 2);
  empty_stored.align();
  empty_stored.bits(0, 16);
  empty_stored.bits(0xFFFF, 16);
  empty_stored.bits(1, 1);
  empty_stored.bits(1, 2);
  empty_stored.fixed_symbol('o');
  empty_stored.fixed_symbol('k');
  empty_stored.fixed_symbol(256);

  // A distance that reaches exactly the first byte of the stream.
  Bytes reach_first;
  for (unsigned i = 0; i < 65; ++i) reach_first.push_back(static_cast<uint8_t>('a' + i % 26));
  reach_first.insert(reach_first.end(), reach_first.begin(), reach_first.begin() + 3);

  struct Case {
    const char* name;
    Bytes stream;
    Bytes want;
  } cases[] = {
      {"distance back to the first byte", fixed_after_literals(65, {257, 12, 256}, false),
       reach_first},
      {"16 first repeats zeros", first16.finish(), {'A', 'A'}},
      {"no distance codes, literals only", literals_only, {'A', 'A'}},
      {"distance 1", run, Bytes(262, 'a')},
      {"empty stored block", empty_stored.finish(), {'o', 'k'}},
      {"fixed block, end only", fixed_stream({256}), {}},
  };
  for (const Case& c : cases)
    for (const SourceMode& m : kAllModes)
      for (uint32_t limit : {1u, 2u, 4096u})
        expect_valid(decode(c.stream, limit, m, static_cast<uint32_t>(c.want.size())), c.want,
                     limit, c.stream.size(), std::string(c.name) + ", " + m.name);
}

// The window is kept between streams; a distance of the second stream that
// reaches into the first one's bytes is refused.
TEST(InflateStreams, DistanceIntoAnEarlierStream) {
  Bytes first = deflate_raw(text_bytes(5000, 8), 6);
  for (const SourceMode& m : kAllModes) {
    ByteSource src = make_source(first, m);
    ASSERT_EQ(inflate_begin(&src), 0);
    Bytes out(6000);
    ASSERT_EQ(inflate_read(out.data(), 6000, 5000), 5000);
    // No inflate_end: the next stream reuses the window as it is.
    for (const Bytes& second : {fixed_stream({'a', 'b', 257, 4}),        // distance 5 > 2 so far
                                fixed_after_literals(60, {257, 12})}) {  // 65 > 60
      src = make_source(second, m);
      ASSERT_EQ(inflate_begin(&src), 0);
      EXPECT_EQ(inflate_read(out.data(), 1000, 5), -1) << m.name;
      EXPECT_EQ(inflate_error(), 36) << m.name;
    }
  }
  EXPECT_EQ(inflate_end(), -1);
}

// ---- Resumption and the end of a stream -------------------------------------

TEST(InflateResume, ExactMultipleOfTheLimit) {
  Bytes data = text_bytes(64 * 50, 12);
  for (int level : {0, 6}) {
    Bytes stream = deflate_raw(data, level);
    for (const SourceMode& m : kAllModes) {
      ByteSource src = make_source(stream, m);
      ASSERT_EQ(inflate_begin(&src), 0);
      Bytes out(64), all;
      for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(inflate_read(out.data(), 64, 3200), 64) << m.name << " call " << i;
        all.insert(all.end(), out.begin(), out.end());
      }
      EXPECT_EQ(inflate_read(out.data(), 64, 3200), 0) << m.name;
      // Once ended, no more source calls.
      size_t calls = test_source().calls, pos = test_source().pos;
      EXPECT_EQ(inflate_read(out.data(), 64, 3200), 0) << m.name;
      EXPECT_EQ(test_source().calls, calls);
      EXPECT_EQ(test_source().pos, pos);
      EXPECT_EQ(all, data);
      EXPECT_EQ(inflate_end(), 0) << m.name;
    }
  }
}

TEST(InflateEnd, Results) {
  Bytes data = text_bytes(100, 13);
  Bytes stream = deflate_raw(data, 6);
  // A non-final stored block: the final block is never reached.
  BitWriter nonfinal;
  nonfinal.bits(0, 3);
  nonfinal.align();
  nonfinal.bits(10, 16);
  nonfinal.bits(0xFFF5, 16);
  for (int i = 0; i < 10; ++i) nonfinal.byte('z');
  Bytes unfinished = nonfinal.finish();

  struct Case {
    const char* name;
    const Bytes* stream;
    uint32_t read_limit;  // one read of this many bytes (0: no read)
    uint32_t expected;
    int end;
    int error;
    size_t crc_bytes;  // bytes of data folded into RunningCrc by the end
  } cases[] = {
      {"complete", &stream, 1000, 100, 0, 0, 100},
      {"longer than expected", &stream, 1000, 99, -1, 38, 100},
      {"shorter than expected", &stream, 1000, 101, -1, 38, 100},
      {"drained bytes", &stream, 50, 100, 37, 37, 100},
      // The drain stops once past the expected size: the result is settled.
      {"drained to the wrong size", &stream, 50, 50, -1, 38, 66},
      {"no read after begin", &stream, 0, 0, -1, 0, 0},
      {"final block never reached", &unfinished, 10, 10, 37, 37, 0},
  };
  for (const Case& c : cases) {
    for (const SourceMode& m : kAllModes) {
      ByteSource src = make_source(*c.stream, m);
      ASSERT_EQ(inflate_begin(&src), 0);
      Bytes out(std::max<uint32_t>(c.read_limit, 1));
      if (c.read_limit) inflate_read(out.data(), c.read_limit, c.expected);
      EXPECT_EQ(inflate_end(), c.end) << c.name << ", " << m.name;
      EXPECT_EQ(inflate_error(), c.error) << c.name << ", " << m.name;
      if (c.stream == &stream) {
        Bytes part(data.begin(), data.begin() + c.crc_bytes);
        EXPECT_EQ(running_crc_value(), ~zlib_crc(part)) << c.name << ", " << m.name;
      }
    }
  }
  EXPECT_EQ(inflate_end(), -1) << "nothing begun";
  EXPECT_EQ(inflate_error(), 0);
  unsigned char b[4];
  EXPECT_EQ(inflate_read(b, 4, 0), -1) << "no stream begun";
}

// Damaged streams: whatever each one decodes to or fails with, the view
// modes must give the same returns and RunningCrc as the byte-at-a-time
// source, and nothing may read or write out of bounds (sanitizer builds).
TEST(InflateStreams, DamagedStreamsDecodeAlikeInEveryMode) {
  Bytes data = mixed_bytes(20000, 40);
  const Bytes clean[] = {deflate_raw(data, 6), deflate_raw(data, 1, Z_FIXED),
                         deflate_raw(text_bytes(20000, 41), 9)};
  uint32_t seed = 12345;
  for (int round = 0; round < 150; ++round) {
    Bytes stream = clean[round % 3];
    for (int flips = 0; flips < 1 + round % 4; ++flips) {
      seed = seed * 1664525u + 1013904223u;
      stream[(seed >> 8) % stream.size()] ^= static_cast<uint8_t>(1u << (seed % 8));
    }
    // A bounded number of calls: a damaged stream may decode without end.
    DecodeRun reference = decode(stream, 1000, kBytes, 20000, 200);
    for (const SourceMode& m : {kView512, kViewAll}) {
      DecodeRun run = decode(stream, 1000, m, 20000, 200);
      ASSERT_EQ(run.returns, reference.returns) << "round " << round << ", " << m.name;
      ASSERT_EQ(run.crcs, reference.crcs) << "round " << round << ", " << m.name;
      ASSERT_EQ(run.read_error, reference.read_error) << "round " << round;
      ASSERT_EQ(run.output, reference.output) << "round " << round;
    }
  }
  inflate_end();
}

// A final block without an end, fed by a source whose filler decodes as a
// literal, never ends; inflate_end must still come back (wrong size).
TEST(InflateEnd, DrainOfAnEndlessStreamStops) {
  BitWriter w;
  w.bits(1, 1);
  w.bits(1, 2);
  for (int i = 0; i < 40; ++i) w.fixed_symbol('a');
  while (w.bit_length() % 8) w.bits(1, 1);  // the start of the next literal 255
  Bytes stream = w.finish();
  for (const SourceMode& m : kAllModes) {
    ByteSource src = make_source(stream, m);
    test_source().filler = 0xFF;  // nine 1 bits: the fixed code of literal 255
    ASSERT_EQ(inflate_begin(&src), 0);
    Bytes out(100);
    ASSERT_EQ(inflate_read(out.data(), 100, 100), 100) << m.name;
    EXPECT_EQ(out[99], 0xFF);
    EXPECT_EQ(inflate_end(), -1) << m.name;
    EXPECT_EQ(inflate_error(), 38) << m.name;
  }
}

// A source that offers a view but cannot consume it is read byte by byte.
TEST(InflateStreams, ViewWithoutConsumeIsIgnored) {
  Bytes data = text_bytes(5000, 42);
  Bytes stream = deflate_raw(data, 6);
  ByteSource src = make_source(stream, kViewAll);
  src.consume = nullptr;
  ASSERT_EQ(inflate_begin(&src), 0);
  Bytes out(6000);
  EXPECT_EQ(inflate_read(out.data(), 6000, 5000), 5000);
  out.resize(5000);
  EXPECT_EQ(out, data);
  EXPECT_EQ(inflate_end(), 0);
  EXPECT_EQ(test_source().calls, stream.size());
}

// Raw DEFLATE whose blocks change kind as it goes: zlib ends the block at
// every change of strategy or level, so pieces packed with Z_FIXED, the
// default strategy and level 0 give fixed, dynamic and stored blocks in turn.
Bytes blocks_of_every_kind(const Bytes& data, size_t piece) {
  z_stream z{};
  Bytes out(data.size() * 2 + 4096);
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_FIXED), Z_OK);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int kLevels[] = {6, 6, 0, 6, 6};
  const int kStrategies[] = {Z_FIXED, Z_DEFAULT_STRATEGY, Z_DEFAULT_STRATEGY, Z_FIXED, Z_FIXED};
  for (size_t at = 0, k = 0; at < data.size(); at += piece, ++k) {
    EXPECT_EQ(deflateParams(&z, kLevels[k % 5], kStrategies[k % 5]), Z_OK);
    z.next_in = const_cast<Bytef*>(data.data() + at);
    z.avail_in = static_cast<uInt>(std::min(piece, data.size() - at));
    EXPECT_EQ(deflate(&z, Z_BLOCK), Z_OK);
  }
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Fixed blocks before and after dynamic and stored ones (and thousands of
// tiny fixed blocks): each block decodes through its own code, and the fixed
// tables kept between blocks are never released as if they were a dynamic
// block's.
TEST(InflateStreams, FixedBlocksAmongOtherKinds) {
  Bytes data = mixed_bytes(60000, 50);
  inflate_end();  // the window comes from the counting allocator below
  for (size_t piece : {size_t{7}, size_t{300}, size_t{5000}}) {
    Bytes stream = blocks_of_every_kind(data, piece);
    for (const SourceMode& m : kAllModes) {
      for (uint32_t limit : {1u, 4096u}) {
        if (limit == 1 && piece > 7 && &m != &kAllModes[0]) continue;  // slow, covered above
        std::string what = std::string(m.name) + ", piece " + std::to_string(piece) + ", limit " +
                           std::to_string(limit);
        FailingAllocator::install(0);
        DecodeRun run = decode(stream, limit, m, static_cast<uint32_t>(data.size()));
        expect_valid(run, data, limit, stream.size(), what);
        // Pieces of 7 bytes are too small for a dynamic block to pay.
        if (piece > 7) {
          EXPECT_GT(FailingAllocator::allocations(), 1) << what << ": dynamic blocks";
        }
        EXPECT_EQ(FailingAllocator::outstanding(), 0) << what;
        FailingAllocator::remove();
        if (HasFatalFailure()) return;
      }
    }
  }
}

// ---- Memory --------------------------------------------------------------

TEST(InflateMemory, EveryAllocationFailureEndsCleanly) {
  Bytes data = text_bytes(3000, 14);
  Bytes fixed = deflate_raw(data, 6, Z_FIXED);
  Bytes dynamic = deflate_raw(data, 6);
  inflate_end();  // start without a window
  // The fixed code's tables are not taken from the heap: a fixed stream
  // needs the window only.
  struct Case {
    const Bytes* stream;
    int min_allocations;
    int max_allocations;
  } cases[] = {{&fixed, 1, 1}, {&dynamic, 3, 1000}};
  for (const Case& c : cases) {
    const Bytes* stream = c.stream;
    FailingAllocator::install(0);
    DecodeRun ok = decode(*stream, 4096, kBytes, 3000);
    int allocations = FailingAllocator::allocations();
    FailingAllocator::remove();
    ASSERT_EQ(ok.end, 0);
    ASSERT_GE(allocations, c.min_allocations);
    ASSERT_LE(allocations, c.max_allocations);
    for (int n = 1; n <= allocations; ++n) {
      FailingAllocator::install(n);
      DecodeRun run = decode(*stream, 4096, kBytes, 3000);
      if (n == 1) {
        EXPECT_EQ(run.begin, 34);
        EXPECT_EQ(inflate_error(), 34);
      } else {
        EXPECT_EQ(run.returns.back(), -1) << n;
        EXPECT_EQ(run.read_error, 34) << n;
        EXPECT_EQ(FailingAllocator::outstanding(), 1) << n << ": only the window is held";
        EXPECT_EQ(inflate_end(), -1);
      }
      EXPECT_EQ(FailingAllocator::outstanding(), 0) << n;
      FailingAllocator::remove();
    }
  }
}

// A stream abandoned in the middle of a Huffman block keeps its tables until
// the next block is set up or inflate_end; they must not leak either way.
TEST(InflateMemory, AbandonedStreamLeavesNothingBehind) {
  Bytes data = text_bytes(3000, 15);
  Bytes dynamic = deflate_raw(data, 6);
  Bytes fixed = deflate_raw(data, 6, Z_FIXED);
  inflate_end();
  for (const Bytes* next : {&dynamic, &fixed}) {
    FailingAllocator::install(0);
    ByteSource src = make_source(dynamic, kBytes);
    ASSERT_EQ(inflate_begin(&src), 0);
    Bytes out(3000);
    ASSERT_EQ(inflate_read(out.data(), 100, 3000), 100);
    EXPECT_GT(FailingAllocator::outstanding(), 1) << "window and tables held";
    DecodeRun run = decode(*next, 4096, kBytes, 3000);  // begins anew without inflate_end
    EXPECT_EQ(run.output, data);
    EXPECT_EQ(run.end, 0);
    EXPECT_EQ(FailingAllocator::outstanding(), 0);
    FailingAllocator::remove();
  }
}

}  // namespace
}  // namespace rz::test
