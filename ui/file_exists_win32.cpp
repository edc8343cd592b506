#include "ui/file_exists.h"

#include <windows.h>

namespace korvane::ui {

bool WatchedFileExists(const std::string& path) {
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA(path.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  FILETIME local;
  WORD dosDate = 0, dosTime = 0;
  return FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local) &&
         FileTimeToDosDateTime(&local, &dosDate, &dosTime);
}

}  // namespace korvane::ui
