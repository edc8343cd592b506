// The name of the machine korvane-cli runs on, for the record of each board.
#pragma once

#include <string>

namespace korvane {

// The host's name; empty when the system does not tell it.
std::string HostName();

}  // namespace korvane
