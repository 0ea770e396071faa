// rz_script_bench: WRITEREG over a generated script of many registry items,
// writes included, timed in one process.
//
//   rz_script_bench [--items N] [--keep DIR] [--rounds R]
//
// The script (N items, 2,000 by default: about 220 KB) is made from a fixed
// seed, so every build and machine runs the same items: texts, numbers and
// bytes, variables to substitute, tags, conditions and keep-existing items.
// Round 1 writes into an empty store, later rounds over the store it left.
// With --keep the script, the store and the install log stay in DIR (for a
// byte-for-byte comparison with another build, bench/script/compare.sh);
// the program prints each round's time and the figure measured before the
// store kept a parsed copy and committed once per call (80 s for 2,000
// items, on the 2-core machine of the speed issue).
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "raziza3z.h"
#include "raziza3z_host.h"

namespace {

// A small fixed generator, the same everywhere.
struct Lcg {
  uint32_t state;
  uint32_t next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

std::string make_script(int items) {
  Lcg rng{20261211};
  static const char* const kWords[] = {"Vendor", "Product", "Settings", "Plugins", "Cache",
                                       "Recent", "Display", "Network",  "Options", "Paths"};
  std::string s =
      "[VARIABLES]\r\n#=3\r\n1=%APP%\r\n%APP%=Demo Application\r\n2=%DIR%\r\n"
      "%DIR%=C:\\Program Files\\%APP%\r\n3=%VER%\r\n%VER%=4.2.1\r\n[REG]\r\n";
  s += "Ndx=" + std::to_string(items) + "\r\n";
  for (int n = 1; n <= items; ++n) {
    std::string i = std::to_string(n);
    uint32_t kind = rng.below(3) + 1;
    std::string key = "Software\\%APP%\\" + std::string(kWords[rng.below(10)]) + "\\" +
                      kWords[rng.below(10)] + std::to_string(rng.below(40));
    std::string data;
    if (kind == 1) {
      data = std::to_string(static_cast<int32_t>(rng.next()) - (1 << 22));
    } else if (kind == 2) {
      data = "%DIR%\\" + std::string(kWords[rng.below(10)]) + "\\file" + std::to_string(n) +
             ".dat version %VER%";
    } else {
      for (int b = 0; b < 12; ++b) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x ", rng.below(256));
        data += hex;
      }
    }
    if (rng.below(8) == 0) s += "+" + i + "z=" + (rng.below(2) ? "A" : "B") + "\r\n";
    if (rng.below(10) == 0) s += "+" + i + "os=" + std::to_string(1 + rng.below(3)) + "\r\n";
    s += "+" + i + "a=" + std::to_string(2 + rng.below(2)) + "\r\n";
    s += "+" + i + "b=" + key + "\r\n";
    s += "+" + i + "c=Value " + std::to_string(n) + " of %APP%\r\n";
    s += "+" + i + "d=" + data + "\r\n";
    s += "+" + i + "e=" + std::to_string(kind) + "\r\n";
    if (rng.below(6) == 0) s += "+" + i + "no=1\r\n";
  }
  return s;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int items = 2000, rounds = 2;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--items") && i + 1 < argc) {
      items = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--keep") && i + 1 < argc) {
      keep = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--items N] [--rounds R] [--keep DIR]\n", argv[0]);
      return 2;
    }
  }
  std::string dir = keep;
  if (dir.empty()) {
    char pattern[] = "/tmp/rz_script_bench.XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    dir = pattern;
  }
  std::string script = dir + "/setup.ini", store = dir + "/registry.reg",
              log = dir + "/install.log";
  std::string text = make_script(items);
  std::ofstream(script, std::ios::binary) << text;
  ::unlink(store.c_str());
  int log_fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (log_fd < 0) return 1;
  rz_host_set_registry_file(store.c_str());
  INITMAK(script.c_str(), 2, 0x3, 0xffffffff, log_fd);
  std::printf("script: %d items, %zu bytes\n", items, text.size());
  for (int r = 1; r <= rounds; ++r) {
    auto start = std::chrono::steady_clock::now();
    int32_t result = WRITEREG("A");
    double took = seconds_since(start);
    std::printf("round %d: WRITEREG returned %d in %.3f s%s\n", r, result, took,
                r == 1 ? " (into an empty store)" : "");
  }
  ::close(log_fd);
  std::printf(
      "before the parsed copy and one commit per call: 80 s for 2000 items (goal: < 1 s)\n");
  if (keep.empty()) {
    ::unlink(script.c_str());
    ::unlink(store.c_str());
    ::unlink(log.c_str());
    ::rmdir(dir.c_str());
  }
  return 0;
}
