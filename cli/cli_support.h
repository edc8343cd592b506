// What korvane-cli's commands share: the port named on the command line, the options
// of a job, the status line and the trace on stderr, the simulated board.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "cli/console.h"
#include "cli/language.h"
#include "bench/bench.h"
#include "cli/options.h"
#include "isp/progress.h"
#include "job/write_bin_file.h"

namespace korvane::cli {

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point start);
// One number in a printf format, "%.2f".
std::string Format(const char* format, double value);

// One line of stderr on a terminal, redrawn in place: each text replaces the one before,
// padded with spaces over what was longer.
class StatusLine {
 public:
  explicit StatusLine(Console& console) : console_(console) {}
  void Show(const std::string& text);
  // The terminal's columns; 0 when unknown.
  size_t Columns();
  // Ends the line, if one was drawn, so that what follows starts on its own.
  void End();

 private:
  Console& console_;
  size_t shown_ = 0;
  bool drawn_ = false;
};

// The progress bar of a job of `blocks` blocks on the status line, when it is drawn:
// each report of the callback is a block begun.
class BlockBar {
 public:
  BlockBar(StatusLine& status, bool drawn, int blocks, SteadyClock::time_point start)
      : status_(status), drawn_(drawn), blocks_(blocks), start_(start) {}
  // The job's progress callback; valid while the bar lives.
  ProgressCallback Progress();
  // For a new attempt of the job: no block begun yet.
  void Restart() { started_ = 0; }
  // Once the job knows how many blocks it has (a read, after the chip told its part).
  void SetBlocks(int blocks) { blocks_ = blocks; }
  // The bar full, once the job has succeeded.
  void Full();

 private:
  StatusLine& status_;
  bool drawn_;
  int blocks_;
  SteadyClock::time_point start_;
  int started_ = 0;
};

// The trace of -v: each line with the seconds since the start, "[  0.153] > J".
std::function<void(const std::string&)> TraceTo(Console& console, SteadyClock::time_point start);

// How one board's job shows on stderr: on a terminal (neither -q nor -v) each step as it
// begins, on the status line (the trace of -v takes the lines instead). True when the
// status line is drawn, where the caller shows its progress too.
bool ShowJobSteps(const Options& options, Console& console, StatusLine& status, JobOptions* job);

// With --reset none, tells the user to hold the ISP button while resetting the board.
void TellHowToReset(const Options& options, Console& console);

// The one place where the command line becomes what a chip operation takes: the
// session's settings (rate, wiring, what follows), the write's (verify, --erase-all
// FILE), and the observer's abort request (Ctrl-C) and, with -v, the trace on stderr
// with the seconds since start. Used by one board, many boards, the watch and the chip
// operations alike; the single-board display adds its steps (ShowJobSteps).
JobOptions JobOptionsOf(const Options& options, Console& console, SteadyClock::time_point start);

// What the production bench keeps, from the command line: the log, the serial numbers,
// the records' fields, and Ctrl-C as the request to stop.
bench::BenchSettings BenchSettingsOf(const Options& options);

}  // namespace korvane::cli
