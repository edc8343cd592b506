// The two process-wide flags that connect the user interface with a running write.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace korvane {

// A write job is running; the write button acts as the abort button.
extern std::atomic<bool> Writing;
// Set by the user to stop a transfer; read between blocks. Safe to set from a signal handler.
extern std::atomic<bool> AbortRequested;

// Told the completed percentage (0 to 99) before each block of a transfer.
using ProgressCallback = std::function<void(int32_t percent)>;

}  // namespace korvane
