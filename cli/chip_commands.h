// korvane-cli's operations on a chip other than a write: --info, --erase-all without a
// FILE, --read.
#pragma once

#include "cli/console.h"
#include "cli/options.h"
#include "sim/sim_port.h"

namespace korvane::cli {

// True when the options ask for one of them.
bool IsChipOperation(const Options& options);

// Runs it on options.port (chip: the simulated one for "sim", else null): the exit code,
// with what it found on stdout and a failure's message on stderr.
int RunChipOperation(const Options& options, Console& console, sim::SimulatedChip* chip);

}  // namespace korvane::cli
