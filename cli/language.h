// The language korvane-cli speaks to its user.
#pragma once

#include <functional>
#include <string>

namespace korvane::cli {

enum class Language { English, Japanese };

// From the environment as the C library reads it: the first non-empty of LC_ALL,
// LC_MESSAGES and LANG; Japanese when it starts with "ja", English otherwise (C, POSIX
// and none included). getValue gives a variable's value, empty when it is not set.
// With none of the three set, `fallback` (on Windows the user's UI language).
Language LanguageFromEnvironment(const std::function<std::string(const char*)>& getValue,
                                 Language fallback = Language::English);

// A variable of the process's environment; empty when it is not set.
std::string EnvironmentValue(const char* name);

}  // namespace korvane::cli
