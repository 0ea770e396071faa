// Fuzz target for the setup data reader.  Built with libFuzzer it takes
// inputs from the fuzzer; otherwise it is a plain program that replays the
// files (or the files of the folders) named on its command line, which is
// how CTest runs the seed corpus.
//
// An input is a whole setup data record.  Whatever it holds, decoding must
// end with 0 or 1 within the input's bounds, and a record that decodes must
// be written back byte for byte the same (the format leaves no choices), and
// pass the packer's own checks; any difference aborts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#define RZ_FUZZ_OWN_MAIN
#include "replay_main.h"
#include "setup_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader works on exactly these bytes: a copy of that length lets
  // AddressSanitizer see any read past them.
  std::vector<uint8_t> copy(data, data + size);
  qgsetup::SetupData decoded;
  std::string error;
  if (qgsetup::decode_setup_data(copy.data(), copy.size(), &decoded, &error) != 0) {
    if (error.empty()) std::abort();
    return 0;
  }
  std::vector<uint8_t> again;
  if (qgsetup::encode_setup_data(decoded, &again, &error) != 0) std::abort();
  if (again != copy) std::abort();
  return 0;
}

#ifndef RZ_LIBFUZZER
namespace {

// The whole record, then every prefix of it: a record cut anywhere must be
// refused cleanly.
int whole_and_prefixes(const uint8_t* data, size_t size) {
  for (size_t n = 0; n <= size; ++n) LLVMFuzzerTestOneInput(data, n);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return rz_fuzz::replay(argc, argv, whole_and_prefixes) > 0 ? 0 : 1;
}
#endif
