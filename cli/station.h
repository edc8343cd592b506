// A production station (--station): the boards of one round written, then the next round
// waited for (the operator's Enter, or with usb every port gone and back), round after
// round, with a line per board that cannot be missed and the totals.
#pragma once

#include <string>

#include "bench/bench.h"
#include "bench/station_round.h"
#include "cli/board_port.h"
#include "cli/console.h"
#include "cli/language.h"
#include "cli/options.h"

namespace korvane::cli {

using bench::Bench;
using bench::StationTotals;

// What a wait for the next round found.
enum class NextRound { Go, End };

// Reads the operator's keys: Enter (or Return) starts the next round; q, Ctrl-D, the end
// of the input or Ctrl-C ends the station. Keys typed ahead count for the next wait.
// While ports are awaited (usb) the end of the input ends nothing: a station without an
// operator (stdin /dev/null) runs until Ctrl-C or a signal.
class OperatorKeys {
 public:
  explicit OperatorKeys(Console& console) : console_(console) {}
  // Waits for the next key that decides, looking for input every sliceMs; with
  // decideOnEnter false (usb), Enter decides nothing and the wait ends after one look
  // with NextRound::Go when no key ended it.
  NextRound Wait(bool decideOnEnter, uint32_t sliceMs);

 private:
  Console& console_;
  std::string typed_;
  bool ended_ = false;  // the input has ended
};

// "3 rounds, 11 boards written, 1 failed, yield 91.7%" (", 1 aborted" when one was).
std::string TotalsText(const StationTotals& totals, Language language = Language::English);

// Runs the station: the exit code (0 when every board of every round was written, else 1;
// 2 for a FILE that cannot be used at the start).
int RunStation(const Options& options, Console& console, const Boards& boards, Bench& bench);

}  // namespace korvane::cli
