// Turns the bytes of an image file into the flash image that is written: a raw binary
// as it is, or the bytes an Intel HEX file or an ARM ELF executable places into the
// 32 KiB flash of the LPC1114FN28. Plain portable code without platform headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/parts.h"

namespace korvane {

enum class ImageFormat { Raw, IntelHex, Elf };
// "raw binary", "Intel HEX", "ELF".
const char* ImageFormatName(ImageFormat format);
// "bin", "hex", "elf": the names --format takes.
const char* FormatOptionName(ImageFormat format);

// The chip's flash: addresses 0 to kFlashSize - 1.
constexpr uint32_t kFlashSize = kLpc1114Map.flashSize;

// Each returns the empty string on success, with *image holding the flash image from
// address 0 (gaps filled with 0xFF, its size the highest written address + 1, so 1 to
// kFlashSize bytes) and, when hasData is given, *hasData a flag per byte of it that
// tells whether the file gives that byte (gaps are no data); otherwise a one-line
// English message such as "line 12: bad record checksum (0x3C, the record's bytes
// need 0x3D)", and *image is left as it was.
//
// Intel HEX: records ":LLAAAATT...CC" (either case), lines ending in LF, CR LF or CR,
// blank lines and surrounding white space allowed, a UTF-8 byte-order mark before the
// first and white space or Ctrl-Z (0x1A) after the last; data (00), end of file (01,
// required and last), extended segment (02) and linear (04) addresses; start addresses
// (03, 05) are checked and ignored. Every byte must lie in the flash and be written
// only once.
std::string ReadIntelHex(const uint8_t* data, size_t size, std::vector<uint8_t>* image,
                         std::vector<bool>* hasData = nullptr, uint32_t flashSize = kFlashSize);
// ELF: a 32-bit little-endian ARM executable. The bytes of its allocated sections with
// contents (SHF_ALLOC, not SHT_NOBITS) go to their load addresses: the address in flash
// of the PT_LOAD segment that holds them, as objcopy -O binary places them; bytes of a
// segment that no such section holds (padding, the ELF header) are no data. A file
// without section headers gives the file bytes of its PT_LOAD segments at their
// physical (load) addresses. Memory beyond a segment's file bytes (.bss) is not written;
// a segment with more file bytes than memory is refused. Everything must lie in the
// flash and nothing may overlap.
std::string ReadElf(const uint8_t* data, size_t size, std::vector<uint8_t>* image,
                    std::vector<bool>* hasData = nullptr, uint32_t flashSize = kFlashSize);

struct ImageReadResult {
  ImageFormat format = ImageFormat::Raw;
  std::vector<uint8_t> image;
  std::vector<bool> hasData;  // per byte of image: all of a raw image's bytes are data
  std::string error;          // empty on success
  bool unrecognised = false;  // neither its name nor its content tells what it is
};

// The format a file name's extension (case-insensitive) gives: ".bin" raw, ".hex" and
// ".ihx" Intel HEX, ".elf" and ".axf" ELF; none for any other name.
std::optional<ImageFormat> FormatOfName(const std::string& fileName);

// Reads the file as forced, or chooses the reader by the file name's extension
// (case-insensitive): ".bin" is a raw image, whatever it holds; ".hex" or ".ihx" must be
// Intel HEX and ".elf" or ".axf" must be ELF. Any other name is judged by its content:
// the ELF magic "\x7fELF" is ELF, a ':' followed by a hex digit after optional white
// space is Intel HEX; anything else is refused (unrecognised), as a file that is no
// image at all. A raw image comes back unchanged and unchecked (its size is the
// caller's to check); an Intel HEX or ELF image is 1 to flashSize bytes (the flash the
// image is for, from address 0), or error is set.
ImageReadResult ReadImage(const std::string& fileName, const uint8_t* data, size_t size,
                          std::optional<ImageFormat> forced = std::nullopt,
                          uint32_t flashSize = kFlashSize);

}  // namespace korvane
