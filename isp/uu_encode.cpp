#include "isp/uu_encode.h"

namespace korvane {

namespace {

char EncodeField(uint32_t value) { return value == 0 ? '`' : static_cast<char>(value + 0x20); }

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

}  // namespace korvane
