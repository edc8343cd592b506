#pragma once

#include <cstddef>
#include <string>

namespace korvane::cli {

// One line of the progress display, without line end, for example
// "[#########---------------------]  31%  10/32 blocks  1.4 s". With the terminal's
// columns known (not 0), the line leaves its last column free: the bar is narrowed, and
// on a very narrow terminal left out.
std::string RenderProgressBar(int percent, int blocksDone, int blocksAll, double seconds,
                              size_t columns = 0);

// The text cut to at most `columns` terminal columns, never inside a character.
std::string FitColumns(const std::string& text, size_t columns);

// Bytes from the chip as text that is safe on a terminal: valid UTF-8 stays, every other
// byte and every control character becomes \xHH.
std::string Printable(const std::string& bytes);

// The columns a UTF-8 text takes on a terminal: one a character, two for the three-byte
// characters (the Japanese of korvane-cli's messages).
size_t TerminalColumns(const std::string& text);

}  // namespace korvane::cli
