// The verdict of a station's round: what makes a board PASS, and the running totals.
#pragma once

#include "job/outcome.h"

namespace korvane::bench {

enum class Verdict { Pass, Fail, Aborted };

// A board passes when its write succeeded and everything the bench keeps of it (its
// record, its serial number) was kept, and, where the board can tell, its flash holds
// the image; a board the user stopped is aborted, not failed.
Verdict VerdictOf(const JobResult& result, bool benchKeptAll, bool flashMatches = true);

// The totals of a station.
struct StationTotals {
  int rounds = 0;
  int written = 0;
  int failed = 0;
  int aborted = 0;
  void Add(Verdict verdict);
  // The share of boards written among those that ended written or failed (aborted
  // boards are neither), in percent; negative when there are none.
  double Yield() const;
};

}  // namespace korvane::bench
