// What korvane-cli shows of several boards: a line per board, updated in place on a
// terminal; a line per finished job without one; a summary table at the end.
#pragma once

#include <string>
#include <vector>

#include "cli/boards.h"

namespace korvane::cli {

// The board's line on a terminal, without line end:
// "/dev/ttyUSB0  [##########----------]  52%  writing".
std::string BoardLine(const BoardReport& report, size_t portWidth, bool verify);

// The line of a finished job, with line end: "/dev/ttyUSB0: ok in 9.03 s", or
// "/dev/ttyUSB1: failed in 2.10 s (attempt 1 of 3): <the job's message>".
std::string FinishedLine(const BoardReport& report, int attempts);

// The table at the end: port, result (ok or the message), time; then one line that
// counts them and names the ports that failed.
std::string SummaryTable(const std::vector<BoardReport>& reports);

// The lines of all boards on a terminal: drawn once, then redrawn in place (the cursor
// goes back up over them) at every change.
class BoardTable {
 public:
  BoardTable(std::vector<BoardReport> initial, bool verify);
  // The text that shows every board as it stands.
  std::string Draw();
  // The text that shows every board, with this one changed.
  std::string Update(size_t board, const BoardReport& report);

 private:
  std::vector<BoardReport> reports_;
  size_t portWidth_ = 0;
  bool verify_ = false;
  bool drawn_ = false;
};

}  // namespace korvane::cli
