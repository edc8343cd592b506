// What korvane-cli's tests share: a console that records everything, and a fixture
// that runs korvane-cli's command lines against it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/console.h"
#include "test_support.h"

namespace korvane::cli {

// Stands in for the terminal: records everything and lets a test act on each call.
class RecordingConsole final : public Console {
 public:
  void Out(const std::string& text) override { out += text; }
  void Err(const std::string& text) override {
    err += text;
    if (onErr) onErr(text);
  }
  Language MessageLanguage() override { return language; }
  bool ErrIsTerminal() override { return terminal; }
  void Sleep(uint32_t milliseconds) override {
    slept += milliseconds;
    if (onSleep) onSleep();
  }

  Input ReadInput(uint32_t milliseconds, std::string* bytes) override {
    waitedForInput += milliseconds;
    if (input.empty()) return Input::Ended;
    std::string next = input.front();
    input.erase(input.begin());
    if (next == "^C") {
      Interrupted.Request();
      return Input::Nothing;
    }
    *bytes += next;
    return next.empty() ? Input::Nothing : Input::Data;
  }
  void SetRawInput(bool on) override { rawChanges.push_back(on); }
  bool OutBytes(const std::string& bytes) override {
    if (stdoutGone) return false;
    out += bytes;
    return true;
  }
  uint64_t NowMs() override { return clock ? clock() : ticks += 10; }
  int ErrRows() override { return rows; }
  int ErrColumns() override { return columns; }
  std::string OutError() override { return outError; }

  std::string out, err;
  Language language = Language::English;
  // What stdin gives, one entry per look: "" for nothing yet, "^C" for Ctrl-C; then its end.
  std::vector<std::string> input;
  uint32_t waitedForInput = 0;
  std::vector<bool> rawChanges;
  bool terminal = true;
  bool stdoutGone = false;  // its reader went away
  int rows = 0;
  int columns = 0;
  std::string outError;             // as if a write to stdout had failed for this reason
  std::function<uint64_t()> clock;  // milliseconds; by default 10 more at each look
  uint64_t ticks = 0;
  uint32_t slept = 0;
  std::function<void(const std::string&)> onErr;
  std::function<void()> onSleep;
};

struct Cli : ::testing::Test {
  void TearDown() override { Interrupted.Clear(); }
  int Run(std::vector<std::string> args) { return RunCli(args, console); }

  test::TempDir dir;
  std::string file = dir.File("app.bin");
  RecordingConsole console;
};

}  // namespace korvane::cli
