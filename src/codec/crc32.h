// CRC-32 (reflected, polynomial 0xEDB88320) and the process-wide register.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rz {

// The 256-entry table of the reflected CRC-32.
extern const uint32_t kCrcTable[256];

// One table step: table[(crc ^ byte) & 0xFF] ^ (crc >> 8).  No inversion.
inline uint32_t crc_step(uint32_t crc, uint8_t byte) {
  return kCrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

// Fold n bytes into a register value (no inversion at either end).  Bit-identical
// to n calls of crc_step; uses carry-less multiplication where the CPU has it.
uint32_t crc_update(uint32_t crc, const uint8_t* data, size_t n);

// Copy n bytes from src to dst (which must not overlap) and fold them into crc
// in the same pass; returns the new register value.
uint32_t crc_copy(uint32_t crc, uint8_t* dst, const uint8_t* src, size_t n);

// The methods the dispatcher chooses from, exposed so that tests can compare
// every one of them with the table step.
enum class CrcMethod {
  bytewise,  // one table step per byte
  sliced,    // eight table lookups per 8 bytes
  clmul128,  // carry-less multiplication, 128-bit registers
  clmul512,  // carry-less multiplication, 512-bit registers
};
uint32_t crc_update_bytewise(uint32_t crc, const uint8_t* data, size_t n);
uint32_t crc_update_sliced(uint32_t crc, const uint8_t* data, size_t n);
// True when the 128-bit carry-less multiply method is available on this CPU.
bool crc_has_clmul();
bool crc_method_available(CrcMethod method);
// Fold (and, when dst is not null, copy) with one method; an unavailable
// method falls back to the next simpler one.
uint32_t crc_copy_with(CrcMethod method, uint32_t crc, uint8_t* dst, const uint8_t* src, size_t n);

// RunningCrc: 0 at load, 0xFFFFFFFF after a reset.
void running_crc_reset();
// Fold a span into RunningCrc; returns the new register value.
uint32_t running_crc_add(const uint8_t* data, size_t n);
// Copy a span to dst and fold it into RunningCrc; returns the new value.
uint32_t running_crc_add_copy(uint8_t* dst, const uint8_t* src, size_t n);
uint32_t running_crc_value();
void running_crc_set(uint32_t value);

}  // namespace rz
