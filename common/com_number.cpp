#include "common/com_number.h"

namespace korvane {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Hexadecimal digits from pos to the end; leading zeros are not significant.
bool ConvertHex(const std::string& text, size_t pos, int32_t& number) {
  if (pos >= text.size()) return false;
  uint32_t value = 0;
  int significant = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = HexValue(text[pos]);
    if (digit < 0) return false;
    if (value != 0 || digit != 0) ++significant;
    if (significant > 8) return false;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  number = static_cast<int32_t>(value);
  return true;
}

// Decimal digits from pos to the end, with the sign already read.
bool ConvertDecimal(const std::string& text, size_t pos, bool negative, int32_t& number) {
  if (pos >= text.size()) return false;
  // The magnitude may reach 2^31 for a negative number.
  const uint64_t limit = negative ? 2147483648u : 2147483647u;
  uint64_t value = 0;
  for (; pos < text.size(); ++pos) {
    if (!IsDigit(text[pos])) return false;
    value = value * 10 + static_cast<uint64_t>(text[pos] - '0');
    if (value > limit) return false;
  }
  number =
      negative ? static_cast<int32_t>(-static_cast<int64_t>(value)) : static_cast<int32_t>(value);
  return true;
}

}  // namespace

bool ConvertComNumber(const std::string& text, int32_t& number) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos >= text.size()) return false;

  const char first = text[pos];
  if (first == '$' || first == 'x' || first == 'X') return ConvertHex(text, pos + 1, number);
  if (first == '0' && pos + 1 < text.size() && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
    return ConvertHex(text, pos + 2, number);
  }
  if (first == '+' || first == '-') return ConvertDecimal(text, pos + 1, first == '-', number);
  return ConvertDecimal(text, pos, false, number);
}

}  // namespace korvane
