#include "isp/write_plan.h"

#include <algorithm>
#include <cstddef>

namespace korvane {

namespace {

uint32_t CopySizeFor(uint32_t length, const MemoryMap& map) {
  for (const uint32_t size : map.copySizes) {
    if (length <= size && size <= map.blockSize) return size;
  }
  return map.blockSize;
}

}  // namespace

WritePlan PlanWrite(const std::vector<bool>& hasData, const MemoryMap& map) {
  WritePlan plan;
  // The whole image: whether it fits the chip's flash is checked once the chip has told
  // its part, never by leaving part of it out here.
  const auto size = static_cast<uint32_t>(hasData.size());
  const uint32_t blockSize = map.blockSize;
  PlannedBlock first;
  bool firstHasData = false;
  for (uint32_t address = 0; address < size; address += blockSize) {
    const uint32_t end = size - address < blockSize ? size : address + blockSize;
    uint32_t last = end;  // one past the last byte of data in the block
    while (last > address && !hasData[last - 1]) --last;
    if (last == address) continue;
    const PlannedBlock block{address, last - address, CopySizeFor(last - address, map)};
    if (address == 0) {
      first = block;
      firstHasData = true;
    } else {
      plan.blocks.push_back(block);
    }
    // Beyond the flash, the sectors go on at the last run's size (the image is refused
    // for its size once the chip is known).
    const unsigned sector =
        address < map.flashSize
            ? map.SectorOf(address)
            : map.Sectors() + (address - map.flashSize) / map.SectorSize(map.Sectors() - 1);
    if (!plan.sectors.empty() && plan.sectors.back().last + 1 >= sector) {
      plan.sectors.back().last = sector;
    } else {
      plan.sectors.push_back({sector, sector});
    }
  }
  if (firstHasData) plan.blocks.push_back(first);
  return plan;
}

WritePlan PlanAgain(const WritePlan& plan, const MemoryMap& map) {
  uint32_t end = 0;
  for (const PlannedBlock& block : plan.blocks) end = std::max(end, block.address + block.length);
  std::vector<bool> hasData(end, false);
  for (const PlannedBlock& block : plan.blocks) {
    const auto from = hasData.begin() + static_cast<std::ptrdiff_t>(block.address);
    std::fill(from, from + static_cast<std::ptrdiff_t>(block.length), true);
  }
  return PlanWrite(hasData, map);
}

WritePlan PlanWrite(uint32_t size, const MemoryMap& map) {
  return PlanWrite(std::vector<bool>(size, true), map);
}

unsigned SectorCount(const WritePlan& plan) {
  unsigned count = 0;
  for (const SectorRun& run : plan.sectors) count += run.last - run.first + 1;
  return count;
}

}  // namespace korvane
