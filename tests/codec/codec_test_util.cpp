#include "codec_test_util.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "codec/crc32.h"

namespace rz::test {

namespace {
TestSource g_source;

int src_next() {
  TestSource& s = g_source;
  ++s.calls;
  if (s.pos >= s.data.size()) {
    ++s.beyond_end;
    return s.filler;
  }
  return s.data[s.pos++];
}

uint32_t src_peek(const unsigned char** data) {
  TestSource& s = g_source;
  size_t left = s.data.size() - std::min(s.pos, s.data.size());
  s.last_view = static_cast<uint32_t>(std::min<size_t>(left, s.view_max));
  *data = s.data.data() + s.pos;
  return s.last_view;
}

void src_consume(uint32_t n) {
  TestSource& s = g_source;
  if (n > s.last_view) throw std::logic_error("consume beyond the view");
  s.pos += n;
  s.last_view -= n;
}

uint32_t next_random(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

int g_fail_at = 0;
int g_allocations = 0;
int g_outstanding = 0;

void* failing_alloc(size_t size) {
  ++g_allocations;
  if (g_fail_at && g_allocations == g_fail_at) return nullptr;
  ++g_outstanding;
  return std::malloc(size);
}
void failing_release(void* block) {
  --g_outstanding;
  std::free(block);
}
const CodecAllocator kFailing = {failing_alloc, failing_release};
}  // namespace

TestSource& test_source() {
  return g_source;
}

ByteSource make_source(const Bytes& data, const SourceMode& mode) {
  g_source = TestSource{};
  g_source.data = data;
  g_source.view_max = mode.view_max;
  ByteSource b{src_next, nullptr, nullptr};
  if (mode.view) {
    b.peek = src_peek;
    b.consume = src_consume;
  }
  return b;
}

Bytes deflate_raw(const Bytes& data, int level, int strategy, int mem_level) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, mem_level, strategy) != Z_OK)
    throw std::runtime_error("deflateInit2");
  Bytes out(deflateBound(&z, data.size()) + 64);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int r = deflate(&z, Z_FINISH);
  deflateEnd(&z);
  if (r != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  return out;
}

uint32_t zlib_crc(const Bytes& data) {
  return static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
}

Bytes random_bytes(size_t n, uint32_t seed) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(next_random(seed));
  return b;
}

Bytes text_bytes(size_t n, uint32_t seed) {
  static const char* const kWords[] = {
      "the", "archive", "entry",   "window",  "block",  "of",       "and",   "stream", "bytes",
      "a",   "to",      "install", "decoder", "length", "distance", "table", "in"};
  Bytes b;
  b.reserve(n + 16);
  while (b.size() < n) {
    const char* w = kWords[next_random(seed) % (sizeof kWords / sizeof *kWords)];
    b.insert(b.end(), w, w + std::char_traits<char>::length(w));
    uint32_t r = next_random(seed) % 16;
    b.push_back(r == 0 ? '\n' : r == 1 ? '.' : ' ');
  }
  b.resize(n);
  return b;
}

Bytes mixed_bytes(size_t n, uint32_t seed) {
  Bytes b;
  while (b.size() < n) {
    size_t stretch = 500 + next_random(seed) % 6000;
    Bytes part = (next_random(seed) & 1) ? random_bytes(stretch, next_random(seed))
                                         : text_bytes(stretch, next_random(seed));
    b.insert(b.end(), part.begin(), part.end());
  }
  b.resize(n);
  return b;
}

DecodeRun decode(const Bytes& stream, uint32_t limit, const SourceMode& mode, uint32_t expected,
                 size_t max_calls) {
  DecodeRun run;
  ByteSource src = make_source(stream, mode);
  run.begin = inflate_begin(&src);
  if (run.begin != 0) return run;
  // The engine writes no more than the stream decodes to, so a huge limit
  // needs no buffer of its size: the expected size plus a margin will do
  // (AddressSanitizer builds would catch a write past it).
  Bytes chunk(std::min<size_t>(limit, size_t{expected} + 65536));
  for (size_t call = 0; call < max_calls; ++call) {
    int r = inflate_read(chunk.data(), limit, expected);
    run.returns.push_back(r);
    run.crcs.push_back(running_crc_value());
    if (r < 0) {
      run.read_error = inflate_error();
      break;
    }
    run.output.insert(run.output.end(), chunk.begin(), chunk.begin() + r);
    if (static_cast<uint32_t>(r) < limit) break;
  }
  if (run.read_error == 0) {
    run.end = inflate_end();
    run.end_error = inflate_error();
    run.final_crc = running_crc_value();
  }
  run.beyond_end = test_source().beyond_end;
  run.consumed = test_source().pos;
  return run;
}

void FailingAllocator::install(int fail_at) {
  g_fail_at = fail_at;
  g_allocations = 0;
  g_outstanding = 0;
  set_codec_allocator(&kFailing);
}
void FailingAllocator::remove() {
  set_codec_allocator(nullptr);
}
int FailingAllocator::allocations() {
  return g_allocations;
}
int FailingAllocator::outstanding() {
  return g_outstanding;
}

}  // namespace rz::test
