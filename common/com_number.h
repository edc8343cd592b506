// The COM number as the user types it into the window's COM box.
#pragma once

#include <cstdint>
#include <string>

namespace korvane {

// Converts text to a signed 32-bit number. The whole text must be: any number of
// leading spaces, then either an optional "+" or "-" and decimal digits within the
// 32-bit range, or a hexadecimal prefix ("$", "x", "X", "0x", "0X") and at most eight
// significant hexadecimal digits, taken as the 32-bit pattern. Nothing may follow the
// last digit. Port numbers are not range-checked: 0 and negative numbers convert.
bool ConvertComNumber(const std::string& text, int32_t& number);

}  // namespace korvane
