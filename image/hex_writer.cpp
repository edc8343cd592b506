#include "image/hex_writer.h"

#include <cstdio>
#include <vector>

namespace korvane {

namespace {

std::string Record(uint8_t type, uint16_t address, const uint8_t* data, size_t count) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(count), static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address & 0xFF), type};
  bytes.insert(bytes.end(), data, data + count);
  uint8_t sum = 0;
  for (const uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
  bytes.push_back(static_cast<uint8_t>(0x100 - sum));
  std::string line = ":";
  char hex[3];
  for (const uint8_t byte : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", byte);
    line += hex;
  }
  return line + "\r\n";
}

}  // namespace

std::string ToIntelHex(const uint8_t* data, size_t size, uint32_t address) {
  std::string text;
  uint32_t upper = 0;
  for (size_t offset = 0; offset < size;) {
    const uint32_t at = address + static_cast<uint32_t>(offset);
    if ((at >> 16) != upper) {
      upper = at >> 16;
      const uint8_t bytes[2] = {static_cast<uint8_t>(upper >> 8),
                                static_cast<uint8_t>(upper & 0xFF)};
      text += Record(0x04, 0, bytes, 2);
    }
    // A record stays within its 64 KiB segment.
    size_t count = size - offset < 16 ? size - offset : 16;
    const uint32_t toSegmentEnd = 0x10000u - (at & 0xFFFFu);
    if (count > toSegmentEnd) count = toSegmentEnd;
    text += Record(0x00, static_cast<uint16_t>(at & 0xFFFF), data + offset, count);
    offset += count;
  }
  return text + Record(0x01, 0, nullptr, 0);
}

}  // namespace korvane
