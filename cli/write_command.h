// The write of korvane-cli: FILE read and checked once, then written to one board
// (with the progress on a terminal, the monitor after it) or to many at once, each
// tried again on --retry; -d deletes FILE only when every board has it.
#pragma once

#include <string>

#include "cli/console.h"
#include "cli/options.h"
#include "job/image_file.h"
#include "bench/bench.h"
#include "cli/board_port.h"
#include "bench/boards.h"

namespace korvane::cli {

using bench::AttemptHooks;
using bench::Bench;
using bench::BoardAttempt;
using bench::BoardJob;
using bench::BoardListener;
using bench::BoardReport;
using bench::ExitCodeOf;
using bench::WriteBoards;
using bench::WriteWithRetries;

// How the boards of one write ended, board by board, for a station's lines.
struct RoundResult {
  std::vector<BoardReport> reports;    // each board's port, result and time
  std::vector<BoardAttempt> attempts;  // each board's last attempt (its serial number)
  // Whether everything the bench keeps of each board (its record, its number) was kept,
  // and a board that can tell (a simulated one) holds the image.
  std::vector<bool> benchKept;
};

// Writes options.file to every board (one per port of options.ports, in that order):
// the exit code.
int WriteOnce(const Options& options, Console& console, const Boards& boards, Bench& bench);

// Reads FILE (once, before any port is opened), converts and checks it for the boards:
// kSuccess, or the exit code with the message told.
int ReadImageFile(const Options& options, Console& console, Bench& bench, Input* input);

// Writes the image read from FILE to every board; *round (when given) gets how each
// ended. The exit code.
int WriteInput(const Options& options, const Input& input, Console& console, const Boards& boards,
               Bench& bench, RoundResult* round = nullptr);

// Deletes FILE after a write that put it on every board, when it still is the version
// that was read; false, with the message told, when it is not or cannot be deleted.
bool DeleteWritten(const std::string& path, const FileStamp& written, Console& console);

}  // namespace korvane::cli
