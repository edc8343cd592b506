#include "cli/sim_report.h"

#include <algorithm>
#include <optional>

#include "cli/cli_app.h"
#include "cli/cli_support.h"
#include "isp/image_checks.h"

namespace korvane::cli {

// The first address where a simulated chip's flash differs from what the write must
// leave there, if any.
std::optional<size_t> FlashDifference(const sim::SimulatedChip& chip,
                                      const std::vector<uint8_t>& before, const Input& input) {
  const std::vector<uint8_t> expected = FlashAfter(before, input);
  const auto& flash = chip.loader.flash();
  const auto differs = std::mismatch(expected.begin(), expected.end(), flash.begin());
  if (differs.first == expected.end()) return std::nullopt;
  return static_cast<size_t>(differs.first - expected.begin());
}

std::vector<uint8_t> FlashOf(const sim::SimulatedChip& chip) {
  return std::vector<uint8_t>(chip.loader.flash().begin(), chip.loader.flash().end());
}

// Compares the simulated flash with what the write must leave (the image's data, 0xFF
// elsewhere in the erased sectors, the rest untouched) and tells the modelled time.
int ReportSimulatedChip(const sim::SimulatedChip& chip, const std::vector<uint8_t>& before,
                        const Input& input, sim::Nanoseconds modelled, uint32_t transferBaud,
                        AfterWrite after, Console& console) {
  if (const std::optional<size_t> at = FlashDifference(chip, before, input)) {
    console.Err("korvane-cli: simulated chip: flash differs from the image at offset " +
                std::to_string(*at) + "\n");
    return kFailed;
  }
  const auto& flash = chip.loader.flash();
  if (chip.loader.bootLoaderRamWrites() > 0) {
    console.Err("korvane-cli: simulated chip: the write went into the boot loader's own RAM\n");
    return kFailed;
  }
  const size_t bytes = DataBytes(input);
  console.Out(
      "simulated chip: flash read back equals the image (" + std::to_string(bytes) +
      (bytes == 1 ? " byte" : " bytes") +
      "; every other byte of the erased sectors is 0xFF); on a real chip this write takes " +
      Format("%.2f", static_cast<double>(modelled) / 1e9) + " s at " +
      std::to_string(kHandshakeBaud) + "/" + std::to_string(transferBaud) + " baud\n");
  const CrpLevel crp = CrpLevelOf(flash.data(), flash.size());
  if (crp != CrpLevel::None) {
    console.Out(std::string("simulated chip: its flash now sets code read protection ") +
                CrpName(crp) + ": " + CrpEffect(crp) + "\n");
  }
  if (chip.loader.mode() == sim::BootLoader::Mode::UserProgram) {
    console.Out("simulated chip: reset into the new program\n");
  } else if (after == AfterWrite::Stay) {
    console.Out("simulated chip: left in its boot loader, as --after stay asks\n");
  } else {
    // The boot ROM starts only a program whose first eight vectors add up to 0.
    console.Out(
        "simulated chip: reset, but stayed in its boot loader: the flash's first eight words (the "
        "vector table) do not add up to 0, so a real chip would not start it either\n");
  }
  return kSuccess;
}

}  // namespace korvane::cli
