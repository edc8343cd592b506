#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane {

constexpr size_t kMaxUuLineBytes = 45;

// Encodes count (1 to 45) data bytes as one UU-encoded, zero-terminated line:
// a length character, then four characters per group of three bytes (missing bytes
// count as 0, a zero field becomes '`'). The output needs 1 + 4 * ceil(count / 3) + 1 bytes.
void UuEncodeLine(char* out, const uint8_t* data, size_t count);

}  // namespace korvane
