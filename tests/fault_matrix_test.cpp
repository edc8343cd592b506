// Every step of the write dialogue against every kind of fault, on the simulated chip:
// the job's message, one open and one close of the port, the file released and kept.
// Each cell finds where its step happens in a clean run of the same job and puts the
// fault there, so that cells stay right when the dialogue's details change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "job/messages.h"
#include "job/write_bin_file.h"
#include "sim/sim_port.h"
#include "test_support.h"

namespace korvane {
namespace {

using sim::PortEvent;
using sim::Rule;
using sim::SimulatedChip;
namespace msg = messages;

// Nine blocks over three sectors; the last block is short. They go in the order 1 to 8,
// then 0: "first", "middle" and "last" below count in that order.
constexpr size_t kImageSize = 9000;
constexpr int kBlocks = static_cast<int>((kImageSize + 1023) / 1024);

enum class Phase { Handshake, Command, Block, Restart };
enum class InBlock { First, Last };

struct Step {
  std::string name;
  Phase phase;
  std::string key;                // what the chip's fault rules act on; the host line's label below
  int block = -1;                 // for block steps
  InBlock pick = InBlock::First;  // which of the block's lines of this key
  bool everyAttempt = false;      // the chip's fault repeats at every handshake attempt
  std::string errorCode;          // a refusal the chip could give here
  const char* message = nullptr;  // what the job returns when the step fails
};

enum class Fault {
  NoAnswer,
  Garbage,
  ErrorCode,
  Resend,
  ReadFails,
  WriteFails,
  LineChangeFails,
  Disconnect
};

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::NoAnswer:
      return "NoAnswer";
    case Fault::Garbage:
      return "Garbage";
    case Fault::ErrorCode:
      return "ErrorCode";
    case Fault::Resend:
      return "Resend";
    case Fault::ReadFails:
      return "ReadFails";
    case Fault::WriteFails:
      return "WriteFails";
    case Fault::LineChangeFails:
      return "LineChangeFails";
    case Fault::Disconnect:
      return "Disconnect";
  }
  return "?";
}

std::vector<Step> Steps() {
  std::vector<Step> steps;
  for (bool every : {false, true}) {
    const char* suffix = every ? " every attempt" : "";
    steps.push_back({std::string("sync") + suffix, Phase::Handshake, "?", -1, InBlock::First, every,
                     "1", msg::kIspEntryFailed});
    steps.push_back({std::string("sync word echo") + suffix, Phase::Handshake, "Synchronized", -1,
                     InBlock::First, every, "1", msg::kIspEntryFailed});
    steps.push_back({std::string("frequency echo") + suffix, Phase::Handshake, "frequency", -1,
                     InBlock::First, every, "1", msg::kIspEntryFailed});
  }
  steps.push_back(
      {"echo off", Phase::Command, "A", -1, InBlock::First, false, "12", msg::kIspEntryFailed});
  steps.push_back(
      {"baud", Phase::Command, "B", -1, InBlock::First, false, "17", msg::kBaudChangeFailed});
  steps.push_back(
      {"part id", Phase::Command, "J", -1, InBlock::First, false, "1", msg::kWrongChip});
  steps.push_back(
      {"unlock", Phase::Command, "U", -1, InBlock::First, false, "16", msg::kEraseFailed});
  steps.push_back(
      {"prepare", Phase::Command, "P", -1, InBlock::First, false, "7", msg::kEraseFailed});
  steps.push_back(
      {"erase", Phase::Command, "E", -1, InBlock::First, false, "15", msg::kEraseFailed});
  const std::pair<const char*, int> blocks[] = {
      {"first", 0}, {"middle", kBlocks / 2}, {"last", kBlocks - 1}};
  for (const auto& [where, block] : blocks) {
    const std::string in = std::string(" ") + where + " block";
    steps.push_back(
        {"W" + in, Phase::Block, "W", block, InBlock::First, false, "14", msg::kWriteFailed});
    steps.push_back(
        {"data" + in, Phase::Block, "data", block, InBlock::Last, false, "", msg::kWriteFailed});
    steps.push_back({"checksum" + in, Phase::Block, "checksum", block, InBlock::First, false, "1",
                     msg::kWriteFailed});
    steps.push_back(
        {"P" + in, Phase::Block, "P", block, InBlock::First, false, "7", msg::kWriteFailed});
    steps.push_back(
        {"C" + in, Phase::Block, "C", block, InBlock::First, false, "9", msg::kWriteFailed});
  }
  steps.push_back(
      {"restart", Phase::Restart, "", -1, InBlock::First, false, "", msg::kIspLeaveFailed});
  return steps;
}

bool Applies(const Step& step, Fault fault) {
  const bool data = step.key == "data";
  if (step.phase == Phase::Restart)
    return fault == Fault::LineChangeFails || fault == Fault::Disconnect;
  if (step.everyAttempt) {
    // Port faults are one-off events; a disconnection is covered once, below.
    return fault == Fault::NoAnswer || fault == Fault::Garbage || fault == Fault::ErrorCode;
  }
  switch (fault) {
    case Fault::NoAnswer:
    case Fault::Garbage:
    case Fault::WriteFails:
    case Fault::Disconnect:
      return true;
    case Fault::ErrorCode:
    case Fault::ReadFails:
      return !data;  // an encoded line has no answer of its own
    case Fault::Resend:
      return step.key == "checksum";
    case Fault::LineChangeFails:
      return step.key == "?";  // the reset of the first attempt
  }
  return false;
}

// ---- Where each step happens, from a clean run of the same job.

struct HostLine {
  size_t event;  // index of the Write event that carried the line's text
  std::string key;
  int block;
};

bool IsOperation(PortEvent::Kind kind) {
  return kind != PortEvent::Kind::Open && kind != PortEvent::Kind::Close &&
         kind != PortEvent::Kind::Wait;
}

// Labels every line the host wrote as the chip's rules name it.
std::vector<HostLine> LabelHostLines(const std::vector<PortEvent>& events) {
  std::vector<HostLine> lines;
  bool inTransfer = false;
  int block = -1;
  for (size_t i = 0; i < events.size(); ++i) {
    const PortEvent& e = events[i];
    if (e.kind != PortEvent::Kind::Write || e.bytes == "\r\n" || e.bytes.empty()) continue;
    std::string key;
    const std::string& text = e.bytes;
    if (text == "?" || text == "Synchronized") {
      key = text;
    } else if (text == "12000") {
      key = "frequency";
    } else if (inTransfer && text.find_first_not_of("0123456789") == std::string::npos) {
      key = "checksum";
    } else if (inTransfer && text.rfind("P ", 0) != 0) {
      key = "data";
    } else {
      key = text.substr(0, text.find(' '));
      inTransfer = key == "W";
      if (key == "W") ++block;
    }
    lines.push_back(
        {i, key, key == "?" || key == "Synchronized" || key == "frequency" ? -1 : block});
  }
  return lines;
}

struct Reference {
  std::vector<PortEvent> events;
  std::vector<HostLine> lines;
};

const Reference& CleanRun() {
  static const Reference reference = [] {
    test::TempDir dir;
    const std::string path = dir.File("image.bin");
    test::WriteFile(path, test::MakeImage(kImageSize, 11));
    SimulatedChip chip;
    const std::string result = MessageOf(WriteBinFile(path, chip.Opener(), false));
    EXPECT_EQ(result, "") << "the clean run of the fault matrix failed";
    return Reference{chip.events, LabelHostLines(chip.events)};
  }();
  return reference;
}

// How many events up to and including `index` satisfy pred.
template <typename Pred>
int CountUpTo(const std::vector<PortEvent>& events, size_t index, Pred pred) {
  return static_cast<int>(
      std::count_if(events.begin(), events.begin() + static_cast<long>(index) + 1, pred));
}

struct Placement {
  int occurrence = 0;  // of the step's key, as the chip's rules count it
  size_t writeEvent = 0;
};

Placement Place(const Step& step) {
  const Reference& ref = CleanRun();
  std::vector<const HostLine*> candidates;
  for (const HostLine& line : ref.lines) {
    if (line.key == step.key && (step.phase != Phase::Block || line.block == step.block)) {
      candidates.push_back(&line);
    }
  }
  EXPECT_FALSE(candidates.empty()) << step.name;
  if (candidates.empty()) return {};
  const HostLine* chosen = step.pick == InBlock::First ? candidates.front() : candidates.back();
  Placement placement;
  placement.writeEvent = chosen->event;
  placement.occurrence =
      static_cast<int>(std::count_if(ref.lines.begin(), ref.lines.end(), [&](const HostLine& l) {
        return l.key == step.key && l.event <= chosen->event;
      }));
  return placement;
}

// The index of the first event of `kind` (with `value`, if given) at or after `from`; or
// when `last` is set, the last such event in the run.
size_t FindEvent(const std::vector<PortEvent>& events, PortEvent::Kind kind, size_t from,
                 uint32_t value, bool last = false) {
  size_t found = events.size();
  for (size_t i = from; i < events.size(); ++i) {
    if (events[i].kind == kind && events[i].value == value) {
      found = i;
      if (!last) break;
    }
  }
  return found;
}

// Sets up the chip (its rules) and the port (its script) for one cell.
void InjectFault(const Step& step, Fault fault, SimulatedChip& chip) {
  const Reference& ref = CleanRun();
  const auto& events = ref.events;
  auto& rules = chip.loader.config().rules;
  const auto setDtr = static_cast<uint32_t>(LineChange::SetDtr);
  const auto clearRts = static_cast<uint32_t>(LineChange::ClearRts);
  auto isLine = [](const PortEvent& e) { return e.kind == PortEvent::Kind::Line; };
  auto isOperation = [](const PortEvent& e) { return IsOperation(e.kind); };

  if (step.phase == Phase::Restart) {
    // The restart begins with the last release of RTS.
    const size_t first = FindEvent(events, PortEvent::Kind::Line, 0, clearRts, true);
    if (fault == Fault::Disconnect)
      chip.script.disconnectAt = CountUpTo(events, first, isOperation);
    if (fault == Fault::LineChangeFails) {
      chip.script.failLineChange =
          CountUpTo(events, FindEvent(events, PortEvent::Kind::Line, first, setDtr), isLine);
    }
    return;
  }

  const Placement at = Place(step);
  const int occurrence = step.everyAttempt ? 0 : at.occurrence;
  switch (fault) {
    case Fault::NoAnswer:
      rules.push_back(Rule::Silent(step.key, occurrence));
      break;
    case Fault::Garbage:
      if (step.key == "data") {
        // An encoded line has no answer: the line itself arrives garbled.
        chip.script.garbleWrite = CountUpTo(events, at.writeEvent, [](const PortEvent& e) {
          return e.kind == PortEvent::Kind::Write;
        });
      } else {
        rules.push_back(Rule::Without(Rule::Action::Garble, step.key, occurrence));
      }
      break;
    case Fault::ErrorCode:
      rules.push_back(Rule::ReplyWith(step.key, step.errorCode, occurrence));
      break;
    case Fault::Resend:
      rules.push_back(Rule::ReplyWith(step.key, "RESEND", occurrence));
      break;
    case Fault::ReadFails: {
      // The first byte of the answer.
      const size_t read = FindEvent(events, PortEvent::Kind::Read, at.writeEvent, 0);
      chip.script.failRead = CountUpTo(
          events, read, [](const PortEvent& e) { return e.kind == PortEvent::Kind::Read; });
      break;
    }
    case Fault::WriteFails:
      chip.script.failWrite = CountUpTo(events, at.writeEvent, [](const PortEvent& e) {
        return e.kind == PortEvent::Kind::Write;
      });
      break;
    case Fault::LineChangeFails:
      chip.script.failLineChange =
          CountUpTo(events, FindEvent(events, PortEvent::Kind::Line, 0, setDtr), isLine);
      break;
    case Fault::Disconnect:
      chip.script.disconnectAt = CountUpTo(events, at.writeEvent, isOperation);
      break;
  }
}

struct Outcome {
  std::string message;
  int attempts;  // handshake attempts, each starting with RTS asserted
};

// What the job does with the fault, by the rules of the write dialogue.
Outcome Expected(const Step& step, Fault fault) {
  if (step.phase != Phase::Handshake) return {step.message, 1};
  // A failing send of the crystal frequency ends the entry at once, without a retry.
  if (step.key == "frequency" && (fault == Fault::WriteFails || fault == Fault::Disconnect)) {
    return {msg::kIspEntryFailed, 1};
  }
  // A faulty attempt is followed by a new one, up to five; a chip that fails every
  // attempt fails the entry, and so does a device gone for good.
  if (step.everyAttempt || fault == Fault::Disconnect) return {msg::kIspEntryFailed, 5};
  // Any other fault costs the first attempt only.
  return {"", 2};
}

struct Cell {
  Step step;
  Fault fault;
};

void PrintTo(const Cell& cell, std::ostream* out) {
  *out << cell.step.name << " / " << FaultName(cell.fault);
}

std::vector<Cell> Cells() {
  std::vector<Cell> cells;
  for (const Step& step : Steps()) {
    for (Fault fault :
         {Fault::NoAnswer, Fault::Garbage, Fault::ErrorCode, Fault::Resend, Fault::ReadFails,
          Fault::WriteFails, Fault::LineChangeFails, Fault::Disconnect}) {
      if (Applies(step, fault)) cells.push_back({step, fault});
    }
  }
  return cells;
}

std::string CellName(const ::testing::TestParamInfo<Cell>& info) {
  std::string name;
  bool upper = true;
  for (char c : info.param.step.name) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
      upper = true;
      continue;
    }
    name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    upper = false;
  }
  return name + "_" + FaultName(info.param.fault);
}

class FaultMatrix : public ::testing::TestWithParam<Cell> {
 protected:
};

TEST_P(FaultMatrix, EndsWithItsMessageAndReleasesEverything) {
  const Cell& cell = GetParam();
  const Outcome expected = Expected(cell.step, cell.fault);
  test::TempDir dir;
  const std::string path = dir.File("image.bin");
  const std::vector<uint8_t> image = test::MakeImage(kImageSize, 11);
  test::WriteFile(path, image);
  SimulatedChip chip;
  InjectFault(cell.step, cell.fault, chip);

  const JobResult result = WriteBinFile(path, chip.Opener(), true);
  EXPECT_EQ(MessageOf(result), expected.message);
  // The exchange that failed comes with the result, as what happened to it.
  if (!expected.message.empty() && cell.step.phase != Phase::Restart) {
    const bool command = cell.step.key.size() == 1 && cell.step.key != "?";
    if (cell.fault == Fault::NoAnswer) {
      EXPECT_EQ(result.isp.status, IspStatus::TimedOut);
    }
    // (A garbled data line garbles what the host sent, not the chip's answer.)
    if (cell.fault == Fault::Garbage && cell.step.key != "data") {
      EXPECT_EQ(result.isp.status, IspStatus::Garbled);
    }
    if (cell.fault == Fault::WriteFails) {
      EXPECT_EQ(result.isp.status, IspStatus::PortFailed);
    }
    if (cell.fault == Fault::ErrorCode && command && !cell.step.errorCode.empty()) {
      EXPECT_EQ(result.isp.status, IspStatus::Refused);
      EXPECT_EQ(std::to_string(result.isp.code), cell.step.errorCode);
      EXPECT_EQ(result.isp.command.substr(0, 1), cell.step.key);
    }
  }
  EXPECT_EQ(chip.opens, 1);
  EXPECT_EQ(chip.closes, 1);
  EXPECT_TRUE(test::FileIsReleased(path));
  EXPECT_EQ(test::FileExists(path), !expected.message.empty()) << "deleted only after a success";

  const auto& events = chip.events;
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().kind, PortEvent::Kind::Close);
  const auto setRts = static_cast<uint32_t>(LineChange::SetRts);
  const size_t lastAttempt = FindEvent(events, PortEvent::Kind::Line, 0, setRts, true);
  ASSERT_LT(lastAttempt, events.size());
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [&](const PortEvent& e) {
                            return e.kind == PortEvent::Kind::Line && e.value == setRts;
                          }),
            expected.attempts);
  const auto linesAfter =
      std::count_if(events.begin() + static_cast<std::ptrdiff_t>(lastAttempt) + 1, events.end(),
                    [](const PortEvent& e) { return e.kind == PortEvent::Kind::Line; });
  const auto& flash = chip.loader.flash();
  if (expected.message.empty()) {
    EXPECT_EQ(linesAfter, 3 + 3) << "the rest of the reset, then the restart";
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  } else if (cell.step.phase != Phase::Restart) {
    EXPECT_LE(linesAfter, 3) << "no restart after a failure";
  }
  if (cell.step.phase == Phase::Block) {
    // The blocks go in ascending order with block 0 last: those sent before the fault
    // stay written, and block 0, with the vector table, is not written at all.
    for (int sent = 0; sent < cell.step.block; ++sent) {
      const auto from = static_cast<long>(sent + 1) * 1024;
      const auto to = std::min(from + 1024, static_cast<long>(kImageSize));
      EXPECT_TRUE(std::equal(image.begin() + from, image.begin() + to, flash.begin() + from))
          << "block at " << from << ", sent before the fault, stays written";
    }
    // (Unless only the answer to block 0's own copy was lost: the copy was made.)
    const bool copyMade =
        cell.step.key == "C" && (cell.fault == Fault::Garbage || cell.fault == Fault::ReadFails);
    if (!(copyMade && cell.step.block == kBlocks - 1)) {
      EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + 1024, [](uint8_t b) {
        return b == 0xFF;
      })) << "block 0 stays erased: the chip keeps to its boot loader";
    }
  }
  if (expected.message.empty()) {
    EXPECT_TRUE(std::all_of(flash.begin() + static_cast<long>(kImageSize), flash.begin() + 3 * 4096,
                            [](uint8_t b) { return b == 0xFF; }))
        << "the erased sectors hold nothing but the image";
  }
  EXPECT_EQ(chip.loader.bootLoaderRamWrites(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrix, ::testing::ValuesIn(Cells()), CellName);

}  // namespace
}  // namespace korvane
