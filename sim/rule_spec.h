// The chip's fault rules written as text, for korvane-sim's command line:
//   ON:ACTION[:ARGUMENT][@N]
// ON is what the rule acts on ("?", "Synchronized", "frequency", "data", "checksum" or
// a command letter), ACTION one of reply (ARGUMENT: the answer), silent, noecho, echo
// (ARGUMENT: the echo), delay (ARGUMENT: milliseconds) or garble, and N the one
// occurrence it acts on (1-based; without it, every one). Examples: "C:reply:9@2",
// "checksum:reply:RESEND", "?:silent@1", "J:garble".
#pragma once

#include <string>

#include "sim/boot_loader.h"

namespace korvane::sim {

// Empty on success, else what is wrong with the text.
std::string ParseRule(const std::string& text, Rule* rule);

}  // namespace korvane::sim
