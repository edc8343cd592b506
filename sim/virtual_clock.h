// Simulated time for the simulated chip: advanced by waits, bytes on the wire,
// flash operations and read time-outs, never by the host's real clock.
#pragma once

#include <cstdint>

namespace korvane::sim {

using Nanoseconds = uint64_t;

constexpr Nanoseconds Milliseconds(uint64_t ms) {
  return ms * 1000000u;
}

// Time one byte takes on the wire: start bit, 8 data bits, stop bits.
Nanoseconds ByteTime(uint32_t baudRate, int stopBits = 1);

class VirtualClock {
 public:
  Nanoseconds Now() const { return now_; }
  void Advance(Nanoseconds delta) { now_ += delta; }
  void AdvanceTo(Nanoseconds time) {
    if (time > now_) now_ = time;
  }

 private:
  Nanoseconds now_ = 0;
};

}  // namespace korvane::sim
