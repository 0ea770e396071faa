// rz_bench: our codec against zlib on the same inputs, in one run.
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

void print_ratios(const std::map<std::string, double>& rates) {
  std::printf("\n%-36s %12s %12s %8s\n", "comparison", "ours MB/s", "zlib MB/s", "ratio");
  for (const auto& [name, ours] : rates) {
    const std::string suffix = "/ours";
    if (name.size() < suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    std::string base = name.substr(0, name.size() - suffix.size());
    auto z = rates.find(base + "/zlib");
    if (z == rates.end() || z->second <= 0) continue;
    std::printf("%-36s %12.1f %12.1f %8.3f\n", base.c_str(), ours / 1e6, z->second / 1e6,
                ours / z->second);
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
