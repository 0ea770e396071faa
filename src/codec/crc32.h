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

// Fold n bytes into a register value (no inversion at either end).
uint32_t crc_update(uint32_t crc, const uint8_t* data, size_t n);

// RunningCrc: 0 at load, 0xFFFFFFFF after a reset.
void running_crc_reset();
// Fold a span into RunningCrc; returns the new register value.
uint32_t running_crc_add(const uint8_t* data, size_t n);
uint32_t running_crc_value();
void running_crc_set(uint32_t value);

}  // namespace rz
