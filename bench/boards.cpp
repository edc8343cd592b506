#include "bench/boards.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "common/exit_codes.h"

namespace korvane::bench {

std::vector<BoardReport> WriteBoards(const std::vector<uint8_t>& image, const WritePlan& plan,
                                     const std::vector<BoardJob>& boards, const JobOptions& options,
                                     int retries, const BoardListener& listener,
                                     const AttemptHooks& hooks) {
  using Clock = std::chrono::steady_clock;
  std::vector<BoardReport> reports(boards.size());
  std::mutex lock;  // guards reports and the listener's calls
  // Under the lock: the board's time so far, then the listener.
  auto tell = [&](size_t board, Clock::time_point start) {
    reports[board].seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (listener) listener(board, reports[board]);
  };

  std::vector<std::thread> threads;
  threads.reserve(boards.size());
  for (size_t board = 0; board < boards.size(); ++board) {
    reports[board].port = boards[board].port;
    threads.emplace_back([&, board] {
      const Clock::time_point start = Clock::now();
      // The board's own abort request, requested too when the jobs' common one is.
      const AbortFlag abort(options.observer.abort);
      WriteWithRetries(retries, &abort, [&](int attempt) {
        {
          std::lock_guard<std::mutex> held(lock);
          BoardReport& report = reports[board];
          report.started = true;
          report.attempt = attempt;
          report.phase = JobPhase::Reset;
          report.percent = 0;
          report.finished = false;
          tell(board, start);
        }
        JobOptions own = hooks.begin ? hooks.begin(board, attempt, options) : options;
        own.observer.abort = &abort;
        own.observer.step = [&](const JobStep& step) {
          std::lock_guard<std::mutex> held(lock);
          reports[board].phase = step.phase;
          tell(board, start);
        };
        if (options.observer.trace) {
          // One line at a time, each with its board.
          own.observer.trace = [&](const std::string& line) {
            std::lock_guard<std::mutex> held(lock);
            options.observer.trace(boards[board].port + ": " + line);
          };
        }
        own.observer.progress = [&](int32_t percent) {
          std::lock_guard<std::mutex> held(lock);
          reports[board].percent = percent;
          tell(board, start);
        };
        const JobResult result = WriteImage(image, plan, boards[board].opener, own);
        if (hooks.end) hooks.end(board, result);
        std::lock_guard<std::mutex> held(lock);
        BoardReport& report = reports[board];
        report.finished = true;
        report.result = result;
        if (result.Succeeded()) report.percent = 100;
        tell(board, start);
        return result;
      });
    });
  }
  for (std::thread& thread : threads) thread.join();
  return reports;
}

JobResult WriteWithRetries(
    int retries, const AbortFlag* abort, const std::function<JobResult(int attempt)>& write,
    const std::function<void(const JobResult& failed, int next)>& beforeRetry) {
  JobResult result = write(1);
  for (int attempt = 2; attempt <= retries + 1 && WorthRetrying(result, abort); ++attempt) {
    if (beforeRetry) beforeRetry(result, attempt);
    result = write(attempt);
  }
  return result;
}

bool WorthRetrying(const JobResult& result, const AbortFlag* abort) {
  return !result.Succeeded() && result.outcome != JobOutcome::Aborted && !AbortAsked(abort);
}

int ExitCodeOf(const std::vector<BoardReport>& reports) {
  bool anyFailed = false, anyAborted = false;
  for (const BoardReport& report : reports) {
    if (report.result.Succeeded()) continue;
    if (report.result.outcome == JobOutcome::Aborted) {
      anyAborted = true;
    } else {
      anyFailed = true;
    }
  }
  if (anyFailed) return kFailed;
  return anyAborted ? kAborted : kSuccess;
}

}  // namespace korvane::bench
