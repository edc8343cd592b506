// Conversions between the program's byte strings and the wide texts of the window API.
#pragma once

#include <string>

namespace korvane::ui {

// The window's own texts are Shift-JIS (code page 932) on every Windows.
std::wstring FromCp932(const std::string& text);
std::string ToCp932(const std::wstring& text);
// What the user types (file names, the COM number) is in the system's code page, the
// one the file functions take.
std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::string& text);

}  // namespace korvane::ui
