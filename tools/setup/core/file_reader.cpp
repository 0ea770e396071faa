// FileReader over stdio with 64-bit offsets.
#include "file_reader.h"

namespace qgsetup {

namespace {

int seek_to(std::FILE* f, int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(f, offset, whence);
#else
  return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}

int64_t tell(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return static_cast<int64_t>(ftello(f));
#endif
}

}  // namespace

FileReader::~FileReader() {
  if (file_) std::fclose(file_);
}

int FileReader::open(const std::string& path) {
  if (file_) std::fclose(file_);
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) return 1;
  std::setvbuf(file_, nullptr, _IONBF, 0);
  return 0;
}

int64_t FileReader::length() {
  if (!file_) return -1;
  int64_t here = tell(file_);
  if (here < 0 || seek_to(file_, 0, SEEK_END) != 0) return -1;
  int64_t end = tell(file_);
  if (seek_to(file_, here, SEEK_SET) != 0) return -1;
  return end;
}

int FileReader::seek(uint64_t offset) {
  if (!file_ || offset > static_cast<uint64_t>(INT64_MAX)) return 1;
  return seek_to(file_, static_cast<int64_t>(offset), SEEK_SET) == 0 ? 0 : 1;
}

int64_t FileReader::read(void* buffer, size_t size) {
  if (!file_) return -1;
  size_t n = std::fread(buffer, 1, size, file_);
  if (n < size && std::ferror(file_)) return -1;
  return static_cast<int64_t>(n);
}

int FileReader::read_exact(void* buffer, size_t size) {
  return read(buffer, size) == static_cast<int64_t>(size) ? 0 : 1;
}

}  // namespace qgsetup
