#include <glob.h>
#include <sys/stat.h>

#include <ctime>

#include "common/watched_file.h"

namespace korvane {
namespace {

// The first entry a search for path finds: the path itself, or with "*" or "?" in it,
// the first name the pattern matches.
bool FirstEntry(const std::string& path, std::string& entry) {
  if (path.find_first_of("*?") == std::string::npos) {
    entry = path;
    return true;
  }
  glob_t found = {};
  const bool any = glob(path.c_str(), GLOB_NOESCAPE, nullptr, &found) == 0 && found.gl_pathc > 0;
  if (any) entry = found.gl_pathv[0];
  globfree(&found);
  return any;
}

}  // namespace

std::string FindWatchedFile(const std::string& path) {
  std::string entry;
  if (path.empty() || !FirstEntry(path, entry)) return "";
  struct stat info;
  if (stat(entry.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return "";
  // A DOS date holds the years 1980 to 2107, in local time.
  std::tm local = {};
  if (localtime_r(&info.st_mtime, &local) == nullptr) return "";
  const int year = local.tm_year + 1900;
  return year >= 1980 && year <= 2107 ? entry : "";
}

bool WatchedFileExists(const std::string& path) {
  return !FindWatchedFile(path).empty();
}

}  // namespace korvane
