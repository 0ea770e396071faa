// Codec benchmarks: our inflate against zlib's inflate on the same raw
// DEFLATE streams, and our CRC-32 against zlib's crc32.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "qgwriter.h"
#include "codec/crc32.h"
#include "codec/inflate.h"

namespace rz::bench {

namespace {

using Bytes = std::vector<uint8_t>;

// Output is fetched in pieces of this size by both decoders.
constexpr uint32_t kChunk = 64 * 1024;

struct Rng {
  uint64_t s;
  uint64_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
  double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

// English-like prose: a vocabulary of made-up words drawn with a Zipf-like
// skew, sentences, punctuation, numbers and paragraphs.
Bytes make_text(size_t n) {
  static const char* const kSyllables[] = {"ka",  "ro",  "mi",  "te",  "sa",   "lun", "dor", "ve",
                                           "an",  "is",  "ter", "pol", "na",   "qu",  "ex",  "ri",
                                           "sto", "mar", "el",  "ing", "tion", "pre", "con", "de"};
  Rng rng{0x9E3779B97F4A7C15ull};
  std::vector<std::string> words;
  for (int i = 0; i < 6000; ++i) {
    std::string w;
    int parts = 1 + static_cast<int>(rng.below(4));
    for (int p = 0; p < parts; ++p) w += kSyllables[rng.below(24)];
    words.push_back(w);
  }
  Bytes out;
  out.reserve(n + 256);
  int sentence = 0;
  while (out.size() < n) {
    int len = 4 + static_cast<int>(rng.below(16));
    for (int i = 0; i < len; ++i) {
      std::string w = words[static_cast<size_t>(std::pow(rng.unit(), 3.0) * words.size())];
      if (i == 0) w[0] = static_cast<char>(w[0] - 32);
      if (rng.below(40) == 0) w = std::to_string(rng.below(100000));
      out.insert(out.end(), w.begin(), w.end());
      if (i + 1 < len) {
        if (rng.below(12) == 0) out.push_back(',');
        out.push_back(' ');
      }
    }
    out.push_back(rng.below(10) == 0 ? '?' : '.');
    out.push_back(++sentence % 7 == 0 ? '\n' : ' ');
  }
  out.resize(n);
  return out;
}

// Structured binary data: fixed-size records with counters, small enums,
// smooth measurements, offsets and references into a pool of identifiers,
// interleaved with runs of machine-code-like bytes.
Bytes make_binary(size_t n) {
  Rng rng{0x2545F4914F6CDD1Dull};
  Bytes pool(64 * 8);
  for (auto& b : pool) b = static_cast<uint8_t>(rng.next());
  Bytes out;
  out.reserve(n + 64);
  uint32_t id = 1000, stamp = 1700000000, offset = 0;
  auto put = [&](const void* p, size_t k) {
    const auto* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + k);
  };
  while (out.size() < n) {
    if (rng.below(50) == 0) {
      // A stretch of "code": opcodes from a small skewed set with operands.
      static const uint8_t kOps[] = {0x55, 0x48, 0x89, 0xE5, 0x8B, 0x45, 0xC3, 0xE8, 0x0F, 0x85};
      for (int i = 0, k = 200 + static_cast<int>(rng.below(800)); i < k; ++i) {
        out.push_back(kOps[static_cast<size_t>(std::pow(rng.unit(), 2.0) * 10)]);
        if (rng.below(4) == 0) out.push_back(static_cast<uint8_t>(rng.below(32)));
      }
      continue;
    }
    ++id;
    stamp += rng.below(5);
    uint16_t type = static_cast<uint16_t>(rng.below(6));
    uint16_t flags = static_cast<uint16_t>(rng.below(3) << 4);
    float value = static_cast<float>(std::sin(id * 0.01) * 100.0 + rng.below(3));
    offset += 32 + rng.below(64);
    put(&id, 4);
    put(&stamp, 4);
    put(&type, 2);
    put(&flags, 2);
    put(&value, 4);
    put(&offset, 4);
    put(&pool[rng.below(64) * 8], 8);
    uint32_t zero = 0;
    put(&zero, 4);
  }
  out.resize(n);
  return out;
}

Bytes make_random(size_t n) {
  Rng rng{0xD1B54A32D192ED03ull};
  Bytes out(n);
  for (size_t i = 0; i + 8 <= n; i += 8) {
    uint64_t v = rng.next();
    std::memcpy(&out[i], &v, 8);
  }
  return out;
}

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

std::vector<std::unique_ptr<Corpus>>& corpora() {
  static std::vector<std::unique_ptr<Corpus>> c;
  return c;
}

void check_output(benchmark::State& state, const Corpus& c, long got, const Bytes& out) {
  if (got != static_cast<long>(c.plain.size()) ||
      ~crc_update(0xFFFFFFFFu, out.data(), c.plain.size()) != c.crc)
    state.SkipWithError("decoded output differs from the input");
}

void register_codec(const BenchConfig& config) {
  const size_t n = config.corpus_bytes;
  const char* names[] = {"text", "binary", "incompressible"};
  Bytes (*makers[])(size_t) = {make_text, make_binary, make_random};
  for (int i = 0; i < 3; ++i) {
    auto c = std::make_unique<Corpus>();
    c->name = names[i];
    c->plain = makers[i](n);
    c->packed = qgw::deflate_raw(c->plain, 6);
    c->crc = static_cast<uint32_t>(crc32(0L, c->plain.data(), static_cast<uInt>(n)));
    std::printf("corpus %-15s %10zu bytes, deflated to %10zu (%.1f%%)\n", c->name.c_str(), n,
                c->packed.size(), 100.0 * c->packed.size() / n);
    corpora().push_back(std::move(c));
  }
  std::fflush(stdout);

  auto finish = [&config](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond);
    if (config.smoke) b->Iterations(2);
  };
  for (auto& cp : corpora()) {
    const Corpus* c = cp.get();
    finish(benchmark::RegisterBenchmark(
        ("inflate/" + c->name + "/ours").c_str(), [c](benchmark::State& state) {
          Bytes out(c->plain.size() + kChunk);
          long got = 0;
          for (auto _ : state) got = ours_inflate(*c, out.data(), 0xFFFFFFFFu);
          check_output(state, *c, got, out);
          state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c->plain.size()));
        }));
    finish(benchmark::RegisterBenchmark(
        ("inflate/" + c->name + "/zlib").c_str(), [c](benchmark::State& state) {
          Bytes out(c->plain.size() + kChunk);
          long got = 0;
          for (auto _ : state) got = zlib_inflate(*c, out.data());
          check_output(state, *c, got, out);
          state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c->plain.size()));
        }));
    // The archive's source refills a 512-byte buffer: the view is never longer.
    finish(benchmark::RegisterBenchmark(
        ("inflate/" + c->name + "/ours-view512").c_str(), [c](benchmark::State& state) {
          Bytes out(c->plain.size() + kChunk);
          long got = 0;
          for (auto _ : state) got = ours_inflate(*c, out.data(), 512);
          check_output(state, *c, got, out);
          state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c->plain.size()));
        }));
  }

  const Corpus* data = corpora().back().get();  // incompressible bytes
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
