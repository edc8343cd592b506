#include "cli/simulated_board.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "cli/cli_app.h"
#include "cli/cli_support.h"
#include "isp/image_checks.h"
#include "sim/sim_port.h"

namespace korvane::cli {

namespace {

class SimulatedBoard final : public BoardPort {
 public:
  SimulatedBoard(const Part& part, uint32_t number) : part_(part), chip_(Config(part, number)) {}

  std::unique_ptr<ComPort> Open() override { return chip_.OpenPort(); }
  std::string Device() const override { return "sim"; }
  const Part* KnownPart() const override { return &part_; }

  void BeginWrite() override {
    before_.assign(chip_.loader.flash().begin(), chip_.loader.flash().end());
    start_ = chip_.clock.Now();
  }

  // Compared with what the write must leave: the image's data, 0xFF elsewhere in the
  // erased sectors, every other byte as it was.
  std::optional<size_t> FlashDifference(const Input& input) const override {
    const std::vector<uint8_t> expected = FlashAfter(before_, input);
    const auto& flash = chip_.loader.flash();
    const auto differs = std::mismatch(expected.begin(), expected.end(), flash.begin());
    if (differs.first == expected.end()) return std::nullopt;
    return static_cast<size_t>(differs.first - expected.begin());
  }

  int TellWrite(const Input& input, const SessionSettings& settings, Console& console) override {
    if (const std::optional<size_t> at = FlashDifference(input)) {
      console.Err("korvane-cli: simulated chip: flash differs from the image at offset " +
                  std::to_string(*at) + "\n");
      return kFailed;
    }
    const auto& flash = chip_.loader.flash();
    if (chip_.loader.bootLoaderRamWrites() > 0) {
      console.Err("korvane-cli: simulated chip: the write went into the boot loader's own RAM\n");
      return kFailed;
    }
    const size_t bytes = DataBytes(input);
    const double modelled = static_cast<double>(chip_.clock.Now() - start_) / 1e9;
    console.Out(
        "simulated chip: flash read back equals the image (" + std::to_string(bytes) +
        (bytes == 1 ? " byte" : " bytes") +
        "; every other byte of the erased sectors is 0xFF); on a real chip this write takes " +
        Format("%.2f", modelled) + " s at " + std::to_string(kHandshakeBaud) + "/" +
        std::to_string(settings.transferBaud) + " baud\n");
    const CrpLevel crp = CrpLevelOf(flash.data(), flash.size());
    if (crp != CrpLevel::None) {
      console.Out(std::string("simulated chip: its flash now sets code read protection ") +
                  CrpName(crp) + ": " + CrpEffect(crp) + "\n");
    }
    if (chip_.loader.mode() == sim::BootLoader::Mode::UserProgram) {
      console.Out("simulated chip: reset into the new program\n");
    } else if (settings.after == AfterWrite::Stay) {
      console.Out("simulated chip: left in its boot loader, as --after stay asks\n");
    } else {
      // The boot ROM starts only a program whose first eight vectors add up to 0.
      console.Out(
          "simulated chip: reset, but stayed in its boot loader: the flash's first eight words "
          "(the vector table) do not add up to 0, so a real chip would not start it either\n");
    }
    return kSuccess;
  }

 private:
  static sim::ChipConfig Config(const Part& part, uint32_t number) {
    sim::ChipConfig config;
    // Each simulated board of a run has a unique ID of its own, as each chip has (the
    // board's number among the ports named): the same board the same one in every run.
    config.uid[3] += number;
    config.programEcho = true;
    config.part = &part;
    config.partId = part.ids[0];
    return config;
  }

  const Part& part_;
  sim::SimulatedChip chip_;
  std::vector<uint8_t> before_;  // the flash when the write began
  sim::Nanoseconds start_ = 0;   // the simulated time then
};

}  // namespace

std::unique_ptr<BoardPort> MakeSimulatedBoard(const Part& part, uint32_t number) {
  return std::make_unique<SimulatedBoard>(part, number);
}

}  // namespace korvane::cli
