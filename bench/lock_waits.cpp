#include "bench/lock_waits.h"

#include <algorithm>

#ifndef _WIN32
#include "serial/port_holders.h"
#endif

namespace korvane::bench {

LockWait LockWaits::Wait(SharedFile& file, const AbortFlag* abort, bool finishing) {
  int bound = timedOut_ ? 0 : kSharedFileLockMs;
  if (finishing && AbortAsked(abort)) {
    bound = std::min(bound, kAfterAbortLockMs);
    abort = nullptr;
  }
  const LockWait wait = file.Lock(bound, abort);
  if (wait.end == LockWait::End::TimedOut) timedOut_ = true;
  return wait;
}

std::string LockWaitProblem(const std::string& path, const LockWait& wait) {
  switch (wait.end) {
    case LockWait::End::Locked:
      return "";
    case LockWait::End::Aborted:
      return "stopped while waiting for the lock of " + path;
    case LockWait::End::TimedOut: {
#ifdef _WIN32
      const std::string holders;  // Windows does not tell who holds a file's lock
#else
      const std::string holders = DescribeHolders(LockHolders(PortHolders(path), path, "/proc"));
#endif
      return path + " stayed locked by " + (holders.empty() ? "another program" : holders) +
             " for " + std::to_string(kSharedFileLockMs / 1000) + " s";
    }
    case LockWait::End::Failed:
      return path + " could not be locked: " + SystemErrorText(wait.error);
  }
  return "";
}

}  // namespace korvane::bench
