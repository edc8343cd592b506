// The USB adapter behind a serial port: from Windows's device instance IDs, and from a
// sysfs tree built for the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "serial/port_list.h"
#include "test_support.h"

namespace korvane {
namespace {

TEST(UsbAdapter, ReadsTheIdsOfAWindowsDeviceInstance) {
  const std::pair<const char*, const char*> cases[] = {
      {"USB\\VID_0403&PID_6001\\A50285BI", "0403:6001 A50285BI"},
      {"USB\\VID_10C4&PID_EA60\\0001", "10c4:ea60 0001"},
      {"usb\\vid_2341&pid_0043\\5&2A3B4C&0&2", "2341:0043"},  // a serial number Windows made up
      {"USB\\VID_2341&PID_0043&MI_00\\6&1F2E3D&0&0000", ""},  // one interface of a device
      {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", ""},     // FTDI's own bus
      {"ACPI\\PNP0501\\1", ""},                               // a UART on the board
      {"USB\\VID_04G3&PID_6001\\A5", ""},
      {"USB\\VID_0403&PID_6001", ""},
      {"", ""},
  };
  for (const auto& [id, adapter] : cases) EXPECT_EQ(UsbAdapterOfInstanceId(id), adapter) << id;
}

#ifndef _WIN32
namespace fs = std::filesystem;

void Put(const test::TempDir& root, const std::string& path, const std::string& text) {
  const fs::path file = root.path() / path;
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

void Link(const test::TempDir& root, const std::string& path, const std::string& target) {
  const fs::path link = root.path() / path;
  fs::create_directories(link.parent_path());
  fs::create_symlink(target, link);
}

TEST(UsbAdapter, FollowsATtyUpToItsUsbDeviceInSysfs) {
  test::TempDir root;
  const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb1/";
  // The USB bus itself has IDs, as every USB device does.
  Put(root, usb + "idVendor", "1d6b\n");
  Put(root, usb + "idProduct", "0002\n");
  // An FTDI adapter: its tty hangs below the interface; the IDs are the device's.
  Put(root, usb + "1-1/idVendor", "0403\n");
  Put(root, usb + "1-1/idProduct", "6001\n");
  Put(root, usb + "1-1/serial", "A50285BI\n");
  Put(root, usb + "1-1/1-1:1.0/ttyUSB0/uevent", "");
  Link(root, "sys/class/tty/ttyUSB0/device",
       "../../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB0");
  Put(root, "dev/ttyUSB0", "");
  Link(root, "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
  // A board's own USB serial port, without a serial number: the tty's device is the interface.
  Put(root, usb + "1-2/idVendor", "2341\n");
  Put(root, usb + "1-2/idProduct", "0043\n");
  Put(root, usb + "1-2/1-2:1.0/uevent", "");
  Link(root, "sys/class/tty/ttyACM0/device",
       "../../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0");
  Put(root, "dev/ttyACM0", "");
  // An adapter behind a hub: the nearest device is the adapter.
  Put(root, usb + "1-3/idVendor", "05e3\n");
  Put(root, usb + "1-3/idProduct", "0608\n");
  Put(root, usb + "1-3/1-3.1/idVendor", "067B\n");
  Put(root, usb + "1-3/1-3.1/idProduct", "2303\n");
  Put(root, usb + "1-3/1-3.1/1-3.1:1.0/ttyUSB1/uevent", "");
  Link(root, "sys/class/tty/ttyUSB1/device",
       "../../../devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3.1/1-3.1:1.0/ttyUSB1");
  Put(root, "dev/ttyUSB1", "");
  // A UART on the board, and IDs outside sys/devices, which are no device's.
  Put(root, "sys/devices/pnp0/00:01/tty/ttyS0/uevent", "");
  Link(root, "sys/class/tty/ttyS0/device", "../../../devices/pnp0/00:01");
  Put(root, "dev/ttyS0", "");
  Put(root, "sys/idVendor", "dead\n");
  Put(root, "sys/idProduct", "beef\n");

  const std::pair<const char*, const char*> cases[] = {
      {"/dev/ttyUSB0", "0403:6001 A50285BI"},
      {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "0403:6001 A50285BI"},
      {"/dev/ttyACM0", "2341:0043"},
      {"/dev/ttyUSB1", "067b:2303"},
      {"/dev/ttyS0", ""},
      {"/dev/pts/3", ""},
      {"sim", ""},
      {"ttyUSB0", ""},
  };
  for (const auto& [device, adapter] : cases) {
    EXPECT_EQ(UsbAdapterUnder(root.File(""), device), adapter) << device;
  }
  EXPECT_EQ(UsbAdapterUnder(root.File("none"), "/dev/ttyUSB0"), "");
  EXPECT_EQ(UsbAdapterOf("sim"), "");
}
#endif

}  // namespace
}  // namespace korvane
