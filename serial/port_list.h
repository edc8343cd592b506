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

// The only USB serial port among ports; null when there is none or more than one.
const SerialPortInfo* OnlyUsbPort(const std::vector<SerialPortInfo>& ports);

// The lines of a listing: "DEVICE  NAME  DESCRIPTION", one per port.
std::string FormatPortList(const std::vector<SerialPortInfo>& ports);

}  // namespace korvane
