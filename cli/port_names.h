// The ports named on korvane-cli's command line, and the devices they stand for.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korvane::cli {

// The device a port name stands for: COMn and n are \\.\COMn on Windows and, as for the
// window, /dev/ttyS(n-1) on Linux and macOS; anything else is a device path as given.
std::string DeviceOf(const std::string& port);

// Whether a port name stands for a simulated board: "sim" or "sim:PART". Such names may
// be given more than once: each is a board of its own.
bool IsSimulatedPortName(const std::string& name);

// What tells one device from another: on Linux and macOS the path with its symbolic
// links resolved (/dev/serial/by-id/... is the ttyUSB it points to), as given when it
// does not exist; on Windows the COM port's name in capitals without its \\.\ prefix.
std::string DeviceIdentity(const std::string& port);

// The first two ports, in the order given, that name the same device (each "sim" is a
// board of its own); none when every port is another device.
std::optional<std::pair<std::string, std::string>> FindSameDevice(
    const std::vector<std::string>& ports);

}  // namespace korvane::cli
