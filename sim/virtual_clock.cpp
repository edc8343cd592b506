#include "sim/virtual_clock.h"

namespace korvane::sim {

Nanoseconds ByteTime(uint32_t baudRate, int stopBits) {
  if (baudRate == 0) return 0;
  uint64_t bits = 9u + static_cast<uint64_t>(stopBits);
  return bits * 1000000000u / baudRate;
}

}  // namespace korvane::sim
