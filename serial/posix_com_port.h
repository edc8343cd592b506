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
// given) then tells why. On Linux it tells more where the system lets this user see it:
// for a device in use, the programs that hold it ("in use by another program: pid 4242
// (minicom -D /dev/ttyUSB0)", see PortHolders); for a device refused for lack of
// permission, the group that opens it (see PermissionAdvice).
// Closing puts the device's settings back as they were found.
// With lowLatency, on Linux the driver is asked to pass on received bytes at once
// (ASYNC_LOW_LATENCY, as setserial's low_latency: a USB adapter then holds each reply
// about 1 ms instead of up to 16), and the flag is put back on close; a device that
// does not take the request (a pty, another system) is used as it is, and OpenNote says so.
std::unique_ptr<ComPort> OpenPosixComPort(const std::string& device, std::string* error = nullptr,
                                          bool lowLatency = false);

// What lets a user open a device that the system refused for lack of permission, told
// after the system's reason: "/dev/ttyUSB0 belongs to group dialout: add yourself with
// "sudo usermod -aG dialout alice", then log in again" ($USER when user is empty). With
// alreadyMember (the system's group list names the user, but this session began before
// that), it only says to log in again.
std::string PermissionAdvice(const std::string& device, const std::string& group,
                             const std::string& user, bool alreadyMember);

}  // namespace korvane
