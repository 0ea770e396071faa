// rz_corpus: writes the benchmark corpus, the same tree on every machine.
//
//   rz_corpus DIR [--seed N] [--megabytes N] [--small-files N] [--large-files N]
//   rz_corpus DIR --smoke     a small tree for quick runs (4 MiB, 200 small files)
//
// Prints one line: files, small files, folders and bytes written.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "corpus.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: rz_corpus DIR [--seed N] [--megabytes N] [--small-files N] "
               "[--large-files N] [--smoke]\n");
  return 2;
}

// A whole number from text, or false.
bool number(const char* text, uint64_t* out) {
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (!*text || *end || text[0] == '-') return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace rz::bench;
  TreeOptions options;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    uint64_t v = 0;
    bool has_value = i + 1 < argc;
    if (a == "--smoke") {
      options.total_bytes = 4ull << 20;
      options.small_files = 200;
      options.large_files = 2;
    } else if (a == "--seed" && has_value && number(argv[++i], &v)) {
      options.seed = v;
    } else if (a == "--megabytes" && has_value && number(argv[++i], &v) && v < (1u << 20)) {
      options.total_bytes = v << 20;
    } else if (a == "--small-files" && has_value && number(argv[++i], &v) && v <= 100000) {
      options.small_files = static_cast<unsigned>(v);
    } else if (a == "--large-files" && has_value && number(argv[++i], &v) && v <= 100) {
      options.large_files = static_cast<unsigned>(v);
    } else if (dir.empty() && !a.empty() && a[0] != '-') {
      dir = a;
    } else {
      return usage();
    }
  }
  if (dir.empty()) return usage();
  TreeSummary s;
  std::string error;
  if (write_corpus_tree(dir, options, &s, &error) != 0) {
    std::fprintf(stderr, "rz_corpus: %s\n", error.c_str());
    return 1;
  }
  std::printf("%u files (%u small, %llu bytes), %u folders, %llu bytes\n", s.files, s.small_files,
              static_cast<unsigned long long>(s.small_bytes), s.directories,
              static_cast<unsigned long long>(s.bytes));
  return 0;
}
