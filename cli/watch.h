// korvane-cli --watch: FILE written each time it appears.
#pragma once

#include "cli/console.h"
#include "cli/options.h"
#include "bench/bench.h"
#include "cli/board_port.h"

namespace korvane::cli {

using bench::Bench;

// Writes the file each time it appears, until a write fails or Ctrl-C stops the watch.
// A file is written once it has stayed the same (identity, size, time) from one look to
// the next, a polling period apart, so that a file still being made is left alone.
int Watch(const Options& options, Console& console, const Boards& boards, Bench& bench);

}  // namespace korvane::cli
