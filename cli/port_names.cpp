#include "cli/port_names.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "common/com_number.h"
#ifdef _WIN32
#include "serial/com_port.h"
#else
#include "serial/posix_com_port.h"
#endif

namespace korvane::cli {

namespace {

// The number of a port given as "COMn" or "n", n converted as the window converts its
// COM box; 0 for anything else (a device path).
int ComNumberOf(const std::string& port) {
  std::string number = port;
  if (number.size() > 3 && (number.compare(0, 3, "COM") == 0 || number.compare(0, 3, "com") == 0)) {
    number = number.substr(3);
  }
  int32_t value = 0;
  if (!ConvertComNumber(number, value) || value <= 0) return 0;
  return value;
}

}  // namespace

bool IsSimulatedPortName(const std::string& name) {
  return name == "sim" || name.rfind("sim:", 0) == 0;
}

std::string DeviceOf(const std::string& port) {
  const int number = ComNumberOf(port);
  if (number <= 0) return port;
#ifdef _WIN32
  return ComDeviceName(number);
#else
  return PosixComDeviceName(number);
#endif
}

std::string DeviceIdentity(const std::string& port) {
  std::string device = DeviceOf(port);
#ifdef _WIN32
  // Device names are not case-sensitive; \\.\COM5 and COM5 are one port.
  for (char& c : device) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (device.compare(0, 4, "\\\\.\\") == 0) device.erase(0, 4);
  return device;
#else
  char resolved[PATH_MAX];
  if (realpath(device.c_str(), resolved) != nullptr) return resolved;
  return device;
#endif
}

std::optional<std::pair<std::string, std::string>> FindSameDevice(
    const std::vector<std::string>& ports) {
  std::vector<std::string> identities;
  for (size_t i = 0; i < ports.size(); ++i) {
    identities.push_back(IsSimulatedPortName(ports[i]) ? std::string() : DeviceIdentity(ports[i]));
    if (identities[i].empty()) continue;
    for (size_t k = 0; k < i; ++k) {
      if (identities[k] == identities[i]) return std::make_pair(ports[k], ports[i]);
    }
  }
  return std::nullopt;
}

}  // namespace korvane::cli
