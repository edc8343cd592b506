#include "ui/file_exists.h"

#include <windows.h>

namespace korvane::ui {

bool WatchedFileExists(const std::string& path) {
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA(path.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  // A DOS date holds the years 1980 to 2107. The year is checked here rather than left
  // to FileTimeToDosDateTime, which Wine lets wrap past 2107.
  FILETIME local;
  SYSTEMTIME time;
  return FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local) && FileTimeToSystemTime(&local, &time) &&
         time.wYear >= 1980 && time.wYear <= 2107;
}

}  // namespace korvane::ui
