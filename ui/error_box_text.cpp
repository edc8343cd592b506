#include "ui/error_box_text.h"

namespace korvane::ui {

bool IsShiftJisLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string ApplicationTitle(const std::string& exePath, const LeadBytePredicate& isLeadByte) {
  // Trail bytes can be 0x5C ("\"), so the folder part is found by walking the
  // characters, not by searching for the byte.
  size_t nameStart = 0;
  for (size_t i = 0; i < exePath.size(); ++i) {
    const auto byte = static_cast<unsigned char>(exePath[i]);
    if (isLeadByte(byte)) {
      ++i;  // skip its trail byte
      continue;
    }
    if (byte == '\\' || byte == '/') nameStart = i + 1;
  }
  std::string title = exePath.substr(nameStart);
  const size_t dot = title.find('.');
  if (dot != std::string::npos) title.resize(dot);
  // The first character keeps its case; a double-byte character is never changed.
  for (size_t i = 0; i < title.size(); ++i) {
    const auto byte = static_cast<unsigned char>(title[i]);
    if (isLeadByte(byte)) {
      ++i;
      continue;
    }
    if (i > 0 && byte >= 'A' && byte <= 'Z') title[i] = static_cast<char>(byte - 'A' + 'a');
  }
  return title;
}

std::string ErrorBoxText(const std::string& message) {
  if (message.empty()) return message;
  // The last character is either one byte or a double-byte character whose trail
  // byte is the last byte. A lead byte is at least 0x81 and so sorts after "." (0x2E),
  // and a trail byte is at least 0x40: whenever the last byte is a trail byte the
  // character sorts after ".", and the comparison of the last byte alone decides.
  const auto last = static_cast<unsigned char>(message.back());
  return last > '.' ? message + "." : message;
}

}  // namespace korvane::ui
