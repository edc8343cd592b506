#pragma once

#include <string>

namespace korvane::cli {

// One line of the progress display, without line end, for example
// "[#########---------------------]  31%  10/32 blocks  1.4 s".
std::string RenderProgressBar(int percent, int blocksDone, int blocksAll, double seconds);

}  // namespace korvane::cli
