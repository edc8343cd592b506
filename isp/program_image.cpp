#include "isp/program_image.h"

#include <cstring>

#include "isp/isp_commands.h"

namespace korvane {

namespace {

constexpr uint8_t kErasedByte = 0xFF;

}  // namespace

bool ProgramImage(IspLink& link, const BlockReader& read, uint32_t size, const ProgressCallback& progress,
                  const ProgramOptions& options, std::optional<uint32_t>* mismatchAddress) {
  uint8_t block[kBlockSize];
  for (uint32_t offset = 0; offset < size;) {
    if (progress) progress(static_cast<int32_t>(uint64_t{offset} * 100 / size));
    if (AbortRequested) return false;
    const uint32_t length = size - offset < kBlockSize ? size - offset : kBlockSize;
    if (!read(block, length)) return false;
    // The boot loader takes RAM writes in whole words only: the last block is
    // filled up to a multiple of 4 with the erased value.
    const uint32_t sent = (length + 3) & ~uint32_t{3};
    std::memset(block + length, kErasedByte, sent - length);
    const auto sector = static_cast<unsigned>(offset / kSectorSize);
    if (!WriteToRam(link, kRamBufferAddress, block, sent) || !PrepareSectors(link, sector, sector) ||
        !CopyRamToFlash(link, offset, kRamBufferAddress, kBlockSize)) {
      return false;
    }
    if (options.verify) {
      // The RAM block arrived under the checksums; the flash below kBootRomWindow reads
      // as the boot ROM, so the compare starts above it.
      const uint32_t skip = offset < kBootRomWindow ? kBootRomWindow - offset : 0;
      std::optional<uint32_t> mismatch;
      if (sent > skip && !CompareMemory(link, offset + skip, kRamBufferAddress + skip, sent - skip, &mismatch)) {
        if (mismatch && mismatchAddress) *mismatchAddress = offset + skip + *mismatch;
        return false;
      }
    }
    offset += length;
  }
  return true;
}

bool ProgramImage(IspLink& link, std::FILE* file, uint32_t size, const ProgressCallback& progress,
                  const ProgramOptions& options, std::optional<uint32_t>* mismatchAddress) {
  const BlockReader read = [file](uint8_t* block, uint32_t length) {
    return std::fread(block, 1, length, file) == length;
  };
  return ProgramImage(link, read, size, progress, options, mismatchAddress);
}

}  // namespace korvane
