#include "cli/progress_bar.h"

#include <algorithm>
#include <cstdio>

namespace korvane::cli {

namespace {
constexpr int kBarWidth = 30;
}

std::string RenderProgressBar(int percent, int blocksDone, int blocksAll, double seconds) {
  percent = std::clamp(percent, 0, 100);
  int filled = percent * kBarWidth / 100;
  std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                    std::string(static_cast<size_t>(kBarWidth - filled), '-') + "]";
  char tail[96];
  std::snprintf(tail, sizeof tail, " %3d%%  %d/%d blocks  %.1f s", percent, blocksDone, blocksAll,
                seconds);
  return bar + tail;
}

size_t TerminalColumns(const std::string& text) {
  size_t columns = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
    columns += byte >= 0xE0 ? 2 : 1;
  }
  return columns;
}

}  // namespace korvane::cli
