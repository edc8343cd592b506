// Moves an image from an open file into flash, block by block through the chip's RAM.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>

#include "isp/job_flags.h"
#include "serial/isp_link.h"

namespace korvane {

constexpr uint32_t kBlockSize = 1024;
constexpr uint32_t kSectorSize = 4096;
constexpr uint32_t kMaxImageSize = 32768;
constexpr uint32_t kRamBufferAddress = 0x10000200;

// While the boot loader runs, the first 512 bytes of flash read as its ROM: no command
// sees what was written there.
constexpr uint32_t kBootRomWindow = 512;

struct ProgramOptions {
  // Compares each block in flash with the RAM it was copied from (which arrived under
  // the checksums), right after the copy; from kBootRomWindow up.
  bool verify = false;
};

// The link runs at the final rate with echo off, flash unlocked and erased; the file
// stands at its start and holds size bytes (1 to 32768). Calls progress before each
// block and stops there, failing, when AbortRequested is set.
// A verify that found flash unequal to the block fails the transfer and tells the
// first differing flash address in *mismatchAddress (when given).
bool ProgramImage(IspLink& link, std::FILE* file, uint32_t size, const ProgressCallback& progress,
                  const ProgramOptions& options = {}, std::optional<uint32_t>* mismatchAddress = nullptr);

// Gives the next length bytes of the image, in order, into block; false when it cannot.
using BlockReader = std::function<bool(uint8_t* block, uint32_t length)>;
// The same transfer from any source of the image's bytes (a file, an image in memory).
bool ProgramImage(IspLink& link, const BlockReader& read, uint32_t size, const ProgressCallback& progress,
                  const ProgramOptions& options, std::optional<uint32_t>* mismatchAddress);

}  // namespace korvane
