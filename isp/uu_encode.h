#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane {

constexpr size_t kMaxUuLineBytes = 45;

// Encodes count (1 to 45) data bytes as one UU-encoded, zero-terminated line:
// a length character, then four characters per group of three bytes (missing bytes
// count as 0, a zero field becomes '`'). The output needs 1 + 4 * ceil(count / 3) + 1 bytes.
void UuEncodeLine(char* out, const uint8_t* data, size_t count);

// Decodes one UU-encoded line (as the boot loader sends it for a read) into out, which
// holds kMaxUuLineBytes; *count receives the number of bytes. False when the length
// character says more than 45 bytes or more than the line holds, or a character is
// outside the encoding's range (0x20 to 0x60).
bool UuDecodeLine(const char* line, uint8_t* out, size_t* count);

}  // namespace korvane
