// Fuzzes ReadIntelHex against a plain reference of Korvane's Intel HEX rules: a UTF-8
// byte-order mark before and white space or Ctrl-Z after the text dropped, lines split
// at LF, CR LF or CR with white space around them dropped, blank lines skipped; every other
// line one record ':' LL AAAA TT data CC in hex digits whose bytes add up to 0 mod 256;
// data (00) within the flash, each byte once; end of file (01, no data) as the last
// record; segment (02) and linear (04) bases of 2 bytes; start addresses (03, 05) of 4.
// Both must agree on whether the text is accepted and on the image. Also checks that
// every failure is a one-line ASCII message and that ReadImage, choosing by content,
// returns raw bytes unchanged or a flash image of 1 to 32768 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "image/image_reader.h"
#include "image_fuzz_checks.h"

namespace {

int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Reference(std::string text, std::vector<uint8_t>* image) {
  const char* const space = " \t\v\f";
  // A byte-order mark before, white space and Ctrl-Z after; lines end in LF, CR LF or CR.
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  const size_t last = text.find_last_not_of(" \t\v\f\r\n\x1A");
  text.erase(last == std::string::npos ? 0 : last + 1);
  std::string unified;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    unified += text[i] == '\r' ? '\n' : text[i];
  }
  text = unified;
  std::map<uint64_t, uint8_t> bytes;
  uint64_t base = 0;
  bool ended = false;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t first = line.find_first_not_of(space);
    if (first == std::string::npos) continue;
    line = line.substr(first, line.find_last_not_of(space) + 1 - first);
    if (ended || line[0] != ':' || line.size() % 2 == 0) return false;
    std::vector<unsigned> record;
    unsigned sum = 0;
    for (size_t i = 1; i < line.size(); i += 2) {
      const int high = Digit(line[i]);
      const int low = Digit(line[i + 1]);
      if (high < 0 || low < 0) return false;
      record.push_back(static_cast<unsigned>(high * 16 + low));
      sum += record.back();
    }
    if (record.size() < 5 || record[0] != record.size() - 5 || sum % 256 != 0) return false;
    const unsigned length = record[0];
    const unsigned type = record[3];
    const uint64_t offset = record[1] * 256u + record[2];
    if (type == 0) {
      for (unsigned i = 0; i < length; ++i) {
        const uint64_t address = base + offset + i;
        if (address >= 32768 || bytes.count(address) != 0) return false;
        bytes[address] = static_cast<uint8_t>(record[4 + i]);
      }
    } else if (type == 1 && length == 0) {
      ended = true;
    } else if ((type == 2 || type == 4) && length == 2) {
      const uint64_t value = record[4] * 256u + record[5];
      base = type == 2 ? value * 16 : value * 65536;
    } else if ((type != 3 && type != 5) || length != 4) {
      return false;
    }
  }
  if (!ended || bytes.empty()) return false;
  image->assign(static_cast<size_t>(bytes.rbegin()->first + 1), 0xFF);
  for (const auto& [address, value] : bytes) (*image)[static_cast<size_t>(address)] = value;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image;
  const std::string error = korvane::ReadIntelHex(data, size, &image);
  std::vector<uint8_t> expected;
  const bool accepted =
      Reference(std::string(reinterpret_cast<const char*>(data), size), &expected);
  korvane::fuzz::CheckReader(error, image, accepted, expected);
  korvane::fuzz::CheckChoice(data, size, korvane::ImageFormat::IntelHex, error, image);
  return 0;
}
