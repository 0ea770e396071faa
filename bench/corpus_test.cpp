// The benchmark corpus must be the same bytes on every machine and in every
// build (32-bit ones too), or figures from two machines stop comparing: the
// generators' output is pinned here by its CRC-32.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "corpus.h"

namespace rz::bench {
namespace {

uint32_t crc_of(const Bytes& b) {
  return static_cast<uint32_t>(crc32(0L, b.data(), static_cast<uInt>(b.size())));
}

TEST(Corpus, GeneratorsArePinned) {
  struct Case {
    const char* name;
    Bytes (*make)(size_t, uint64_t);
    uint64_t seed;
    uint32_t crc;
  } cases[] = {
      {"text", make_text, 1, 0x328dc892},
      {"binary", make_binary, 2, 0x50c1ec75},
      {"random", make_random, 3, 0x23a45e46},
  };
  for (const Case& c : cases) {
    Bytes b = c.make(100000, c.seed);
    ASSERT_EQ(b.size(), 100000u) << c.name;
    EXPECT_EQ(crc_of(b), c.crc) << c.name;
    EXPECT_EQ(c.make(100000, c.seed), b) << c.name << ": the same seed, the same bytes";
    EXPECT_NE(c.make(100000, c.seed + 1), b) << c.name << ": another seed, other bytes";
  }
}

// The smoke tree: its files, sizes and contents, as one CRC-32 over the
// sorted list of relative paths, sizes and file contents.
TEST(Corpus, SmokeTreeIsPinned) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "rz_corpus_test.XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  fs::path dir = pattern;
  TreeOptions options;
  options.total_bytes = 1 << 20;
  options.small_files = 64;
  options.large_files = 2;
  TreeSummary s;
  std::string error;
  ASSERT_EQ(write_corpus_tree(dir.string(), options, &s, &error), 0) << error;
  EXPECT_EQ(s.files, 66u);
  EXPECT_EQ(s.small_files, 64u);
  std::vector<std::string> listing;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) listing.push_back(fs::relative(e.path(), dir).generic_string());
  std::sort(listing.begin(), listing.end());
  ASSERT_EQ(listing.size(), 66u);
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t bytes = 0;
  for (const std::string& name : listing) {
    crc = crc32(crc, reinterpret_cast<const Bytef*>(name.data()), static_cast<uInt>(name.size()));
    std::ifstream f(dir / name, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    bytes += content.size();
    crc = crc32(crc, reinterpret_cast<const Bytef*>(content.data()),
                static_cast<uInt>(content.size()));
  }
  EXPECT_EQ(bytes, s.bytes);
  EXPECT_EQ(static_cast<uint32_t>(crc), 0xed3ef565u);
  std::string again;
  EXPECT_NE(write_corpus_tree(dir.string(), options, &s, &again), 0) << "a second corpus over it";
  fs::remove_all(dir);
}

}  // namespace
}  // namespace rz::bench
