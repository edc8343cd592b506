// The write of korvane-cli: FILE read and checked once, then written to one board
// (with the progress on a terminal, the monitor after it) or to many at once, each
// tried again on --retry; -d deletes FILE only when every board has it.
#pragma once

#include <string>

#include "cli/console.h"
#include "cli/options.h"
#include "job/image_file.h"
#include "sim/sim_port.h"

namespace korvane::cli {

// Writes options.file to every port of options.ports (chip: the simulated one for a
// single "sim", else null): the exit code.
int WriteOnce(const Options& options, Console& console, sim::SimulatedChip* chip);

// Deletes FILE after a write that put it on every board, when it still is the version
// that was read; false, with the message told, when it is not or cannot be deleted.
bool DeleteWritten(const std::string& path, const FileStamp& written, Console& console);

}  // namespace korvane::cli
