#include "image/image_reader.h"

#include <utility>

namespace korvane {

namespace {

// "0x" and `digits` upper-case hex digits.
std::string Hex(uint32_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xFu];
  return text;
}

std::string Address(uint32_t address) { return Hex(address, 8); }

const std::string& FlashRange() {
  static const std::string range = "(" + Address(0) + " to " + Address(kFlashSize - 1) + ")";
  return range;
}

// The flash image being put together: which bytes are written, and the highest one.
class FlashImage {
 public:
  FlashImage() : bytes_(kFlashSize, 0xFF), written_(kFlashSize, false) {}

  static bool Fits(uint64_t address, uint64_t length) {
    return address <= kFlashSize && length <= kFlashSize - address;
  }
  // The first byte of address..+length (which Fits) that is already written.
  bool FindWritten(uint32_t address, uint32_t length, uint32_t* at) const {
    for (uint32_t i = 0; i < length; ++i) {
      if (written_[address + i]) {
        *at = address + i;
        return true;
      }
    }
    return false;
  }
  void Write(uint32_t address, const uint8_t* bytes, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
      bytes_[address + i] = bytes[i];
      written_[address + i] = true;
    }
    if (length > 0 && address + length > end_) end_ = address + length;
  }
  bool Empty() const { return end_ == 0; }
  void MoveTo(std::vector<uint8_t>* image) {
    bytes_.resize(end_);
    *image = std::move(bytes_);
  }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<bool> written_;
  uint32_t end_ = 0;
};

// ---- Intel HEX ----

bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A character of the file for a message: 'G', or byte 0x00 when it is not printable.
std::string Character(uint8_t c) {
  if (c > ' ' && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
  return "byte " + Hex(c, 2);
}

const char* RecordName(unsigned type) {
  switch (type) {
    case 1: return "an end-of-file record";
    case 2: return "an extended segment address record";
    case 3: return "a start segment address record";
    case 4: return "an extended linear address record";
    default: return "a start linear address record";
  }
}

std::string Bytes(size_t count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

// Checks one record (the text of its line without surrounding white space, ':' first)
// and applies it. Empty on success, else the message without the line number.
std::string ReadRecord(const uint8_t* text, size_t length, uint32_t* base, bool* ended, FlashImage* flash) {
  if (text[0] != ':') return "a record starts with ':', not with " + Character(text[0]);
  const uint8_t* digits = text + 1;
  const size_t digitCount = length - 1;
  for (size_t i = 0; i < digitCount; ++i) {
    if (HexValue(digits[i]) < 0) return Character(digits[i]) + " is not a hex digit";
  }
  if (digitCount % 2 != 0) return "the record has an odd number of hex digits (" + std::to_string(digitCount) + ")";
  const size_t count = digitCount / 2;
  if (count < 5) return "the record is too short (" + Bytes(count) + ", at least 5 are needed)";
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<uint8_t>(HexValue(digits[2 * i]) * 16 + HexValue(digits[2 * i + 1]));
  }
  const size_t dataLength = count - 5;
  if (bytes[0] != dataLength) {
    return "the length byte says " + Bytes(bytes[0]) + " of data, the record holds " + Bytes(dataLength);
  }
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < count; ++i) sum += bytes[i];
  const uint8_t needed = static_cast<uint8_t>(0x100u - (sum & 0xFFu));
  if (bytes[count - 1] != needed) {
    return "bad record checksum (" + Hex(bytes[count - 1], 2) + ", the record's bytes need " + Hex(needed, 2) + ")";
  }

  const unsigned type = bytes[3];
  const uint8_t* data = bytes.data() + 4;
  const uint32_t offset = uint32_t{bytes[1]} << 8 | bytes[2];
  if (type > 5) return "unknown record type " + Hex(type, 2);
  if (type != 0) {
    const size_t expected = type == 1 ? 0 : type == 2 || type == 4 ? 2 : 4;
    if (dataLength != expected) {
      return std::string(RecordName(type)) + " holds " + Bytes(dataLength) + " of data, not " + std::to_string(expected);
    }
  }
  switch (type) {
    case 0: {
      if (dataLength == 0) return {};
      // At most 0xFFFF0000 + 0xFFFF: no overflow.
      const uint32_t address = *base + offset;
      const auto n = static_cast<uint32_t>(dataLength);
      if (!FlashImage::Fits(address, n)) {
        return "data at " + Address(address) + " (" + Bytes(n) + ") lies outside the flash " + FlashRange();
      }
      uint32_t twice = 0;
      if (flash->FindWritten(address, n, &twice)) return "the byte at " + Address(twice) + " is written twice";
      flash->Write(address, data, n);
      return {};
    }
    case 1: *ended = true; return {};
    case 2: *base = (uint32_t{data[0]} << 8 | data[1]) * 16; return {};
    case 4: *base = (uint32_t{data[0]} << 8 | data[1]) << 16; return {};
    default: return {};  // start addresses mean nothing to the flash
  }
}

// ---- ELF ----

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Read32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

constexpr size_t kElfHeaderSize = 52;
constexpr size_t kProgramHeaderSize = 32;
constexpr uint16_t kEtExec = 2;
constexpr uint16_t kEmArm = 40;
constexpr uint16_t kPnXnum = 0xFFFF;
constexpr uint32_t kPtLoad = 1;

bool HasElfMagic(const uint8_t* data, size_t size) {
  return size >= 4 && data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F';
}

std::string NotArmExecutable(const std::string& why) { return "not a 32-bit ARM executable: " + why; }

std::string ElfTypeName(uint16_t type) {
  switch (type) {
    case 0: return "no file type (ELF type 0)";
    case 1: return "a relocatable object file (ELF type 1)";
    case 3: return "a shared object (ELF type 3)";
    case 4: return "a core file (ELF type 4)";
    default: return "ELF type " + std::to_string(type);
  }
}

// ---- the choice of reader ----

bool LooksLikeIntelHex(const uint8_t* data, size_t size) {
  size_t i = 0;
  while (i < size && (IsSpace(data[i]) || data[i] == '\n')) ++i;
  return i + 1 < size && data[i] == ':' && HexValue(data[i + 1]) >= 0;
}

// The file name's extension after its last '.', in lower case ("" without one).
std::string Extension(const std::string& fileName) {
  const size_t slash = fileName.find_last_of("/\\");
  const size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string extension = fileName.substr(dot + 1);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return extension;
}

}  // namespace

const char* ImageFormatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::IntelHex: return "Intel HEX";
    case ImageFormat::Elf: return "ELF";
    case ImageFormat::Raw: break;
  }
  return "raw binary";
}

std::string ReadIntelHex(const uint8_t* data, size_t size, std::vector<uint8_t>* image) {
  FlashImage flash;
  uint32_t base = 0;
  bool ended = false;
  size_t lineNumber = 0;
  size_t start = 0;
  while (start < size) {
    size_t end = start;
    while (end < size && data[end] != '\n') ++end;
    ++lineNumber;
    size_t first = start;
    size_t last = end;
    start = end < size ? end + 1 : size;
    while (first < last && IsSpace(data[first])) ++first;
    while (last > first && IsSpace(data[last - 1])) --last;
    if (first == last) continue;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    if (ended) return where + "text after the end-of-file record";
    const std::string error = ReadRecord(data + first, last - first, &base, &ended, &flash);
    if (!error.empty()) return where + error;
  }
  if (!ended) return "the HEX file ends without an end-of-file record";
  if (flash.Empty()) return "the HEX file holds no data";
  flash.MoveTo(image);
  return {};
}

std::string ReadElf(const uint8_t* data, size_t size, std::vector<uint8_t>* image) {
  if (!HasElfMagic(data, size)) return "not an ELF file (it does not start with 0x7F 'ELF')";
  if (size < kElfHeaderSize) {
    return "truncated ELF header (" + std::to_string(size) + " of " + std::to_string(kElfHeaderSize) + " bytes)";
  }
  if (data[4] != 1) {
    return NotArmExecutable(data[4] == 2 ? "a 64-bit ELF file" : "ELF class " + std::to_string(data[4]));
  }
  if (data[5] != 1) {
    return NotArmExecutable(data[5] == 2 ? "big-endian" : "ELF data encoding " + std::to_string(data[5]));
  }
  const uint16_t type = Read16(data + 16);
  const uint16_t machine = Read16(data + 18);
  if (machine != kEmArm) return NotArmExecutable("machine " + std::to_string(machine) + ", not ARM (40)");
  if (type != kEtExec) return NotArmExecutable(ElfTypeName(type));

  const uint32_t tableOffset = Read32(data + 28);
  const uint16_t entrySize = Read16(data + 42);
  const uint16_t entryCount = Read16(data + 44);
  if (entryCount == 0) return "the ELF file has no program headers";
  if (entryCount == kPnXnum) return "the ELF file has too many program headers (PN_XNUM)";
  if (entrySize < kProgramHeaderSize) {
    return "program header entries of " + Bytes(entrySize) + " (" + std::to_string(kProgramHeaderSize) +
           " expected)";
  }
  const uint64_t tableEnd = uint64_t{tableOffset} + uint64_t{entrySize} * entryCount;
  if (tableEnd > size) {
    return "truncated program header table (" + std::to_string(entryCount) + " entries of " + Bytes(entrySize) +
           " at offset " + std::to_string(tableOffset) + ", the file has " + Bytes(size) + ")";
  }

  FlashImage flash;
  for (uint16_t index = 0; index < entryCount; ++index) {
    const uint8_t* header = data + tableOffset + size_t{index} * entrySize;
    const uint32_t fileOffset = Read32(header + 4);
    const uint32_t address = Read32(header + 12);
    const uint32_t fileSize = Read32(header + 16);
    if (Read32(header) != kPtLoad || fileSize == 0) continue;
    const std::string segment = "segment " + std::to_string(index) + ": ";
    if (uint64_t{fileOffset} + fileSize > size) {
      return segment + "its " + Bytes(fileSize) + " at offset " + std::to_string(fileOffset) +
             " run past the end of the file (" + Bytes(size) + ")";
    }
    if (!FlashImage::Fits(address, fileSize)) {
      return segment + Bytes(fileSize) + " at " + Address(address) + " lie outside the flash " + FlashRange();
    }
    uint32_t twice = 0;
    if (flash.FindWritten(address, fileSize, &twice)) {
      return segment + "overlaps an earlier segment at " + Address(twice);
    }
    flash.Write(address, data + fileOffset, fileSize);
  }
  if (flash.Empty()) return "the ELF file has no loadable bytes (no PT_LOAD segment with file data)";
  flash.MoveTo(image);
  return {};
}

ImageReadResult ReadImage(const std::string& fileName, const uint8_t* data, size_t size) {
  ImageReadResult result;
  const std::string extension = Extension(fileName);
  if (extension == "bin") {
    result.format = ImageFormat::Raw;
  } else if (extension == "hex") {
    result.format = ImageFormat::IntelHex;
    if (!LooksLikeIntelHex(data, size)) {
      result.error = "not an Intel HEX file (it does not start with a ':' record)";
      return result;
    }
  } else if (extension == "elf" || extension == "axf") {
    result.format = ImageFormat::Elf;
    if (!HasElfMagic(data, size)) {
      result.error = "not an ELF file (it does not start with 0x7F 'ELF')";
      return result;
    }
  } else if (HasElfMagic(data, size)) {
    result.format = ImageFormat::Elf;
  } else if (LooksLikeIntelHex(data, size)) {
    result.format = ImageFormat::IntelHex;
  }

  switch (result.format) {
    case ImageFormat::Raw:
      if (size > 0) result.image.assign(data, data + size);
      break;
    case ImageFormat::IntelHex: result.error = ReadIntelHex(data, size, &result.image); break;
    case ImageFormat::Elf: result.error = ReadElf(data, size, &result.image); break;
  }
  return result;
}

}  // namespace korvane
