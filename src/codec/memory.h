// Heap blocks of the codec (the inflate window, Huffman tables, work buffers).
//
// Every block the codec takes goes through the active allocator, so that tests
// can make the Nth allocation fail and check that each failure ends in a clean
// result code with nothing leaked.
#pragma once

#include <cstddef>

namespace rz {

struct CodecAllocator {
  void* (*alloc)(size_t size);  // nullptr when no memory is left; contents undefined
  void (*release)(void* block);
};

// Install an allocator (tests); nullptr restores the default heap.
void set_codec_allocator(const CodecAllocator* allocator);

void* codec_alloc(size_t size);
void codec_free(void* block);

}  // namespace rz
