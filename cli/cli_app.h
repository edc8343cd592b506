// korvane-cli: the write job from a terminal.
#pragma once

#include <string>
#include <vector>

#include "cli/console.h"
#include "common/exit_codes.h"

namespace korvane::cli {

constexpr uint32_t kWatchIntervalMs = 2000;

// Runs korvane-cli with the arguments after the program name; returns the exit code.
int RunCli(const std::vector<std::string>& args, Console& console);

}  // namespace korvane::cli
