// Shared frame of the benchmark program: each bench/*.cpp registers its
// cases through a BenchRegistrar, which main() calls once the command line
// has been read.  A case named ".../ours" (or ".../ours-VARIANT") with a
// twin ".../zlib" or ".../libdeflate" gets its throughput ratio printed at
// the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rz::bench {

struct BenchConfig {
  bool smoke = false;       // small inputs, few iterations, no timing verdict
  size_t corpus_bytes = 0;  // size of each generated input
};

class BenchRegistrar {
 public:
  using Fn = void (*)(const BenchConfig&);
  explicit BenchRegistrar(Fn fn);
  static const std::vector<Fn>& all();
};

}  // namespace rz::bench
