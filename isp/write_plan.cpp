#include "isp/write_plan.h"

namespace korvane {

namespace {

uint32_t CopySizeFor(uint32_t length) {
  for (uint32_t size : {256u, 512u}) {
    if (length <= size) return size;
  }
  return kBlockSize;
}

}  // namespace

WritePlan PlanWrite(const std::vector<bool>& hasData) {
  WritePlan plan;
  // The whole image: whether it fits the chip's flash is checked once the chip has told
  // its part, never by leaving part of it out here.
  const auto size = static_cast<uint32_t>(hasData.size());
  PlannedBlock first;
  bool firstHasData = false;
  for (uint32_t address = 0; address < size; address += kBlockSize) {
    const uint32_t end = size - address < kBlockSize ? size : address + kBlockSize;
    uint32_t last = end;  // one past the last byte of data in the block
    while (last > address && !hasData[last - 1]) --last;
    if (last == address) continue;
    const PlannedBlock block{address, last - address, CopySizeFor(last - address)};
    if (address == 0) {
      first = block;
      firstHasData = true;
    } else {
      plan.blocks.push_back(block);
    }
    const unsigned sector = address / kSectorSize;
    if (!plan.sectors.empty() && plan.sectors.back().last + 1 >= sector) {
      plan.sectors.back().last = sector;
    } else {
      plan.sectors.push_back({sector, sector});
    }
  }
  if (firstHasData) plan.blocks.push_back(first);
  return plan;
}

WritePlan PlanWrite(uint32_t size) {
  return PlanWrite(std::vector<bool>(size, true));
}

unsigned SectorCount(const WritePlan& plan) {
  unsigned count = 0;
  for (const SectorRun& run : plan.sectors) count += run.last - run.first + 1;
  return count;
}

}  // namespace korvane
