// Fuzz target for what the verifier reads of a Windows setup program: the
// PE headers (where Authenticode writes) and the certificate table after an
// installer's archive.  Built with libFuzzer it takes inputs from the
// fuzzer; otherwise it replays files, which is how CTest runs the seed
// corpus.
//
// An input is a 4-byte little-endian archive end (taken modulo the file's
// length + 1) and the bytes of a file.  Whatever they hold, the header
// parser must stay within the bytes and the setup program's length and give
// fields inside them, and the table check must end with one of its codes,
// accepting only a table that ends exactly at the end of the file; any
// other outcome aborts.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#define RZ_FUZZ_OWN_MAIN
#include "file_reader.h"
#include "pe_signing.h"
#include "replay_main.h"

namespace {

std::string scratch_file() {
  return (std::filesystem::temp_directory_path() /
          ("rz-pesign-fuzz." + std::to_string(::getpid()) + ".bin"))
      .string();
}

void check_table(const std::vector<uint8_t>& file, uint64_t archive_end,
                 const qgsetup::PeSigningFields& pe) {
  std::string path = scratch_file();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (!file.empty() && std::fwrite(file.data(), 1, file.size(), f) != file.size()) std::abort();
  if (std::fclose(f) != 0) std::abort();
  qgsetup::FileReader in;
  if (in.open(path)) std::abort();
  std::string why;
  int r = qgsetup::check_certificate_table(in, archive_end, file.size(), pe, &why);
  if (r < qgsetup::kCertOk || r > qgsetup::kCertBad) std::abort();
  if (r != qgsetup::kCertOk && why.empty()) std::abort();
  if (r == qgsetup::kCertOk &&
      (uint64_t{pe.table_offset} + pe.table_size != file.size() || pe.table_offset < archive_end ||
       pe.table_offset - archive_end >= 8 || pe.table_offset % 8 != 0))
    std::abort();
}

// The parser alone, on exactly `size` bytes and a setup program of
// `stub_length`; returns its result.
int parse(const uint8_t* data, size_t size, uint64_t stub_length, qgsetup::PeSigningFields* pe) {
  std::vector<unsigned char> exact(data, data + size);
  int r = qgsetup::parse_pe_signing_fields(exact.data(), exact.size(), stub_length, pe);
  if (r != qgsetup::kPeNone && r != qgsetup::kPeOk && r != qgsetup::kPeDamaged) std::abort();
  if (r == qgsetup::kPeOk) {
    uint64_t limit = size < stub_length ? size : stub_length;
    if (!pe->present || pe->checksum_offset + 4 > pe->security_offset ||
        pe->security_offset + 8 > limit)
      std::abort();
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t end = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
  std::vector<uint8_t> file(data + 4, data + size);
  uint64_t archive_end = end % (file.size() + 1);
  size_t head = file.size() < qgsetup::kPeHeadBytes ? file.size() : qgsetup::kPeHeadBytes;
  qgsetup::PeSigningFields pe;
  // The setup program ends where the archive begins at the latest.
  if (parse(file.data(), head, archive_end, &pe) == qgsetup::kPeOk)
    check_table(file, archive_end, pe);
  return 0;
}

#ifndef RZ_LIBFUZZER
namespace {

// The whole input, then the parser on every prefix of the file: headers cut
// anywhere must be refused cleanly.
int whole_and_prefixes(const uint8_t* data, size_t size) {
  LLVMFuzzerTestOneInput(data, size);
  qgsetup::PeSigningFields pe;
  size_t limit = size < 4 + 4096 ? size : 4 + 4096;
  for (size_t n = 4; n <= limit; ++n) parse(data + 4, n - 4, n - 4, &pe);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = rz_fuzz::replay(argc, argv, whole_and_prefixes);
  std::error_code ec;
  std::filesystem::remove(scratch_file(), ec);
  return replayed > 0 ? 0 : 1;
}
#endif
