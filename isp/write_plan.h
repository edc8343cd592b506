// What a write does to the chip, worked out once from the image before the port is
// opened: the sectors to prepare and erase, and the blocks to send, in the order they
// are sent. Plain portable code.
#pragma once

#include <cstdint>
#include <vector>

#include "common/parts.h"

namespace korvane {

// The LPC1114FN28/102's, which the window writes (and the largest block of any part).
constexpr uint32_t kBlockSize = kLpc1114Map.blockSize;
constexpr uint32_t kSectorSize = kLpc1114Map.SectorSize(0);
constexpr uint32_t kMaxImageSize = kLpc1114Map.flashSize;
constexpr unsigned kSectorCount = kLpc1114Map.Sectors();

// Sectors first to last, prepared and erased with one P and one E.
struct SectorRun {
  unsigned first = 0;
  unsigned last = 0;
  bool operator==(const SectorRun& other) const {
    return first == other.first && last == other.last;
  }
};

// One block of the image: the bytes from address up to its last byte of data, sent
// filled up with 0xFF to copySize (the smallest of the map's copy sizes that holds them,
// at most its block size) and copied into flash with that size.
struct PlannedBlock {
  uint32_t address = 0;  // a multiple of the block size
  uint32_t length = 0;   // the image's bytes in it, up to its last byte of data
  uint32_t copySize = 0;
  bool operator==(const PlannedBlock& other) const {
    return address == other.address && length == other.length && copySize == other.copySize;
  }
};

struct WritePlan {
  std::vector<SectorRun> sectors;    // ascending
  std::vector<PlannedBlock> blocks;  // ascending, but the block at address 0 last
  bool Empty() const { return blocks.empty(); }
};

// The plan for an image from address 0 whose byte i holds data where hasData[i]
// (hasData.size() is the image's size; whether it fits the chip's flash is the caller's
// to check):
// - only the sectors that hold data are erased, each contiguous run as one P and E;
// - only the 1024-byte blocks that hold data are sent, each up to its last byte of data
//   (what follows it in the copy is 0xFF, never what the chip's RAM held);
// - the block at address 0, with the vector table, goes last: a write that stops early
//   leaves sector 0 erased, so the chip stays in its boot loader instead of starting
//   half a program.
// The blocks and sectors are the map's: its block size and copy sizes, its sector runs.
WritePlan PlanWrite(const std::vector<bool>& hasData, const MemoryMap& map = kLpc1114Map);
// A raw image of size bytes: every byte is data, so sectors 0 to the last it covers.
WritePlan PlanWrite(uint32_t size, const MemoryMap& map = kLpc1114Map);
// The same bytes (those of plan's blocks) planned for another map: the chip's, once it
// has told its part.
WritePlan PlanAgain(const WritePlan& plan, const MemoryMap& map);

// How many sectors the plan erases.
unsigned SectorCount(const WritePlan& plan);

}  // namespace korvane
