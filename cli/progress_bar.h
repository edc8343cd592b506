#pragma once

#include <cstddef>
#include <string>

namespace korvane::cli {

// One line of the progress display, without line end, for example
// "[#########---------------------]  31%  10/32 blocks  1.4 s".
std::string RenderProgressBar(int percent, int blocksDone, int blocksAll, double seconds);

// The columns a UTF-8 text takes on a terminal: one a character, two for the three-byte
// characters (the Japanese of korvane-cli's messages).
size_t TerminalColumns(const std::string& text);

}  // namespace korvane::cli
