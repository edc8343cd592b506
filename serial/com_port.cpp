#include "serial/com_port.h"

#include <string>

namespace korvane {

LineSettings MakeLineSettings(uint32_t baudRate) {
  LineSettings settings;
  settings.baudRate = baudRate;
  return settings;
}

std::string ComDeviceName(int number) {
  return "\\\\.\\COM" + std::to_string(number);
}

}  // namespace korvane
