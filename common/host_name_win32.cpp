#include <windows.h>

#include "common/host_name.h"

namespace korvane {

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "";
  return std::string(name, size);
}

}  // namespace korvane
