// The COM ports Windows lists, with the description of their devices.

#include <windows.h>
// after windows.h
#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "serial/port_list.h"

namespace korvane {

namespace {

// "COM12" sorts after "COM2".
bool ComLess(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

struct DeviceFacts {
  std::string description;
  bool usb = false;
  std::string adapter;  // as UsbAdapterOf tells it
};

// How far up from a port's device its USB device may be: the port, a driver's own bus
// (FTDIBUS), an interface, the USB device.
constexpr int kMostLevelsToUsbDevice = 8;

// The USB adapter a port's device hangs on: the first of it and its parents whose
// instance ID is a USB device's.
std::string AdapterOf(DEVINST device) {
  for (int level = 0; level < kMostLevelsToUsbDevice; ++level) {
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDA(device, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
    const std::string adapter = UsbAdapterOfInstanceId(id);
    if (!adapter.empty()) return adapter;
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, device, 0) != CR_SUCCESS) return {};
    device = parent;
  }
  return {};
}

// A COM port's name as the system lists it: "\\.\com5" is COM5.
std::string PortNameOf(std::string device) {
  if (device.compare(0, 4, "\\\\.\\") == 0) device.erase(0, 4);
  for (char& c : device) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return device;
}

// The Ports class devices present: their friendly names and whether they hang on USB.
std::map<std::string, DeviceFacts> PortDevices() {
  std::map<std::string, DeviceFacts> devices;
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return devices;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); ++index) {
    HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    char portName[64] = {};
    DWORD size = sizeof portName - 1;
    DWORD type = 0;
    const LONG found =
        RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName), &size);
    RegCloseKey(key);
    if (found != ERROR_SUCCESS || type != REG_SZ) continue;
    DeviceFacts facts;
    char text[256] = {};
    if (SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                          reinterpret_cast<BYTE*>(text), sizeof text - 1,
                                          nullptr)) {
      facts.description = text;
    }
    char enumerator[64] = {};
    if (SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_ENUMERATOR_NAME, nullptr,
                                          reinterpret_cast<BYTE*>(enumerator),
                                          sizeof enumerator - 1, nullptr)) {
      const std::string bus = enumerator;
      facts.usb = bus == "USB" || bus == "FTDIBUS" || bus == "USBSER";
    }
    facts.adapter = AdapterOf(info.DevInst);
    devices[PortNameOf(portName)] = facts;
  }
  SetupDiDestroyDeviceInfoList(set);
  return devices;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
  std::vector<SerialPortInfo> ports;
  const std::map<std::string, DeviceFacts> devices = PortDevices();
  // The system's list of serial ports: every driver that makes a COM port enters it here.
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    for (DWORD index = 0;; ++index) {
      char valueName[256];
      DWORD nameSize = sizeof valueName;
      char data[64] = {};
      DWORD dataSize = sizeof data - 1;
      DWORD type = 0;
      if (RegEnumValueA(key, index, valueName, &nameSize, nullptr, &type,
                        reinterpret_cast<BYTE*>(data), &dataSize) != ERROR_SUCCESS) {
        break;
      }
      if (type != REG_SZ) continue;
      SerialPortInfo port;
      port.device = data;
      const auto facts = devices.find(PortNameOf(port.device));
      if (facts != devices.end()) {
        port.description = facts->second.description;
        port.usb = facts->second.usb;
      }
      ports.push_back(port);
    }
    RegCloseKey(key);
  }
  std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
    return ComLess(a.device, b.device);
  });
  ports.erase(std::unique(ports.begin(), ports.end(),
                          [](const SerialPortInfo& a, const SerialPortInfo& b) {
                            return a.device == b.device;
                          }),
              ports.end());
  return ports;
}

bool SerialPortPresent(const std::string& device) {
  const std::string name = PortNameOf(device);
  for (const SerialPortInfo& port : ListSerialPorts()) {
    if (PortNameOf(port.device) == name) return true;
  }
  return false;
}

std::string UsbAdapterOf(const std::string& device) {
  const std::map<std::string, DeviceFacts> devices = PortDevices();
  const auto facts = devices.find(PortNameOf(device));
  return facts == devices.end() ? std::string() : facts->second.adapter;
}

}  // namespace korvane
