#include "cli/progress_bar.h"

#include <algorithm>
#include <cstdio>

namespace korvane::cli {

namespace {
constexpr int kBarWidth = 30;
constexpr int kNarrowestBar = 10;  // below this the bar says nothing: left out
}  // namespace

std::string RenderProgressBar(int percent, int blocksDone, int blocksAll, double seconds,
                              size_t columns) {
  percent = std::clamp(percent, 0, 100);
  char tail[96];
  std::snprintf(tail, sizeof tail, " %3d%%  %d/%d blocks  %.1f s", percent, blocksDone, blocksAll,
                seconds);
  const std::string text = tail;
  int width = kBarWidth;
  if (columns > 0) {
    // The last column stays free: a terminal that wraps there would scroll at each redraw.
    const auto room = static_cast<int>(columns) - 1 - static_cast<int>(text.size()) - 2;
    width = std::min(kBarWidth, room);
    if (width < kNarrowestBar)
      return FitColumns(text.substr(text.find_first_not_of(' ')), columns - 1);
  }
  const int filled = percent * width / 100;
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(width - filled), '-') + "]" + text;
}

std::string FitColumns(const std::string& text, size_t columns) {
  size_t used = 0;
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    const size_t width = byte >= 0xE0 ? 2 : 1;
    if (used + width > columns) return text.substr(0, i);
    used += width;
    i += length;
  }
  return text;
}

std::string Printable(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    // The length of a well-formed UTF-8 sequence starting here; 0 when there is none.
    size_t length = 0;
    if (byte >= 0x20 && byte < 0x7F) {
      length = 1;
    } else if (byte >= 0xC2 && byte <= 0xF4) {
      const size_t wanted = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
      bool good = i + wanted <= bytes.size();
      for (size_t k = 1; good && k < wanted; ++k)
        good = (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
      if (good && wanted >= 3) {
        // No overlong forms, no surrogates, nothing beyond U+10FFFF.
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        good = !(byte == 0xE0 && second < 0xA0) && !(byte == 0xED && second >= 0xA0) &&
               !(byte == 0xF0 && second < 0x90) && !(byte == 0xF4 && second >= 0x90);
      }
      if (good) length = wanted;
    }
    if (length == 0) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(byte));
      text += escaped;
      ++i;
    } else {
      text.append(bytes, i, length);
      i += length;
    }
  }
  return text;
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
