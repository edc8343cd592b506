#include "common/watched_file.h"

#include <windows.h>

namespace korvane {

namespace {

// The folder part of path, up to and including its last "\", "/" or ":"; walked by
// characters, since a double-byte character's second byte may be "\".
std::string FolderOf(const std::string& path) {
  size_t end = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (IsDBCSLeadByte(byte)) {
      ++i;
      continue;
    }
    if (byte == '\\' || byte == '/' || byte == ':') end = i + 1;
  }
  return path.substr(0, end);
}

}  // namespace

std::string FindWatchedFile(const std::string& path) {
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA(path.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return "";
  FindClose(search);
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "";
  // A DOS date holds the years 1980 to 2107. The year is checked here rather than left
  // to FileTimeToDosDateTime, which Wine lets wrap past 2107.
  FILETIME local;
  SYSTEMTIME time;
  if (!FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local) ||
      !FileTimeToSystemTime(&local, &time) || time.wYear < 1980 || time.wYear > 2107) {
    return "";
  }
  return path.find_first_of("*?") == std::string::npos ? path : FolderOf(path) + entry.cFileName;
}

bool WatchedFileExists(const std::string& path) {
  return !FindWatchedFile(path).empty();
}

}  // namespace korvane
