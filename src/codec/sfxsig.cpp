// SFXSIG: the CRC register over the last bytes of a file.
#include <cstdint>

#include "codec/crc32.h"
#include "codec/memory.h"
#include "platform/file.h"
#include "raziza3z.h"

namespace rz {

namespace {
constexpr uint32_t kTailBlock = 2048;

// Fold the file from its current position to the end into RunningCrc.  Stops
// at the end or at the first read that fails: a negative count is a failure,
// never a length.
void fold_rest_of_file(plat::FileHandle file, unsigned char* buffer) {
  for (;;) {
    int32_t got = plat::file_read(file, buffer, kTailBlock);
    if (got <= 0) return;
    uint32_t n = static_cast<uint32_t>(got);
    running_crc_add(buffer, n > kTailBlock ? kTailBlock : n);
  }
}
}  // namespace

// The register after folding the file's last tail_length bytes into a fresh
// reset, without the final inversion; 0 when the file cannot be opened or the
// work buffer cannot be had (the register is then left as it was).  A tail
// longer than the file makes the seek fail and the position stay at the end,
// as does a negative one (a seek past the end): nothing is read and the result
// is 0xFFFFFFFF.
uint32_t tail_checksum(const char* path, int32_t tail_length) {
  plat::FileHandle file = plat::file_open_read(path);
  if (file == plat::kNoFile) return 0;
  auto* buffer = static_cast<unsigned char*>(codec_alloc(kTailBlock));
  if (!buffer) {
    plat::file_close(file);
    return 0;
  }
  running_crc_reset();
  int64_t length = plat::file_seek(file, 0, plat::SeekFrom::end);
  plat::file_seek(file, length - int64_t{tail_length}, plat::SeekFrom::begin);
  fold_rest_of_file(file, buffer);
  codec_free(buffer);
  plat::file_close(file);
  return running_crc_value();
}

}  // namespace rz

extern "C" RZ_API uint32_t RZ_CALL SFXSIG(const char* path, int32_t tail_length) {
  try {
    return rz::tail_checksum(path, tail_length);
  } catch (...) {
    return 0;
  }
}
