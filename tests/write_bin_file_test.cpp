#include "job/chip_session.h"
#include "job/write_bin_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "job/messages.h"
#include "sim/sim_port.h"
#include "test_support.h"

namespace korvane {
namespace {

using sim::PortEvent;
using sim::Rule;
using sim::SimulatedChip;
namespace msg = messages;

struct WriteJob : ::testing::Test {
  std::string Run(bool deleteAfterWrite = false, const JobOptions& options = {}) {
    progressCalls.clear();
    JobOptions withAbort = options;
    if (!withAbort.observer.abort) withAbort.observer.abort = &abort;
    withAbort.observer.progress = [this](int32_t percent) {
      progressCalls.push_back(percent);
      progressMarks.push_back(chip().events.size());
      if (onProgress) onProgress(percent);
    };
    result = WriteBinFile(path, chip().Opener(), deleteAfterWrite, withAbort);
    return MessageOf(result);
  }
  void WriteImage(const std::vector<uint8_t>& image) { test::WriteFile(path, image); }
  SimulatedChip& chip() { return *chipHolder; }
  void NewChip() { chipHolder = std::make_unique<SimulatedChip>(); }
  int ProgressCount() const { return static_cast<int>(progressCalls.size()); }

  JobResult result;  // the whole result of the last Run
  AbortFlag abort;   // the jobs' abort request
  test::TempDir dir;
  std::string path = dir.File("image.bin");
  std::unique_ptr<SimulatedChip> chipHolder = std::make_unique<SimulatedChip>();
  std::vector<int32_t> progressCalls;
  std::vector<size_t> progressMarks;
  std::function<void(int32_t)> onProgress;
};

TEST_F(WriteJob, OneByteImageExchangesExactlyTheseLines) {
  WriteImage({0x41});
  ASSERT_EQ(Run(), "");
  const std::vector<std::string> expected = {
      "> ?",
      "< Synchronized\r\n",
      "> Synchronized\r\n",
      "< Synchronized\r\n",
      "< OK\r\n",
      "> 12000\r\n",
      "< 12000\r\n",
      "< OK\r\n",
      "> A 0\r\n",
      "< A 0\r\n",
      "< 0\r\n",
      "> B 57600 1\r\n",
      "< 0\r\n",
      "> J\r\n",
      "< 0\r\n",
      "< 172003371\r\n",
      "> U 23130\r\n",
      "< 0\r\n",
      "> P 0 0\r\n",
      "< 0\r\n",
      "> E 0 0\r\n",
      "< 0\r\n",
      // The block travels filled up with 0xFF to the smallest copy, 256 bytes, into
      // RAM above the boot loader's own, and that is what is copied.
      "> W 268436224 256\r\n",
      "< 0\r\n",
      "> M0?" + std::string(58, '_') + "\r\n",
      "> M" + std::string(60, '_') + "\r\n",
      "> M" + std::string(60, '_') + "\r\n",
      "> M" + std::string(60, '_') + "\r\n",
      "> M" + std::string(60, '_') + "\r\n",
      "> ?" + std::string(41, '_') + "P``\r\n",
      "> 65090\r\n",
      "< OK\r\n",
      "> P 0 0\r\n",
      "< 0\r\n",
      "> C 0 268436224 256\r\n",
      "< 0\r\n",
  };
  EXPECT_EQ(chip().Transcript(), expected);
  // Progress 0 is reported after the erase and before the RAM write.
  ASSERT_EQ(progressCalls, std::vector<int32_t>{0});
  EXPECT_EQ(chip().Transcript(0, progressMarks[0]),
            std::vector<std::string>(expected.begin(), expected.begin() + 22));

  // Port calls around the dialogue: settings and time-outs first, the new rate at once
  // after the "0" to the baud command, the restart sequence last, one close.
  std::vector<std::string> calls;
  for (const PortEvent& e : chip().events) {
    switch (e.kind) {
      case PortEvent::Kind::Open:
        calls.push_back("open");
        break;
      case PortEvent::Kind::Settings:
        calls.push_back("settings " + std::to_string(e.value));
        break;
      case PortEvent::Kind::Timeouts:
        calls.push_back("timeouts " + std::to_string(e.value));
        break;
      case PortEvent::Kind::Line:
        calls.push_back("line " + std::to_string(e.value));
        break;
      case PortEvent::Kind::Wait:
        calls.push_back("wait " + std::to_string(e.value));
        break;
      case PortEvent::Kind::Purge:
        calls.push_back("purge");
        break;
      case PortEvent::Kind::Close:
        calls.push_back("close");
        break;
      case PortEvent::Kind::Write:
      case PortEvent::Kind::Read:
      case PortEvent::Kind::Timeout:
        if (calls.back() != "io") calls.push_back("io");
        break;
    }
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"open", "settings 9600", "timeouts 2000", "line 3",
                                             "line 5", "wait 50", "line 6", "wait 100", "line 4",
                                             "purge", "io", "settings 57600", "io", "line 4",
                                             "line 5", "wait 50", "line 6", "close"}));
  auto it = std::find_if(chip().events.begin(), chip().events.end(), [](const PortEvent& e) {
    return e.kind == PortEvent::Kind::Settings && e.value == 57600;
  });
  ASSERT_NE(it, chip().events.end());
  EXPECT_EQ((it - 1)->kind, PortEvent::Kind::Read);
  EXPECT_EQ((it - 1)->bytes, "\n");
  EXPECT_EQ(chip().loader.programStarts(), 0) << "no valid vector table in a one-byte image";
  EXPECT_EQ(chip().loader.resets(), 2);
}

TEST_F(WriteJob, FlashHoldsTheImageForEverySize) {
  for (size_t size : {1u, 4u, 1023u, 1024u, 1025u, 4096u, 4097u, 32768u}) {
    SCOPED_TRACE(size);
    NewChip();
    std::vector<uint8_t> image = test::MakeImage(size, static_cast<uint32_t>(size));
    WriteImage(image);
    ASSERT_EQ(Run(), "");
    const auto& flash = chip().loader.flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    // Whatever the RAM held, the erased sectors hold nothing but the image.
    const size_t erasedEnd = (size + 4095) / 4096 * 4096;
    EXPECT_TRUE(std::all_of(flash.begin() + static_cast<long>(size),
                            flash.begin() + static_cast<long>(erasedEnd),
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(chip().loader.bootLoaderRamWrites(), 0);
    EXPECT_EQ(ProgressCount(), static_cast<int>((size + 1023) / 1024));
    std::string lastSector = std::to_string((size + 4095) / 4096 - 1);
    auto transcript = chip().Transcript();
    EXPECT_NE(std::find(transcript.begin(), transcript.end(), "> E 0 " + lastSector + "\r\n"),
              transcript.end());
    EXPECT_TRUE(test::FileExists(path));
    EXPECT_EQ(chip().closes, 1);
  }
}

TEST_F(WriteJob, AShortImageAfterALongOneLeavesNoStaleWordBehind) {
  // RAM survives a reset: the first write leaves 0x12345678 (code read protection level
  // 1) in the RAM buffer where a copy of 1024 bytes would put it at 0x2FC.
  std::vector<uint8_t> first = test::MakeImage(2048, 2);
  const uint8_t crp1[] = {0x78, 0x56, 0x34, 0x12};
  std::copy(std::begin(crp1), std::end(crp1), first.begin() + 0x6FC);
  WriteImage(first);
  ASSERT_EQ(Run(), "");
  const std::vector<uint8_t> second = test::MakeImage(200, 3);
  WriteImage(second);
  ASSERT_EQ(Run(), "");
  const auto& flash = chip().loader.flash();
  EXPECT_TRUE(std::equal(second.begin(), second.end(), flash.begin()));
  EXPECT_TRUE(
      std::all_of(flash.begin() + 200, flash.begin() + 4096, [](uint8_t b) { return b == 0xFF; }))
      << "the word at 0x2FC is " << std::hex << int{flash[0x2FF]} << int{flash[0x2FE]}
      << int{flash[0x2FD]} << int{flash[0x2FC]};
}

TEST_F(WriteJob, AnImageWithDataHigherUpLeavesTheSectorsBelowAlone) {
  // An application at 0x1000 above a boot loader in sector 0, as a HEX file gives it.
  std::fill(chip().loader.flash().begin(), chip().loader.flash().end(), uint8_t{0x5A});
  std::vector<uint8_t> image(0x1064, 0xFF);
  std::vector<bool> hasData(image.size(), false);
  for (size_t i = 0x1000; i < image.size(); ++i) {
    image[i] = static_cast<uint8_t>(i);
    hasData[i] = true;
  }
  ASSERT_TRUE(korvane::WriteImage(image, PlanWrite(hasData), chip().Opener()).Succeeded());
  std::vector<std::string> erases;
  for (const std::string& line : chip().Transcript()) {
    if (line.rfind("> P ", 0) == 0 || line.rfind("> E ", 0) == 0 || line.rfind("> C ", 0) == 0) {
      erases.push_back(line);
    }
  }
  EXPECT_EQ(erases, (std::vector<std::string>{"> P 1 1\r\n", "> E 1 1\r\n", "> P 1 1\r\n",
                                              "> C 4096 268436224 256\r\n"}));
  const auto& flash = chip().loader.flash();
  EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + 4096, [](uint8_t b) { return b == 0x5A; }))
      << "sector 0 untouched";
  EXPECT_TRUE(std::equal(image.begin() + 0x1000, image.end(), flash.begin() + 0x1000));
  EXPECT_TRUE(std::all_of(flash.begin() + 0x1064, flash.begin() + 0x2000,
                          [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::all_of(flash.begin() + 0x2000, flash.end(), [](uint8_t b) { return b == 0x5A; }))
      << "sectors 2 to 7 untouched";
}

TEST_F(WriteJob, ProgressRunsBelowOneHundredOncePerBlock) {
  WriteImage(test::MakeImage(32768));
  ASSERT_EQ(Run(), "");
  ASSERT_EQ(progressCalls.size(), 32u);
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ(progressCalls[i], static_cast<int32_t>(i * 100 / 32));
  EXPECT_EQ(progressCalls[8], 25);
  EXPECT_EQ(progressCalls[9], 28);
  EXPECT_EQ(progressCalls.back(), 96);
  // Modelled time on a real chip: at least the encoded image on the wire at 57600 baud.
  double seconds = static_cast<double>(chip().clock.Now()) / 1e9;
  EXPECT_GT(seconds, 32768.0 * 4 / 3 * 10 / 57600);
  EXPECT_LT(seconds, 15.0);
  std::printf("modelled duration of a 32768-byte write: %.2f s\n", seconds);
}

TEST_F(WriteJob, ReadBackThroughTheBootLoaderMatchesTheImage) {
  std::vector<uint8_t> image = test::MakeImage(4097, 7);
  WriteImage(image);
  ASSERT_EQ(Run(), "");
  test::IspSession session(chip());
  ASSERT_TRUE(session.ready);
  std::vector<uint8_t> back = session.Read(512, 4100 - 512);  // below 512: the boot ROM
  ASSERT_EQ(back.size(), 4100u - 512u);
  EXPECT_TRUE(std::equal(image.begin() + 512, image.end(), back.begin()));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), chip().loader.flash().begin()));
}

TEST_F(WriteJob, RestartsIntoAProgramWithAValidVectorTable) {
  std::vector<uint8_t> image = test::MakeImage(2048, 3);
  uint32_t sum = 0;
  for (int word = 0; word < 7; ++word) {
    uint32_t value = 0;
    for (int k = 0; k < 4; ++k)
      value |= static_cast<uint32_t>(image[static_cast<size_t>(4 * word + k)]) << (8 * k);
    sum += value;
  }
  for (int k = 0; k < 4; ++k)
    image[static_cast<size_t>(28 + k)] = static_cast<uint8_t>((0u - sum) >> (8 * k));
  WriteImage(image);
  ASSERT_EQ(Run(true), "");
  EXPECT_EQ(chip().loader.mode(), sim::BootLoader::Mode::UserProgram);
  EXPECT_FALSE(test::FileExists(path)) << "deleted after the successful write";
}

TEST_F(WriteJob, PortClosesBeforeTheFile) {
  WriteImage(test::MakeImage(100));
  bool fileOpenAtPortClose = false;
  chip().onClose = [&] { fileOpenAtPortClose = !test::FileIsReleased(path); };
  ASSERT_EQ(Run(), "");
  EXPECT_TRUE(fileOpenAtPortClose);
  EXPECT_TRUE(test::FileIsReleased(path));
}

struct FailureCase {
  const char* name;
  std::function<void(WriteJob&)> setup;
  const char* message;
  bool portOpened = true;
};

std::vector<FailureCase> FailureCases() {
  auto chipRule = [](Rule rule) {
    return [rule](WriteJob& t) { t.chip().loader.config().rules.push_back(rule); };
  };
  return {
      {"file missing", [](WriteJob& t) { t.path = t.dir.File("missing.bin"); },
       msg::kFileOpenFailed, false},
      // A folder opens for reading on POSIX systems but has no size to measure.
      {"path is a folder",
       [](WriteJob& t) {
         t.path = t.dir.File("folder.bin");
         std::filesystem::create_directory(t.path);
       },
#ifdef _WIN32
       msg::kFileOpenFailed,
#else
       msg::kFileReadFailed,
#endif
       false},
      {"empty path", [](WriteJob& t) { t.path = ""; }, msg::kFileOpenFailed, false},
      {"empty file", [](WriteJob& t) { t.WriteImage({}); }, msg::kFileEmpty, false},
      {"too large", [](WriteJob& t) { t.WriteImage(test::MakeImage(32769)); }, msg::kFileTooLarge,
       false},
      {"port refused", [](WriteJob& t) { t.chip().script.refuseOpen = true; }, msg::kPortOpenFailed,
       false},
      {"settings refused", [](WriteJob& t) { t.chip().script.refuseBaud = 9600; },
       msg::kCommunicationError},
      {"time-outs refused", [](WriteJob& t) { t.chip().script.refuseTimeouts = true; },
       msg::kCommunicationError},
      {"no chip answers", [](WriteJob& t) { t.chip().loader.config().present = false; },
       msg::kIspEntryFailed},
      {"echo missing", chipRule(Rule::Without(Rule::Action::NoEcho, "A")), msg::kIspEntryFailed},
      {"baud rate refused", chipRule(Rule::ReplyWith("B", "17")), msg::kBaudChangeFailed},
      {"port refuses 57600", [](WriteJob& t) { t.chip().script.refuseBaud = 57600; },
       msg::kBaudChangeFailed},
      {"other part number", [](WriteJob& t) { t.chip().loader.config().partId = 0x2540102B; },
       msg::kWrongChip},
      {"part number missing", chipRule(Rule::ReplyWith("J", "0")), msg::kWrongChip},
      {"unlock refused", chipRule(Rule::ReplyWith("U", "16")), msg::kEraseFailed},
      {"prepare refused", chipRule(Rule::ReplyWith("P", "7", 1)), msg::kEraseFailed},
      {"erase refused", chipRule(Rule::ReplyWith("E", "9")), msg::kEraseFailed},
      {"RAM write refused", chipRule(Rule::ReplyWith("W", "14", 2)), msg::kWriteFailed},
      {"checksum answered RESEND", chipRule(Rule::ReplyWith("checksum", "RESEND", 3)),
       msg::kWriteFailed},
      {"prepare before copy refused", chipRule(Rule::ReplyWith("P", "7", 3)), msg::kWriteFailed},
      {"copy refused", chipRule(Rule::ReplyWith("C", "9", 1)), msg::kWriteFailed},
      {"copy answer garbled", chipRule(Rule::Without(Rule::Action::Garble, "C", 2)),
       msg::kWriteFailed},
      {"restart fails", [](WriteJob& t) { t.chip().script.failLineChange = 5; },
       msg::kIspLeaveFailed},
      {"abort before the first block", [](WriteJob& t) { t.abort.Request(); }, msg::kWriteAborted},
      {"abort in the middle",
       [](WriteJob& t) {
         t.onProgress = [&t](int32_t p) {
           if (p > 0) t.abort.Request();
         };
       },
       msg::kWriteAborted},
  };
}

TEST_F(WriteJob, EveryFailureGivesItsMessageReleasesAllAndKeepsTheFile) {
  for (const FailureCase& c : FailureCases()) {
    SCOPED_TRACE(c.name);
    NewChip();
    path = dir.File("image.bin");
    onProgress = nullptr;
    abort.Clear();
    WriteImage(test::MakeImage(3000));
    c.setup(*this);

    EXPECT_EQ(Run(true), c.message);
    EXPECT_EQ(chip().opens, c.portOpened ? 1 : 0);
    EXPECT_EQ(chip().closes, chip().opens);
    EXPECT_TRUE(test::FileIsReleased(path));
    if (!path.empty() && std::filesystem::is_regular_file(dir.File("image.bin"))) {
      EXPECT_TRUE(test::FileExists(dir.File("image.bin")));
    }
    if (c.message != msg::kIspLeaveFailed) {
      // No control-line sequence after the last handshake attempt.
      auto last = std::find_if(chip().events.rbegin(), chip().events.rend(),
                               [](const PortEvent& e) { return e.kind == PortEvent::Kind::Purge; });
      EXPECT_TRUE(std::none_of(chip().events.rbegin(), last,
                               [](const PortEvent& e) { return e.kind == PortEvent::Kind::Line; }));
    }
  }
}

TEST_F(WriteJob, NoChipCostsFiveResetsOfTwoSecondsEach) {
  chip().loader.config().present = false;
  WriteImage({1, 2, 3});
  ASSERT_EQ(Run(), msg::kIspEntryFailed);
  EXPECT_EQ(chip().loader.resets(), 5);
  EXPECT_EQ(chip().EventsOf(PortEvent::Kind::Wait).size(), 10u);
  EXPECT_GE(chip().clock.Now(), 5 * sim::Milliseconds(2150));
}

TEST_F(WriteJob, WrongChipIsFoundBeforeAnythingIsErased) {
  chip().loader.config().partId = 12345;
  std::fill(chip().loader.flash().begin(), chip().loader.flash().end(), uint8_t{0x00});
  WriteImage(test::MakeImage(10));
  ASSERT_EQ(Run(), msg::kWrongChip);
  EXPECT_EQ(chip().loader.flash()[0], 0x00);
  auto transcript = chip().Transcript();
  EXPECT_EQ(transcript.back(), "< 12345\r\n");
}

TEST_F(WriteJob, AbortStopsBetweenBlocksAndLeavesEarlierBlocksWritten) {
  std::vector<uint8_t> image = test::MakeImage(3000, 9);
  WriteImage(image);
  // The blocks go as 1, 2, then 0, the one with the vector table; stopped before the
  // third, the chip is left with sector 0's first block erased: it stays in its boot
  // loader at the next reset instead of starting half a program.
  onProgress = [this](int32_t percent) {
    if (percent >= 60) abort.Request();
  };
  ASSERT_EQ(Run(true), msg::kWriteAborted);
  const auto& flash = chip().loader.flash();
  EXPECT_TRUE(
      std::all_of(flash.begin(), flash.begin() + 1024, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::equal(image.begin() + 1024, image.end(), flash.begin() + 1024));
  EXPECT_TRUE(
      std::all_of(flash.begin() + 3000, flash.begin() + 4096, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(progressCalls, (std::vector<int32_t>{0, 33, 66}));
  EXPECT_EQ(chip().loader.resets(), 1) << "not restarted after an abort";
  EXPECT_TRUE(test::FileExists(path));

  // An abort made before the job starts stops it before anything reaches the chip.
  NewChip();
  onProgress = nullptr;
  abort.Request();
  ASSERT_EQ(Run(), msg::kWriteAborted);
  EXPECT_TRUE(progressCalls.empty());
  EXPECT_TRUE(chip().Transcript().empty());
  EXPECT_EQ(chip().loader.resets(), 0);
  EXPECT_EQ(chip().closes, 1);
}

TEST_F(WriteJob, AnAbortBeforeTheEraseStopsTheJobBeforeIt) {
  // Asked for while the job waits in each step before the erase: the chip keeps its
  // program, the job ends with the abort message at once (no further attempts).
  const struct {
    const char* name;
    std::function<bool(const PortEvent&)> moment;
    Rule rule;
  } cases[] = {
      {"handshake: the chip ignores the first ?",
       [](const PortEvent& e) { return e.kind == PortEvent::Kind::Timeout; }, Rule::Silent("?", 1)},
      {"echo off",
       [](const PortEvent& e) { return e.kind == PortEvent::Kind::Write && e.bytes == "A 0"; },
       {}},
      {"baud change",
       [](const PortEvent& e) {
         return e.kind == PortEvent::Kind::Write && e.bytes == "B 57600 1";
       },
       {}},
      {"part id",
       [](const PortEvent& e) { return e.kind == PortEvent::Kind::Write && e.bytes == "J"; },
       {}},
      {"unlock",
       [](const PortEvent& e) {
         return e.kind == PortEvent::Kind::Write && e.bytes.rfind("U ", 0) == 0;
       },
       {}},
  };
  for (const auto& c : cases) {
    NewChip();
    abort.Clear();
    if (!c.rule.on.empty()) chip().loader.config().rules.push_back(c.rule);
    chip().onEvent = [&](const PortEvent& e) {
      if (c.moment(e)) abort.Request();
    };
    WriteImage(test::MakeImage(3000));
    EXPECT_EQ(Run(), msg::kWriteAborted) << c.name;
    for (const std::string& line : chip().Transcript()) {
      EXPECT_NE(line.rfind("> P ", 0), 0u) << c.name << ": prepared for the erase";
      EXPECT_NE(line.rfind("> E ", 0), 0u) << c.name << ": erased";
    }
    EXPECT_TRUE(progressCalls.empty()) << c.name;
    EXPECT_EQ(chip().closes, 1) << c.name;
  }
}

TEST_F(WriteJob, VerifyComparesEachBlockAfterItsCopyAboveTheBootRom) {
  const std::vector<uint8_t> image = test::MakeImage(2500, 4);
  WriteImage(image);
  JobOptions verify;
  verify.write.program.verify = true;
  ASSERT_EQ(Run(true, verify), "");
  std::vector<std::string> compares;
  for (const std::string& line : chip().Transcript()) {
    if (line.rfind("> M ", 0) == 0) compares.push_back(line);
  }
  // Each block as copied (the last one's 452 bytes in a copy of 512), block 0 last and
  // from 512 on.
  EXPECT_EQ(compares,
            (std::vector<std::string>{"> M 1024 268436224 1024\r\n", "> M 2048 268436224 512\r\n",
                                      "> M 512 268436736 512\r\n"}));
  EXPECT_FALSE(test::FileExists(path));

  // A chip that answers the second copy (the block at 2048) without carrying it out: the flash
  // there stays erased. Without the verify that goes unseen; with it the job fails, naming the
  // first differing address, and the file stays.
  const auto firstDifference = [&] {
    uint32_t at = 2048;
    while (image[at] == 0xFF) ++at;
    return at;
  }();
  for (const bool check : {false, true}) {
    NewChip();
    WriteImage(image);
    chip().loader.config().rules.push_back(Rule::ReplyWith("C", "0", 2));
    JobOptions options;
    options.write.program.verify = check;
    EXPECT_EQ(Run(true, options), check ? VerifyFailedMessage(firstDifference) : "") << check;
    EXPECT_EQ(test::FileExists(path), check);
  }
  EXPECT_EQ(VerifyFailedMessage(0x4A0),
            "verify failed: the flash differs from the image at 0x000004A0");
}

TEST_F(WriteJob, ResendIsNotAnsweredByResending) {
  chip().loader.config().rules.push_back(Rule::ReplyWith("checksum", "RESEND", 1));
  WriteImage(test::MakeImage(100));
  ASSERT_EQ(Run(), msg::kWriteFailed);
  auto transcript = chip().Transcript();
  EXPECT_EQ(transcript.back(), "< RESEND\r\n");
}

#ifndef _WIN32
TEST_F(WriteJob, AFileThatShrinksDuringTheWriteFailsAtTheShortBlock) {
  // Larger than the stream's buffer, so that reading goes back to the file.
  WriteImage(test::MakeImage(32768));
  onProgress = [this](int32_t percent) {
    if (percent > 0) std::filesystem::resize_file(path, 1500);
  };
  ASSERT_EQ(Run(), msg::kWriteFailed);
  EXPECT_GT(progressCalls.size(), 1u);
  EXPECT_LT(progressCalls.size(), 32u);
}

TEST_F(WriteJob, AFileChangedDuringTheWriteIsNotDeleted) {
  // What a build or a user may do to the file while it is written. The path must still
  // name the version that was written, or that newer work stays.
  namespace fs = std::filesystem;
  const struct {
    const char* name;
    std::function<void(const std::string&)> change;
  } cases[] = {
      {"replaced by another file",
       [this](const std::string& file) {
         test::WriteFile(dir.File("other.bin"), test::MakeImage(3000, 7));
         fs::rename(dir.File("other.bin"), file);
       }},
      {"grown",
       [](const std::string& file) {
         test::AppendFile(file, {1, 2, 3});
       }},
      {"rewritten in place",
       [](const std::string& file) {
         test::OverwriteFile(file, 0, test::MakeImage(1500, 9));
         fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(2));
       }},
  };
  for (const auto& c : cases) {
    NewChip();
    WriteImage(test::MakeImage(3000));
    onProgress = [&](int32_t percent) {
      if (percent > 0 && percent < 50) c.change(path);
    };
    EXPECT_EQ(Run(true), msg::kDeleteFailed) << c.name;
    ASSERT_TRUE(test::FileExists(path)) << c.name;
    onProgress = nullptr;
  }
  // Unchanged, it is deleted.
  NewChip();
  WriteImage(test::MakeImage(3000));
  ASSERT_EQ(Run(true), "");
  EXPECT_FALSE(test::FileExists(path));
}

TEST_F(WriteJob, AFifoIsRefusedWithoutWaitingForAWriter) {
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(Run(), msg::kFileReadFailed);
  EXPECT_EQ(chip().opens, 0);
}
#endif

TEST_F(WriteJob, ADeleteThatFailsIsReportedAfterTheChipWasProgrammed) {
  std::vector<uint8_t> image = test::MakeImage(500);
  WriteImage(image);
#ifdef _WIN32
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
#else
  // Even root cannot remove a folder that holds a file: put one in the file's place.
  onProgress = [this](int32_t) {
    std::filesystem::rename(path, dir.File("moved.bin"));
    std::filesystem::create_directory(path);
    test::WriteFile(path + "/inside", {1});
  };
#endif
  ASSERT_EQ(Run(true), msg::kDeleteFailed);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), chip().loader.flash().begin()));
  EXPECT_EQ(chip().loader.resets(), 2) << "restarted";
  EXPECT_EQ(chip().closes, 1);
#ifdef _WIN32
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
#endif
}

TEST(ParsePartId, ReadsADecimalNumberLikeTheCLibrary) {
  struct Case {
    const char* line;
    int32_t value;
  } const cases[] = {
      {"172003371", 172003371},
      {"  440438827", 440438827},
      {"\t+172003371x", 172003371},
      {"-5", -5},
      {"", 0},
      {"abc", 0},
      {"4466970667", 172003371},  // wraps modulo 2^32
      {"4294967295", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ParsePartId(c.line), c.value) << c.line;
}

}  // namespace
}  // namespace korvane
