#include "platform/file.h"

#include <atomic>

namespace rz::plat {

namespace {
std::atomic<const FileOps*> g_active{nullptr};
}

const FileOps& file_ops() {
  const FileOps* ops = g_active.load(std::memory_order_acquire);
  return ops ? *ops : native_file_ops();
}

void set_file_ops(const FileOps* ops) {
  g_active.store(ops, std::memory_order_release);
}

int file_read_exact(FileHandle file, void* buffer, uint32_t n) {
  auto* out = static_cast<unsigned char*>(buffer);
  uint32_t done = 0;
  while (done < n) {
    int32_t got = file_read(file, out + done, n - done);
    if (got <= 0) return -1;
    done += static_cast<uint32_t>(got);
  }
  return 0;
}

uint32_t file_read_at_most(FileHandle file, uint64_t offset, void* buffer, uint32_t n) {
  auto* out = static_cast<unsigned char*>(buffer);
  uint32_t done = 0;
  while (done < n) {
    int32_t got = file_read_at(file, offset + done, out + done, n - done);
    if (got <= 0) break;
    done += static_cast<uint32_t>(got);
  }
  return done;
}

}  // namespace rz::plat
