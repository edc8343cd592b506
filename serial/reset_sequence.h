// How the host moves the board's reset and ISP entry pins through the port's modem
// lines: the sequences as data (which signal, active or released, how long to wait
// after), and the board's wiring that maps each signal to a line and a level.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/com_port.h"

namespace korvane {

// The two pins of the chip the host drives.
enum class BoardSignal { IspEntry, Reset };

struct ResetStep {
  BoardSignal signal;
  bool active;           // the pin's state after the step
  uint32_t waitAfterMs;  // before the next step
};
using ResetSequence = std::vector<ResetStep>;

// How long the reset pulse lasts, and how long the ISP entry pin stays active after the
// reset is released (the boot code samples it then). Boards whose supervisor or RC holds
// the reset longer need more.
struct ResetTiming {
  uint32_t resetMs = 50;
  uint32_t ispMs = 100;
};

// Into the boot loader: the ISP entry pin active, a reset pulse of timing.resetMs, the
// ISP pin released timing.ispMs after the reset, once the boot code has sampled it.
ResetSequence IntoBootLoaderSequence(const ResetTiming& timing = {});
// Into the program: the ISP entry pin released, a reset pulse of timing.resetMs.
ResetSequence IntoProgramSequence(const ResetTiming& timing = {});

// Which line drives which pin, and at which level.
enum class ResetWiring {
  Default,   // RTS drives the ISP entry pin, DTR the reset; a pin is active while its line is on
  Swapped,   // DTR drives the ISP entry pin, RTS the reset
  Inverted,  // as Default, but a pin is active while its line is off
  SwappedInverted,  // both
  None,             // no line reaches the board: the user holds the ISP button and resets by hand
};

// "default", "swapped", "inverted", "swapped-inverted", "none".
const char* ResetWiringName(ResetWiring wiring);
std::optional<ResetWiring> ResetWiringNamed(const std::string& name);

// DTR drives the ISP entry pin and RTS the reset.
bool SwapsLines(ResetWiring wiring);
// A pin is active while its line is off.
bool InvertsLines(ResetWiring wiring);

// The line change that puts the signal's pin into the state asked for; none with
// ResetWiring::None.
std::optional<LineChange> LineChangeFor(BoardSignal signal, bool active, ResetWiring wiring);

// "RTS on: ISP entry active", "DTR off: reset released".
std::string DescribeStep(const ResetStep& step, ResetWiring wiring);

}  // namespace korvane
