// The serial ports present on this machine, for korvane-cli --list-ports and -p auto.
#pragma once

#include <string>
#include <vector>

namespace korvane {

struct SerialPortInfo {
  std::string device;       // what to open: /dev/ttyUSB0, /dev/cu.usbserial-A1, COM5
  std::string name;         // a stable name where the system has one (/dev/serial/by-id/...)
  std::string description;  // the adapter's product, where the system tells it
  bool usb = false;         // a USB serial adapter (or a board's own USB serial port)
};

// The ports present, sorted by device. On Linux: the /dev/serial/by-id names with their
// devices, then the ttyUSB, ttyACM and ttyS devices not named there (ttyS only where a
// UART answers); on macOS: /dev/cu.*; on Windows: the COM ports the system lists.
std::vector<SerialPortInfo> ListSerialPorts();

#ifndef _WIN32
// The same look on Linux and macOS under another root folder (tests build a tree there).
std::vector<SerialPortInfo> ListSerialPortsUnder(const std::string& root);
#endif

// Whether the port named is present now (a USB adapter plugged in): its device exists
// (POSIX), or the system lists it (Windows).
bool SerialPortPresent(const std::string& device);

// The USB adapter behind a serial device, as a production log records it: its vendor
// and product IDs in lower-case hex, then its serial number when it has one
// ("0403:6001 A50285BI", "2341:0043"); "" when the system does not tell (a pseudo-
// terminal, a built-in UART, "sim", a device that is not there). On Linux from sysfs,
// on Windows from the device's instance ID (see UsbAdapterOfInstanceId), on macOS "".
std::string UsbAdapterOf(const std::string& device);

#ifndef _WIN32
// The same look under another root folder, in its sys/ (tests build a tree there).
std::string UsbAdapterUnder(const std::string& root, const std::string& device);
#endif

// The adapter text of a USB device's vendor and product IDs (four hex digits each, in
// either case) and serial number (may be empty; unprintable characters become '?');
// "" when an ID is no such number.
std::string UsbAdapterText(const std::string& vendor, const std::string& product,
                           const std::string& serial);

// The adapter a Windows device instance ID names: "USB\VID_0403&PID_6001\A50285BI"
// gives "0403:6001 A50285BI". The ID of a device without a serial number ends in one
// that Windows made up (it has '&' in it): only the IDs are told then. "" for the ID of
// anything but a USB device (one interface of it, "USB\VID_2341&PID_0043&MI_00\...",
// or a driver's own bus, "FTDIBUS\..."): its parent has the USB device's ID.
std::string UsbAdapterOfInstanceId(const std::string& instanceId);

// The only USB serial port among ports; null when there is none or more than one.
const SerialPortInfo* OnlyUsbPort(const std::vector<SerialPortInfo>& ports);

// The lines of a listing: "DEVICE  NAME  DESCRIPTION", one per port.
std::string FormatPortList(const std::vector<SerialPortInfo>& ports);

}  // namespace korvane
