#include "serial/port_list.h"

#include <cctype>

namespace korvane {

namespace {

constexpr size_t kUsbIdDigits = 4;

// A USB ID in lower-case hex; "" when text is not four hex digits.
std::string UsbId(const std::string& text) {
  if (text.size() != kUsbIdDigits) return {};
  std::string id;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return id;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string UsbAdapterText(const std::string& vendor, const std::string& product,
                           const std::string& serial) {
  const std::string vendorId = UsbId(vendor);
  const std::string productId = UsbId(product);
  if (vendorId.empty() || productId.empty()) return {};
  std::string adapter = vendorId + ":" + productId;
  if (serial.empty()) return adapter;
  adapter += " ";
  for (char c : serial) {
    adapter += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  }
  return adapter;
}

std::string UsbAdapterOfInstanceId(const std::string& instanceId) {
  // USB\VID_vvvv&PID_pppp\SERIAL: the bus, the device's IDs, its instance.
  const size_t idsAt = instanceId.find('\\');
  const size_t instanceAt = instanceId.find('\\', idsAt + 1);
  if (idsAt == std::string::npos || instanceAt == std::string::npos) return {};
  if (Upper(instanceId.substr(0, idsAt)) != "USB") return {};
  const std::string ids = Upper(instanceId.substr(idsAt + 1, instanceAt - idsAt - 1));
  // Exactly the two IDs ('?' stands for their digits): an interface adds &MI_nn.
  const std::string shape = "VID_????&PID_????";
  if (ids.size() != shape.size()) return {};
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] != '?' && ids[i] != shape[i]) return {};
  }
  std::string serial = instanceId.substr(instanceAt + 1);
  if (serial.find('&') != std::string::npos || serial.find('\\') != std::string::npos) {
    serial.clear();  // made up by Windows for a device without a serial number
  }
  return UsbAdapterText(ids.substr(shape.find('?'), kUsbIdDigits),
                        ids.substr(shape.rfind('?') + 1 - kUsbIdDigits, kUsbIdDigits), serial);
}

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
