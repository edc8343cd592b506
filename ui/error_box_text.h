// The caption and text of the box that shows a failure no handler dealt with.
#pragma once

#include <string>

#include <functional>

namespace korvane::ui {

// The program's title from its executable's path: the file name without its folder,
// cut at its first ".", the first letter as it is and every later letter lower-cased
// ("KORVANE.EXE" gives "Korvane", "korvane.exe" "korvane"). Both "\" and "/" separate folders.
// The path is in the system's code page; isLeadByte tells the first byte of its
// double-byte characters (none in a single-byte code page), whose second byte may be
// 0x5C ("\") and is never a separator nor a letter to lower-case.
using LeadBytePredicate = std::function<bool(unsigned char)>;
std::string ApplicationTitle(const std::string& exePath, const LeadBytePredicate& isLeadByte);

// The lead bytes of Shift-JIS (code page 932).
bool IsShiftJisLeadByte(unsigned char byte);

// The failure's message with "." appended when the message is not empty and its last
// character sorts after "." in byte order ("。" does; "." and ")" do not).
std::string ErrorBoxText(const std::string& message);

}  // namespace korvane::ui
