#include "isp/uu_encode.h"

namespace korvane {

namespace {

char EncodeField(uint32_t value) {
  return value == 0 ? '`' : static_cast<char>(value + 0x20);
}

}  // namespace

void UuEncodeLine(char* out, const uint8_t* data, size_t count) {
  *out++ = static_cast<char>(count + 0x20);
  for (size_t i = 0; i < count; i += 3) {
    uint32_t group = static_cast<uint32_t>(data[i]) << 16;
    if (i + 1 < count) group |= static_cast<uint32_t>(data[i + 1]) << 8;
    if (i + 2 < count) group |= data[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) *out++ = EncodeField((group >> shift) & 0x3F);
  }
  *out = '\0';
}

bool UuDecodeLine(const char* line, uint8_t* out, size_t* count) {
  const auto field = [](char c, uint32_t* value) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x20 || code > 0x60) return false;
    *value = (code - 0x20u) & 0x3Fu;
    return true;
  };
  uint32_t length = 0;
  if (!field(line[0], &length) || length > kMaxUuLineBytes) return false;
  const char* p = line + 1;
  for (size_t i = 0; i < length; i += 3) {
    uint32_t group = 0;
    for (int k = 0; k < 4; ++k) {
      uint32_t value = 0;
      if (*p == '\0' || !field(*p++, &value)) return false;
      group = (group << 6) | value;
    }
    for (size_t k = 0; k < 3 && i + k < length; ++k)
      out[i + k] = static_cast<uint8_t>(group >> (16 - 8 * k));
  }
  *count = length;
  return true;
}

}  // namespace korvane
