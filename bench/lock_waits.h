// The waits for the locks of the bench's shared files (the log, the numbers' file): each
// takes the user's abort request within a moment, and a run waits out the bound once,
// not once per board.
#pragma once

#include <atomic>
#include <string>

#include "common/abort_flag.h"
#include "common/safe_files.h"

namespace korvane::bench {

// The longest a run waits for a shared file's lock.
constexpr int kSharedFileLockMs = 10000;
// After an abort request: how long a number is still waited for to be given back, or the
// record of the board that was stopped to be added.
constexpr int kAfterAbortLockMs = 1000;

class LockWaits {
 public:
  // A new run (a write, a station's round): the bound counts again.
  void NewRun() { timedOut_ = false; }
  // Waits for file's lock. Once a wait of this run has run out, the next ones only try.
  // finishing: the wait puts right what was begun (a number given back, a record of a
  // board that ended), so it goes on for a moment after an abort request.
  LockWait Wait(SharedFile& file, const AbortFlag* abort, bool finishing = false);

 private:
  std::atomic<bool> timedOut_{false};
};

// Why a wait for path's lock did not end in the lock, in a sentence: stopped, held too
// long (by whom, where the system tells), or the system's reason.
std::string LockWaitProblem(const std::string& path, const LockWait& wait);

}  // namespace korvane::bench
