// Codec benchmarks: our inflate against zlib's inflate and libdeflate's
// whole-buffer decoder on the same raw DEFLATE streams, and our CRC-32
// against zlib's crc32.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifdef RZ_BENCH_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "bench.h"
#include "codec/crc32.h"
#include "codec/inflate.h"
#include "corpus.h"
#include "qgwriter.h"

namespace rz::bench {

namespace {

// Output is fetched in pieces of this size by the resumable decoders.
constexpr uint32_t kChunk = 64 * 1024;

struct Corpus {
  std::string name;
  Bytes plain;
  Bytes packed;
  uint32_t crc;
};

// The source the engine reads in the benchmark: the whole stream in memory,
// offered as a view of at most view_max bytes (like a refilling read buffer).
struct MemorySource {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  uint32_t view_max = 0;
};
MemorySource g_mem;

int mem_next() {
  return g_mem.pos < g_mem.size ? g_mem.data[g_mem.pos++] : 0;
}
uint32_t mem_peek(const unsigned char** data) {
  *data = g_mem.data + g_mem.pos;
  return static_cast<uint32_t>(std::min<size_t>(g_mem.size - g_mem.pos, g_mem.view_max));
}
void mem_consume(uint32_t n) {
  g_mem.pos += n;
}

// Decode with our engine; returns the bytes produced, or -1.
long ours_inflate(const Corpus& c, uint8_t* out, uint32_t view_max) {
  g_mem = MemorySource{c.packed.data(), c.packed.size(), 0, view_max};
  ByteSource src{mem_next, mem_peek, mem_consume};
  if (inflate_begin(&src) != 0) return -1;
  const auto expected = static_cast<uint32_t>(c.plain.size());
  long total = 0;
  for (;;) {
    int r = inflate_read(out + total, kChunk, expected);
    if (r < 0) return -1;
    total += r;
    if (static_cast<uint32_t>(r) < kChunk) break;
  }
  return inflate_end() == 0 ? total : -1;
}

long zlib_inflate(const Corpus& c, uint8_t* out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return -1;
  z.next_in = const_cast<Bytef*>(c.packed.data());
  z.avail_in = static_cast<uInt>(c.packed.size());
  z.next_out = out;
  int r = Z_OK;
  while (r == Z_OK) {
    z.avail_out = kChunk;
    r = inflate(&z, Z_NO_FLUSH);
  }
  long total = static_cast<long>(z.total_out);
  inflateEnd(&z);
  return r == Z_STREAM_END ? total : -1;
}

#ifdef RZ_BENCH_LIBDEFLATE
// The second peer: libdeflate's whole-buffer decoder, which needs the whole
// stream and room for the whole output up front (no resumption).
long libdeflate_inflate(const Corpus& c, uint8_t* out) {
  struct Holder {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~Holder() { libdeflate_free_decompressor(d); }
  };
  static Holder holder;
  libdeflate_decompressor* d = holder.d;
  if (!d) return -1;
  size_t got = 0;
  libdeflate_result r =
      libdeflate_deflate_decompress(d, c.packed.data(), c.packed.size(), out, c.plain.size(), &got);
  return r == LIBDEFLATE_SUCCESS ? static_cast<long>(got) : -1;
}
#endif

// Writes a fixed-code stream bit by bit (least significant bit first).
struct FixedBlockWriter {
  Bytes out;
  uint64_t buffer = 0;
  unsigned count = 0;
  void bits(uint32_t value, unsigned n) {
    buffer |= uint64_t{value} << count;
    count += n;
    while (count >= 8) {
      out.push_back(static_cast<uint8_t>(buffer));
      buffer >>= 8;
      count -= 8;
    }
  }
  // A Huffman code goes out most significant bit first.
  void code(uint32_t c, unsigned length) {
    uint32_t reversed = 0;
    for (unsigned i = 0; i < length; ++i) reversed |= ((c >> i) & 1) << (length - 1 - i);
    bits(reversed, length);
  }
  void literal(uint8_t b) { b < 144 ? code(0x30 + b, 8) : code(0x190 + b - 144, 9); }
  Bytes finish() {
    if (count) bits(0, 8 - count);
    return out;
  }
};

// plain as a run of tiny fixed blocks of 1 to 8 literals each, as a writer
// that flushes after every few bytes makes them: the decoder's cost per
// block shows, not its cost per byte.
Bytes tiny_fixed_blocks(const Bytes& plain) {
  FixedBlockWriter w;
  Rng rng(77);
  for (size_t i = 0; i < plain.size();) {
    size_t n = std::min<size_t>(1 + rng.below(8), plain.size() - i);
    w.bits(i + n == plain.size() ? 1 : 0, 1);
    w.bits(1, 2);
    for (size_t k = 0; k < n; ++k) w.literal(plain[i + k]);
    w.code(0, 7);  // end of block
    i += n;
  }
  if (plain.empty()) {
    w.bits(1, 1);
    w.bits(1, 2);
    w.code(0, 7);
  }
  return w.finish();
}

std::vector<std::unique_ptr<Corpus>>& corpora() {
  static std::vector<std::unique_ptr<Corpus>> c;
  return c;
}

void check_output(benchmark::State& state, const Corpus& c, long got, const Bytes& out) {
  if (got != static_cast<long>(c.plain.size()) ||
      ~crc_update(0xFFFFFFFFu, out.data(), c.plain.size()) != c.crc)
    state.SkipWithError("decoded output differs from the input");
}

void add_corpus(const std::string& name, Bytes plain, Bytes packed) {
  auto c = std::make_unique<Corpus>();
  c->name = name;
  c->plain = std::move(plain);
  c->packed = std::move(packed);
  c->crc = static_cast<uint32_t>(crc32(0L, c->plain.data(), static_cast<uInt>(c->plain.size())));
  std::printf("corpus %-18s %10zu bytes, deflated to %10zu (%.1f%%)\n", c->name.c_str(),
              c->plain.size(), c->packed.size(), 100.0 * c->packed.size() / c->plain.size());
  corpora().push_back(std::move(c));
}

// Register one decoder over one corpus: decode(corpus, out) runs once per
// iteration and its output is checked after the last one.
template <typename Decode>
void add_decoder(const BenchConfig& config, const Corpus* c, const std::string& who,
                 Decode decode) {
  auto* b = benchmark::RegisterBenchmark(
      ("inflate/" + c->name + "/" + who).c_str(), [c, decode](benchmark::State& state) {
        Bytes out(c->plain.size() + kChunk);
        long got = 0;
        for (auto _ : state) got = decode(*c, out.data());
        check_output(state, *c, got, out);
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c->plain.size()));
      });
  b->Unit(benchmark::kMillisecond);
  if (config.smoke) b->Iterations(2);
}

void register_codec(const BenchConfig& config) {
  const size_t n = config.corpus_bytes;
  add_corpus("text", make_text(n, 1), qgw::deflate_raw(make_text(n, 1), 6));
  add_corpus("binary", make_binary(n, 2), qgw::deflate_raw(make_binary(n, 2), 6));
  add_corpus("incompressible", make_random(n, 3), qgw::deflate_raw(make_random(n, 3), 6));
  // Streams made of very many blocks; smaller, as the old cost per block was
  // high enough to make a full-size run take minutes.
  Bytes few = make_text(n / 16, 4);
  add_corpus("tiny-fixed-blocks", few, tiny_fixed_blocks(few));
  // The smallest memory level: a dynamic block every 128 symbols or so,
  // where the cost of reading and building a block's tables shows.
  add_corpus("small-dynamic-blocks", few, qgw::deflate_raw(few, 6, 1));
  std::fflush(stdout);

  for (auto& cp : corpora()) {
    const Corpus* c = cp.get();
    add_decoder(config, c, "ours",
                [](const Corpus& k, uint8_t* out) { return ours_inflate(k, out, 0xFFFFFFFFu); });
    // The archive's source refills a 512-byte buffer: the view is never longer.
    add_decoder(config, c, "ours-view512",
                [](const Corpus& k, uint8_t* out) { return ours_inflate(k, out, 512); });
    add_decoder(config, c, "zlib", zlib_inflate);
#ifdef RZ_BENCH_LIBDEFLATE
    add_decoder(config, c, "libdeflate", libdeflate_inflate);
#endif
  }

  const Corpus* data = corpora()[2].get();  // incompressible bytes
  auto finish = [&config](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond);
    if (config.smoke) b->Iterations(2);
  };
  finish(benchmark::RegisterBenchmark("crc32/ours", [data](benchmark::State& state) {
    uint32_t crc = 0;
    for (auto _ : state) {
      crc = ~crc_update(0xFFFFFFFFu, data->plain.data(), data->plain.size());
      benchmark::DoNotOptimize(crc);
    }
    if (crc != data->crc) state.SkipWithError("CRC differs from zlib's");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data->plain.size()));
  }));
  finish(benchmark::RegisterBenchmark("crc32/zlib", [data](benchmark::State& state) {
    uLong crc = 0;
    for (auto _ : state) {
      crc = crc32(0L, data->plain.data(), static_cast<uInt>(data->plain.size()));
      benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data->plain.size()));
  }));
}

const BenchRegistrar kRegisterCodec(register_codec);

}  // namespace

}  // namespace rz::bench
