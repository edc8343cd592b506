// SHA-256 of a buffer, for the record of what went into each board.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane {

// The digest as 64 lower-case hex digits.
std::string Sha256Hex(const uint8_t* data, size_t size);

}  // namespace korvane
