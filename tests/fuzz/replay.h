// The plain-program side of a fuzz target: without libFuzzer, main replays
// the files (or the files of the folders) named on the command line through
// LLVMFuzzerTestOneInput, which is how CTest runs a seed corpus.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace rzfuzz {

// Replays every file named; returns the count, or -1 when one cannot be read.
inline int replay(int argc, char** argv) {
  namespace fs = std::filesystem;
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<fs::path> files;
    if (fs::is_directory(argv[i])) {
      for (const auto& e : fs::directory_iterator(argv[i]))
        if (e.is_regular_file()) files.push_back(e.path());
    } else {
      files.emplace_back(argv[i]);
    }
    for (const fs::path& f : files) {
      std::ifstream in(f, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read %s\n", f.string().c_str());
        return -1;
      }
      std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(data.data(), data.size());
      ++replayed;
    }
  }
  std::printf("%d inputs replayed\n", replayed);
  return replayed;
}

}  // namespace rzfuzz
