// The exit codes of korvane-cli and korvane-sim, the same for every layer that decides one.
#pragma once

namespace korvane {

enum ExitCode : int { kSuccess = 0, kFailed = 1, kUsage = 2, kAborted = 3 };

}  // namespace korvane
