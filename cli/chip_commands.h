// korvane-cli's operations on a chip other than a write: --info, --erase-all without a
// FILE, --read.
#pragma once

#include "cli/console.h"
#include "cli/options.h"
#include "bench/bench.h"
#include "cli/board_port.h"

namespace korvane::cli {

using bench::Bench;
using bench::BoardAttempt;

// True when the options ask for one of them.
bool IsChipOperation(const Options& options);

// Runs it on the board: the exit code,
// with what it found on stdout and a failure's message on stderr.
int RunChipOperation(const Options& options, Console& console, BoardPort& board, Bench& bench);

}  // namespace korvane::cli
