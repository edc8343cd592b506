// The POSIX backend of the serial-port seam: a terminal device driven through termios.
#pragma once

#include <memory>
#include <string>

#include "serial/com_port.h"

namespace korvane {

// The device of COM port `number` on POSIX systems: COM1 is /dev/ttyS0, COM2 /dev/ttyS1
// and so on. Empty for numbers below 1.
std::string PosixComDeviceName(int number);

// Opens a terminal device for reading and writing, held by this process alone (an
// exclusive flock), with its output resumed should an XOFF have stopped it. Null when
// the device cannot be opened, is not a terminal or is already in use; *error (when
// given) then tells why. Closing puts the device's settings back as they were found.
// With lowLatency, on Linux the driver is asked to pass on received bytes at once
// (ASYNC_LOW_LATENCY, as setserial's low_latency: a USB adapter then holds each reply
// about 1 ms instead of up to 16), and the flag is put back on close; a device that
// does not take the request (a pty, another system) is used as it is, and OpenNote says so.
std::unique_ptr<ComPort> OpenPosixComPort(const std::string& device, std::string* error = nullptr,
                                          bool lowLatency = false);

}  // namespace korvane
