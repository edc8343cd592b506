#include "cli/console.h"

#include <cstdio>

namespace korvane::cli {

void SystemConsole::OutBytes(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

#ifndef _WIN32
void SystemConsole::Out(const std::string& text) { OutBytes(text); }

void SystemConsole::Err(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}
#endif

}  // namespace korvane::cli
