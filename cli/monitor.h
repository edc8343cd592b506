// korvane-cli --monitor: the port as a terminal to the program on the board.
#pragma once

#include <cstdint>
#include <string>

#include "cli/console.h"
#include "serial/com_port.h"
#include "serial/reset_sequence.h"

namespace korvane::cli {

// How long one look at the port and at the input waits at most, in milliseconds.
constexpr uint32_t kMonitorPollMs = 20;
// After the end of the input, the board's output is still shown until it has been quiet
// this long, in milliseconds, but no longer than kMonitorDrainLimitMs in all.
constexpr uint32_t kMonitorDrainMs = 500;
constexpr uint32_t kMonitorDrainLimitMs = 2000;

// Sets the port to baud (8N1, no flow control, so that every byte of the program's
// output arrives) and, with resetIntoProgram, resets the chip into its program. Then
// what the board sends goes to stdout as it comes and stdin goes to the board, until
// Ctrl-C, the end of the input (exit 0; the board's answer to the last input is still
// shown until it has been quiet for kMonitorDrainMs, for kMonitorDrainLimitMs at most) or
// the end of stdout's reader (exit 0), or until the port fails (exit 1, with a message
// naming device). A terminal on stdin is put back as it was on every way out.
// The board's wiring says how its lines reach the pins: the monitor leaves both pins
// released.
int RunMonitor(ComPort& port, uint32_t baud, bool resetIntoProgram, const std::string& device,
               Console& console, ResetWiring wiring = ResetWiring::Default);

}  // namespace korvane::cli
