// The plain-program side of a fuzz target: replays the files (or the files
// of the folders) named on the command line through LLVMFuzzerTestOneInput,
// which is how CTest runs a seed corpus.  Built with libFuzzer (RZ_LIBFUZZER
// defined) the fuzzer brings its own main(); a target that replays in its
// own way, or cleans up after, defines RZ_FUZZ_OWN_MAIN and calls
// rz_fuzz::replay.
#pragma once

#ifndef RZ_LIBFUZZER
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace rz_fuzz {

// Replays every file named through target; returns how many, or -1 when one
// cannot be read.
inline int replay(int argc, char** argv,
                  int (*target)(const uint8_t*, size_t) = LLVMFuzzerTestOneInput) {
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
      // A copy of exactly the file's size, so that a read past it is caught.
      std::vector<uint8_t> exact(data);
      target(exact.data(), exact.size());
      ++replayed;
    }
  }
  std::printf("%d inputs replayed\n", replayed);
  return replayed;
}

}  // namespace rz_fuzz

#ifndef RZ_FUZZ_OWN_MAIN
int main(int argc, char** argv) {
  return rz_fuzz::replay(argc, argv) > 0 ? 0 : 1;
}
#endif
#endif
