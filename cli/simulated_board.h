// "-p sim": a simulated LPC1114FN28/102 that korvane-cli carries, reached through its
// simulated port like any board, that tells after a write what it holds.
#pragma once

#include <memory>

#include "cli/board_port.h"

namespace korvane::cli {

// A board with a simulated chip of its own, the part given, its flash erased; its
// program sends back every byte it receives, for the monitor. Its unique ID is the
// simulator's own with `number` added to its last word.
std::unique_ptr<BoardPort> MakeSimulatedBoard(const Part& part, uint32_t number = 0);

}  // namespace korvane::cli
