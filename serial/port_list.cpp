#include "serial/port_list.h"

namespace korvane {

const SerialPortInfo* OnlyUsbPort(const std::vector<SerialPortInfo>& ports) {
  const SerialPortInfo* found = nullptr;
  for (const SerialPortInfo& port : ports) {
    if (!port.usb) continue;
    if (found) return nullptr;
    found = &port;
  }
  return found;
}

std::string FormatPortList(const std::vector<SerialPortInfo>& ports) {
  std::string text;
  for (const SerialPortInfo& port : ports) {
    text += "  " + port.device;
    if (!port.name.empty() && port.name != port.device) text += "  " + port.name;
    if (!port.description.empty()) text += "  (" + port.description + ")";
    if (port.usb) text += "  [USB]";
    text += "\n";
  }
  return text;
}

}  // namespace korvane
