// Fuzz target for the script services over a fuzzed script and a fuzzed
// registry store (POSIX).  Built with libFuzzer it takes inputs from the
// fuzzer; otherwise it is a plain program that replays the files (or the
// files of the folders) named on its command line, which is how CTest runs
// the seed corpus.
//
// Input: one byte of options (the OS and condition masks and the install
// mode), two bytes of the script's length (little-endian, cut to what
// follows), the script, and the store file's bytes; without the two length
// bytes there is no store file.  Both go
// to files in a private folder; WRITEREG runs twice over them with the same
// tags.  Whatever the two files hold, the second call must leave the store
// byte for byte as the first left it (every item is written by a rule that
// gives the same value when applied again), and GETREG of each item's key
// must not read past its 127 bytes.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/profile.h"
#include "raziza3z.h"
#include "raziza3z_host.h"

namespace {

struct Files {
  std::string dir, script, store;
};

// Never destroyed: the clean-up at exit runs after the destructors of
// objects made later, and a static Files would be one of them.
const Files& files() {
  static const Files* f = [] {
    auto* made_ptr = new Files;
    Files& made = *made_ptr;
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/rz_fuzz_script.XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    made.dir = pattern;
    made.script = made.dir + "/setup.ini";
    made.store = made.dir + "/store.reg";
    std::atexit([] {
      const Files& f = files();
      ::unlink(f.script.c_str());
      ::unlink(f.store.c_str());
      ::rmdir(f.dir.c_str());
    });
    return made_ptr;
  }();
  return *f;
}

void put(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) std::abort();
}

std::string get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const Files& f = files();
  uint8_t options = data[0];
  if (size < 3) {
    put(f.script, data + 1, size - 1);
    ::unlink(f.store.c_str());
  } else {
    size_t script_size = data[1] | static_cast<size_t>(data[2]) << 8;
    if (script_size > size - 3) script_size = size - 3;
    put(f.script, data + 3, script_size);
    put(f.store, data + 3 + script_size, size - 3 - script_size);
  }
  // Bounded work: item and variable counts stay small.
  const char* s = f.script.c_str();
  if (rz::plat::profile_get_int("REG", "Ndx", 0, s) > 64u ||
      rz::plat::profile_get_int("VARIABLES", "#", 0, s) > 64u)
    return 0;
  rz_host_set_registry_file(f.store.c_str());
  int32_t log = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  INITMAK(s, (options & 0x80) ? 2 : 0, options & 0x0f, (options >> 4) & 0x07, log);
  int32_t first = WRITEREG("AB");
  std::string after_first = get(f.store);
  int32_t second = WRITEREG("AB");
  if (first != second || get(f.store) != after_first) std::abort();
  // GETREG of each item's key and name writes at most 127 bytes.
  for (int n = 1; n <= 4; ++n) {
    char key[256], name[128], out[160];
    std::snprintf(out, sizeof out, "+%db", n);
    rz::plat::profile_get_string("REG", out, "", key, sizeof key, s);
    std::snprintf(out, sizeof out, "+%dc", n);
    rz::plat::profile_get_string("REG", out, "", name, sizeof name, s);
    std::memset(out, 0x5a, sizeof out);
    GETREG(1 + n % 5, key, name, out, 3);
    for (size_t i = 127; i < sizeof out; ++i)
      if (out[i] != 0x5a) std::abort();
  }
  INITMAK("", 0, 0, 0, -1);
  ::close(log);
  rz_host_registry_status();
  return 0;
}

#include "replay_main.h"
