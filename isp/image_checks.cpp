#include "isp/image_checks.h"

namespace korvane {

namespace {

uint32_t WordAt(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

constexpr uint32_t kCrp1 = 0x12345678;
constexpr uint32_t kCrp2 = 0x87654321;
constexpr uint32_t kCrp3 = 0x43218765;
constexpr uint32_t kNoIsp = 0x4E697370;

}  // namespace

std::optional<uint32_t> VectorChecksumFor(const uint8_t* image, size_t size) {
  if (size < kVectorTableBytes) return std::nullopt;
  uint32_t sum = 0;
  for (uint32_t offset = 0; offset < kVectorChecksumOffset; offset += 4)
    sum += WordAt(image + offset);
  return 0u - sum;
}

bool HasValidVectorChecksum(const uint8_t* image, size_t size) {
  const std::optional<uint32_t> wanted = VectorChecksumFor(image, size);
  return wanted && WordAt(image + kVectorChecksumOffset) == *wanted;
}

void FixVectorChecksum(uint32_t offset, uint8_t* block, uint32_t length) {
  if (offset != 0) return;
  const std::optional<uint32_t> wanted = VectorChecksumFor(block, length);
  if (!wanted) return;
  for (uint32_t i = 0; i < 4; ++i)
    block[kVectorChecksumOffset + i] = static_cast<uint8_t>(*wanted >> (8 * i));
}

CrpLevel CrpLevelOf(const uint8_t* image, size_t size) {
  if (size < kCrpOffset + 4) return CrpLevel::None;
  switch (WordAt(image + kCrpOffset)) {
    case kCrp1:
      return CrpLevel::Crp1;
    case kCrp2:
      return CrpLevel::Crp2;
    case kCrp3:
      return CrpLevel::Crp3;
    case kNoIsp:
      return CrpLevel::NoIsp;
    default:
      return CrpLevel::None;
  }
}

const char* CrpName(CrpLevel level) {
  switch (level) {
    case CrpLevel::Crp1:
      return "CRP1";
    case CrpLevel::Crp2:
      return "CRP2";
    case CrpLevel::Crp3:
      return "CRP3";
    case CrpLevel::NoIsp:
      return "NO_ISP";
    case CrpLevel::None:
      break;
  }
  return "none";
}

const char* CrpEffect(CrpLevel level) {
  switch (level) {
    case CrpLevel::Crp1:
      return "SWD debugging is off, and the boot loader refuses to read memory, to write RAM below "
             "0x10000300 (where each block goes) and to copy to sector 0: the chip cannot be "
             "written "
             "again this way until its whole flash is erased (korvane-cli --erase-all)";
    case CrpLevel::Crp2:
      return "SWD debugging is off, and the boot loader refuses to read memory, write RAM, copy to "
             "flash or run code, and erases only all sectors at once: the chip cannot be written "
             "again this way until its whole flash is erased (korvane-cli --erase-all)";
    case CrpLevel::Crp3:
      return "SWD debugging is off and the ISP entry pin is not sampled while a valid program is "
             "in "
             "flash: neither this tool nor a debugger can ever write the chip again";
    case CrpLevel::NoIsp:
      return "the ISP entry pin (PIO0_1) is not sampled at reset: the UART boot loader cannot be "
             "entered any more, so this tool can never write the chip again";
    case CrpLevel::None:
      break;
  }
  return "";
}

}  // namespace korvane
