#include "corpus.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace rz::bench {

namespace {

namespace fs = std::filesystem;

// The commonest words of English prose, commonest first: they take the top
// ranks of the vocabulary, as real text spends about half its words on them.
constexpr const char* kCommonWords[] = {
    "the",   "of",    "and",  "to",    "a",     "in",    "is",    "that",   "it",      "was",
    "for",   "on",    "as",   "with",  "be",    "by",    "at",    "he",     "this",    "had",
    "not",   "are",   "but",  "from",  "or",    "have",  "an",    "they",   "which",   "one",
    "you",   "were",  "her",  "all",   "she",   "there", "would", "their",  "we",      "him",
    "been",  "has",   "when", "who",   "will",  "more",  "no",    "if",     "out",     "so",
    "said",  "what",  "up",   "its",   "about", "into",  "than",  "them",   "can",     "only",
    "other", "new",   "some", "could", "time",  "these", "two",   "may",    "then",    "do",
    "first", "any",   "my",   "now",   "such",  "like",  "our",   "over",   "man",     "me",
    "even",  "most",  "made", "after", "also",  "did",   "many",  "before", "must",    "through",
    "years", "where", "much", "your",  "way",   "well",  "down",  "should", "because", "each"};
constexpr size_t kCommonCount = sizeof kCommonWords / sizeof kCommonWords[0];
constexpr const char* kSyllables[] = {
    "ka", "ro",  "mi",  "te",  "sa",  "lun", "dor", "ve",   "an",   "is",  "ter", "pol",  "na",
    "qu", "ex",  "ri",  "sto", "mar", "el",  "ing", "tion", "pre",  "con", "de",  "ment", "al",
    "er", "ous", "ble", "vi",  "tra", "in",  "com", "ly",   "ness", "ur",  "ba",  "gen",  "ist"};
constexpr size_t kSyllableCount = sizeof kSyllables / sizeof kSyllables[0];
constexpr size_t kVocabulary = 30000;

struct Vocabulary {
  std::vector<std::string> words;
  std::vector<uint64_t> cumulative;  // Zipf weights, 2^40 / (rank + 1), summed
};

// Words past the common ones get longer with their rank, as rarer words do.
const Vocabulary& vocabulary() {
  static const Vocabulary v = [] {
    Vocabulary r;
    Rng rng(0x5EED0F7E47ull);
    uint64_t sum = 0;
    for (size_t rank = 0; rank < kVocabulary; ++rank) {
      std::string w;
      if (rank < kCommonCount) {
        w = kCommonWords[rank];
      } else {
        unsigned parts = 1 + (rank > 400) + (rank > 4000) + rng.below(3);
        for (unsigned p = 0; p < parts; ++p) w += kSyllables[rng.below(kSyllableCount)];
      }
      r.words.push_back(std::move(w));
      sum += (uint64_t{1} << 40) / (rank + 1);
      r.cumulative.push_back(sum);
    }
    return r;
  }();
  return v;
}

const std::string& zipf_word(Rng& rng) {
  const Vocabulary& v = vocabulary();
  uint64_t x = rng.next() % v.cumulative.back();
  auto it = std::upper_bound(v.cumulative.begin(), v.cumulative.end(), x);
  return v.words[static_cast<size_t>(it - v.cumulative.begin())];
}

// Appends words to out, wrapping lines near 72 columns.
struct ProseWriter {
  Bytes& out;
  size_t column = 0;
  void word(const std::string& w, bool capital) {
    if (column > 0) {
      if (column + 1 + w.size() > 72) {
        out.push_back('\n');
        column = 0;
      } else {
        out.push_back(' ');
        ++column;
      }
    }
    size_t at = out.size();
    out.insert(out.end(), w.begin(), w.end());
    if (capital && out[at] >= 'a' && out[at] <= 'z') out[at] = static_cast<uint8_t>(out[at] - 32);
    column += w.size();
  }
  void mark(char c) {
    out.push_back(static_cast<uint8_t>(c));
    ++column;
  }
  void paragraph() {
    out.push_back('\n');
    out.push_back('\n');
    column = 0;
  }
};

}  // namespace

Bytes make_text(size_t n, uint64_t seed) {
  Rng rng(seed);
  Bytes out;
  out.reserve(n + 128);
  ProseWriter p{out};
  while (out.size() < n) {
    unsigned words = 5 + rng.below(20);
    for (unsigned i = 0; i < words; ++i) {
      if (rng.below(50) == 0)
        p.word(std::to_string(rng.below(rng.below(2) ? 100 : 100000)), false);
      else
        p.word(zipf_word(rng), i == 0);
      if (i + 1 < words && rng.below(10) == 0) p.mark(rng.below(5) ? ',' : ';');
    }
    uint32_t end = rng.below(20);
    p.mark(end == 0 ? '?' : end == 1 ? '!' : '.');
    if (rng.below(6) == 0) p.paragraph();
  }
  out.resize(n);
  return out;
}

Bytes make_binary(size_t n, uint64_t seed) {
  Rng rng(seed);
  Bytes pool(64 * 8);
  for (auto& b : pool) b = static_cast<uint8_t>(rng.next());
  Bytes out;
  out.reserve(n + 2048);
  uint32_t id = 1000 + rng.below(1000), stamp = 1700000000, offset = 0;
  int32_t level = 0;
  auto put = [&out](uint32_t v, unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  static const uint8_t kOps[] = {0x48, 0x89, 0x8B, 0xE8, 0x0F, 0x85, 0x55, 0xE5, 0xC3, 0x45};
  while (out.size() < n) {
    if (rng.below(40) == 0) {
      // Opcodes, the first ones commonest (the lesser of two draws), with
      // small operands or 32-bit displacements now and then.
      for (unsigned i = 0, k = 200 + rng.below(1600); i < k; ++i) {
        out.push_back(kOps[std::min(rng.below(10), rng.below(10))]);
        uint32_t operand = rng.below(8);
        if (operand < 2) out.push_back(static_cast<uint8_t>(rng.below(32)));
        if (operand == 2) put(offset + rng.below(4096), 4);
      }
      continue;
    }
    ++id;
    stamp += rng.below(5);
    level += static_cast<int32_t>(rng.below(9)) - 4;
    offset += 32 + rng.below(64);
    put(id, 4);
    put(stamp, 4);
    put(rng.below(6), 2);
    put(rng.below(3) << 4, 2);
    put(static_cast<uint32_t>(level), 4);
    put(offset, 4);
    const uint8_t* ref = &pool[rng.below(64) * 8];
    out.insert(out.end(), ref, ref + 8);
    put(0, 4);
  }
  out.resize(n);
  return out;
}

Bytes make_random(size_t n, uint64_t seed) {
  Rng rng(seed);
  Bytes out(n);
  for (size_t i = 0; i < n; i += 8) {
    uint64_t v = rng.next();
    std::memcpy(&out[i], &v, std::min<size_t>(8, n - i));
  }
  return out;
}

namespace {

enum class Kind { text, binary, random };

Bytes make_kind(Kind kind, size_t n, uint64_t seed) {
  switch (kind) {
    case Kind::text:
      return make_text(n, seed);
    case Kind::binary:
      return make_binary(n, seed);
    case Kind::random:
      return make_random(n, seed);
  }
  return {};
}

const char* extension(Kind kind) {
  return kind == Kind::text ? ".txt" : kind == Kind::binary ? ".bin" : ".dat";
}

int write_file(const fs::path& path, const Bytes& data, std::string* error) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  f.close();
  if (!f) {
    *error = "cannot write " + path.string();
    return -1;
  }
  return 0;
}

// One fixed time for every file and folder, so that archives of the corpus
// come out the same too.
fs::file_time_type corpus_time() {
  using namespace std::chrono;
  sys_seconds noon = sys_days{year{2024} / 1 / 15} + hours{12};
  return file_clock::from_sys(noon);
}

// A small file's kind and size: mostly text, a quarter binary, a tenth
// incompressible, a few empty; sizes spread evenly over the powers of two
// from 32 bytes to 64 KiB.
void small_file_shape(Rng& rng, Kind* kind, size_t* size) {
  uint32_t k = rng.below(100);
  *kind = k < 64 ? Kind::text : k < 89 ? Kind::binary : Kind::random;
  unsigned e = 5 + rng.below(11);
  *size = k == 99 ? 0 : (size_t{1} << e) + rng.below(1u << e);
}

// Files per folder of small/, and leaf folders per group folder.
constexpr unsigned kFilesPerFolder = 30;
constexpr unsigned kFoldersPerGroup = 8;

}  // namespace

int write_corpus_tree(const std::string& dir, const TreeOptions& options, TreeSummary* summary,
                      std::string* error) {
  TreeSummary s;
  std::error_code ec;
  const fs::path root(dir);
  if (fs::exists(root / "small", ec) || fs::exists(root / "large", ec)) {
    *error = dir + " already holds a corpus";
    return -1;
  }
  std::vector<fs::path> folders = {root, root / "small", root / "large"};
  for (const fs::path& f : folders) fs::create_directories(f, ec);
  Rng rng(options.seed);
  for (unsigned i = 0; i < options.small_files; ++i) {
    unsigned leaf = i / kFilesPerFolder;
    char group_name[16], leaf_name[16], file_name[32];
    std::snprintf(group_name, sizeof group_name, "g%02u", leaf / kFoldersPerGroup);
    std::snprintf(leaf_name, sizeof leaf_name, "d%02u", leaf % kFoldersPerGroup);
    fs::path folder = root / "small" / group_name / leaf_name;
    if (i % kFilesPerFolder == 0) {
      if (leaf % kFoldersPerGroup == 0) folders.push_back(folder.parent_path());
      folders.push_back(folder);
      fs::create_directories(folder, ec);
    }
    Kind kind;
    size_t size;
    small_file_shape(rng, &kind, &size);
    std::snprintf(file_name, sizeof file_name, "f%05u%s", i, extension(kind));
    if (write_file(folder / file_name, make_kind(kind, size, rng.next()), error) != 0) return -1;
    fs::last_write_time(folder / file_name, corpus_time(), ec);
    ++s.small_files;
    s.small_bytes += size;
  }
  s.files = s.small_files;
  s.bytes = s.small_bytes;
  const Kind kLargeKinds[] = {Kind::text, Kind::binary, Kind::random, Kind::text, Kind::binary};
  uint64_t rest = options.total_bytes > s.bytes ? options.total_bytes - s.bytes : 0;
  for (unsigned i = 0; i < options.large_files; ++i) {
    Kind kind = kLargeKinds[i % 5];
    auto size = static_cast<size_t>(rest / options.large_files);
    char file_name[32];
    std::snprintf(file_name, sizeof file_name, "large%02u%s", i, extension(kind));
    fs::path path = root / "large" / file_name;
    if (write_file(path, make_kind(kind, size, rng.next()), error) != 0) return -1;
    fs::last_write_time(path, corpus_time(), ec);
    ++s.files;
    s.bytes += size;
  }
  // Deepest folders last in the list: their times are set before their
  // parents' so that no later change touches a parent again.
  for (auto it = folders.rbegin(); it != folders.rend(); ++it)
    fs::last_write_time(*it, corpus_time(), ec);
  s.directories = static_cast<unsigned>(folders.size()) - 1;
  if (summary) *summary = s;
  return 0;
}

}  // namespace rz::bench
