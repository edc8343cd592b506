// Intel HEX text for bytes of the flash, as korvane-cli --read writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane {

// Data records of 16 bytes (fewer at the end) from address, an extended linear address
// record wherever the upper 16 bits change, and the end-of-file record; CR LF line ends.
std::string ToIntelHex(const uint8_t* data, size_t size, uint32_t address);

}  // namespace korvane
