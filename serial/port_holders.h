// The programs that hold a serial device open, named for the failure text of a port
// that another program keeps: Linux shows them in /proc, as far as this user may see.
#pragma once

#include <string>
#include <vector>

namespace korvane {

struct PortHolder {
  long pid = 0;
  std::string command;  // short: the program and its arguments, at most kMostCommandChars
};

// The longest command told of one holder, "..." included.
constexpr size_t kMostCommandChars = 60;

// The processes other than this one with device open, sorted by pid, as /proc tells
// them: every /proc/PID/fd link that leads to the same device node as device (a
// symbolic link such as /dev/serial/by-id/... counts as the device it names). What
// cannot be read (another user's process) is passed over, so the list may be short or
// empty; so it is on other systems than Linux, which have no /proc. Reads /proc once.
std::vector<PortHolder> PortHolders(const std::string& device);
// The same look into another folder laid out as /proc (tests build one, or pass "/proc").
std::vector<PortHolder> PortHoldersUnder(const std::string& device, const std::string& procRoot);

// Of holders, those that /proc/locks names as holding a flock on device (the lock that
// keeps korvane-cli out); all of them when it names none of them.
std::vector<PortHolder> LockHolders(const std::vector<PortHolder>& holders,
                                    const std::string& device, const std::string& procRoot);

// A process's command as told: comm (its name as /proc/PID/comm gives it, which the
// kernel cuts at 15 characters: the program's own file name then stands in for it)
// followed by the arguments of cmdline (NUL-separated, as /proc/PID/cmdline gives
// them). Without comm, the program's file name. Unprintable characters become '?';
// longer than kMostCommandChars, it is cut and ends with "...".
std::string HolderCommand(const std::string& comm, const std::string& cmdline);

// "pid 4242 (minicom -D /dev/ttyUSB0), pid 4250 (screen)", at most four of them named
// and the rest counted ("... and 3 more"); "" for none.
std::string DescribeHolders(const std::vector<PortHolder>& holders);

}  // namespace korvane
