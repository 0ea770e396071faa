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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

int replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return 1;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  // Every prefix too: a record cut anywhere must be refused cleanly.
  for (size_t n = 0; n < bytes.size(); ++n) LLVMFuzzerTestOneInput(bytes.data(), n);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p)) {
      for (const auto& e : std::filesystem::directory_iterator(p)) {
        if (replay(e.path())) return 1;
        ++files;
      }
    } else {
      if (replay(p)) return 1;
      ++files;
    }
  }
  std::printf("replayed %d inputs\n", files);
  return files > 0 ? 0 : 1;
}
#endif
