// Fuzzes ConvertComNumber against a plain reference of the COM box's rules, written
// without the C library's number parsers: spaces, then either a sign and decimal
// digits within the 32-bit range, or "$", "x", "X", "0x" or "0X" and hexadecimal
// digits of which at most eight are significant; nothing after the digits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/com_number.h"

namespace {

int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

// The digits of `text` without leading zeros ("" for zero); false when a character is
// not a digit of the base or there are no digits at all.
bool SignificantDigits(const std::string& text, int base, std::string* digits) {
  if (text.empty()) return false;
  for (char c : text) {
    if (DigitValue(c, base) < 0) return false;
  }
  const size_t first = text.find_first_not_of('0');
  *digits = first == std::string::npos ? std::string() : text.substr(first);
  return true;
}

bool Reference(const std::string& text, int32_t* number) {
  const size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) return false;
  std::string rest = text.substr(start);
  std::string digits;

  std::string hex;
  if (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')
    hex = rest.substr(1);
  else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X'))
    hex = rest.substr(2);
  else
    hex = "-";  // not hexadecimal
  if (hex != "-") {
    if (!SignificantDigits(hex, 16, &digits) || digits.size() > 8) return false;
    uint32_t pattern = 0;
    for (char c : digits) pattern = pattern * 16 + static_cast<uint32_t>(DigitValue(c, 16));
    *number = static_cast<int32_t>(pattern);
    return true;
  }

  bool negative = false;
  if (rest[0] == '+' || rest[0] == '-') {
    negative = rest[0] == '-';
    rest = rest.substr(1);
  }
  if (!SignificantDigits(rest, 10, &digits)) return false;
  // Within range: compared as digit strings of equal length, no arithmetic overflow.
  const std::string limit = negative ? "2147483648" : "2147483647";
  if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit))
    return false;
  int64_t magnitude = 0;
  for (char c : digits) magnitude = magnitude * 10 + (c - '0');
  *number = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int32_t expected = 0;
  int32_t actual = 0;
  const bool expectedOk = Reference(text, &expected);
  const bool actualOk = korvane::ConvertComNumber(text, actual);
  if (actualOk != expectedOk || (actualOk && actual != expected)) std::abort();
  return 0;
}
