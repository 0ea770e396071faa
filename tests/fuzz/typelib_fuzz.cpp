// Fuzz target for the type-library reader behind REGTLB on POSIX.  Built
// with libFuzzer it takes inputs from the fuzzer; otherwise it is a plain
// program that replays the files (or the files of the folders) named on its
// command line, which is how CTest runs the seed corpus.
//
// The input is the whole file.  It is handed to the reader in a buffer of
// exactly its size, so that any read past the end lands outside the
// allocation (AddressSanitizer), and the reader must give the same answer
// twice.  An accepted library's texts are copies of bytes of the input, so
// they can be no longer than it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_replay.h"
#include "platform/posix/shelllink_posix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  rz::plat::TypeLibInfo first, second;
  int32_t rc = rz::plat::read_type_library(bytes, first);
  if (rz::plat::read_type_library(bytes, second) != rc) std::abort();
  if (rc != 0) {
    if (static_cast<uint32_t>(rc) != 0x80029C4Au) std::abort();
    return 0;
  }
  if (first.help_string != second.help_string || first.name != second.name ||
      std::memcmp(first.libid, second.libid, 16) != 0)
    std::abort();
  if (first.help_string.size() > size || first.name.size() > size) std::abort();
  if (size < 0x54 + 15 * 16) std::abort();  // a header and a segment directory at least
  return 0;
}

#ifndef RZ_LIBFUZZER
int main(int argc, char** argv) {
  return rz_fuzz::replay(argc, argv, LLVMFuzzerTestOneInput);
}
#endif
