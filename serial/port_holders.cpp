// The programs that hold a serial device open, from /proc.
#include "serial/port_holders.h"

#include <dirent.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace korvane {

namespace {

// The comm the kernel keeps is at most this long; a longer name was cut.
constexpr size_t kCommLength = 15;
// Enough of a command line for the short command.
constexpr std::streamsize kMostCmdlineBytes = 4096;
constexpr size_t kMostHoldersNamed = 4;

// A pid of /proc: digits only ("self" and the other entries are none).
bool PidOf(const char* name, long* pid) {
  if (*name == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  *pid = std::strtol(name, nullptr, 10);
  return *pid > 0;
}

// Whether one of the process's descriptors in fdFolder is the device node `device`.
bool HoldsDevice(const std::string& fdFolder, dev_t device) {
  DIR* dir = opendir(fdFolder.c_str());
  if (dir == nullptr) return false;  // gone, or another user's
  bool holds = false;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    struct stat target {};
    // stat follows the link to what the descriptor has open.
    if (stat((fdFolder + "/" + entry->d_name).c_str(), &target) != 0) continue;
    if (S_ISCHR(target.st_mode) && target.st_rdev == device) {
      holds = true;
      break;
    }
  }
  closedir(dir);
  return holds;
}

std::string ReadUpTo(const std::string& path, std::streamsize most) {
  std::ifstream file(path, std::ios::binary);
  std::string text(static_cast<size_t>(most), '\0');
  file.read(text.data(), most);
  text.resize(static_cast<size_t>(file.gcount()));
  return text;
}

std::string FirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// A command line's arguments, argv[0] first; the NULs a program pads its rewritten
// command line with are no arguments.
std::vector<std::string> Arguments(const std::string& cmdline) {
  std::vector<std::string> arguments;
  size_t start = 0;
  while (start < cmdline.size()) {
    size_t end = cmdline.find('\0', start);
    if (end == std::string::npos) end = cmdline.size();
    arguments.push_back(cmdline.substr(start, end - start));
    start = end + 1;
  }
  while (!arguments.empty() && arguments.back().empty()) arguments.pop_back();
  return arguments;
}

}  // namespace

std::string HolderCommand(const std::string& comm, const std::string& cmdline) {
  const std::vector<std::string> arguments = Arguments(cmdline);
  const std::string program =
      arguments.empty() ? std::string() : arguments[0].substr(arguments[0].rfind('/') + 1);
  std::string command = comm;
  if (comm.empty() ||
      (comm.size() == kCommLength && program.size() > comm.size() && program.rfind(comm, 0) == 0)) {
    command = program;
  }
  for (size_t i = 1; i < arguments.size(); ++i) command += " " + arguments[i];
  for (char& c : command) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  if (command.size() > kMostCommandChars) {
    size_t cut = kMostCommandChars - 3;
    // Not inside a UTF-8 character: back to its first byte.
    while (cut > 0 && (static_cast<unsigned char>(command[cut]) & 0xC0) == 0x80) --cut;
    command.resize(cut);
    command += "...";
  }
  return command;
}

std::string DescribeHolders(const std::vector<PortHolder>& holders) {
  std::string text;
  for (size_t i = 0; i < holders.size() && i < kMostHoldersNamed; ++i) {
    if (i > 0) text += ", ";
    text += "pid " + std::to_string(holders[i].pid);
    if (!holders[i].command.empty()) text += " (" + holders[i].command + ")";
  }
  if (holders.size() > kMostHoldersNamed) {
    text += " and " + std::to_string(holders.size() - kMostHoldersNamed) + " more";
  }
  return text;
}

std::vector<PortHolder> PortHoldersUnder(const std::string& device, const std::string& procRoot) {
  std::vector<PortHolder> holders;
  struct stat node {};
  if (stat(device.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return holders;
  DIR* dir = opendir(procRoot.c_str());
  if (dir == nullptr) return holders;
  const long self = static_cast<long>(getpid());
  while (const dirent* entry = readdir(dir)) {
    long pid = 0;
    if (!PidOf(entry->d_name, &pid) || pid == self) continue;
    const std::string folder = procRoot + "/" + entry->d_name;
    if (!HoldsDevice(folder + "/fd", node.st_rdev)) continue;
    PortHolder holder;
    holder.pid = pid;
    holder.command = HolderCommand(FirstLine(folder + "/comm"),
                                   ReadUpTo(folder + "/cmdline", kMostCmdlineBytes));
    holders.push_back(holder);
  }
  closedir(dir);
  std::sort(holders.begin(), holders.end(),
            [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
  return holders;
}

std::vector<PortHolder> LockHolders(const std::vector<PortHolder>& holders,
                                    const std::string& device, const std::string& procRoot) {
  struct stat node {};
  if (stat(device.c_str(), &node) != 0) return holders;
  // "1: FLOCK  ADVISORY  WRITE 4242 00:1a:3 0 EOF": the owner, then the file as the
  // major and minor number (hex) of its file system and its inode.
  char file[64];
  std::snprintf(file, sizeof file, "%02x:%02x:%lu", major(node.st_dev), minor(node.st_dev),
                static_cast<unsigned long>(node.st_ino));
  std::ifstream locks(procRoot + "/locks");
  std::vector<long> owners;
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, where;
    long pid = 0;
    if (fields >> number >> kind >> mode >> access >> pid >> where && kind == "FLOCK" &&
        where == file) {
      owners.push_back(pid);
    }
  }
  std::vector<PortHolder> found;
  for (const PortHolder& holder : holders) {
    if (std::find(owners.begin(), owners.end(), holder.pid) != owners.end())
      found.push_back(holder);
  }
  return found.empty() ? holders : found;
}

std::vector<PortHolder> PortHolders(const std::string& device) {
#ifdef __linux__
  return PortHoldersUnder(device, "/proc");
#else
  (void)device;
  return {};
#endif
}

}  // namespace korvane
