// What a transfer reports as it goes.
#pragma once

#include <cstdint>
#include <functional>

namespace korvane {

// Told the completed percentage (0 to 99) before each block of a transfer.
using ProgressCallback = std::function<void(int32_t percent)>;

}  // namespace korvane
