#include "cli/console.h"

#include <chrono>
#include <cstdio>

namespace korvane::cli {

AbortFlag Interrupted;

uint64_t Console::NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool SystemConsole::OutBytes(const std::string& bytes) {
  const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  return std::fflush(stdout) == 0 && written == bytes.size();
}

#ifndef _WIN32
void SystemConsole::Out(const std::string& text) {
  OutBytes(text);
}

void SystemConsole::Err(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}
#endif

}  // namespace korvane::cli
