#include "bench/station_round.h"

namespace korvane::bench {

Verdict VerdictOf(const JobResult& result, bool benchKeptAll, bool flashMatches) {
  if (result.outcome == JobOutcome::Aborted) return Verdict::Aborted;
  return result.Succeeded() && benchKeptAll && flashMatches ? Verdict::Pass : Verdict::Fail;
}

void StationTotals::Add(Verdict verdict) {
  switch (verdict) {
    case Verdict::Pass:
      ++written;
      break;
    case Verdict::Fail:
      ++failed;
      break;
    case Verdict::Aborted:
      ++aborted;
      break;
  }
}

double StationTotals::Yield() const {
  const int boards = written + failed;
  return boards > 0 ? 100.0 * written / boards : -1.0;
}

}  // namespace korvane::bench
