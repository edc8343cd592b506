// The caption and text of the box that shows a failure no handler dealt with.
#pragma once

#include <string>

namespace korvane::ui {

// The program's title from its executable's path: the file name without its folder,
// cut at its first ".", the first letter as it is and every later letter lower-cased
// ("KORVANE.EXE" gives "Korvane", "korvane.exe" "korvane"). Both "\" and "/" separate folders.
std::string ApplicationTitle(const std::string& exePath);

// The failure's message with "." appended when the message is not empty and its last
// character sorts after "." in byte order ("。" does; "." and ")" do not).
std::string ErrorBoxText(const std::string& message);

}  // namespace korvane::ui
