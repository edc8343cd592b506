// The simulated chip behind the serial-port seam: a boot-loader model, a virtual
// clock, a script of port faults, and a record of everything that crossed the port.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "serial/isp_link.h"
#include "sim/boot_loader.h"
#include "sim/virtual_clock.h"

namespace korvane::sim {

// Faults of the port itself; counts are 1-based, 0 means never.
struct PortScript {
  bool refuseOpen = false;
  uint32_t refuseBaud = 0;  // applying settings with this rate fails
  bool refuseTimeouts = false;
  int failLineChange = 0;  // the nth line change fails
  int failWrite = 0;       // the nth write fails
  int shortWrite = 0;      // the nth write leaves its last byte unwritten
  int failRead = 0;        // the nth byte read fails, as a broken device does
  int garbleWrite = 0;     // the nth write reaches the chip garbled, as noise on the line does
  // From the nth port operation on (settings, time-outs, line change, purge, write or
  // read), every operation fails at once, as with a device that was unplugged.
  int disconnectAt = 0;
};

struct PortEvent {
  enum class Kind { Open, Settings, Timeouts, Line, Purge, Write, Read, Timeout, Wait, Close };
  Kind kind;
  Nanoseconds at;
  uint32_t value = 0;  // baud rate, line change code, or milliseconds
  std::string bytes;   // written or read
};

class SimulatedChip {
 public:
  explicit SimulatedChip(ChipConfig config = {});

  // Opens the port to the chip; null when the script refuses or it is open already.
  std::unique_ptr<ComPort> OpenPort();
  PortOpener Opener() {
    return [this] { return OpenPort(); };
  }

  VirtualClock clock;
  BootLoader loader;
  PortScript script;
  std::vector<PortEvent> events;
  std::function<void()> onClose;  // runs as the port closes, for tests of ordering
  // Runs after each event is recorded, for tests that act at a moment of the dialogue.
  std::function<void(const PortEvent&)> onEvent;
  bool portOpen = false;
  int opens = 0;
  int closes = 0;

  // Whole lines as they crossed the port: "> " for the host's, "< " for the chip's,
  // each with its exact bytes and terminator (a "?" sent alone stands on its own).
  std::vector<std::string> Transcript(size_t fromEvent = 0, size_t toEvent = SIZE_MAX) const;
  // The events of one kind, in order.
  std::vector<PortEvent> EventsOf(PortEvent::Kind kind) const;
};

}  // namespace korvane::sim
