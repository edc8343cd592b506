// One image written to several boards at once, one job per port, each on its own thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "job/write_bin_file.h"

namespace korvane::bench {

struct BoardJob {
  std::string port;   // as the user named it
  PortOpener opener;  // the board's own port
};

// Where one board stands.
struct BoardReport {
  std::string port;
  bool started = false;  // a job is running (or has run) for it
  JobPhase phase = JobPhase::Reset;
  int percent = 0;        // of the transfer
  int attempt = 1;        // 1, then one more for each retry
  bool finished = false;  // the attempt has ended with result
  JobResult result;
  double seconds = 0;  // from the board's first attempt to now or its end
};

// Told of every change of a board, one call at a time (never two at once).
using BoardListener = std::function<void(size_t board, const BoardReport& report)>;

// What a caller adds around each attempt of a board, on the board's own thread.
struct AttemptHooks {
  // Before the attempt (1, 2, ...): the options it runs with.
  std::function<JobOptions(size_t board, int attempt, const JobOptions& options)> begin;
  // After it, with how it ended.
  std::function<void(size_t board, const JobResult& result)> end;
};

// Writes the image to every board at once, each as the plan lays it out, and returns how each
// ended. A board that fails is tried again, with its own reset and handshake, up to retries times;
// a board that was aborted is not. Each board has its own abort request, with
// options.observer.abort as its parent: one request stops them all, and a board that fails or hangs
// never holds up another.
std::vector<BoardReport> WriteBoards(const std::vector<uint8_t>& image, const WritePlan& plan,
                                     const std::vector<BoardJob>& boards, const JobOptions& options,
                                     int retries, const BoardListener& listener,
                                     const AttemptHooks& hooks = {});

// The one retry loop of korvane-cli, for one board and for many: write(1), then, as long
// as the write failed, nobody stopped it and attempts are left (retries more than the
// first), beforeRetry(the failed result, the next attempt's number) and write(next).
// The last attempt's result.
JobResult WriteWithRetries(
    int retries, const AbortFlag* abort, const std::function<JobResult(int attempt)>& write,
    const std::function<void(const JobResult& failed, int next)>& beforeRetry = nullptr);

// Whether a write that ended so is worth another attempt: it failed, and nobody stopped
// it (its abort request, if any, is not requested).
bool WorthRetrying(const JobResult& result, const AbortFlag* abort);

// The exit code of several boards: 0 when every board succeeded, 3 when every board
// that did not succeed was aborted, else 1.
int ExitCodeOf(const std::vector<BoardReport>& reports);

}  // namespace korvane::bench
