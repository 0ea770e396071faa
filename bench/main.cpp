// rz_bench: our codec against zlib (and libdeflate, where built with it) on
// the same inputs, in one run.
//
//   rz_bench            full run: inputs of 16 MiB and more, ratios printed
//   rz_bench --smoke    small inputs and a few iterations (CI); never fails on timing
//
// Other arguments go to Google Benchmark (e.g. --benchmark_filter=inflate).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "bench.h"

namespace rz::bench {

namespace {
std::vector<BenchRegistrar::Fn>& registry() {
  static std::vector<BenchRegistrar::Fn> fns;
  return fns;
}

// Console output as usual, and the throughput of every case kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred) {
        ++errors;
        continue;
      }
      // With --benchmark_repetitions the median stands for the case.
      bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type != Run::RT_Iteration && !median) continue;
      auto it = r.counters.find("bytes_per_second");
      if (it == r.counters.end()) continue;
      std::string name = r.run_name.function_name;
      if (median || !medians.count(name)) rates[name] = it->second.value;
      if (median) medians.insert(name);
    }
  }
  std::map<std::string, double> rates;
  std::set<std::string> medians;
  int errors = 0;
};

// For every case "BASE/ours..." print its throughput and its ratio against
// each peer "BASE/zlib" and "BASE/libdeflate" measured in the same run
// (above 1: ours is faster).
void print_ratios(const std::map<std::string, double>& rates) {
  const char* const peers[] = {"zlib", "libdeflate"};
  std::printf("\n%-44s %10s %10s %8s %12s %8s\n", "comparison", "ours MB/s", "zlib MB/s", "x zlib",
              "libdefl MB/s", "x libdefl");
  for (const auto& [name, ours] : rates) {
    size_t slash = name.rfind('/');
    if (slash == std::string::npos || name.compare(slash + 1, 4, "ours") != 0) continue;
    std::string base = name.substr(0, slash);
    std::printf("%-44s %10.1f", name.c_str(), ours / 1e6);
    for (const char* peer : peers) {
      auto p = rates.find(base + "/" + peer);
      if (p == rates.end() || p->second <= 0)
        std::printf(" %*s %8s", peer[0] == 'z' ? 10 : 12, "-", "-");
      else
        std::printf(" %*.1f %8.3f", peer[0] == 'z' ? 10 : 12, p->second / 1e6, ours / p->second);
    }
    std::printf("\n");
  }
}
}  // namespace

BenchRegistrar::BenchRegistrar(Fn fn) {
  registry().push_back(fn);
}
const std::vector<BenchRegistrar::Fn>& BenchRegistrar::all() {
  return registry();
}

}  // namespace rz::bench

int main(int argc, char** argv) {
  using namespace rz::bench;
  BenchConfig config;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      config.smoke = true;
      continue;
    }
    args.push_back(argv[i]);
  }
  config.corpus_bytes = config.smoke ? (256u << 10) : (16u << 20);
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  for (BenchRegistrar::Fn fn : BenchRegistrar::all()) fn(config);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  print_ratios(reporter.rates);
  std::fflush(stdout);
  // Timing never fails the run; a wrong result does.
  return reporter.errors ? 1 : 0;
}
