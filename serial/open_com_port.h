#pragma once

#include <memory>
#include <string>

#include "serial/com_port.h"

namespace korvane {

// Opens COM port `number` of this system for reading and writing, unshared; null when
// it cannot be opened. Windows: the device "\\.\COM<number>". Elsewhere COM1 is
// /dev/ttyS0, COM2 /dev/ttyS1 and so on, the numbering Wine uses.
std::unique_ptr<ComPort> OpenComPort(int number);

#ifdef _WIN32
// Opens a Windows device by its name (for example "\\.\COM3"), unshared; null when
// it cannot be opened, and *error (when given) then tells why. With restoreOnClose the
// device's state as found is put back when the port is closed (korvane-cli does so).
std::unique_ptr<ComPort> OpenWin32ComPort(const std::string& deviceName,
                                          std::string* error = nullptr,
                                          bool restoreOnClose = false);
#endif

}  // namespace korvane
