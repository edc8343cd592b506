#include "cli/language.h"

#include <cstdlib>

namespace korvane::cli {

Language LanguageFromEnvironment(const std::function<std::string(const char*)>& getValue,
                                 Language fallback) {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const std::string value = getValue(name);
    if (value.empty()) continue;
    return value.compare(0, 2, "ja") == 0 ? Language::Japanese : Language::English;
  }
  return fallback;
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace korvane::cli
