#include "job/chip_operations.h"

#include <gtest/gtest.h>

#include "isp/image_checks.h"
#include "job/write_bin_file.h"
#include "sim/sim_port.h"
#include "test_support.h"

namespace korvane {
namespace {

// A startable program whose protection word sets the level given.
std::vector<uint8_t> ProtectedImage(uint32_t word) {
  std::vector<uint8_t> image = test::MakeStartableImage(1024, 5);
  for (uint32_t i = 0; i < 4; ++i) image[kCrpOffset + i] = static_cast<uint8_t>(word >> (8 * i));
  return image;
}
// Each operation as korvane-cli runs it: a session opened, the operation, its end.
JobResult Info(const PortOpener& open, ChipInfo* info, const SessionSettings& settings = {}) {
  return RunOnChip(open, settings, {}, [&](ChipSession& s) { return ReadChipInfo(s, info); });
}
JobResult Erase(const PortOpener& open, const SessionSettings& settings = {}) {
  return RunOnChip(open, settings, {}, [](ChipSession& s) { return EraseWholeFlash(s); });
}
JobResult Read(const PortOpener& open, uint32_t address, uint32_t length, std::vector<uint8_t>* out,
               const ProgressCallback& progress = nullptr) {
  SessionObserver observer;
  observer.progress = progress;
  return RunOnChip(open, {}, observer,
                   [&](ChipSession& s) { return ReadFlash(s, address, length, out); });
}
constexpr uint32_t kCrp1 = 0x12345678, kCrp2 = 0x87654321, kCrp3 = 0x43218765;

// The boot loader's commands under each level, as the user manual's table gives them:
// CRP1 refuses reading, comparing, blank checks and Go, RAM below 0x10000300, copies into
// sector 0 and erasing sector 0 without the rest; CRP2 takes only U, A, B, P, J, K, N and
// the erase of every sector.
TEST(CodeReadProtection, TheBootLoaderRefusesWhatTheLevelForbids) {
  struct Case {
    uint32_t word;
    std::vector<std::string> before;  // prepared first, as a write would
    std::string command;
    std::string answer;
  } const cases[] = {
      {0, {}, "R 512 4", "0"},
      {kCrp1, {}, "R 512 4", "19"},
      {kCrp1, {}, "M 512 268436224 4", "19"},
      {kCrp1, {}, "I 1 1", "19"},
      {kCrp1, {}, "G 0 T", "19"},
      {kCrp1, {}, "W 268435456 4", "19"},
      {kCrp1, {}, "W 268436224 4", "0"},
      {kCrp1, {"P 0 1"}, "C 0 268436224 256", "19"},
      {kCrp1, {"P 0 1"}, "C 4096 268436224 256", "0"},
      {kCrp1, {"P 0 7"}, "E 0 0", "19"},
      {kCrp1, {"P 0 7"}, "E 1 7", "0"},
      {kCrp1, {"P 0 7"}, "E 0 7", "0"},
      {kCrp2, {}, "J", "0"},
      {kCrp2, {}, "K", "0"},
      {kCrp2, {}, "W 268436224 4", "19"},
      {kCrp2, {"P 0 7"}, "E 1 7", "19"},
      {kCrp2, {"P 0 7"}, "E 0 7", "0"},
  };
  for (const Case& c : cases) {
    sim::ChipConfig config;
    config.flash = c.word ? ProtectedImage(c.word) : test::MakeStartableImage(1024);
    sim::SimulatedChip chip(config);
    test::IspSession session(chip);
    ASSERT_TRUE(session.ready) << c.command;
    ASSERT_EQ(session.Command("U 23130"), "0");
    for (const std::string& line : c.before) ASSERT_EQ(session.Command(line), "0") << line;
    EXPECT_EQ(session.Command(c.command), c.answer) << std::hex << c.word << " " << c.command;
  }
}

TEST(CodeReadProtection, Crp3KeepsThePinFromBeingSampled) {
  sim::ChipConfig config;
  config.flash = ProtectedImage(kCrp3);
  sim::SimulatedChip chip(config);
  const JobResult result = WriteImage(test::MakeStartableImage(100), PlanWrite(100), chip.Opener());
  EXPECT_EQ(result.outcome, JobOutcome::IspEntryFailed) << "the program runs whatever the pin says";
}

// A chip under CRP1 refuses the write; --erase-all FILE erases it whole, resets it (it
// reads its level at reset) and writes FILE.
TEST(CodeReadProtection, EraseAllThenWriteRewritesAProtectedChip) {
  for (const uint32_t word : {kCrp1, kCrp2}) {
    sim::ChipConfig config;
    config.flash = ProtectedImage(word);
    sim::SimulatedChip chip(config);
    const std::vector<uint8_t> image = test::MakeStartableImage(5000, 8);
    JobResult refused = WriteImage(image, PlanWrite(5000), chip.Opener());
    EXPECT_EQ(refused.outcome, JobOutcome::EraseFailed) << std::hex << word;
    EXPECT_EQ(refused.isp.code, kCodeReadProtectionEnabled);

    JobOptions eraseFirst;
    eraseFirst.write.eraseAllFirst = true;
    ASSERT_TRUE(WriteImage(image, PlanWrite(5000), chip.Opener(), eraseFirst).Succeeded()) << word;
    EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.loader.flash().begin()));
    EXPECT_TRUE(std::all_of(chip.loader.flash().begin() + 5000, chip.loader.flash().end(),
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(chip.loader.crpLevel(), CrpLevel::None);
    EXPECT_EQ(chip.loader.mode(), sim::BootLoader::Mode::UserProgram);
  }
}

TEST(ChipOperations, InfoTellsThePartTheSectorsAndTheProtection) {
  sim::ChipConfig config;
  config.flash = test::MakeStartableImage(5000, 2);
  sim::SimulatedChip chip(config);
  ChipInfo info;
  ASSERT_TRUE(Info(chip.Opener(), &info).Succeeded());
  EXPECT_EQ(info.partId, 0x0A40902Bu);
  EXPECT_EQ(info.bootCodeMajor, 7u);
  EXPECT_EQ(info.bootCodeMinor, 1u);
  ASSERT_TRUE(info.uid);
  EXPECT_EQ((*info.uid)[0], 0x0A1B2C3Du);
  const std::vector<std::optional<bool>> blank = {false, false, true, true, true, true, true, true};
  EXPECT_EQ(info.sectorBlank, blank);
  EXPECT_FALSE(info.readProtected);
  EXPECT_EQ(chip.loader.mode(), sim::BootLoader::Mode::UserProgram)
      << "reset into the program after";
  EXPECT_TRUE(std::all_of(chip.loader.flash().begin() + 5000, chip.loader.flash().end(),
                          [](uint8_t b) { return b == 0xFF; }))
      << "nothing written";

  sim::ChipConfig locked;
  locked.flash = ProtectedImage(kCrp1);
  sim::SimulatedChip chip1(locked);
  ASSERT_TRUE(Info(chip1.Opener(), &info).Succeeded());
  EXPECT_TRUE(info.readProtected);
  EXPECT_EQ(info.sectorBlank, std::vector<std::optional<bool>>(8));
}

TEST(ChipOperations, ReadGivesTheFlashAndEraseAllClearsIt) {
  sim::ChipConfig config;
  const std::vector<uint8_t> image = test::MakeStartableImage(9000, 4);
  config.flash = image;
  sim::SimulatedChip chip(config);
  std::vector<uint8_t> read;
  int progressCalls = 0;
  ASSERT_TRUE(Read(chip.Opener(), 514, 8000, &read, [&](int32_t) { ++progressCalls; }).Succeeded());
  EXPECT_EQ(read, std::vector<uint8_t>(image.begin() + 514, image.begin() + 514 + 8000));
  EXPECT_EQ(progressCalls, 9) << "512 to 1023, then a call per 1024 bytes";

  ASSERT_TRUE(Erase(chip.Opener()).Succeeded());
  EXPECT_TRUE(std::all_of(chip.loader.flash().begin(), chip.loader.flash().end(),
                          [](uint8_t b) { return b == 0xFF; }));

  sim::ChipConfig locked;
  locked.flash = ProtectedImage(kCrp2);
  sim::SimulatedChip chip2(locked);
  const JobResult refused = Read(chip2.Opener(), 512, 4, &read);
  EXPECT_EQ(refused.outcome, JobOutcome::ReadFailed);
  EXPECT_EQ(refused.isp.code, kCodeReadProtectionEnabled);
  EXPECT_EQ(refused.address, 512u);
}

// Under CRP1 and CRP2 the chip refuses G until its next reset, also right after the erase
// that lifted the protection: --info and --erase-all are done all the same, with a note.
TEST(CodeReadProtection, AStartRefusedUnderProtectionEndsInfoAndEraseAsDone) {
  for (const uint32_t word : {kCrp1, kCrp2}) {
    SessionSettings go;
    go.after = AfterWrite::Go;
    sim::ChipConfig config;
    config.flash = ProtectedImage(word);
    sim::SimulatedChip chip(config);
    ChipInfo info;
    const JobResult told = Info(chip.Opener(), &info, go);
    EXPECT_TRUE(told.Succeeded()) << std::hex << word;
    EXPECT_TRUE(told.startRefusedByProtection);
    EXPECT_EQ(info.partId, 0x0A40902Bu) << "what was read is kept";
    EXPECT_TRUE(info.readProtected);

    const JobResult erased = Erase(chip.Opener(), go);
    EXPECT_TRUE(erased.Succeeded()) << std::hex << word;
    EXPECT_TRUE(erased.startRefusedByProtection);
    EXPECT_TRUE(std::all_of(chip.loader.flash().begin(), chip.loader.flash().end(),
                            [](uint8_t b) { return b == 0xFF; }));
  }
  // Without protection G starts the program: no note.
  sim::ChipConfig open;
  open.flash = test::MakeStartableImage(1024);
  sim::SimulatedChip chip(open);
  SessionSettings go;
  go.after = AfterWrite::Go;
  ChipInfo info;
  const JobResult told = Info(chip.Opener(), &info, go);
  EXPECT_TRUE(told.Succeeded());
  EXPECT_FALSE(told.startRefusedByProtection);
}

// --erase-all FILE without lines: after the erase the user must reset the board again.
// The job says so (ResetAgain) and, when no boot loader answers then, that the flash was
// erased all the same.
TEST(CodeReadProtection, EraseAllWithoutLinesAsksForTheSecondResetAndTellsTheErase) {
  sim::ChipConfig config;
  config.flash = ProtectedImage(kCrp1);
  config.wiring = ResetWiring::None;
  sim::SimulatedChip chip(config);
  JobOptions options;
  options.write.eraseAllFirst = true;
  options.session.wiring = ResetWiring::None;
  options.session.after = AfterWrite::Go;
  std::vector<JobPhase> phases;
  options.observer.step = [&](const JobStep& step) { phases.push_back(step.phase); };
  const std::vector<uint8_t> image = test::MakeStartableImage(2000, 3);
  const JobResult result = WriteImage(image, PlanWrite(2000), chip.Opener(), options);
  // Nobody resets this chip by hand: its boot loader does not answer a new handshake.
  EXPECT_EQ(result.outcome, JobOutcome::IspEntryFailed);
  EXPECT_TRUE(result.flashErased);
  const auto again = std::find(phases.begin(), phases.end(), JobPhase::ResetAgain);
  ASSERT_NE(again, phases.end());
  EXPECT_EQ(std::find(phases.begin(), again, JobPhase::Erase) != again, true)
      << "asked for after the erase";
  EXPECT_TRUE(std::all_of(chip.loader.flash().begin(), chip.loader.flash().end(),
                          [](uint8_t b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace korvane
