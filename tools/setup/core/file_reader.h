// Sequential reading of a file of any length with a fixed buffer: the one
// place the installer core opens files (stdio, so it builds everywhere).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qgsetup {

class FileReader {
 public:
  FileReader() = default;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  ~FileReader();

  // Opens `path` for reading, unbuffered (callers read in large blocks).
  // Returns 0 or 1.
  int open(const std::string& path);
  // Length of the open file, or -1.
  int64_t length();
  // Moves to `offset`.  Returns 0 or 1.
  int seek(uint64_t offset);
  // Reads up to `size` bytes; returns the count (0 at the end) or -1.
  int64_t read(void* buffer, size_t size);
  // Reads exactly `size` bytes.  Returns 0, or 1 (error or end first).
  int read_exact(void* buffer, size_t size);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace qgsetup
