#include "isp/program_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "isp/isp_commands.h"
#include "job/image_file.h"
#include "test_support.h"

namespace korvane {
namespace {

// A chip ready for the transfer: command handler, echo off, unlocked and erased.
struct Transfer : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(session.ready);
    ASSERT_EQ(session.Command("U 23130"), "0");
    ASSERT_EQ(session.Command("P 0 7"), "0");
    ASSERT_EQ(session.Command("E 0 7"), "0");
  }
  bool Program(const std::vector<uint8_t>& image) {
    test::WriteFile(path, image);
    FileHandle file = OpenImageFile(path);
    mark = chip.events.size();
    return ProgramImage(session.link, file.get(), static_cast<uint32_t>(image.size()),
                        [this](int32_t percent) { progress.push_back(percent); });
  }
  std::vector<std::string> Sent() const {
    std::vector<std::string> sent;
    for (const std::string& line : chip.Transcript(mark)) {
      if (line[0] == '>') sent.push_back(line.substr(2, line.size() - 4));
    }
    return sent;
  }

  test::TempDir dir;
  std::string path = dir.File("image.bin");
  sim::SimulatedChip chip;
  test::IspSession session{chip};
  std::vector<int32_t> progress;
  size_t mark = 0;
};

TEST_F(Transfer, AFullBlockTravelsAs23LinesWithTwoChecksums) {
  std::vector<uint8_t> image = test::MakeImage(1024);
  ASSERT_TRUE(Program(image));
  std::vector<std::string> sent = Sent();
  ASSERT_EQ(sent.size(), 1u + 23 + 2 + 2);
  EXPECT_EQ(sent.front(), "W 268436224 1024");
  uint32_t first = 0, second = 0;
  for (size_t i = 0; i < 900; ++i) first += image[i];
  for (size_t i = 900; i < 1024; ++i) second += image[i];
  EXPECT_EQ(sent[21], std::to_string(first)) << "after the 20th line";
  EXPECT_EQ(sent[25], std::to_string(second)) << "after the 23rd line";
  EXPECT_EQ(sent[24][0], static_cast<char>(34 + 0x20)) << "the last line holds 34 bytes";
  EXPECT_EQ(sent[26], "P 0 0");
  EXPECT_EQ(sent[27], "C 0 268436224 1024");
  EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.loader.flash().begin()));
}

TEST_F(Transfer, ThirtyTwoBlocksPrepareEachSectorBeforeEachCopy) {
  ASSERT_TRUE(Program(test::MakeImage(32768)));
  std::map<std::string, int> prepares;
  std::vector<std::string> copies;
  for (const std::string& line : Sent()) {
    if (line[0] == 'P') ++prepares[line];
    if (line[0] == 'C') copies.push_back(line);
  }
  ASSERT_EQ(prepares.size(), 8u);
  for (int sector = 0; sector < 8; ++sector) {
    std::string s = std::to_string(sector);
    EXPECT_EQ(prepares["P " + s + " " + s], 4) << sector;
  }
  ASSERT_EQ(copies.size(), 32u);
  EXPECT_EQ(copies[0], "C 1024 268436224 1024");
  EXPECT_EQ(copies[30], "C 31744 268436224 1024");
  EXPECT_EQ(copies[31], "C 0 268436224 1024") << "the vector table's block goes last";
  EXPECT_EQ(progress.size(), 32u);
}

TEST_F(Transfer, WhatTheRamHeldNeverReachesTheFlash) {
  // Leftovers in the RAM buffer, as an earlier write leaves them (RAM survives a reset).
  ASSERT_TRUE(session.WriteRam(kRamBufferAddress, std::vector<uint8_t>(1024, 0x00)));
  std::vector<uint8_t> image = test::MakeImage(1030);
  ASSERT_TRUE(Program(image));
  const auto& flash = chip.loader.flash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  EXPECT_TRUE(std::all_of(flash.begin() + 1030, flash.end(), [](uint8_t b) { return b == 0xFF; }));
  std::vector<std::string> writes;
  for (const std::string& line : Sent()) {
    if (line[0] == 'W' || line[0] == 'C') writes.push_back(line);
  }
  // The 6 bytes of the block at 1024 go in the smallest copy, filled up with 0xFF.
  EXPECT_EQ(writes, (std::vector<std::string>{"W 268436224 256", "C 1024 268436224 256",
                                              "W 268436224 1024", "C 0 268436224 1024"}));
  EXPECT_EQ(chip.loader.bootLoaderRamWrites(), 0);
}

TEST_F(Transfer, AFileShorterThanItsSizeFailsAtTheShortBlock) {
  test::WriteFile(path, test::MakeImage(1500));
  FileHandle file = OpenImageFile(path);
  EXPECT_FALSE(ProgramImage(session.link, file.get(), 2048, nullptr));
  EXPECT_EQ(chip.loader.flash()[1024], 0xFF) << "the short block was not written";
  EXPECT_EQ(chip.loader.flash()[0], 0xFF) << "nor, after it, block 0";
}

}  // namespace
}  // namespace korvane
