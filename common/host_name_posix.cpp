#include <unistd.h>

#include "common/host_name.h"

namespace korvane {

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace korvane
