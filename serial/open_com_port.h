#pragma once

#include <memory>

#include "serial/com_port.h"

namespace korvane {

// Opens COM port `number` of this system for reading and writing, unshared; null when
// it cannot be opened. Windows: the device "\\.\COM<number>". Elsewhere COM1 is
// /dev/ttyS0, COM2 /dev/ttyS1 and so on, the numbering Wine uses.
std::unique_ptr<ComPort> OpenComPort(int number);

}  // namespace korvane
