#include "image/image_reader.h"

#include <utility>

namespace korvane {

namespace {

// "0x" and `digits` upper-case hex digits.
std::string Hex(uint32_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    text += kDigits[(value >> shift) & 0xFu];
  return text;
}

std::string Address(uint32_t address) {
  return Hex(address, 8);
}
std::string Address64(uint64_t address) {
  return address > 0xFFFFFFFFu ? "0x" + Hex(static_cast<uint32_t>(address >> 32), 1).substr(2) +
                                     Hex(static_cast<uint32_t>(address), 8).substr(2)
                               : Address(static_cast<uint32_t>(address));
}

// The flash image being put together: which bytes are written, and the highest one.
class FlashImage {
 public:
  explicit FlashImage(uint32_t flashSize)
      : size_(flashSize), bytes_(flashSize, 0xFF), written_(flashSize, false) {}

  bool Fits(uint64_t address, uint64_t length) const {
    return address <= size_ && length <= size_ - address;
  }
  // "(0x00000000 to 0x00007FFF)".
  std::string Range() const { return "(" + Address(0) + " to " + Address(size_ - 1) + ")"; }
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
  void MoveTo(std::vector<uint8_t>* image, std::vector<bool>* hasData) {
    bytes_.resize(end_);
    *image = std::move(bytes_);
    if (hasData) {
      written_.resize(end_);
      *hasData = std::move(written_);
    }
  }

 private:
  uint32_t size_;
  std::vector<uint8_t> bytes_;
  std::vector<bool> written_;
  uint32_t end_ = 0;
};

// ---- Intel HEX ----

bool IsSpace(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

constexpr uint8_t kCtrlZ = 0x1A;

bool HasByteOrderMark(const uint8_t* data, size_t size) {
  return size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;
}

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
    case 1:
      return "an end-of-file record";
    case 2:
      return "an extended segment address record";
    case 3:
      return "a start segment address record";
    case 4:
      return "an extended linear address record";
    default:
      return "a start linear address record";
  }
}

std::string Bytes(size_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// Checks one record (the text of its line without surrounding white space, ':' first)
// and applies it. Empty on success, else the message without the line number.
std::string ReadRecord(const uint8_t* text, size_t length, uint32_t* base, bool* ended,
                       FlashImage* flash) {
  if (text[0] != ':') return "a record starts with ':', not with " + Character(text[0]);
  const uint8_t* digits = text + 1;
  const size_t digitCount = length - 1;
  for (size_t i = 0; i < digitCount; ++i) {
    if (HexValue(digits[i]) < 0) return Character(digits[i]) + " is not a hex digit";
  }
  if (digitCount % 2 != 0)
    return "the record has an odd number of hex digits (" + std::to_string(digitCount) + ")";
  const size_t count = digitCount / 2;
  if (count < 5) return "the record is too short (" + Bytes(count) + ", at least 5 are needed)";
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<uint8_t>(HexValue(digits[2 * i]) * 16 + HexValue(digits[2 * i + 1]));
  }
  const size_t dataLength = count - 5;
  if (bytes[0] != dataLength) {
    return "the length byte says " + Bytes(bytes[0]) + " of data, the record holds " +
           Bytes(dataLength);
  }
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < count; ++i) sum += bytes[i];
  const uint8_t needed = static_cast<uint8_t>(0x100u - (sum & 0xFFu));
  if (bytes[count - 1] != needed) {
    return "bad record checksum (" + Hex(bytes[count - 1], 2) + ", the record's bytes need " +
           Hex(needed, 2) + ")";
  }

  const unsigned type = bytes[3];
  const uint8_t* data = bytes.data() + 4;
  const uint32_t offset = uint32_t{bytes[1]} << 8 | bytes[2];
  if (type > 5) return "unknown record type " + Hex(type, 2);
  if (type != 0) {
    const size_t expected = type == 1 ? 0 : type == 2 || type == 4 ? 2 : 4;
    if (dataLength != expected) {
      return std::string(RecordName(type)) + " holds " + Bytes(dataLength) + " of data, not " +
             std::to_string(expected);
    }
  }
  switch (type) {
    case 0: {
      if (dataLength == 0) return {};
      // At most 0xFFFF0000 + 0xFFFF: no overflow.
      const uint32_t address = *base + offset;
      const auto n = static_cast<uint32_t>(dataLength);
      if (!flash->Fits(address, n)) {
        return "data at " + Address(address) + " (" + Bytes(n) + ") lies outside the flash " +
               flash->Range();
      }
      uint32_t twice = 0;
      if (flash->FindWritten(address, n, &twice))
        return "the byte at " + Address(twice) + " is written twice";
      flash->Write(address, data, n);
      return {};
    }
    case 1:
      *ended = true;
      return {};
    case 2:
      *base = (uint32_t{data[0]} << 8 | data[1]) * 16;
      return {};
    case 4:
      *base = (uint32_t{data[0]} << 8 | data[1]) << 16;
      return {};
    default:
      return {};  // start addresses mean nothing to the flash
  }
}

// ---- ELF ----

uint16_t Read16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
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

std::string NotArmExecutable(const std::string& why) {
  return "not a 32-bit ARM executable: " + why;
}

std::string ElfTypeName(uint16_t type) {
  switch (type) {
    case 0:
      return "no file type (ELF type 0)";
    case 1:
      return "a relocatable object file (ELF type 1)";
    case 3:
      return "a shared object (ELF type 3)";
    case 4:
      return "a core file (ELF type 4)";
    default:
      return "ELF type " + std::to_string(type);
  }
}

// A table of ELF program or section headers: entries of at least minEntrySize bytes,
// all of them in the file. Empty when it is good, else what is wrong.
std::string CheckHeaderTable(const char* kind, uint32_t tableOffset, uint16_t entrySize,
                             uint16_t entryCount, size_t minEntrySize, size_t size) {
  if (entrySize < minEntrySize) {
    return std::string(kind) + " header entries of " + Bytes(entrySize) + " (" +
           std::to_string(minEntrySize) + " expected)";
  }
  const uint64_t tableEnd = uint64_t{tableOffset} + uint64_t{entrySize} * entryCount;
  if (tableEnd > size) {
    return "truncated " + std::string(kind) + " header table (" + std::to_string(entryCount) +
           " entries of " + Bytes(entrySize) + " at offset " + std::to_string(tableOffset) +
           ", the file has " + Bytes(size) + ")";
  }
  return {};
}

// A PT_LOAD segment with bytes in the file.
struct Segment {
  uint16_t index = 0;
  uint32_t fileOffset = 0;
  uint32_t address = 0;  // its physical (load) address
  uint32_t fileSize = 0;
};

// Bytes of the file that go into flash, and what to call them in a message.
struct Section {
  std::string name;
  uint32_t fileOffset = 0;
  uint64_t address = 0;  // load address
  uint32_t size = 0;
  std::string overlapName;  // what an overlap is with
};

constexpr size_t kSectionHeaderSize = 40;
constexpr uint32_t kShtNobits = 8;
constexpr uint32_t kShfAlloc = 2;
constexpr uint16_t kShnXindex = 0xFFFF;

// The name of section index from the section name table, or "section N".
std::string SectionName(const uint8_t* data, size_t size, uint32_t tableOffset, uint16_t entrySize,
                        uint16_t entryCount, uint16_t index, uint32_t nameOffset) {
  const std::string fallback = "section " + std::to_string(index);
  const uint16_t namesIndex = Read16(data + 50);
  if (namesIndex >= entryCount) return fallback;
  const uint8_t* names = data + tableOffset + size_t{namesIndex} * entrySize;
  const uint32_t namesOffset = Read32(names + 16);
  const uint32_t namesSize = Read32(names + 20);
  if (uint64_t{namesOffset} + namesSize > size || nameOffset >= namesSize) return fallback;
  std::string name;
  for (uint32_t i = nameOffset; i < namesSize && data[namesOffset + i] != 0 && name.size() < 40;
       ++i) {
    const uint8_t c = data[namesOffset + i];
    if (c <= ' ' || c >= 0x7F) return fallback;
    name += static_cast<char>(c);
  }
  return name.empty() ? fallback : fallback + " (" + name + ")";
}

// The allocated sections with contents (not SHF_ALLOC-less, not SHT_NOBITS), each at
// its load address: the address in flash of the loadable segment that holds its bytes
// in the file, as objcopy -O binary places them; a section in no such segment goes to
// its own address. Bytes of a segment that no section holds (padding) are no data.
// Nothing for a file without section headers.
std::string ReadSections(const uint8_t* data, size_t size, const std::vector<Segment>& segments,
                         std::vector<Section>* sections) {
  const uint32_t tableOffset = Read32(data + 32);
  const uint16_t entrySize = Read16(data + 46);
  const uint16_t entryCount = Read16(data + 48);
  if (entryCount == 0) return {};
  if (entryCount == kShnXindex) return "the ELF file has too many section headers";
  const std::string table =
      CheckHeaderTable("section", tableOffset, entrySize, entryCount, kSectionHeaderSize, size);
  if (!table.empty()) return table;
  for (uint16_t index = 0; index < entryCount; ++index) {
    const uint8_t* header = data + tableOffset + size_t{index} * entrySize;
    const uint32_t type = Read32(header + 4);
    const uint32_t flags = Read32(header + 8);
    const uint32_t address = Read32(header + 12);
    const uint32_t fileOffset = Read32(header + 16);
    const uint32_t sectionSize = Read32(header + 20);
    if ((flags & kShfAlloc) == 0 || type == kShtNobits || sectionSize == 0) continue;
    const std::string name =
        SectionName(data, size, tableOffset, entrySize, entryCount, index, Read32(header));
    if (uint64_t{fileOffset} + sectionSize > size) {
      return name + ": its " + Bytes(sectionSize) + " at offset " + std::to_string(fileOffset) +
             " run past the end of the file (" + Bytes(size) + ")";
    }
    Section section{name, fileOffset, address, sectionSize, "an earlier section"};
    for (const Segment& segment : segments) {
      if (fileOffset >= segment.fileOffset &&
          uint64_t{fileOffset} + sectionSize <= uint64_t{segment.fileOffset} + segment.fileSize) {
        section.address = uint64_t{segment.address} + (fileOffset - segment.fileOffset);
        break;
      }
    }
    sections->push_back(section);
  }
  return {};
}

// ---- the choice of reader ----

bool LooksLikeIntelHex(const uint8_t* data, size_t size) {
  size_t i = HasByteOrderMark(data, size) ? 3 : 0;
  while (i < size && (IsSpace(data[i]) || data[i] == '\n' || data[i] == '\r')) ++i;
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
    case ImageFormat::IntelHex:
      return "Intel HEX";
    case ImageFormat::Elf:
      return "ELF";
    case ImageFormat::Raw:
      break;
  }
  return "raw binary";
}

std::string ReadIntelHex(const uint8_t* data, size_t size, std::vector<uint8_t>* image,
                         std::vector<bool>* hasData, uint32_t flashSize) {
  FlashImage flash(flashSize);
  uint32_t base = 0;
  bool ended = false;
  size_t lineNumber = 0;
  // A UTF-8 byte-order mark (Windows editors) is no part of the text; Ctrl-Z and
  // white space at the end (older tools end the file so) are none either.
  size_t start = HasByteOrderMark(data, size) ? 3 : 0;
  while (size > start && (IsSpace(data[size - 1]) || data[size - 1] == '\n' ||
                          data[size - 1] == '\r' || data[size - 1] == kCtrlZ)) {
    --size;
  }
  while (start < size) {
    // A line ends at LF, CR LF or CR alone.
    size_t end = start;
    while (end < size && data[end] != '\n' && data[end] != '\r') ++end;
    ++lineNumber;
    size_t first = start;
    size_t last = end;
    start = end == size ? size : end + 1;
    if (end < size && data[end] == '\r' && start < size && data[start] == '\n') ++start;
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
  flash.MoveTo(image, hasData);
  return {};
}

std::string ReadElf(const uint8_t* data, size_t size, std::vector<uint8_t>* image,
                    std::vector<bool>* hasData, uint32_t flashSize) {
  if (!HasElfMagic(data, size)) return "not an ELF file (it does not start with 0x7F 'ELF')";
  if (size < kElfHeaderSize) {
    return "truncated ELF header (" + std::to_string(size) + " of " +
           std::to_string(kElfHeaderSize) + " bytes)";
  }
  if (data[4] != 1) {
    return NotArmExecutable(data[4] == 2 ? "a 64-bit ELF file"
                                         : "ELF class " + std::to_string(data[4]));
  }
  if (data[5] != 1) {
    return NotArmExecutable(data[5] == 2 ? "big-endian"
                                         : "ELF data encoding " + std::to_string(data[5]));
  }
  const uint16_t type = Read16(data + 16);
  const uint16_t machine = Read16(data + 18);
  if (machine != kEmArm)
    return NotArmExecutable("machine " + std::to_string(machine) + ", not ARM (40)");
  if (type != kEtExec) return NotArmExecutable(ElfTypeName(type));

  const uint32_t tableOffset = Read32(data + 28);
  const uint16_t entrySize = Read16(data + 42);
  const uint16_t entryCount = Read16(data + 44);
  if (entryCount == 0) return "the ELF file has no program headers";
  if (entryCount == kPnXnum) return "the ELF file has too many program headers (PN_XNUM)";
  const std::string table =
      CheckHeaderTable("program", tableOffset, entrySize, entryCount, kProgramHeaderSize, size);
  if (!table.empty()) return table;

  // The loadable segments: where each lies in the file and in flash.
  std::vector<Segment> segments;
  for (uint16_t index = 0; index < entryCount; ++index) {
    const uint8_t* header = data + tableOffset + size_t{index} * entrySize;
    Segment segment{index, Read32(header + 4), Read32(header + 12), Read32(header + 16)};
    const uint32_t memorySize = Read32(header + 20);
    if (Read32(header) != kPtLoad || segment.fileSize == 0) continue;
    const std::string where = "segment " + std::to_string(index) + ": ";
    if (segment.fileSize > memorySize) {
      return where + "its " + Bytes(segment.fileSize) + " in the file exceed its " +
             Bytes(memorySize) + " in memory";
    }
    if (uint64_t{segment.fileOffset} + segment.fileSize > size) {
      return where + "its " + Bytes(segment.fileSize) + " at offset " +
             std::to_string(segment.fileOffset) + " run past the end of the file (" + Bytes(size) +
             ")";
    }
    segments.push_back(segment);
  }

  FlashImage flash(flashSize);
  std::vector<Section> sections;
  std::string error = ReadSections(data, size, segments, &sections);
  if (!error.empty()) return error;
  if (Read16(data + 48) == 0) {
    // Without section headers, the loadable segments are the data.
    for (const Segment& segment : segments) {
      sections.push_back({"segment " + std::to_string(segment.index), segment.fileOffset,
                          segment.address, segment.fileSize, "an earlier segment"});
    }
  }
  for (const Section& section : sections) {
    const std::string where = section.name + ": ";
    if (!flash.Fits(section.address, section.size)) {
      return where + Bytes(section.size) + " at " + Address64(section.address) +
             " lie outside the flash " + flash.Range();
    }
    const auto address = static_cast<uint32_t>(section.address);
    uint32_t twice = 0;
    if (flash.FindWritten(address, section.size, &twice)) {
      return where + "overlaps " + section.overlapName + " at " + Address(twice);
    }
    flash.Write(address, data + section.fileOffset, section.size);
  }
  if (flash.Empty()) {
    return Read16(data + 48) == 0
               ? "the ELF file has no loadable bytes (no PT_LOAD segment with file data)"
               : "the ELF file has no loadable bytes (no allocated section with contents)";
  }
  flash.MoveTo(image, hasData);
  return {};
}

const char* FormatOptionName(ImageFormat format) {
  switch (format) {
    case ImageFormat::IntelHex:
      return "hex";
    case ImageFormat::Elf:
      return "elf";
    case ImageFormat::Raw:
      break;
  }
  return "bin";
}

std::optional<ImageFormat> FormatOfName(const std::string& fileName) {
  const std::string extension = Extension(fileName);
  if (extension == "bin") return ImageFormat::Raw;
  if (extension == "hex" || extension == "ihx") return ImageFormat::IntelHex;
  if (extension == "elf" || extension == "axf") return ImageFormat::Elf;
  return std::nullopt;
}

ImageReadResult ReadImage(const std::string& fileName, const uint8_t* data, size_t size,
                          std::optional<ImageFormat> forced, uint32_t flashSize) {
  ImageReadResult result;
  const std::optional<ImageFormat> named = FormatOfName(fileName);
  if (forced) {
    result.format = *forced;
  } else if (named) {
    result.format = *named;
  } else if (HasElfMagic(data, size)) {
    result.format = ImageFormat::Elf;
  } else if (LooksLikeIntelHex(data, size)) {
    result.format = ImageFormat::IntelHex;
  } else {
    // A source file or a listing written into flash would be a mistake.
    result.unrecognised = true;
    result.error =
        "not a .bin, .hex, .ihx, .elf or .axf file, and its content is neither ELF nor Intel HEX";
    return result;
  }
  if (result.format == ImageFormat::IntelHex && !LooksLikeIntelHex(data, size)) {
    result.error = "not an Intel HEX file (it does not start with a ':' record)";
    return result;
  }
  if (result.format == ImageFormat::Elf && !HasElfMagic(data, size)) {
    result.error = "not an ELF file (it does not start with 0x7F 'ELF')";
    return result;
  }

  switch (result.format) {
    case ImageFormat::Raw:
      if (size > 0) result.image.assign(data, data + size);
      result.hasData.assign(size, true);
      break;
    case ImageFormat::IntelHex:
      result.error = ReadIntelHex(data, size, &result.image, &result.hasData, flashSize);
      break;
    case ImageFormat::Elf:
      result.error = ReadElf(data, size, &result.image, &result.hasData, flashSize);
      break;
  }
  return result;
}

}  // namespace korvane
