#include "isp/program_image.h"

#include <cstring>
#include <vector>

#include "isp/isp_commands.h"

namespace korvane {

namespace {

constexpr uint8_t kErasedByte = 0xFF;

}  // namespace

BlockReader FileBlockReader(std::FILE* file) {
  return [file](uint32_t address, uint8_t* block, uint32_t length) {
    return std::fseek(file, static_cast<long>(address), SEEK_SET) == 0 &&
           std::fread(block, 1, length, file) == length;
  };
}

bool ProgramImage(IspLink& link, const BlockReader& read, const WritePlan& plan,
                  const ProgressCallback& progress, const ProgramOptions& options,
                  ProgramFailure* failure) {
  ProgramFailure ignored;
  ProgramFailure& why = failure ? *failure : ignored;
  const MemoryMap& map = *options.map;
  const uint32_t ramBuffer = map.ramBuffer, bootRomWindow = map.bootRomWindow;
  std::vector<uint8_t> buffer(map.blockSize);
  uint8_t* const block = buffer.data();
  const size_t count = plan.blocks.size();
  for (size_t index = 0; index < count; ++index) {
    if (progress) progress(static_cast<int32_t>(index * 100 / count));
    if (AbortAsked(link.abort)) return false;
    const PlannedBlock& planned = plan.blocks[index];
    why.blockAddress = planned.address;
    if (planned.length > planned.copySize || planned.copySize > map.blockSize ||
        !read(planned.address, block, planned.length)) {
      why.readFailed = true;
      return false;
    }
    // What the copy takes beyond the image's bytes is the erased value, never what the
    // RAM held before.
    std::memset(block + planned.length, kErasedByte, planned.copySize - planned.length);
    const unsigned sector = map.SectorOf(planned.address);
    if (!(why.isp = WriteToRam(link, ramBuffer, block, planned.copySize)) ||
        !(why.isp = PrepareSectors(link, sector, sector))) {
      return false;
    }
    why.isp = CopyRamToFlash(link, planned.address, ramBuffer, planned.copySize);
    // Only a refusal, or a command never sent, leaves the flash surely untouched.
    const bool untouched =
        why.isp.status == IspStatus::Refused || why.isp.status == IspStatus::Aborted;
    if (options.onCopy && !untouched)
      options.onCopy({planned.address, planned.copySize, static_cast<bool>(why.isp)});
    if (!why.isp) return false;
    if (options.verify) {
      // The RAM block arrived under the checksums; the flash below the boot ROM window
      // reads as the boot ROM, so the compare starts above it.
      const uint32_t skip = planned.address < bootRomWindow ? bootRomWindow - planned.address : 0;
      std::optional<uint32_t> mismatch;
      if (planned.copySize > skip) {
        if (options.onCompare) options.onCompare(true);
        why.isp = CompareMemory(link, planned.address + skip, ramBuffer + skip,
                                planned.copySize - skip, &mismatch);
        if (options.onCompare) options.onCompare(false);
        if (!why.isp) {
          if (mismatch) why.mismatchAddress = planned.address + skip + *mismatch;
          return false;
        }
      }
    }
  }
  return true;
}

bool ProgramImage(IspLink& link, std::FILE* file, uint32_t size, const ProgressCallback& progress,
                  const ProgramOptions& options, ProgramFailure* failure) {
  return ProgramImage(link, FileBlockReader(file), PlanWrite(size), progress, options, failure);
}

}  // namespace korvane
