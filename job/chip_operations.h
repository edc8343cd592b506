// What korvane-cli does with a chip besides writing it: tell what it is, erase it
// whole, read its flash. Each is an operation on an open session (RunOnChip opens and
// finishes it).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "job/outcome.h"
#include "job/chip_session.h"

namespace korvane {

struct ChipInfo {
  uint32_t partId = 0;
  const Part* part = nullptr;                     // the table's row for it
  unsigned bootCodeMajor = 0, bootCodeMinor = 0;  // K's version: major.minor
  std::optional<std::array<uint32_t, 4>> uid;     // N, where the boot code answers it
  std::vector<std::optional<bool>> sectorBlank;   // I per sector; none where refused
  bool readProtected = false;  // the chip refuses to read its flash (code read protection)
};

// --info: part ID, boot code version, unique ID (the session's own where it asked for
// them), each sector blank or not, and whether code read protection blocks reading.
// Writes nothing.
JobResult ReadChipInfo(ChipSession& session, ChipInfo* info);

// --erase-all: every sector prepared and erased at once, which the chip allows under
// every level of code read protection that lets the boot loader run.
JobResult EraseWholeFlash(ChipSession& session);

// --read: length bytes of flash from address (0: up to the end of the chip's flash; the
// range within the flash, from its boot ROM window up) into *out, in blocks, the
// observer's progress before each (0 to 99).
JobResult ReadFlash(ChipSession& session, uint32_t address, uint32_t length,
                    std::vector<uint8_t>* out);

}  // namespace korvane
