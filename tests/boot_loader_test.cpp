// The simulated boot loader answers as the chip maker's manual describes.
#include "sim/boot_loader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"

namespace korvane {
namespace {

using sim::SimulatedChip;

struct CodeCase {
  std::vector<std::string> before;  // commands that must succeed first
  std::string command;
  int code;
};

TEST(BootLoader, AnswersCommandsWithTheManualsReturnCodes) {
  const std::vector<std::string> unlocked = {"U 23130"};
  const CodeCase cases[] = {
      {{}, "W 268435968 1", sim::COUNT_ERROR},  // RAM writes take whole words only
      {{}, "W 268435968 4", sim::CMD_SUCCESS},
      {{}, "W 268435970 4", sim::ADDR_ERROR},
      {{}, "W 268439552 4", sim::ADDR_NOT_MAPPED},
      {{}, "W 268439548 8", sim::ADDR_NOT_MAPPED},
      {{}, "W 0 4", sim::ADDR_NOT_MAPPED},
      {{}, "R 268435968 3", sim::COUNT_ERROR},
      {{}, "C 0 268435968 1024", sim::CMD_LOCKED},
      {unlocked, "C 0 268435968 1024", sim::SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION},
      {{"U 23130", "P 0 0"}, "C 0 268435968 1024", sim::CMD_SUCCESS},
      {{"U 23130", "P 0 0"}, "C 3840 268435456 512", sim::SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION},
      {unlocked, "C 100 268435968 256", sim::DST_ADDR_ERROR},
      {unlocked, "C 0 268435970 256", sim::SRC_ADDR_ERROR},
      {unlocked, "C 0 268435968 100", sim::COUNT_ERROR},
      {unlocked, "C 32768 268435968 256", sim::DST_ADDR_NOT_MAPPED},
      {unlocked, "C 0 4 256", sim::SRC_ADDR_NOT_MAPPED},
      {{"P 0 0"}, "E 0 0", sim::CMD_LOCKED},
      {unlocked, "E 0 0", sim::SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION},
      {{"U 23130", "P 0 1"}, "E 0 1", sim::CMD_SUCCESS},
      {{"U 23130", "P 0 1", "E 0 1"}, "E 0 0", sim::SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION},
      {{"U 23130", "P 0 0", "C 0 268435968 256"},
       "C 256 268435968 256",
       sim::SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION},
      {{}, "P 0 8", sim::INVALID_SECTOR},
      {{}, "P 3 1", sim::INVALID_SECTOR},
      {{}, "P 0", sim::PARAM_ERROR},
      {{}, "U 12345", sim::INVALID_CODE},
      {{}, "B 12345 1", sim::INVALID_BAUD_RATE},
      {{}, "B 57600 3", sim::INVALID_STOP_BIT},
      {{}, "A 2", sim::PARAM_ERROR},
      {{}, "J x", sim::PARAM_ERROR},
      {{}, "X", sim::INVALID_COMMAND},
      {{}, "X 1 y", sim::INVALID_COMMAND},
      {{}, "K", sim::CMD_SUCCESS},
      {{}, "K 1", sim::PARAM_ERROR},
      {{}, "G 0 T", sim::CMD_LOCKED},
      {unlocked, "G 0 A", sim::PARAM_ERROR},  // a Cortex-M0 runs Thumb code only
      {unlocked, "G 0", sim::PARAM_ERROR},
      {unlocked, "G 2 T", sim::ADDR_ERROR},
      {unlocked, "G 32768 T", sim::ADDR_NOT_MAPPED},
      {unlocked, "G 268435968 T", sim::CMD_SUCCESS},
      {{}, "I 1 7", sim::CMD_SUCCESS},
      {{}, "I 0 0", sim::SECTOR_NOT_BLANK},  // its first 512 bytes read as the boot ROM
      {{}, "I 0 8", sim::INVALID_SECTOR},
  };
  for (const CodeCase& c : cases) {
    SimulatedChip chip;
    test::IspSession session(chip);
    ASSERT_TRUE(session.ready);
    for (const std::string& command : c.before) ASSERT_EQ(session.Command(command), "0") << command;
    EXPECT_EQ(session.Command(c.command), std::to_string(c.code)) << c.command;
  }
}

TEST(BootLoader, EchoesEveryLineUntilEchoIsSwitchedOff) {
  SimulatedChip chip;
  test::IspSession session(chip, false);
  ASSERT_TRUE(session.ready);
  EXPECT_EQ(session.Command("J"), "J");
  EXPECT_EQ(session.Receive(), "0");
  EXPECT_EQ(session.Receive(), "172003371");
  EXPECT_EQ(session.Command("A 0"), "A 0");
  EXPECT_EQ(session.Receive(), "0");
  EXPECT_EQ(session.Command("J"), "0");
}

TEST(BootLoader, KeepsNoCountOfCommandWordsNoRuleWatches) {
  SimulatedChip chip;
  chip.loader.config().rules.push_back(sim::Rule::ReplyWith("J", "1", 5));
  test::IspSession session(chip);
  ASSERT_TRUE(session.ready);
  for (int i = 0; i < 2000; ++i)
    EXPECT_EQ(session.Command("X" + std::to_string(i)), "1") << i;  // INVALID_COMMAND
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(session.Command("J"), "0");
    session.Receive();  // the part identification
  }
  EXPECT_EQ(session.Command("J"), "1") << "the rule still counts the J commands";
  EXPECT_EQ(chip.loader.countedEventKinds(), 1u) << "a count for every word the host sent";
}

TEST(BootLoader, FlashProgrammingOnlyClearsBits) {
  SimulatedChip chip;
  test::IspSession session(chip);
  ASSERT_TRUE(session.ready);
  ASSERT_EQ(session.Command("U 23130"), "0");
  std::vector<uint8_t> low(256, 0x0F), high(256, 0xF3);
  ASSERT_TRUE(session.WriteRam(0x10000200, low));
  ASSERT_EQ(session.Command("P 0 0"), "0");
  ASSERT_EQ(session.Command("C 0 268435968 256"), "0");
  EXPECT_EQ(chip.loader.flash()[0], 0x0F);
  ASSERT_TRUE(session.WriteRam(0x10000200, high));
  ASSERT_EQ(session.Command("P 0 0"), "0");
  ASSERT_EQ(session.Command("C 0 268435968 256"), "0");
  EXPECT_EQ(chip.loader.flash()[0], 0x03);
  EXPECT_EQ(chip.loader.flash()[256], 0xFF);
}

TEST(BootLoader, AWrongChecksumAsksForTheGroupAgain) {
  SimulatedChip chip;
  test::IspSession session(chip);
  ASSERT_TRUE(session.ready);
  ASSERT_EQ(session.Command("W 268435968 4"), "0");
  ASSERT_TRUE(SendLine(session.link, "$0?___P``"));  // 41 FF FF FF
  EXPECT_EQ(session.Command("831"), "RESEND");
  ASSERT_TRUE(SendLine(session.link, "$0?___P``"));
  EXPECT_EQ(session.Command("830"), "OK");
  EXPECT_EQ(session.Read(0x10000200, 4), (std::vector<uint8_t>{0x41, 0xFF, 0xFF, 0xFF}));
}

TEST(BootLoader, ReadsBackFlashInChecksumGroups) {
  SimulatedChip chip;
  std::vector<uint8_t> image = test::MakeImage(2000, 5);
  std::copy(image.begin(), image.end(), chip.loader.flash().begin());
  test::IspSession session(chip);
  ASSERT_TRUE(session.ready);
  std::vector<uint8_t> back = session.Read(0, 2000);
  ASSERT_EQ(back.size(), image.size());
  // While the boot loader runs, its ROM stands in the first 512 bytes.
  EXPECT_TRUE(std::equal(image.begin() + 512, image.end(), back.begin() + 512));
  EXPECT_FALSE(std::equal(image.begin(), image.begin() + 512, back.begin()))
      << "the boot ROM reads as flash";
  EXPECT_EQ(session.Command("J"), "0") << "back in the command handler";
}

TEST(BootLoader, ComparesMemoryAndTellsTheFirstDifference) {
  SimulatedChip chip;
  std::vector<uint8_t> image = test::MakeImage(2048, 8);
  std::copy(image.begin(), image.end(), chip.loader.flash().begin());
  test::IspSession session(chip);
  ASSERT_TRUE(session.ready);
  ASSERT_TRUE(
      session.WriteRam(0x10000200, std::vector<uint8_t>(image.begin() + 1024, image.end())));
  EXPECT_EQ(session.Command("M 1024 268435968 1024"), "0");
  chip.loader.flash()[1024 + 300] ^= 0x10;
  EXPECT_EQ(session.Command("M 1024 268435968 1024"), "10");  // COMPARE_ERROR
  EXPECT_EQ(session.Receive(), "300");
  const struct {
    const char* command;
    const char* code;
  } refused[] = {
      {"M 1026 268435968 4", "13"},   // ADDR_ERROR
      {"M 1024 268435968 6", "6"},    // COUNT_ERROR
      {"M 32768 268435968 4", "14"},  // ADDR_NOT_MAPPED
      {"M 1024 268435968", "12"},     // PARAM_ERROR
  };
  for (const auto& r : refused) EXPECT_EQ(session.Command(r.command), r.code) << r.command;
  // The first 512 bytes of flash are the boot ROM's while the boot loader runs.
  ASSERT_TRUE(
      session.WriteRam(0x10000200, std::vector<uint8_t>(image.begin(), image.begin() + 512)));
  EXPECT_EQ(session.Command("M 0 268435968 512"), "10");
}

TEST(BootLoader, SwitchesItsRateAfterTheZeroReply) {
  SimulatedChip chip;
  test::IspSession session(chip);
  ASSERT_TRUE(session.ready);
  EXPECT_EQ(session.Command("B 115200 1"), "0");
  EXPECT_EQ(chip.loader.baudRate(), 115200u);
  ASSERT_TRUE(session.link.ApplyBaudRate(115200));
  EXPECT_EQ(session.Command("J"), "0");
  EXPECT_EQ(session.Receive(), "172003371");
}

TEST(BootLoader, StartsAValidProgramUnlessTheIspPinIsHeld) {
  SimulatedChip chip;
  std::vector<uint8_t> vectors(32, 0);
  vectors[0] = 0x01;
  vectors[28] = 0xFF, vectors[29] = 0xFF, vectors[30] = 0xFF, vectors[31] = 0xFF;  // sum is 0
  ASSERT_TRUE(sim::BootLoader::HasValidUserCode(vectors.data(), vectors.size()));
  std::copy(vectors.begin(), vectors.end(), chip.loader.flash().begin());
  chip.loader.SetReset(true);
  chip.loader.SetReset(false);
  EXPECT_EQ(chip.loader.mode(), sim::BootLoader::Mode::UserProgram);
  chip.loader.SetIspPin(true);
  chip.loader.SetReset(true);
  chip.loader.SetReset(false);
  EXPECT_EQ(chip.loader.mode(), sim::BootLoader::Mode::AwaitSync);
}

// With echo on, each byte goes back as it arrives, not after the whole line: a host
// that waits for the echo of a byte waits one byte's time, not a line's.
TEST(BootLoader, EchoesEachByteAsItArrives) {
  using sim::ByteTime;
  using sim::Milliseconds;
  using sim::Nanoseconds;
  sim::VirtualClock clock;
  sim::BootLoader loader(clock);
  loader.SetIspPin(true);
  loader.SetReset(true);
  loader.SetReset(false);
  const Nanoseconds byte = ByteTime(9600);
  Nanoseconds at = Milliseconds(10);
  const auto send = [&](const std::string& text) {
    for (const char c : text) loader.Receive(static_cast<uint8_t>(c), 9600, at += byte);
  };
  send("?");
  send("Synchronized\r\n");
  send("12000\r\n");
  at = std::max(at, loader.output().back().at);  // once the answers have gone out
  loader.output().clear();
  send("J");
  const Nanoseconds jArrived = at;
  ASSERT_EQ(loader.output().size(), 1u) << "the J's echo, before its line ends";
  EXPECT_EQ(loader.output().front().value, 'J');
  EXPECT_LE(loader.output().front().at, jArrived + byte);
  send("\r\n");
  std::string out;
  for (const auto& timed : loader.output()) out += static_cast<char>(timed.value);
  EXPECT_EQ(out, "J\r\n0\r\n172003371\r\n") << "the echo, then the answer";
}

}  // namespace
}  // namespace korvane
