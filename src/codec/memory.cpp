#include "codec/memory.h"

#include <atomic>
#include <cstdlib>

namespace rz {

namespace {
void* heap_alloc(size_t size) {
  return std::malloc(size);
}
void heap_release(void* block) {
  std::free(block);
}

const CodecAllocator kHeap = {heap_alloc, heap_release};
std::atomic<const CodecAllocator*> g_allocator{nullptr};

const CodecAllocator& active() {
  const CodecAllocator* a = g_allocator.load(std::memory_order_acquire);
  return a ? *a : kHeap;
}
}  // namespace

void set_codec_allocator(const CodecAllocator* allocator) {
  g_allocator.store(allocator, std::memory_order_release);
}

void* codec_alloc(size_t size) {
  return active().alloc(size);
}

void codec_free(void* block) {
  if (block) active().release(block);
}

}  // namespace rz
