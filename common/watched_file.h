// Whether the auto-write watcher (of the window and of korvane-cli --watch) counts a
// file as being at a path.
#pragma once

#include <string>

namespace korvane {

// True exactly when a directory search for path (in the system's code page, handed on
// unchanged, so "*" and "?" act as a pattern and only the first entry found counts)
// finds an entry that is not a directory and whose last-modification time, in local
// time, can be written as a DOS date and time (1980 to 2107). An empty path, a
// missing folder and a directory count as absent.
// On POSIX systems the search is a glob when the path has "*" or "?" in it, and the
// first name it matches (in sorted order) is judged.
bool WatchedFileExists(const std::string& path);

// The path of the file that WatchedFileExists judges: path itself, or for a pattern
// the first match (in the pattern's folder); empty when WatchedFileExists is false.
std::string FindWatchedFile(const std::string& path);

}  // namespace korvane
