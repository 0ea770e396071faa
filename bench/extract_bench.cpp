// Extraction of one large entry through the exports (QEN_NEXTLOOP +
// QEN_UNPACK, from the archive file to the output file) against the same
// work done with zlib: read the archive, inflate, crc32, write.  Test-only
// mode is compared with the same loop without the write.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "corpus.h"
#include "qgwriter.h"
#include "raziza3z.h"

namespace rz::bench {

namespace {

constexpr size_t kIoChunk = 64 * 1024;

struct ExtractCase {
  std::string name;
  std::string dir;
  std::string archive;
  uint64_t data_offset = 0;
  uint32_t packed = 0;
  uint32_t size = 0;
  uint32_t crc = 0;
};

std::unique_ptr<ExtractCase> make_case(const std::string& name, std::vector<uint8_t> data) {
  auto c = std::make_unique<ExtractCase>();
  c->name = name;
  std::string pattern = (std::filesystem::temp_directory_path() / "rzbench.XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return nullptr;
  c->dir = pattern;
  c->archive = c->dir + "/bench.qg";
  qgw::Entry e;
  e.name = "entry.bin";
  e.data = std::move(data);
  c->size = static_cast<uint32_t>(e.data.size());
  c->crc = static_cast<uint32_t>(crc32(0L, e.data.data(), static_cast<uInt>(e.data.size())));
  std::string error;
  if (qgw::write_archive(c->archive, {e}, qgw::Options{}, nullptr, &error) != 0) return nullptr;
  c->data_offset = 40 + e.name.size();
  c->packed = static_cast<uint32_t>(std::filesystem::file_size(c->archive) - c->data_offset);
  return c;
}

// The peer: the same file read through zlib with the same buffer sizes.
bool zlib_extract(const ExtractCase& c, bool write_output) {
  FILE* in = std::fopen(c.archive.c_str(), "rb");
  if (!in) return false;
  std::fseek(in, static_cast<long>(c.data_offset), SEEK_SET);
  FILE* out = write_output ? std::fopen((c.dir + "/zlib.out").c_str(), "wb") : nullptr;
  std::vector<uint8_t> ibuf(kIoChunk), obuf(kIoChunk);
  z_stream z{};
  inflateInit2(&z, -15);
  uLong crc = crc32(0L, Z_NULL, 0);
  int r = Z_OK;
  while (r == Z_OK) {
    if (z.avail_in == 0) {
      z.avail_in = static_cast<uInt>(std::fread(ibuf.data(), 1, ibuf.size(), in));
      z.next_in = ibuf.data();
    }
    z.next_out = obuf.data();
    z.avail_out = static_cast<uInt>(obuf.size());
    r = inflate(&z, Z_NO_FLUSH);
    size_t have = obuf.size() - z.avail_out;
    crc = crc32(crc, obuf.data(), static_cast<uInt>(have));
    if (out && std::fwrite(obuf.data(), 1, have, out) != have) r = Z_ERRNO;
  }
  inflateEnd(&z);
  std::fclose(in);
  if (out) std::fclose(out);
  return r == Z_STREAM_END && crc == c.crc && z.total_out == c.size;
}

bool ours_extract(const ExtractCase& c, bool write_output) {
  char path[256];
  std::snprintf(path, sizeof path, "%s", c.archive.c_str());
  EntryInfo info;
  QEN_RESETDLL();
  if (QEN_NEXTLOOP(path, 0, &info) != 0) return false;
  char spare[4] = "";
  uint32_t options = UNPACK_OVERWRITE | UNPACK_QUIET | (write_output ? 0u : UNPACK_TEST_ONLY);
  int32_t r = QEN_UNPACK("ours.out", spare, path, c.dir.c_str(), options);
  QEN_RESETDLL();
  return r == 0;
}

// The cases, with their temporary folders removed when the program ends
// (the owner is destroyed together with the cases it holds).
struct Cases {
  std::vector<std::unique_ptr<ExtractCase>> all;
  ~Cases() {
    std::error_code ec;
    for (auto& c : all) std::filesystem::remove_all(c->dir, ec);
  }
};

std::vector<std::unique_ptr<ExtractCase>>& cases() {
  static Cases holder;
  return holder.all;
}

void register_extract(const BenchConfig& config) {
  // Larger than the codec inputs: file and write costs should show.
  size_t n = config.smoke ? config.corpus_bytes : 4 * config.corpus_bytes;
  auto text = make_case("text", make_text(n, 11));
  auto noise = make_case("incompressible", make_random(n, 12));
  if (!text || !noise) {
    std::fprintf(stderr, "rz_bench: cannot make the extraction archives\n");
    return;
  }
  cases().push_back(std::move(text));
  cases().push_back(std::move(noise));
  for (auto& cp : cases()) {
    const ExtractCase* c = cp.get();
    for (bool write : {true, false}) {
      std::string base = std::string(write ? "extract/" : "test-only/") + c->name;
      auto add = [&](const char* who, bool (*fn)(const ExtractCase&, bool)) {
        auto* b = benchmark::RegisterBenchmark(
            (base + "/" + who).c_str(), [c, write, fn](benchmark::State& state) {
              for (auto _ : state)
                if (!fn(*c, write)) state.SkipWithError("extraction failed");
              state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * c->size);
            });
        b->Unit(benchmark::kMillisecond);
        if (config.smoke) b->Iterations(2);
      };
      add("ours", ours_extract);
      add("zlib", zlib_extract);
    }
  }
}

BenchRegistrar reg(register_extract);

}  // namespace

}  // namespace rz::bench
