// The programs that hold a serial device open: found in a /proc folder built for the
// test, and the short texts told of them.
#include "serial/port_holders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// A process of a /proc folder whose descriptors 3, 4, ... lead to targets.
void MakeProcess(const std::string& proc, const std::string& pid,
                 const std::vector<std::string>& targets, const std::string& comm,
                 const std::string& cmdline) {
  const fs::path folder = fs::path(proc) / pid;
  fs::create_directories(folder / "fd");
  for (size_t i = 0; i < targets.size(); ++i) {
    fs::create_symlink(targets[i], folder / "fd" / std::to_string(i + 3));
  }
  std::ofstream(folder / "comm") << comm << "\n";
  std::ofstream(folder / "cmdline", std::ios::binary) << cmdline;
}

TEST(PortHolders, FindsTheProcessesThatHaveTheDeviceOpen) {
  // /dev/null stands for the serial device; the link names it as /dev/serial/by-id
  // names a ttyUSB.
  test::TempDir dir;
  const std::string device = dir.File("usb-FTDI_FT232R_USB_UART_A5-if00-port0");
  fs::create_symlink("/dev/null", device);
  const std::string proc = dir.File("proc");
  MakeProcess(proc, "4242", {"/dev/zero", "/dev/null", "/dev/null"}, "minicom",
              "/usr/bin/minicom\0-D\0/dev/ttyUSB0\0"s);
  MakeProcess(proc, "9", {device}, "kworker/0:1", "");
  MakeProcess(proc, "77", {"/dev/zero", "pipe:[1234]", dir.File("gone")}, "bash", "bash\0"s);
  MakeProcess(proc, std::to_string(getpid()), {"/dev/null"}, "self", "self\0"s);
  fs::create_directories(fs::path(proc) / "555");  // no fd folder to read: another user's
  fs::create_directory_symlink(fs::path(proc) / "9", fs::path(proc) / "self");
  std::ofstream(fs::path(proc) / "uptime") << "1.00 2.00\n";

  for (const std::string& name : {device, "/dev/null"s}) {
    SCOPED_TRACE(name);
    const std::vector<PortHolder> holders = PortHoldersUnder(name, proc);
    ASSERT_EQ(holders.size(), 2u) << DescribeHolders(holders);
    EXPECT_EQ(holders[0].pid, 9);
    EXPECT_EQ(holders[0].command, "kworker/0:1");
    EXPECT_EQ(holders[1].pid, 4242);
    EXPECT_EQ(holders[1].command, "minicom -D /dev/ttyUSB0");
  }
  // No device, or no /proc: nobody.
  EXPECT_TRUE(PortHoldersUnder(dir.File("missing"), proc).empty());
  EXPECT_TRUE(PortHoldersUnder(proc + "/uptime", proc).empty());
  EXPECT_TRUE(PortHoldersUnder("/dev/null", dir.File("no-proc")).empty());
}

// Of the processes that have the device open, the one /proc/locks names as holding its
// flock is the one in the way; a lock owner that is gone (or none) leaves them all.
TEST(PortHolders, TheLocksOwnerIsTheOneInTheWay) {
#ifndef __linux__
  GTEST_SKIP() << "/proc/locks is Linux's";
#else
  test::TempDir dir;
  const std::string device = dir.File("device");
  std::ofstream(device) << "x";
  struct stat node {};
  ASSERT_EQ(stat(device.c_str(), &node), 0);
  char file[64];
  std::snprintf(file, sizeof file, "%02x:%02x:%lu", major(node.st_dev), minor(node.st_dev),
                static_cast<unsigned long>(node.st_ino));
  const std::vector<PortHolder> holders = {{10, "ModemManager"}, {20, "flock"}, {30, "sleep"}};
  const auto pids = [&](const std::string& locks) {
    std::ofstream(dir.File("locks")) << locks;
    std::vector<long> found;
    for (const PortHolder& holder : LockHolders(holders, device, dir.path().string()))
      found.push_back(holder.pid);
    return found;
  };
  EXPECT_EQ(pids("1: POSIX  ADVISORY  WRITE 10 " + std::string(file) + " 0 EOF\n" +
                 "2: FLOCK  ADVISORY  WRITE 20 " + file + " 0 EOF\n" +
                 "3: FLOCK  ADVISORY  WRITE 30 00:01:1 0 EOF\n"),
            (std::vector<long>{20}));
  EXPECT_EQ(pids("1: FLOCK  ADVISORY  WRITE 99 " + std::string(file) + " 0 EOF\n"),
            (std::vector<long>{10, 20, 30}));
  EXPECT_EQ(pids(""), (std::vector<long>{10, 20, 30}));
#endif
}

TEST(PortHolders, TellsAShortCommandOfEachHolder) {
  struct Case {
    const char* name;
    std::string comm;
    std::string cmdline;
    std::string command;
  };
  const Case cases[] = {
      {"program and arguments", "minicom", "/usr/bin/minicom\0-D\0/dev/ttyUSB0\0"s,
       "minicom -D /dev/ttyUSB0"},
      {"a name the kernel cut", "gnome-terminal-", "/usr/libexec/gnome-terminal-server\0"s,
       "gnome-terminal-server"},
      {"a name of its own", "korvane-holder", "/opt/a b/tests\0--x\0"s, "korvane-holder --x"},
      {"a rewritten command line", "sshd", "sshd: alice@pts/0\0\0\0\0"s, "sshd"},
      {"no command line", "kworker/0:1", "", "kworker/0:1"},
      {"no name", "", "/opt/my tools/term\0/dev/ttyS0\0"s, "term /dev/ttyS0"},
      {"nothing", "", "", ""},
      {"unprintable", "cu", "cu\0-l\0a\tb\x7F\0"s, "cu -l a?b?"},
      {"too long", "cat", "cat\0"s + std::string(80, 'x'), "cat " + std::string(53, 'x') + "..."},
      {"too long, cut before a character", "echo",
       "echo\0"s + std::string(51, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9",
       "echo " + std::string(51, 'a') + "..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string command = HolderCommand(c.comm, c.cmdline);
    EXPECT_EQ(command, c.command);
    EXPECT_LE(command.size(), kMostCommandChars);
  }
}

TEST(PortHolders, NamesAFewHoldersAndCountsTheRest) {
  const PortHolder minicom{4242, "minicom -D /dev/ttyUSB0"};
  const PortHolder unnamed{17, ""};
  const std::vector<PortHolder> six = {{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}, {5, "e"}, {6, "f"}};
  const std::pair<std::vector<PortHolder>, std::string> cases[] = {
      {{}, ""},
      {{minicom}, "pid 4242 (minicom -D /dev/ttyUSB0)"},
      {{minicom, unnamed}, "pid 4242 (minicom -D /dev/ttyUSB0), pid 17"},
      {six, "pid 1 (a), pid 2 (b), pid 3 (c), pid 4 (d) and 2 more"},
  };
  for (const auto& [holders, text] : cases) EXPECT_EQ(DescribeHolders(holders), text);
}

}  // namespace
}  // namespace korvane
