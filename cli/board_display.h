// What korvane-cli shows of several boards: a line per board, updated in place on a
// terminal; a line per finished job without one; a summary table at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench/boards.h"
#include "cli/language.h"

namespace korvane::cli {

using bench::BoardReport;

// The board's line on a terminal, without line end:
// "/dev/ttyUSB0  [##########----------]  52%  writing".
std::string BoardLine(const BoardReport& report, size_t portWidth, bool verify,
                      Language language = Language::English);

// The line of a finished job, with line end: "/dev/ttyUSB0: ok in 9.03 s", or
// "/dev/ttyUSB1: failed in 2.10 s (attempt 1 of 3): <the outcome's short text>"
// ("aborted" for a job stopped by Ctrl-C).
std::string FinishedLine(const BoardReport& report, int attempts,
                         Language language = Language::English);

// The table at the end: port, time, the serial number (when any board took one), result
// (ok or the message); then one line that counts them and names the ports that failed.
std::string SummaryTable(const std::vector<BoardReport>& reports,
                         Language language = Language::English,
                         const std::vector<std::optional<uint64_t>>& serials = {});

// The lines of all boards on a terminal: drawn once, then redrawn in place (the cursor
// goes back up over them) at every change. On a terminal of `rows` rows (0: unknown)
// with more boards than fit, one line counts the boards by state ("30 boards: 3 waiting,
// 12 writing, 15 done") and the boards at work fill the rows left.
class BoardTable {
 public:
  BoardTable(std::vector<BoardReport> initial, bool verify, int rows = 0,
             Language language = Language::English);
  // The text that shows every board as it stands.
  std::string Draw();
  // The text that shows every board, with this one changed.
  std::string Update(size_t board, const BoardReport& report);

 private:
  std::string CountLine() const;

  std::vector<BoardReport> reports_;
  size_t portWidth_ = 0;
  bool verify_ = false;
  Language language_ = Language::English;
  size_t boardLines_ = 0;  // the board lines that fit; all of them, or fewer under a count line
  size_t drawnLines_ = 0;  // the lines the last draw left above the cursor
};

}  // namespace korvane::cli
