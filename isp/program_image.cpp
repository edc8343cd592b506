#include "isp/program_image.h"

#include <cstdlib>
#include <cstring>

#include "isp/isp_commands.h"
#include "isp/uu_encode.h"

namespace korvane {

namespace {

constexpr uint8_t kErasedByte = 0xFF;

bool SendChecksum(IspLink& link, uint32_t checksum) {
  char line[100];
  std::snprintf(line, sizeof line, "%u", static_cast<unsigned>(checksum));
  return SendLine(link, line) && ExpectLine(link, "OK");
}

// Sends count bytes as encoded lines, with a checksum line after every 20 lines and
// after the last one.
bool SendEncoded(IspLink& link, const uint8_t* data, uint32_t count) {
  uint32_t checksum = 0;
  int lines = 0;
  uint32_t offset = 0;
  while (offset < count) {
    uint32_t n = count - offset < kMaxUuLineBytes ? count - offset : kMaxUuLineBytes;
    char line[100];
    UuEncodeLine(line, data + offset, n);
    for (uint32_t i = 0; i < n; ++i) checksum += data[offset + i];
    if (!SendLine(link, line)) return false;
    offset += n;
    if (++lines == kLinesPerChecksum || offset == count) {
      if (!SendChecksum(link, checksum)) return false;
      checksum = 0;
      lines = 0;
    }
  }
  return true;
}

}  // namespace

// M: compares count bytes of flash at flashAddress with RAM at ramAddress. "0" is equal;
// COMPARE_ERROR (10) comes with the offset of the first difference.
bool CompareFlashWithRam(IspLink& link, uint32_t flashAddress, uint32_t ramAddress, uint32_t count,
                         std::optional<uint32_t>* mismatchAddress) {
  char line[100];
  std::snprintf(line, sizeof line, "M %u %u %u", static_cast<unsigned>(flashAddress),
                static_cast<unsigned>(ramAddress), static_cast<unsigned>(count));
  if (!SendLine(link, line)) return false;
  if (!ReceiveLine(link, line, sizeof line)) return false;
  if (std::strcmp(line, "0") == 0) return true;
  constexpr char kCompareError[] = "10";
  if (std::strcmp(line, kCompareError) == 0 && ReceiveLine(link, line, sizeof line) && mismatchAddress) {
    char* end = nullptr;
    const unsigned long offset = std::strtoul(line, &end, 10);
    if (end != line && *end == '\0' && offset < count) *mismatchAddress = flashAddress + static_cast<uint32_t>(offset);
  }
  return false;
}

bool ProgramImage(IspLink& link, std::FILE* file, uint32_t size, const ProgressCallback& progress,
                  const ProgramOptions& options, std::optional<uint32_t>* mismatchAddress) {
  const BlockPatch& patch = options.patch;
  uint8_t block[kBlockSize];
  char line[100];
  for (uint32_t offset = 0; offset < size;) {
    if (progress) progress(static_cast<int32_t>(uint64_t{offset} * 100 / size));
    if (AbortRequested) return false;
    uint32_t length = size - offset < kBlockSize ? size - offset : kBlockSize;
    if (std::fread(block, 1, length, file) != length) return false;
    if (patch) patch(offset, block, length);
    // The boot loader takes RAM writes in whole words only: the last block is
    // filled up to a multiple of 4 with the erased value.
    uint32_t sent = (length + 3) & ~uint32_t{3};
    std::memset(block + length, kErasedByte, sent - length);
    std::snprintf(line, sizeof line, "W %u %u", static_cast<unsigned>(kRamBufferAddress),
                  static_cast<unsigned>(sent));
    if (!SendCommand(link, line)) return false;
    if (!SendEncoded(link, block, sent)) return false;
    unsigned sector = static_cast<unsigned>(offset / kSectorSize);
    std::snprintf(line, sizeof line, "P %u %u", sector, sector);
    if (!SendCommand(link, line)) return false;
    std::snprintf(line, sizeof line, "C %u %u %u", static_cast<unsigned>(offset),
                  static_cast<unsigned>(kRamBufferAddress), static_cast<unsigned>(kBlockSize));
    if (!SendCommand(link, line)) return false;
    if (options.verify) {
      const uint32_t skip = offset < kBootRomWindow ? kBootRomWindow - offset : 0;
      if (sent > skip && !CompareFlashWithRam(link, offset + skip, kRamBufferAddress + skip, sent - skip,
                                              mismatchAddress)) {
        return false;
      }
    }
    offset += length;
  }
  return true;
}

}  // namespace korvane
