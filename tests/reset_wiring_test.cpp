#include <gtest/gtest.h>

#include "isp/isp_commands.h"
#include "job/write_bin_file.h"
#include "serial/reset_sequence.h"
#include "sim/sim_port.h"
#include "test_support.h"

namespace korvane {
namespace {

constexpr ResetWiring kLineWirings[] = {ResetWiring::Default, ResetWiring::Swapped,
                                        ResetWiring::Inverted, ResetWiring::SwappedInverted};

// A board whose chip runs a program already: a reset that does not reach its boot
// loader leaves the program running, and nothing answers "?".
sim::ChipConfig BoardWith(ResetWiring wiring) {
  sim::ChipConfig config;
  config.wiring = wiring;
  config.flash = test::MakeStartableImage(2048, 7);
  return config;
}

// Each wiring writes a board wired so, and fails on every other one as a real board
// would: no answer to the handshake after five attempts, the flash untouched.
TEST(ResetWiring, OnlyTheBoardsOwnWiringReachesItsBootLoader) {
  const std::vector<uint8_t> image = test::MakeStartableImage(3000, 9);
  for (const ResetWiring board : kLineWirings) {
    for (const ResetWiring host : kLineWirings) {
      sim::SimulatedChip chip(BoardWith(board));
      const std::vector<uint8_t> before(chip.loader.flash().begin(), chip.loader.flash().end());
      JobOptions options;
      options.session.wiring = host;
      const JobResult result = WriteImage(image, PlanWrite(3000), chip.Opener(), options);
      const std::string name =
          std::string(ResetWiringName(host)) + " on a " + ResetWiringName(board) + " board";
      if (board == host) {
        EXPECT_TRUE(result.Succeeded()) << name;
        EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.loader.flash().begin())) << name;
        EXPECT_EQ(chip.loader.mode(), sim::BootLoader::Mode::UserProgram)
            << name << ": reset into the program";
      } else {
        EXPECT_EQ(result.outcome, JobOutcome::IspEntryFailed) << name;
        EXPECT_EQ(result.attempts, kHandshakeAttempts) << name;
        EXPECT_TRUE(std::equal(before.begin(), before.end(), chip.loader.flash().begin())) << name;
      }
    }
  }
}

// What is left running after the write: the program through a reset or through G 0 T,
// or the boot loader. Without lines (--reset none), the chip waits in its boot loader
// from the start, and the lines move nothing.
TEST(ResetWiring, AfterTheWriteTheChipRunsWhatWasAskedFor) {
  const std::vector<uint8_t> image = test::MakeStartableImage(1500, 3);
  struct Case {
    ResetWiring wiring;
    AfterWrite after;
    sim::BootLoader::Mode mode;
    int resets;  // of the chip's reset pin
  } const cases[] = {
      {ResetWiring::Default, AfterWrite::Reset, sim::BootLoader::Mode::UserProgram, 2},
      {ResetWiring::Default, AfterWrite::Go, sim::BootLoader::Mode::UserProgram, 1},
      {ResetWiring::Default, AfterWrite::Stay, sim::BootLoader::Mode::Command, 1},
      {ResetWiring::None, AfterWrite::Go, sim::BootLoader::Mode::UserProgram, 0},
      {ResetWiring::None, AfterWrite::Stay, sim::BootLoader::Mode::Command, 0},
  };
  for (const Case& c : cases) {
    sim::ChipConfig config;
    config.wiring = c.wiring;
    sim::SimulatedChip chip(config);
    JobOptions options;
    options.session.wiring = c.wiring;
    options.session.after = c.after;
    const JobResult result = WriteImage(image, PlanWrite(1500), chip.Opener(), options);
    const std::string name =
        std::string(ResetWiringName(c.wiring)) + "/" + std::to_string(static_cast<int>(c.after));
    ASSERT_TRUE(result.Succeeded()) << name;
    EXPECT_EQ(chip.loader.mode(), c.mode) << name;
    EXPECT_EQ(chip.loader.resets(), c.resets) << name;
    if (c.wiring == ResetWiring::None) {
      EXPECT_TRUE(chip.EventsOf(sim::PortEvent::Kind::Line).empty()) << name << ": no line moved";
    }
  }
}

// Boards whose reset supervisor needs longer: the reset held and the ISP pin kept as
// long as the session's timing says, in the virtual time of the simulated chip, which
// still enters its boot loader.
TEST(ResetWiring, TheResetAndTheIspPinTakeTheTimesGiven) {
  sim::SimulatedChip chip;
  JobOptions options;
  options.session.timing = {200, 300};
  ASSERT_TRUE(WriteImage(test::MakeStartableImage(100), PlanWrite(100), chip.Opener(), options)
                  .Succeeded());
  const auto lines = chip.EventsOf(sim::PortEvent::Kind::Line);
  ASSERT_GE(lines.size(), 4u);
  // Into the boot loader: RTS on, DTR on, DTR off 200 ms later, RTS off 300 ms after that.
  EXPECT_EQ(lines[2].at - lines[1].at, sim::Milliseconds(200));
  EXPECT_EQ(lines[3].at - lines[2].at, sim::Milliseconds(300));
  EXPECT_EQ(chip.loader.mode(), sim::BootLoader::Mode::UserProgram);
  const ResetSequence program = IntoProgramSequence({200, 300});
  EXPECT_EQ(program[1].waitAfterMs, 200u) << "the reset into the program is held as long";
}

TEST(ResetWiring, SequencesAsLineChanges) {
  // The default wiring is the window's: RTS and DTR on, DTR off after 50 ms, RTS off
  // after 100 ms more.
  std::vector<LineChange> changes;
  for (const ResetStep& step : IntoBootLoaderSequence()) {
    changes.push_back(*LineChangeFor(step.signal, step.active, ResetWiring::Default));
  }
  EXPECT_EQ(changes, (std::vector<LineChange>{LineChange::SetRts, LineChange::SetDtr,
                                              LineChange::ClearDtr, LineChange::ClearRts}));
  EXPECT_EQ(LineChangeFor(BoardSignal::IspEntry, true, ResetWiring::Swapped), LineChange::SetDtr);
  EXPECT_EQ(LineChangeFor(BoardSignal::Reset, true, ResetWiring::Inverted), LineChange::ClearDtr);
  EXPECT_EQ(LineChangeFor(BoardSignal::Reset, false, ResetWiring::SwappedInverted),
            LineChange::SetRts);
  EXPECT_EQ(LineChangeFor(BoardSignal::Reset, true, ResetWiring::None), std::nullopt);
  EXPECT_EQ(DescribeStep({BoardSignal::Reset, true, 50}, ResetWiring::Inverted),
            "DTR off: reset active, then 50 ms");
  for (const char* name : {"default", "swapped", "inverted", "swapped-inverted", "none"}) {
    ASSERT_TRUE(ResetWiringNamed(name)) << name;
    EXPECT_STREQ(ResetWiringName(*ResetWiringNamed(name)), name);
  }
  EXPECT_FALSE(ResetWiringNamed("rts-dtr"));
}

}  // namespace
}  // namespace korvane
