// What an image does to the chip beyond its bytes: whether the boot ROM will start it
// (the vector checksum) and whether it locks the chip (code read protection).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/parts.h"

namespace korvane {

// The boot ROM starts a program only when its first eight 32-bit vectors (little-endian)
// add up to 0: entry 7, at offset 0x1C, holds the two's complement of the sum of 0 to 6.
constexpr uint32_t kVectorTableBytes = 32;
constexpr uint32_t kVectorChecksumOffset = 0x1C;

// The value entry 7 must hold for the image's entries 0 to 6; none for an image shorter
// than the eight vectors.
std::optional<uint32_t> VectorChecksumFor(const uint8_t* image, size_t size);
bool HasValidVectorChecksum(const uint8_t* image, size_t size);
// Puts the right entry 7 into a block of the image that starts at offset (only the
// first block holds it); blocks that do not hold the whole table stay as they are.
void FixVectorChecksum(uint32_t offset, uint8_t* block, uint32_t length);

// Code read protection: the 32-bit word at 0x2FC, as the chip maker's user manual gives
// its values.
constexpr uint32_t kCrpOffset = kLpc1114Map.crpAddress;
enum class CrpLevel { None, Crp1, Crp2, Crp3, NoIsp };
CrpLevel CrpLevelOf(const uint8_t* image, size_t size);
// "CRP1", ... and what the level does to the chip, in a sentence.
const char* CrpName(CrpLevel level);
const char* CrpEffect(CrpLevel level);

}  // namespace korvane
