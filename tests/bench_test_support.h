// What the bench's tests share: the log read back, a board of the test's own simulated
// chip, and a fixture with a log, a numbers' file and an image.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_log.h"
#include "bench/serial_numbers.h"
#include "cli/board_port.h"
#include "cli_test_support.h"
#include "sim/sim_port.h"
#include "test_support.h"

namespace korvane::cli {

using namespace korvane::bench;

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every line of a JSON Lines log, parsed; a line that is no whole record fails the test.
inline std::vector<std::map<std::string, std::string>> Records(const std::string& path) {
  std::vector<std::map<std::string, std::string>> records;
  for (const std::string& line : LinesOf(ReadText(path))) {
    std::map<std::string, std::string> fields;
    EXPECT_TRUE(ParseJsonRecord(line, &fields)) << line;
    records.push_back(fields);
  }
  return records;
}

// A board of the test's own simulated chip, so that the test can look at its flash.
class ChipBoard final : public BoardPort {
 public:
  ChipBoard(std::string name, sim::SimulatedChip& chip) : name_(std::move(name)), chip_(chip) {}
  std::unique_ptr<ComPort> Open() override { return chip_.OpenPort(); }
  std::string Device() const override { return name_; }

 private:
  std::string name_;
  sim::SimulatedChip& chip_;
};

struct BenchTest : Cli {
  std::string log = dir.File("bench.jsonl");
  std::string numbers = dir.File("next.txt");

  // The image written to the boards: a startable program of 1 KiB.
  void SetUp() override { test::WriteFile(file, test::MakeStartableImage(1024)); }

  SerialState StateOf(const std::string& path) {
    SerialState state;
    std::string error;
    EXPECT_TRUE(ParseSerialState(ReadText(path), &state, &error)) << error;
    return state;
  }
};

}  // namespace korvane::cli
