// The write of korvane-cli: FILE read and checked once, then written to one board
// (with the progress on a terminal, the monitor after it) or to many at once, each
// tried again on --retry; -d deletes FILE only when every board has it.
#pragma once

#include <string>

#include "cli/console.h"
#include "cli/options.h"
#include "job/image_file.h"
#include "cli/board_port.h"

namespace korvane::cli {

// Writes options.file to every board (one per port of options.ports, in that order):
// the exit code.
int WriteOnce(const Options& options, Console& console, const Boards& boards);

// Deletes FILE after a write that put it on every board, when it still is the version
// that was read; false, with the message told, when it is not or cannot be deleted.
bool DeleteWritten(const std::string& path, const FileStamp& written, Console& console);

}  // namespace korvane::cli
