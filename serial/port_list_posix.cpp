// The serial ports of Linux and macOS, from the device folder and, on Linux, sysfs.

#include <dirent.h>
#include <sys/stat.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "serial/port_list.h"

namespace korvane {

namespace {

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The first line of a small text file (sysfs attributes); empty when there is none.
std::string FirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" -> "FTDI FT232R USB UART A50285BI".
std::string DescriptionFromId(std::string id) {
  for (const char* prefix : {"usb-", "pci-"}) {
    if (StartsWith(id, prefix)) id = id.substr(4);
  }
  const size_t interface = id.rfind("-if");
  if (interface != std::string::npos) id = id.substr(0, interface);
  std::replace(id.begin(), id.end(), '_', ' ');
  return id;
}

// The sysfs folder of the USB device a tty belongs to: from the tty's device upwards,
// the first with an idVendor (a USB interface has none), within sys/devices; "" for a
// tty that is not on USB. root: resolved, as ResolveRoot gives it.
std::string UsbDeviceFolder(const std::string& root, const std::string& tty) {
  char resolved[PATH_MAX];
  if (realpath((root + "/sys/class/tty/" + tty + "/device").c_str(), resolved) == nullptr) {
    return {};
  }
  const std::string devices = root + "/sys/devices/";
  for (std::string folder = resolved; StartsWith(folder, devices);
       folder.erase(folder.rfind('/'))) {
    if (!FirstLine(folder + "/idVendor").empty()) return folder;
  }
  return {};
}

// The product name of the USB device a tty belongs to, from sysfs.
std::string UsbProduct(const std::string& root, const std::string& tty) {
  const std::string folder = UsbDeviceFolder(root, tty);
  return folder.empty() ? std::string() : FirstLine(folder + "/product");
}

// The root folder as the links resolve it, without a trailing slash ("" for "/" and for
// none), so that devices can be named from it; false when it does not exist.
bool ResolveRoot(const std::string& given, std::string* root) {
  root->clear();
  if (given.empty()) return true;
  char resolved[PATH_MAX];
  if (realpath(given.c_str(), resolved) == nullptr) return false;
  *root = resolved;
  if (*root == "/") root->clear();
  return true;
}

// Text without the spaces and line ends around it.
std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

}  // namespace

std::string UsbAdapterUnder(const std::string& rootGiven, const std::string& device) {
  std::string root;
  // Only a device path has a tty behind it ("sim" has none).
  if (device.empty() || device[0] != '/' || !ResolveRoot(rootGiven, &root)) return {};
  // The tty's own name: /dev/serial/by-id/... is the ttyUSB it points to.
  char resolved[PATH_MAX];
  const std::string node =
      realpath((root + device).c_str(), resolved) != nullptr ? resolved : root + device;
  const std::string folder = UsbDeviceFolder(root, node.substr(node.rfind('/') + 1));
  if (folder.empty()) return {};
  return UsbAdapterText(Trimmed(FirstLine(folder + "/idVendor")),
                        Trimmed(FirstLine(folder + "/idProduct")),
                        Trimmed(FirstLine(folder + "/serial")));
}

std::string UsbAdapterOf(const std::string& device) {
  return UsbAdapterUnder("", device);
}

std::vector<SerialPortInfo> ListSerialPortsUnder(const std::string& rootGiven) {
  std::string root;
  if (!ResolveRoot(rootGiven, &root)) return {};
  std::vector<SerialPortInfo> ports;
  std::set<std::string> listed;
  const std::string dev = root + "/dev";
#ifdef __APPLE__
  for (const std::string& name : Entries(dev)) {
    if (!StartsWith(name, "cu.")) continue;
    SerialPortInfo port;
    port.device = "/dev/" + name;
    port.usb =
        name.find("usbserial") != std::string::npos || name.find("usbmodem") != std::string::npos;
    ports.push_back(port);
  }
#else
  // Stable names first: they say which adapter it is.
  const std::string byId = dev + "/serial/by-id";
  for (const std::string& name : Entries(byId)) {
    char resolved[PATH_MAX];
    if (realpath((byId + "/" + name).c_str(), resolved) == nullptr) continue;
    std::string device = resolved;
    if (!root.empty() && StartsWith(device, root)) device = device.substr(root.size());
    if (!listed.insert(device).second) continue;
    SerialPortInfo port;
    port.device = device;
    port.name = "/dev/serial/by-id/" + name;
    port.usb = StartsWith(name, "usb-");
    const std::string tty = device.substr(device.rfind('/') + 1);
    port.description = UsbProduct(root, tty);
    if (port.description.empty()) port.description = DescriptionFromId(name);
    ports.push_back(port);
  }
  for (const std::string& name : Entries(dev)) {
    const bool usb = StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM");
    if (!usb && !StartsWith(name, "ttyS")) continue;
    const std::string device = "/dev/" + name;
    if (listed.count(device) != 0) continue;
    // The kernel makes ttyS devices for every possible UART: only those with one count.
    if (!usb) {
      const std::string type = FirstLine(root + "/sys/class/tty/" + name + "/type");
      if (type.empty() || type == "0") continue;
    }
    SerialPortInfo port;
    port.device = device;
    port.usb = usb;
    if (usb) port.description = UsbProduct(root, name);
    ports.push_back(port);
  }
#endif
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.device < b.device; });
  return ports;
}

std::vector<SerialPortInfo> ListSerialPorts() {
  return ListSerialPortsUnder("");
}

bool SerialPortPresent(const std::string& device) {
  struct stat info {};
  return stat(device.c_str(), &info) == 0;
}

}  // namespace korvane
