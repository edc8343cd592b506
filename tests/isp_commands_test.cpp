#include "isp/isp_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "sim/sim_port.h"
#include "test_support.h"

namespace korvane {
namespace {

using sim::ChipConfig;
using sim::Milliseconds;
using sim::PortEvent;
using sim::Rule;
using sim::SimulatedChip;

// A link to the simulated chip, set up as a job sets it up before the handshake.
struct Handshake {
  explicit Handshake(ChipConfig config = {}) : chip(std::move(config)) {
    link.port = chip.OpenPort();
    link.settings = MakeLineSettings(9600);
    link.port->ApplySettings(link.settings);
    link.port->SetTimeouts(kIspTimeouts);
  }
  int Resets() const { return chip.loader.resets(); }

  SimulatedChip chip;
  IspLink link;
};

TEST(EnterIspMode, SynchronisesWithOneResetAndTheExpectedDialogue) {
  Handshake h;
  ASSERT_TRUE(EnterIspMode(h.link));
  EXPECT_EQ(h.Resets(), 1);
  EXPECT_EQ(h.chip.loader.mode(), sim::BootLoader::Mode::Command);
  EXPECT_EQ(h.chip.Transcript(),
            (std::vector<std::string>{"> ?", "< Synchronized\r\n", "> Synchronized\r\n",
                                      "< Synchronized\r\n", "< OK\r\n", "> 12000\r\n",
                                      "< 12000\r\n", "< OK\r\n"}));
  // The input is purged after the reset sequence and before the "?".
  auto lines = h.chip.EventsOf(PortEvent::Kind::Line);
  auto purges = h.chip.EventsOf(PortEvent::Kind::Purge);
  ASSERT_EQ(purges.size(), 1u);
  EXPECT_LE(lines.back().at, purges[0].at);
}

struct HandshakeCase {
  const char* name;
  ChipConfig config;
  int failWrite;
  bool succeeds;
  int resets;
};

TEST(EnterIspMode, EachFailedAttemptResetsTheChipAgainUpToFiveTimes) {
  const HandshakeCase cases[] = {
      {"no chip", ChipConfig{sim::kLpc1114PartId, false, {}}, 0, false, 5},
      {"other sync word",
       {sim::kLpc1114PartId, true, {Rule::ReplyWith("?", "Synchronised")}},
       0,
       false,
       5},
      {"no echo of the sync word",
       {sim::kLpc1114PartId, true, {Rule::Without(Rule::Action::NoEcho, "Synchronized")}},
       0,
       false,
       5},
      {"no OK after the frequency",
       {sim::kLpc1114PartId, true, {Rule::ReplyWith("frequency", "1")}},
       0,
       false,
       5},
      {"two unanswered ?",
       {sim::kLpc1114PartId, true, {Rule::Silent("?", 1), Rule::Silent("?", 2)}},
       0,
       true,
       3},
      {"answer just before the time-out",
       {sim::kLpc1114PartId, true, {Rule::DelayBy("?", 1998)}},
       0,
       true,
       1},
      {"answer just after the time-out",
       {sim::kLpc1114PartId, true, {Rule::DelayBy("?", 2001, 1)}},
       0,
       true,
       2},
      {"the ? cannot be written", {}, 1, true, 2},
      {"the frequency cannot be sent", {}, 4, false, 1},
  };
  for (const HandshakeCase& c : cases) {
    Handshake h(c.config);
    h.chip.script.failWrite = c.failWrite;
    EXPECT_EQ(static_cast<bool>(EnterIspMode(h.link)), c.succeeds) << c.name;
    EXPECT_EQ(h.Resets(), c.resets) << c.name;
  }
}

TEST(EnterIspMode, WithoutAChipGivesUpAfterFiveResetsAndTimeOuts) {
  Handshake h(ChipConfig{sim::kLpc1114PartId, false, {}});
  sim::Nanoseconds start = h.chip.clock.Now();
  ASSERT_FALSE(EnterIspMode(h.link));
  EXPECT_EQ(h.chip.EventsOf(PortEvent::Kind::Timeout).size(), 5u);
  // Each attempt: 150 ms of reset sequence, the "?" on the wire, 2000 ms without answer.
  sim::Nanoseconds elapsed = h.chip.clock.Now() - start;
  EXPECT_GE(elapsed, 5 * Milliseconds(2150));
  EXPECT_LT(elapsed, 5 * Milliseconds(2152));
}

// An abort asked for before the first attempt: the handshake ends as aborted (not as a
// success, not as a failed handshake), and nothing reaches the chip, not even a line.
TEST(EnterIspMode, AnAbortBeforeTheFirstAttemptSendsNothing) {
  Handshake h;
  AbortFlag abort;
  abort.Request();
  h.link.abort = &abort;
  int attempts = 0;
  const IspResult result = EnterIspMode(h.link, [&](int) { ++attempts; });
  EXPECT_EQ(result.status, IspStatus::Aborted);
  EXPECT_FALSE(result);
  EXPECT_EQ(attempts, 0);
  EXPECT_EQ(h.Resets(), 0);
  EXPECT_TRUE(h.chip.Transcript().empty());
  EXPECT_TRUE(h.chip.EventsOf(PortEvent::Kind::Line).empty());
}

struct CommandCase {
  const char* name;
  std::function<IspResult(IspLink&)> run;
  const char* key;
  std::vector<std::string> lines;  // what the host sends
};

std::vector<CommandCase> Commands() {
  return {
      {"echo off", [](IspLink& l) { return EchoOff(l); }, "A", {"> A 0\r\n"}},
      {"baud rate",
       [](IspLink& l) { return SetIspBaudRate(l, 57600, 1); },
       "B",
       {"> B 57600 1\r\n"}},
      {"part id",
       [](IspLink& l) {
         char id[100];
         return ReadPartId(l, id, sizeof id);
       },
       "J",
       {"> J\r\n"}},
      {"unlock", [](IspLink& l) { return UnlockFlash(l); }, "U", {"> U 23130\r\n"}},
      {"prepare and erase",
       [](IspLink& l) { return PrepareAndErase(l, 0, 0); },
       "P",
       {"> P 0 0\r\n"}},
  };
}

TEST(IspCommands, AnErrorCodeFailsTheCommandWithoutReadingFurther) {
  for (const CommandCase& c : Commands()) {
    Handshake h({sim::kLpc1114PartId, true, {Rule::ReplyWith(c.key, "1")}});
    ASSERT_TRUE(EnterIspMode(h.link));
    // With the echo on, a command's first answer is its own line.
    if (std::string(c.key) != "A") {
      ASSERT_TRUE(EchoOff(h.link));
    }
    size_t mark = h.chip.events.size();
    sim::Nanoseconds start = h.chip.clock.Now();
    const IspResult result = c.run(h.link);
    EXPECT_EQ(result.status, IspStatus::Refused) << c.name;
    EXPECT_EQ(result.code, 1u) << c.name;
    EXPECT_EQ("> " + result.command + "\r\n", c.lines.back()) << c.name;
    // Only the command went out, and no read waited for a further line.
    std::vector<std::string> sent;
    for (const std::string& line : h.chip.Transcript(mark)) {
      if (line[0] == '>') sent.push_back(line);
    }
    EXPECT_EQ(sent, c.lines) << c.name;
    EXPECT_LT(h.chip.clock.Now() - start, Milliseconds(100)) << c.name;
  }
}

// What a command came to when the chip did not answer as it should.
TEST(IspCommands, SaysWhatCameInsteadOfTheAnswer) {
  struct Case {
    const char* name;
    Rule rule;
    IspStatus status;
    const char* received;
  } const cases[] = {
      {"no answer", Rule::Silent("U"), IspStatus::TimedOut, ""},
      {"a word", Rule::ReplyWith("U", "hello"), IspStatus::Garbled, "hello"},
      {"a number out of range", Rule::ReplyWith("U", "99999999999"), IspStatus::Garbled,
       "99999999999"},
      {"an unknown code", Rule::ReplyWith("U", "42"), IspStatus::Refused, ""},
  };
  for (const Case& c : cases) {
    Handshake h({sim::kLpc1114PartId, true, {c.rule}});
    ASSERT_TRUE(EnterIspMode(h.link) && EchoOff(h.link)) << c.name;
    const IspResult result = UnlockFlash(h.link);
    EXPECT_EQ(result.status, c.status) << c.name;
    EXPECT_EQ(result.command, "U 23130") << c.name;
    EXPECT_EQ(result.received, c.received) << c.name;
    if (c.status != IspStatus::Refused) {
      EXPECT_EQ(result.awaited, "0") << c.name;
    }
  }
  EXPECT_EQ(DescribeReturnCode(9), "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION (9)");
  EXPECT_EQ(DescribeReturnCode(19), "CODE_READ_PROTECTION_ENABLED (19)");
  EXPECT_EQ(DescribeReturnCode(42), "return code 42");
}

TEST(IspCommands, EchoOffNeedsTheEchoBeforeTheCode) {
  Handshake h({sim::kLpc1114PartId, true, {Rule::Without(Rule::Action::NoEcho, "A")}});
  ASSERT_TRUE(EnterIspMode(h.link));
  EXPECT_FALSE(EchoOff(h.link));
  EXPECT_FALSE(h.chip.loader.echo()) << "the chip did switch its echo off";
}

TEST(IspCommands, ReadPartIdReturnsTheLineAfterTheCode) {
  Handshake h({0x1A40902B, true, {}});
  ASSERT_TRUE(EnterIspMode(h.link) && EchoOff(h.link));
  char id[100];
  ASSERT_TRUE(ReadPartId(h.link, id, sizeof id));
  EXPECT_STREQ(id, "440438827");
}

TEST(IspCommands, PrepareAndEraseCoversTheSectorsGiven) {
  for (unsigned sectors : {1u, 2u, 8u}) {
    Handshake h;
    ASSERT_TRUE(EnterIspMode(h.link) && EchoOff(h.link) && UnlockFlash(h.link));
    size_t mark = h.chip.events.size();
    ASSERT_TRUE(PrepareAndErase(h.link, 0, sectors - 1)) << sectors;
    std::string last = std::to_string(sectors - 1);
    EXPECT_EQ(h.chip.Transcript(mark),
              (std::vector<std::string>{"> P 0 " + last + "\r\n", "< 0\r\n",
                                        "> E 0 " + last + "\r\n", "< 0\r\n"}));
  }
}

TEST(IspCommands, TheBaudChangeLeavesTheLinkAtItsRate) {
  Handshake h;
  ASSERT_TRUE(EnterIspMode(h.link) && EchoOff(h.link));
  ASSERT_TRUE(SetIspBaudRate(h.link, 57600, 1));
  EXPECT_EQ(h.link.settings.baudRate, 9600u);
  // The chip now listens at 57600: a command at 9600 arrives garbled and gets no answer.
  char id[100];
  EXPECT_FALSE(ReadPartId(h.link, id, sizeof id));
  ASSERT_TRUE(h.link.ApplyBaudRate(57600));
  // At the same rate again: the garbled bytes end as an invalid command, then J works.
  EXPECT_TRUE(SendLine(h.link, "") && ExpectLine(h.link, "1"));
  ASSERT_TRUE(ReadPartId(h.link, id, sizeof id));
  EXPECT_STREQ(id, "172003371");
}

// A link with echo off and the flash commands unlocked, as before the erase.
struct Unlocked : Handshake {
  explicit Unlocked(ChipConfig config = {}) : Handshake(std::move(config)) {
    EXPECT_TRUE(EnterIspMode(link) && EchoOff(link) && UnlockFlash(link));
  }
};

TEST(IspCommands, WriteThenReadAndCompareRam) {
  Unlocked h;
  const std::vector<uint8_t> data = test::MakeImage(1024, 7);
  ASSERT_TRUE(WriteToRam(h.link, 0x10000200, data.data(), 1024));
  std::vector<uint8_t> back(1024);
  ASSERT_TRUE(ReadMemory(h.link, 0x10000200, 1024, back.data()));
  EXPECT_EQ(back, data);
  std::optional<uint32_t> offset;
  EXPECT_TRUE(CompareMemory(h.link, 0x10000200, 0x10000200, 1024, &offset));
  // RAM at 0x10000600 holds something else: the first difference is told.
  EXPECT_FALSE(CompareMemory(h.link, 0x10000200, 0x10000600, 1024, &offset));
  ASSERT_TRUE(offset.has_value());
  EXPECT_NE(data[*offset], h.chip.loader.ram()[0x600 + *offset]);
  for (uint32_t i = 0; i < *offset; ++i) ASSERT_EQ(data[i], h.chip.loader.ram()[0x600 + i]);
}

TEST(IspCommands, ReadAsksForASpoiltGroupAgainAFewTimesAtMost) {
  struct Case {
    const char* name;
    std::vector<Rule> rules;
    bool succeeds;
    int resends;
  };
  const Case cases[] = {
      {"clean", {}, true, 0},
      {"second group spoilt once", {Rule::Without(Rule::Action::Garble, "read", 2)}, true, 1},
      {"every group spoilt",
       {Rule::Without(Rule::Action::Garble, "read")},
       false,
       kReadResendLimit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Unlocked h({sim::kLpc1114PartId, true, c.rules});
    const std::vector<uint8_t> data = test::MakeImage(2048, 3);
    ASSERT_TRUE(WriteToRam(h.link, 0x10000000, data.data(), 2048));
    size_t mark = h.chip.events.size();
    std::vector<uint8_t> back(2048);
    EXPECT_EQ(static_cast<bool>(ReadMemory(h.link, 0x10000000, 2048, back.data())), c.succeeds);
    if (c.succeeds) {
      EXPECT_EQ(back, data);
    }
    const std::vector<std::string> lines = h.chip.Transcript(mark);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "> RESEND\r\n"), c.resends);
    // A read that gives up leaves the boot loader ready for commands.
    EXPECT_EQ(h.chip.loader.mode(), sim::BootLoader::Mode::Command);
  }
}

TEST(IspCommands, BootCodeVersionAndGo) {
  Handshake h;
  ASSERT_TRUE(EnterIspMode(h.link) && EchoOff(h.link));
  // Boot code 7.1 answers its minor number first, as the user manuals' byte 0 (a real
  // LPC1114FN28 answers 1, then 7).
  const size_t mark = h.chip.Transcript().size();
  unsigned major = 0, minor = 0;
  ASSERT_TRUE(ReadBootCodeVersion(h.link, &major, &minor));
  EXPECT_EQ(major, 7u);
  EXPECT_EQ(minor, 1u);
  const std::vector<std::string> lines = h.chip.Transcript(mark);
  const auto one = std::find(lines.begin(), lines.end(), "< 1\r\n");
  ASSERT_NE(one, lines.end());
  EXPECT_NE(std::find(one, lines.end(), "< 7\r\n"), lines.end()) << "1 before 7";
  EXPECT_FALSE(Go(h.link, 0)) << "Go needs the unlock first";
  ASSERT_TRUE(UnlockFlash(h.link));
  ASSERT_TRUE(Go(h.link, 0x10000300));
  EXPECT_EQ(h.chip.loader.mode(), sim::BootLoader::Mode::UserProgram) << "code in RAM runs";
}

// G 0 T runs the boot ROM's start-up, as a reset with the ISP pin released: a program
// with a valid vector checksum starts, else the boot loader begins again.
TEST(IspCommands, GoToZeroStartsOnlyAValidProgram) {
  for (const bool valid : {true, false}) {
    ChipConfig config;
    const std::vector<uint8_t> image =
        valid ? test::MakeStartableImage(1024) : test::MakeImage(1024);
    config.flash = image;
    config.wiring = ResetWiring::None;  // the chip waits in its boot loader at power-up
    Handshake h(config);
    ASSERT_TRUE(EnterIspMode(h.link) && EchoOff(h.link) && UnlockFlash(h.link)) << valid;
    ASSERT_TRUE(Go(h.link, 0)) << valid;
    // The next byte meets the program, or the boot loader waiting for "?".
    size_t written = 0;
    ASSERT_TRUE(h.link.port->Write("?", 1, &written));
    EXPECT_EQ(h.chip.loader.programStarts(), valid ? 1 : 0) << valid;
    EXPECT_EQ(h.chip.loader.mode(),
              valid ? sim::BootLoader::Mode::UserProgram : sim::BootLoader::Mode::AwaitSyncWord)
        << valid;
  }
}

}  // namespace
}  // namespace korvane
