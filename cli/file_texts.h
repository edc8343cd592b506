// What korvane-cli says of a file it cannot use (--read's OUT), in English and Japanese.
#pragma once

#include <string>

#include "cli/language.h"
#include "common/safe_files.h"

namespace korvane::cli {

// "/dev/null is a device, not a regular file", with the system's reason where it gave one.
std::string FileProblemText(const FileProblem& problem, Language language);

}  // namespace korvane::cli
