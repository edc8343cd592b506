#include "cli/console.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "common/safe_files.h"

namespace korvane::cli {

AbortFlag Interrupted;

namespace {
int outErrno = 0;  // the first error of a write to stdout, but a reader gone (EPIPE)
}  // namespace

void NoteOutResult(bool written) {
  if (written || outErrno != 0) return;
  const int error = errno;
  if (error != EPIPE) outErrno = error != 0 ? error : EIO;
}

std::string SystemConsole::OutError() {
  // What is still buffered is pushed out now, so that its failure is told too.
  errno = 0;
  NoteOutResult(std::fflush(stdout) == 0);
  return outErrno != 0 ? SystemErrorText(outErrno) : "";
}

uint64_t Console::NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool SystemConsole::OutBytes(const std::string& bytes) {
  errno = 0;
  const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  const bool ok = std::fflush(stdout) == 0 && written == bytes.size();
  NoteOutResult(ok);
  return ok;
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
