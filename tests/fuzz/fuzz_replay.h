// The plain-program side of a fuzz target: replays every file named, and
// every file in every folder named, through the target's entry point.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace rz_fuzz {

inline int replay(int argc, char** argv, int (*target)(const uint8_t*, size_t)) {
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
        return 1;
      }
      std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
      // A copy of exactly the file's size, so that a read past it is caught.
      std::vector<uint8_t> exact(data);
      target(exact.data(), exact.size());
      ++replayed;
    }
  }
  std::printf("%d inputs replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}

}  // namespace rz_fuzz
