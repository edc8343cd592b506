// What korvane-cli tells of the simulated chip after a write with -p sim: whether its
// flash holds what the write must leave there, and what a real chip would take.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "cli/console.h"
#include "cli/input.h"
#include "sim/sim_port.h"

namespace korvane::cli {

// The first address where a simulated chip's flash differs from what the write must
// leave there, if any.
std::optional<size_t> FlashDifference(const sim::SimulatedChip& chip,
                                      const std::vector<uint8_t>& before, const Input& input);
std::vector<uint8_t> FlashOf(const sim::SimulatedChip& chip);

// Compares the simulated flash with what the write must leave (the image's data, 0xFF
// elsewhere in the erased sectors, the rest untouched) and tells the modelled time.
int ReportSimulatedChip(const sim::SimulatedChip& chip, const std::vector<uint8_t>& before,
                        const Input& input, sim::Nanoseconds modelled, uint32_t transferBaud,
                        AfterWrite after, Console& console);

}  // namespace korvane::cli
