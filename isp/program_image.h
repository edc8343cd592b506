// Moves an image into flash, block by block through the chip's RAM, as a write plan
// lays it out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>

#include "isp/isp_result.h"
#include "common/abort_flag.h"
#include "isp/progress.h"
#include "isp/write_plan.h"
#include "serial/isp_link.h"

namespace korvane {

// The RAM the blocks go through (MemoryMap::ramBuffer).
constexpr uint32_t kRamBufferAddress = kLpc1114Map.ramBuffer;

// While the boot loader runs, the first bytes of flash read as its ROM: no command sees
// what was written there.
constexpr uint32_t kBootRomWindow = kLpc1114Map.bootRomWindow;

// A block's copy into flash as far as the chip told: confirmed (C answered 0), or sent
// without a clear answer (no answer in time, an answer C does not have, a line the port
// could not send whole), after which the block may or may not be in flash.
struct FlashCopy {
  uint32_t address = 0;
  uint32_t size = 0;  // the copy's size: what the flash holds from address on
  bool confirmed = false;
  bool operator==(const FlashCopy& other) const {
    return address == other.address && size == other.size && confirmed == other.confirmed;
  }
};

struct ProgramOptions {
  // The chip's memory: where the blocks go through its RAM, its sectors, its boot ROM.
  const MemoryMap* map = &kLpc1114Map;
  // Compares each block in flash with the RAM it was copied from (which arrived under
  // the checksums), right after the copy; from kBootRomWindow up.
  bool verify = false;
  // Told when each compare begins (true) and ends (false), to time the verify apart from
  // the copies.
  std::function<void(bool comparing)> onCompare;
  // Told of each copy that reached or may have reached the flash; a copy the boot loader
  // refused, or one never sent, is not told.
  std::function<void(const FlashCopy& copy)> onCopy;
};

// Gives the image's length bytes at address into block; false when it cannot.
using BlockReader = std::function<bool(uint32_t address, uint8_t* block, uint32_t length)>;

// Why a transfer stopped short, for its message.
struct ProgramFailure {
  IspResult isp;                            // the exchange that failed, if one did
  uint32_t blockAddress = 0;                // the flash address of the block it stopped at
  std::optional<uint32_t> mismatchAddress;  // a verify: the first flash address that differs
  bool readFailed = false;                  // the block could not be read
};

// Reads the blocks from an open file, at their addresses.
BlockReader FileBlockReader(std::FILE* file);

// The link runs at the final rate with echo off, flash unlocked and the plan's sectors
// erased. Sends the plan's blocks in its order: before each, progress gets the share of
// blocks done (0 to 99) and the transfer stops there, failing, when the link's abort is
// set. Each block is sent filled up with 0xFF to its copy size, prepared and copied.
// A verify that found flash unequal to the block fails the transfer. *failure (when
// given) tells where and why a transfer stopped short.
bool ProgramImage(IspLink& link, const BlockReader& read, const WritePlan& plan,
                  const ProgressCallback& progress, const ProgramOptions& options = {},
                  ProgramFailure* failure = nullptr);

// A raw image of size bytes (1 to 32768) from an open file.
bool ProgramImage(IspLink& link, std::FILE* file, uint32_t size, const ProgressCallback& progress,
                  const ProgramOptions& options = {}, ProgramFailure* failure = nullptr);

}  // namespace korvane
