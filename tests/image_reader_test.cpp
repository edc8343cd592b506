// The image readers: Intel HEX and ELF files into the flash image, and the choice of
// reader by file name and content.
#include "image/image_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "isp/image_checks.h"

namespace korvane {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// One Intel HEX record with its right checksum, without a line end.
std::string Record(unsigned type, unsigned address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                                static_cast<uint8_t>(type)};
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (uint8_t b : bytes) sum += b;
  bytes.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = ":";
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

const std::string kEof = ":00000001FF";

// A flash image of `size` bytes of 0xFF with `bytes` at `address`.
std::vector<uint8_t> Flash(size_t size, uint32_t address = 0,
                           const std::vector<uint8_t>& bytes = {}) {
  std::vector<uint8_t> image(size, 0xFF);
  std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(address));
  return image;
}

TEST(ImageReaderHex, ReadsRecordsIntoTheFlashImage) {
  std::vector<uint8_t> spread = Flash(7, 0, {0xA1, 0xA2});
  spread[6] = 0xA3;
  std::vector<uint8_t> lastByte = Flash(kFlashSize, 0x7FFF, {0x5A});
  lastByte[0] = 0x01;
  const struct {
    const char* what;
    std::string text;
    std::vector<uint8_t> image;
  } cases[] = {
      {"one record, as a tool writes it", ":0400000001020304F2\n" + kEof + "\n", {1, 2, 3, 4}},
      {"gaps filled with 0xFF, records in any order",
       Record(0, 6, {0xA3}) + "\n" + Record(0, 0, {0xA1, 0xA2}) + "\n" + kEof + "\n", spread},
      {"extended linear address 0 reaches the last byte of the flash",
       Record(4, 0, {0x00, 0x00}) + "\n" + Record(0, 0x7FFF, {0x5A}) + "\n" + Record(0, 0, {0x01}) +
           "\n" + kEof,
       lastByte},
      {"extended segment address: base = value * 16",
       Record(2, 0, {0x00, 0x10}) + "\n" + Record(0, 4, {0x77}) + "\n" + kEof + "\n",
       Flash(0x105, 0x104, {0x77})},
      {"a linear base replaces a segment base",
       Record(2, 0, {0x10, 0x00}) + "\n" + Record(4, 0, {0x00, 0x00}) + "\n" +
           Record(0, 2, {0x66}) + "\n" + kEof,
       Flash(3, 2, {0x66})},
      {"CRLF, lower case, blank lines, surrounding white space",
       "\r\n  :0400000001020304f2  \r\n\r\n\t:00000001ff\t\r\n\r\n",
       {1, 2, 3, 4}},
      {"start addresses ignored, empty data records allowed",
       Record(3, 0, {0, 0, 1, 0}) + "\n" + Record(5, 0, {0, 0, 0, 0x41}) + "\n" +
           Record(0, 0x9000, {}) + "\n" + Record(0, 1, {0x33}) + "\n" + kEof,
       Flash(2, 1, {0x33})},
      {"the end-of-file record may carry an address",
       Record(0, 0, {0x11}) + "\n" + Record(1, 0x1234, {}),
       {0x11}},
      {"a UTF-8 byte-order mark before the first record",
       "\xEF\xBB\xBF:0400000001020304F2\r\n" + kEof + "\r\n",
       {1, 2, 3, 4}},
      {"lines ended by CR alone", ":0400000001020304F2\r\r" + kEof + "\r", {1, 2, 3, 4}},
      {"Ctrl-Z and white space after the end-of-file record",
       ":0400000001020304F2\n" + kEof + "\r\n\x1A",
       {1, 2, 3, 4}},
      {"Ctrl-Z right behind it", ":0400000001020304F2\n" + kEof + "\x1A\x1A \n", {1, 2, 3, 4}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> image = {0xEE};
    const std::vector<uint8_t> text = Bytes(c.text);
    EXPECT_EQ(ReadIntelHex(text.data(), text.size(), &image), "") << c.what;
    EXPECT_EQ(image, c.image) << c.what;
  }
}

TEST(ImageReaderHex, NamesTheFaultAndItsLine) {
  const std::string data = Record(0, 0, {1, 2}) + "\n";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      // Record syntax.
      {data + "0400000001020304F2\n" + kEof, "line 2: a record starts with ':', not with '0'"},
      {data + ":04000000010G0304F2\n" + kEof, "line 2: 'G' is not a hex digit"},
      {data + ":0400000001 0304F2\n" + kEof, "line 2: byte 0x20 is not a hex digit"},
      {data + ":0400000001020304F\n" + kEof,
       "line 2: the record has an odd number of hex digits (17)"},
      {data + ":00000001\n", "line 2: the record is too short (4 bytes, at least 5 are needed)"},
      {data + ":\n", "line 2: the record is too short (0 bytes, at least 5 are needed)"},
      {":0300000001020304F5\n" + kEof,
       "line 1: the length byte says 3 bytes of data, the record holds 4 bytes"},
      {":0500000001020304F1\n" + kEof,
       "line 1: the length byte says 5 bytes of data, the record holds 4 bytes"},
      {":0400000001020304F3\n" + kEof,
       "line 1: bad record checksum (0xF3, the record's bytes need 0xF2)"},
      {data + ":00000001FE\n", "line 2: bad record checksum (0xFE, the record's bytes need 0xFF)"},
      // Record types and their lengths.
      {data + Record(6, 0, {}) + "\n" + kEof, "line 2: unknown record type 0x06"},
      {data + Record(1, 0, {0}), "line 2: an end-of-file record holds 1 byte of data, not 0"},
      {Record(2, 0, {0}) + "\n" + data + kEof,
       "line 1: an extended segment address record holds 1 byte of data, not 2"},
      {Record(4, 0, {0, 0, 0}) + "\n" + data + kEof,
       "line 1: an extended linear address record holds 3 bytes of data, not 2"},
      {Record(3, 0, {0, 0}) + "\n" + data + kEof,
       "line 1: a start segment address record holds 2 bytes of data, not 4"},
      {Record(5, 0, {0, 0, 0, 0, 0}) + "\n" + data + kEof,
       "line 1: a start linear address record holds 5 bytes of data, not 4"},
      // Addresses outside the flash.
      {data + Record(0, 0x8000, {1}) + "\n" + kEof,
       "line 2: data at 0x00008000 (1 byte) lies outside the flash (0x00000000 to 0x00007FFF)"},
      {data + Record(0, 0x7FFE, {1, 2, 3}) + "\n" + kEof,
       "line 2: data at 0x00007FFE (3 bytes) lies outside the flash (0x00000000 to 0x00007FFF)"},
      {data + Record(4, 0, {0x10, 0x00}) + "\n" + Record(0, 0, {1}) + "\n" + kEof,
       "line 3: data at 0x10000000 (1 byte) lies outside the flash (0x00000000 to 0x00007FFF)"},
      {data + Record(4, 0, {0xFF, 0xFF}) + "\n" + Record(0, 0xFFFF, {1, 2}) + "\n" + kEof,
       "line 3: data at 0xFFFFFFFF (2 bytes) lies outside the flash (0x00000000 to 0x00007FFF)"},
      {data + Record(2, 0, {0x08, 0x00}) + "\n" + Record(0, 0, {1}) + "\n" + kEof,
       "line 3: data at 0x00008000 (1 byte) lies outside the flash (0x00000000 to 0x00007FFF)"},
      // Bytes written twice, also through a different base.
      {data + Record(0, 1, {9, 9}) + "\n" + kEof,
       "line 2: the byte at 0x00000001 is written twice"},
      {Record(0, 0x102, {1}) + "\n" + Record(2, 0, {0x00, 0x10}) + "\n" + Record(0, 0, {1, 2, 3}) +
           "\n" + kEof,
       "line 3: the byte at 0x00000102 is written twice"},
      // The end of the file: lines count blank ones and CRLF ends.
      {data, "the HEX file ends without an end-of-file record"},
      {"", "the HEX file ends without an end-of-file record"},
      {data + kEof + "\r\n\r\n" + data, "line 4: text after the end-of-file record"},
      {data + kEof + " \n\t x", "line 3: text after the end-of-file record"},
      {data + kEof + "\n\x1A" + data, "line 3: text after the end-of-file record"},
      {data + "\x1A" + kEof, "line 2: a record starts with ':', not with byte 0x1A"},
      {data + "\r" + ":0400000001020304F3\r" + kEof,
       "line 3: bad record checksum (0xF3, the record's bytes need 0xF2)"},
      {"\r\n" + data + "\r\n" + ":0400000001020304F3\r\n" + kEof,
       "line 4: bad record checksum (0xF3, the record's bytes need 0xF2)"},
      {kEof + "\n", "the HEX file holds no data"},
      {Record(4, 0, {0, 0}) + "\n" + Record(0, 0, {}) + "\n" + kEof, "the HEX file holds no data"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> image = {0xEE};
    const std::vector<uint8_t> text = Bytes(c.text);
    EXPECT_EQ(ReadIntelHex(text.data(), text.size(), &image), c.error) << c.text;
    EXPECT_EQ(image, std::vector<uint8_t>{0xEE})
        << "a failed read leaves the image alone: " << c.text;
  }
}

// A 32-bit little-endian ARM executable: the ELF header, the program headers right after
// it, and the segments' file bytes after them in order.
struct Segment {
  uint32_t type;
  uint32_t paddr;
  uint32_t vaddr;
  std::vector<uint8_t> bytes;
  uint32_t memsz;
};

constexpr uint32_t kPtLoad = 1;

void Put16(std::vector<uint8_t>& file, size_t offset, uint32_t value) {
  file[offset] = static_cast<uint8_t>(value);
  file[offset + 1] = static_cast<uint8_t>(value >> 8);
}
void Put32(std::vector<uint8_t>& file, size_t offset, uint32_t value) {
  Put16(file, offset, value & 0xFFFF);
  Put16(file, offset + 2, value >> 16);
}
size_t Read32At(const std::vector<uint8_t>& file, size_t offset) {
  return size_t{file[offset]} | size_t{file[offset + 1]} << 8 | size_t{file[offset + 2]} << 16 |
         size_t{file[offset + 3]} << 24;
}

std::vector<uint8_t> BuildElf(const std::vector<Segment>& segments) {
  std::vector<uint8_t> file(52 + 32 * segments.size());
  const uint8_t ident[] = {0x7F, 'E', 'L', 'F', 1, 1, 1};
  std::copy(std::begin(ident), std::end(ident), file.begin());
  Put16(file, 16, 2);   // ET_EXEC
  Put16(file, 18, 40);  // EM_ARM
  Put32(file, 20, 1);   // EV_CURRENT
  Put32(file, 24, 0x41);
  Put32(file, 28, 52);  // e_phoff
  Put32(file, 36, 0x05000200);
  Put16(file, 40, 52);
  Put16(file, 42, 32);
  Put16(file, 44, static_cast<uint32_t>(segments.size()));
  for (size_t i = 0; i < segments.size(); ++i) {
    const Segment& s = segments[i];
    const size_t header = 52 + 32 * i;
    Put32(file, header, s.type);
    Put32(file, header + 4, static_cast<uint32_t>(file.size()));
    Put32(file, header + 8, s.vaddr);
    Put32(file, header + 12, s.paddr);
    Put32(file, header + 16, static_cast<uint32_t>(s.bytes.size()));
    Put32(file, header + 20, s.memsz);
    Put32(file, header + 24, 5);
    Put32(file, header + 28, 4);
    file.insert(file.end(), s.bytes.begin(), s.bytes.end());
  }
  return file;
}

// A program as this chip's linker script lays it out: .text at 0; .data loaded at 0x10
// in flash but run at 0x10000000 in RAM, with .bss after it (memsz beyond its file
// bytes); a stack segment with no file bytes; a non-loadable segment elsewhere.
std::vector<uint8_t> GoodElf() {
  return BuildElf({{kPtLoad, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}, 8},
                   {kPtLoad, 0x10, 0x10000000, {0xD0, 0xD1, 0xD2, 0xD3}, 0x104},
                   {kPtLoad, 0x10000F00, 0x10000F00, {}, 0x100},
                   {0x70000001, 0x20000000, 0x20000000, {0xEE, 0xEE}, 2}});
}

// Offsets in GoodElf: program header i at 52 + 32 * i; its fields p_offset +4,
// p_paddr +12, p_filesz +16. The file bytes start at 180.
size_t Ph(size_t index, size_t field) {
  return 52 + 32 * index + field;
}

TEST(ImageReaderElf, LoadsFileBytesAtTheirPhysicalAddresses) {
  const std::vector<uint8_t> file = GoodElf();
  std::vector<uint8_t> image;
  ASSERT_EQ(ReadElf(file.data(), file.size(), &image), "");
  std::vector<uint8_t> expected = Flash(0x14, 0, {1, 2, 3, 4, 5, 6, 7, 8});
  for (uint8_t i = 0; i < 4; ++i) expected[0x10 + i] = static_cast<uint8_t>(0xD0 + i);
  EXPECT_EQ(image, expected);

  // A segment that ends at the last byte of the flash.
  const std::vector<uint8_t> top = BuildElf({{kPtLoad, 0x7FFE, 0x7FFE, {0xAA, 0xBB}, 2}});
  ASSERT_EQ(ReadElf(top.data(), top.size(), &image), "");
  EXPECT_EQ(image, Flash(kFlashSize, 0x7FFE, {0xAA, 0xBB}));
}

TEST(ImageReaderElf, RefusesWhatItCannotLoad) {
  const std::vector<uint8_t> good = GoodElf();
  const std::string notArm = "not a 32-bit ARM executable: ";
  const std::string outside = " lie outside the flash (0x00000000 to 0x00007FFF)";
  const struct {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> change;
    std::string error;
  } cases[] = {
      {"not ELF", [](auto& f) { f[1] = 'e'; },
       "not an ELF file (it does not start with 0x7F 'ELF')"},
      {"only the magic", [](auto& f) { f.resize(4); }, "truncated ELF header (4 of 52 bytes)"},
      {"header cut", [](auto& f) { f.resize(51); }, "truncated ELF header (51 of 52 bytes)"},
      {"64-bit", [](auto& f) { f[4] = 2; }, notArm + "a 64-bit ELF file"},
      {"no class", [](auto& f) { f[4] = 0; }, notArm + "ELF class 0"},
      {"big-endian", [](auto& f) { f[5] = 2; }, notArm + "big-endian"},
      {"x86-64", [](auto& f) { Put16(f, 18, 62); }, notArm + "machine 62, not ARM (40)"},
      {"object file", [](auto& f) { Put16(f, 16, 1); },
       notArm + "a relocatable object file (ELF type 1)"},
      {"shared object", [](auto& f) { Put16(f, 16, 3); }, notArm + "a shared object (ELF type 3)"},
      {"no program headers", [](auto& f) { Put16(f, 44, 0); },
       "the ELF file has no program headers"},
      {"PN_XNUM", [](auto& f) { Put16(f, 44, 0xFFFF); },
       "the ELF file has too many program headers (PN_XNUM)"},
      {"short entries", [](auto& f) { Put16(f, 42, 16); },
       "program header entries of 16 bytes (32 expected)"},
      {"table past the end", [](auto& f) { Put32(f, 28, 100); },
       "truncated program header table (4 entries of 32 bytes at offset 100, the file has 194 "
       "bytes)"},
      {"table offset near 4 GiB", [](auto& f) { Put32(f, 28, 0xFFFFFFF0); },
       "truncated program header table (4 entries of 32 bytes at offset 4294967280, the file has "
       "194 bytes)"},
      {"too many entries", [](auto& f) { Put16(f, 44, 0xFFFE); },
       "truncated program header table (65534 entries of 32 bytes at offset 52, the file has 194 "
       "bytes)"},
      {"file bytes cut", [](auto& f) { f.resize(190); },
       "segment 1: its 4 bytes at offset 188 run past the end of the file (190 bytes)"},
      {"file offset near 4 GiB", [](auto& f) { Put32(f, Ph(0, 4), 0xFFFFFFFC); },
       "segment 0: its 8 bytes at offset 4294967292 run past the end of the file (194 bytes)"},
      {"file size near 4 GiB",
       [](auto& f) {
         Put32(f, Ph(0, 16), 0xFFFFFFFF);
         Put32(f, Ph(0, 20), 0xFFFFFFFF);
       },
       "segment 0: its 4294967295 bytes at offset 180 run past the end of the file (194 bytes)"},
      {"more file bytes than memory", [](auto& f) { Put32(f, Ph(1, 20), 3); },
       "segment 1: its 4 bytes in the file exceed its 3 bytes in memory"},
      {"loaded at its run address in RAM", [](auto& f) { Put32(f, Ph(1, 12), 0x10000000); },
       "segment 1: 4 bytes at 0x10000000" + outside},
      {"over the end of the flash", [](auto& f) { Put32(f, Ph(1, 12), 0x7FFE); },
       "segment 1: 4 bytes at 0x00007FFE" + outside},
      {"address near 4 GiB", [](auto& f) { Put32(f, Ph(1, 12), 0xFFFFFFFE); },
       "segment 1: 4 bytes at 0xFFFFFFFE" + outside},
      {"overlap", [](auto& f) { Put32(f, Ph(1, 12), 6); },
       "segment 1: overlaps an earlier segment at 0x00000006"},
      {"nothing to load",
       [](auto& f) {
         Put32(f, Ph(0, 0), 4);
         Put32(f, Ph(1, 16), 0);
       },
       "the ELF file has no loadable bytes (no PT_LOAD segment with file data)"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> file = good;
    c.change(file);
    std::vector<uint8_t> image = {0xEE};
    EXPECT_EQ(ReadElf(file.data(), file.size(), &image), c.error) << c.what;
    EXPECT_EQ(image, std::vector<uint8_t>{0xEE}) << c.what;
  }
}

// A linked program as a GNU linker lays it out: one segment at 0 that also holds the ELF
// and program headers, .text after them, padding, .rodata; .data loaded at 0x80 but run
// in RAM, .bss after it; a .comment that is not loaded; the section name table.
std::vector<uint8_t> ElfWithSections() {
  std::vector<uint8_t> file(0x90, 0);
  const uint8_t ident[] = {0x7F, 'E', 'L', 'F', 1, 1, 1};
  std::copy(std::begin(ident), std::end(ident), file.begin());
  Put16(file, 16, 2);
  Put16(file, 18, 40);
  Put32(file, 28, 52);  // e_phoff
  Put16(file, 42, 32);
  Put16(file, 44, 2);
  const uint32_t program[2][6] = {{kPtLoad, 0, 0, 0, 0x84, 0x84},
                                  {kPtLoad, 0x84, 0x10000000, 0xA0, 4, 0x10}};
  for (size_t i = 0; i < 2; ++i) {
    for (size_t k = 0; k < 6; ++k) Put32(file, 52 + 32 * i + 4 * k, program[i][k]);
  }
  for (uint8_t i = 0; i < 8; ++i) file[0x74 + i] = static_cast<uint8_t>(0xA0 + i);  // .text
  for (uint8_t i = 0; i < 4; ++i) file[0x7C + i] = 0x00;                            // padding
  for (uint8_t i = 0; i < 4; ++i) file[0x80 + i] = static_cast<uint8_t>(0xB0 + i);  // .rodata
  for (uint8_t i = 0; i < 4; ++i) file[0x84 + i] = static_cast<uint8_t>(0xD0 + i);  // .data
  file[0x88] = 'G';                                                                 // .comment
  const std::string names = std::string("\0.text\0.rodata\0.data\0.bss\0.comment\0.shstrtab\0", 45);
  const auto namesOffset = static_cast<uint32_t>(file.size());
  file.insert(file.end(), names.begin(), names.end());
  // name, type, flags, addr, offset, size
  const uint32_t sections[7][6] = {
      {0, 0, 0, 0, 0, 0},
      {1, 1, 6, 0x74, 0x74, 8},          // .text: PROGBITS, ALLOC | EXECINSTR
      {7, 1, 2, 0x80, 0x80, 4},          // .rodata
      {15, 1, 3, 0x10000000, 0x84, 4},   // .data: at its run address
      {21, 8, 3, 0x10000004, 0x88, 12},  // .bss: NOBITS
      {26, 1, 0, 0, 0x88, 1},            // .comment: not allocated
      {35, 3, 0, 0, namesOffset, 45},    // .shstrtab
  };
  const auto tableOffset = static_cast<uint32_t>(file.size());
  file.resize(file.size() + 7 * 40, 0);
  for (size_t i = 0; i < 7; ++i) {
    for (size_t k = 0; k < 6; ++k) Put32(file, tableOffset + 40 * i + 4 * k, sections[i][k]);
  }
  Put32(file, 32, tableOffset);  // e_shoff
  Put16(file, 46, 40);
  Put16(file, 48, 7);
  Put16(file, 50, 6);
  return file;
}

TEST(ImageReaderElf, TakesAllocatedSectionsAtTheirLoadAddressesAsObjcopyDoes) {
  const std::vector<uint8_t> file = ElfWithSections();
  std::vector<uint8_t> image;
  std::vector<bool> hasData;
  ASSERT_EQ(ReadElf(file.data(), file.size(), &image, &hasData), "");
  // The headers in the segment and its padding are no data; .data goes to its load
  // address; .bss and .comment are not written.
  std::vector<uint8_t> expected =
      Flash(0xA4, 0x74, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7});
  for (uint8_t i = 0; i < 4; ++i) expected[0x80 + i] = static_cast<uint8_t>(0xB0 + i);
  for (uint8_t i = 0; i < 4; ++i) expected[0xA0 + i] = static_cast<uint8_t>(0xD0 + i);
  EXPECT_EQ(image, expected);
  ASSERT_EQ(hasData.size(), image.size());
  for (size_t i = 0; i < hasData.size(); ++i) {
    const bool data = (i >= 0x74 && i < 0x7C) || (i >= 0x80 && i < 0x84) || (i >= 0xA0 && i < 0xA4);
    EXPECT_EQ(hasData[i], data) << i;
  }

  // A section outside the flash or over another is named.
  std::vector<uint8_t> bad = file;
  const size_t table = Read32At(file, 32);
  Put32(bad, 52 + 32 + 12, 0x7FFE);  // .data's segment loaded over the end of the flash
  EXPECT_EQ(
      ReadElf(bad.data(), bad.size(), &image),
      "section 3 (.data): 4 bytes at 0x00007FFE lie outside the flash (0x00000000 to 0x00007FFF)");
  bad = file;
  Put32(bad, table + 40 * 2 + 16, 0x78);  // .rodata over .text
  EXPECT_EQ(ReadElf(bad.data(), bad.size(), &image),
            "section 2 (.rodata): overlaps an earlier section at 0x00000078");
  bad = file;
  Put32(bad, table + 40 * 1 + 20, 0x10000);
  EXPECT_EQ(
      ReadElf(bad.data(), bad.size(), &image),
      "section 1 (.text): its 65536 bytes at offset 116 run past the end of the file (469 bytes)");
}

TEST(ImageReader, ChoosesTheReaderByNameThenByContent) {
  const std::vector<uint8_t> hex = Bytes(":0400000001020304F2\n" + kEof + "\n");
  const std::vector<uint8_t> hexImage = {1, 2, 3, 4};
  const std::vector<uint8_t> badHex = Bytes(":0400000001020304F3\n" + kEof + "\n");
  const std::vector<uint8_t> elf = GoodElf();
  std::vector<uint8_t> elfImage;
  ASSERT_EQ(ReadElf(elf.data(), elf.size(), &elfImage), "");
  std::vector<uint8_t> truncatedElf(elf.begin(), elf.begin() + 20);
  const std::vector<uint8_t> raw = {0x00, 0x10, 0x00, 0x10, 0x41, 0x00, 0x00, 0x00};
  const std::vector<uint8_t> big(kFlashSize + 1, 0x3A);  // ':' bytes, but no hex digit after them
  const std::vector<uint8_t> notHexDigits = Bytes(" \n:zz\n");
  const std::vector<uint8_t> empty;

  const std::string checksum = "line 1: bad record checksum (0xF3, the record's bytes need 0xF2)";
  const std::string notHex = "not an Intel HEX file (it does not start with a ':' record)";
  const std::string notElf = "not an ELF file (it does not start with 0x7F 'ELF')";
  const std::string unknown =
      "not a .bin, .hex, .ihx, .elf or .axf file, and its content is neither ELF nor Intel HEX";
  const auto R = ImageFormat::Raw;
  const auto H = ImageFormat::IntelHex;
  const auto E = ImageFormat::Elf;
  const struct {
    std::string name;
    const std::vector<uint8_t>& content;
    ImageFormat format;
    std::string error;
    const std::vector<uint8_t>& image;  // for a raw image: the content itself
  } cases[] = {
      // .bin: the bytes as they are, whatever they hold, however many.
      {"blink.bin", hex, R, "", hex},
      {"C:\\images\\BLINK.BIN", elf, R, "", elf},
      {"big.bin", big, R, "", big},
      {"empty.bin", empty, R, "", empty},
      // .hex and .elf/.axf: that format or an error.
      {"blink.hex", hex, H, "", hexImage},
      {"blink.HEX", badHex, H, checksum, empty},
      {"blink.hex", elf, H, notHex, empty},
      {"blink.hex", raw, H, notHex, empty},
      {"blink.hex", empty, H, notHex, empty},
      {"dir/blink.elf", elf, E, "", elfImage},
      {"blink.Axf", elf, E, "", elfImage},
      {"blink.elf", hex, E, notElf, empty},
      {"blink.axf", raw, E, notElf, empty},
      // Other names: the content decides, and errors of a recognised format count.
      {"image", elf, E, "", elfImage},
      {"image.img", hex, H, "", hexImage},
      {"image.txt", badHex, H, checksum, empty},
      {"image", truncatedElf, E, "truncated ELF header (20 of 52 bytes)", empty},
      {"blink.ihx", hex, H, "", hexImage},
      // Neither name nor content tells what it is: refused, not written as raw bytes.
      {"blink.c", raw, R, unknown, empty},
      {"image.dat", raw, R, unknown, empty},
      {"image", notHexDigits, R, unknown, empty},
      {"image", big, R, unknown, empty},
      {"image", empty, R, unknown, empty},
      // The extension is the last one of the file's own name.
      {"out.hex/image", raw, R, unknown, empty},
      {"out.elf\\image", raw, R, unknown, empty},
      {"image.hex.bin", hex, R, "", hex},
      {"image.bin.hex", hex, H, "", hexImage},
  };
  for (const auto& c : cases) {
    const ImageReadResult result = ReadImage(c.name, c.content.data(), c.content.size());
    const std::string what = c.name + " holding " + std::to_string(c.content.size()) + " bytes";
    EXPECT_EQ(result.format, c.format) << what;
    EXPECT_EQ(result.error, c.error) << what;
    EXPECT_EQ(result.unrecognised, c.error == unknown) << what;
    if (c.error.empty()) {
      EXPECT_EQ(result.image, c.image) << what;
      EXPECT_EQ(result.hasData.size(), result.image.size()) << what;
    }
  }
  // --format decides whatever the name says.
  ImageReadResult forced = ReadImage("blink.c", hex.data(), hex.size(), ImageFormat::Raw);
  EXPECT_EQ(forced.error, "");
  EXPECT_EQ(forced.image, hex);
  forced = ReadImage("blink.c", hex.data(), hex.size(), ImageFormat::IntelHex);
  EXPECT_EQ(forced.image, hexImage);
  forced = ReadImage("app.bin", hex.data(), hex.size(), ImageFormat::Elf);
  EXPECT_EQ(forced.error, notElf);
}

TEST(ImageReader, FormatNames) {
  EXPECT_STREQ(ImageFormatName(ImageFormat::Raw), "raw binary");
  EXPECT_STREQ(ImageFormatName(ImageFormat::IntelHex), "Intel HEX");
  EXPECT_STREQ(ImageFormatName(ImageFormat::Elf), "ELF");
}

std::vector<uint8_t> ReadExample(const char* name) {
  std::ifstream in(std::string(KORVANE_SOURCE_DIR "/examples/blink/") + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// examples/blink/build writes the same program as blink.elf, blink.hex and blink.bin,
// each with the vector checksum the boot ROM needs.
TEST(ImageReader, TheExampleProgramReadsAsItsBinary) {
  const std::vector<uint8_t> bin = ReadExample("blink.bin");
  ASSERT_GE(bin.size(), kVectorTableBytes);
  EXPECT_TRUE(HasValidVectorChecksum(bin.data(), bin.size()));
  for (const char* name : {"blink.elf", "blink.hex"}) {
    const std::vector<uint8_t> file = ReadExample(name);
    ASSERT_FALSE(file.empty()) << name;
    ImageReadResult result = ReadImage(name, file.data(), file.size());
    ASSERT_EQ(result.error, "") << name;
    EXPECT_EQ(result.format,
              std::string(name) == "blink.elf" ? ImageFormat::Elf : ImageFormat::IntelHex);
    EXPECT_EQ(result.image, bin) << name;
  }
}

}  // namespace
}  // namespace korvane
