#include "cli/console.h"

#include <cstdio>

namespace korvane::cli {

void SystemConsole::Out(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void SystemConsole::Err(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace korvane::cli
