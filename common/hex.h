// Numbers as Korvane shows addresses and IDs.
#pragma once

#include <cstdint>
#include <string>

namespace korvane {

// An address or a part ID: "0x000004A0"; with fewer digits ("0x04A0" for 4), 0: as many
// as the value needs ("0x4A0").
std::string Hex(uint32_t value, int digits = 8);

}  // namespace korvane
