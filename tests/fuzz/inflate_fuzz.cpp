// Fuzz target for the inflater.  Built with libFuzzer it takes inputs from
// the fuzzer; otherwise it is a plain program that replays the files (or the
// files of the folders) named on its command line, which is how CTest runs
// the seed corpus.
//
// An input's first byte picks the output limit of each read; the rest is a
// raw DEFLATE stream.  The stream is decoded three times: one source byte per
// call, through a view of at most 7 bytes, and through a view of everything.
// Whatever the stream holds, the three runs must return the same counts and
// codes and leave the same RunningCrc after every read; any difference aborts.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/crc32.h"
#include "codec/inflate.h"

namespace {

struct Source {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  uint32_t view_max = 0;
};
Source g_src;

int next_byte() {
  return g_src.pos < g_src.size ? g_src.data[g_src.pos++] : 0;
}
uint32_t peek(const unsigned char** data) {
  *data = g_src.data + g_src.pos;
  size_t left = g_src.size - g_src.pos;
  return static_cast<uint32_t>(left < g_src.view_max ? left : g_src.view_max);
}
void consume(uint32_t n) {
  if (g_src.pos + n > g_src.size) std::abort();
  g_src.pos += n;
}

struct Trace {
  std::vector<int64_t> events;  // read results, RunningCrc values, end result and code
  std::vector<uint8_t> output;
};

Trace run(const uint8_t* stream, size_t size, uint32_t limit, uint32_t view_max) {
  g_src = Source{stream, size, 0, view_max};
  rz::ByteSource src{next_byte, view_max ? peek : nullptr, view_max ? consume : nullptr};
  Trace t;
  if (rz::inflate_begin(&src) != 0) std::abort();
  std::vector<uint8_t> chunk(limit);
  // Bounded: a damaged stream fed with filler bytes may decode without end.
  for (int call = 0; call < 4096 && t.output.size() < (1u << 20); ++call) {
    int r = rz::inflate_read(chunk.data(), limit, 1000);
    t.events.push_back(r);
    t.events.push_back(rz::running_crc_value());
    if (r < 0) {
      t.events.push_back(rz::inflate_error());
      return t;
    }
    t.output.insert(t.output.end(), chunk.begin(), chunk.begin() + r);
    if (static_cast<uint32_t>(r) < limit) break;
  }
  t.events.push_back(rz::inflate_end());
  t.events.push_back(rz::inflate_error());
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const uint32_t kLimits[] = {1, 2, 3, 7, 16, 258, 1024, 32768};
  uint32_t limit = kLimits[data[0] % 8];
  Trace bytes = run(data + 1, size - 1, limit, 0);
  Trace small = run(data + 1, size - 1, limit, 7);
  Trace all = run(data + 1, size - 1, limit, 0xFFFFFFFFu);
  if (bytes.events != small.events || bytes.events != all.events) std::abort();
  if (bytes.output != small.output || bytes.output != all.output) std::abort();
  return 0;
}

#include "replay_main.h"
