// Turns the bytes of an image file into the flash image that is written: a raw binary
// as it is, or the bytes an Intel HEX file or an ARM ELF executable places into the
// 32 KiB flash of the LPC1114FN28. Plain portable code without platform headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

enum class ImageFormat { Raw, IntelHex, Elf };
// "raw binary", "Intel HEX", "ELF".
const char* ImageFormatName(ImageFormat format);

// The chip's flash: addresses 0 to kFlashSize - 1.
constexpr uint32_t kFlashSize = 32768;

// Each returns the empty string on success, with *image holding the flash image from
// address 0 (gaps filled with 0xFF, its size the highest written address + 1, so 1 to
// kFlashSize bytes); otherwise a one-line English message such as
// "line 12: bad record checksum (0x3C, the record's bytes need 0x3D)", and *image is
// left as it was.
//
// Intel HEX: records ":LLAAAATT...CC" (either case), lines ending in LF or CRLF, blank
// lines and surrounding white space allowed; data (00), end of file (01, required and
// last), extended segment (02) and linear (04) addresses; start addresses (03, 05) are
// checked and ignored. Every byte must lie in the flash and be written only once.
std::string ReadIntelHex(const uint8_t* data, size_t size, std::vector<uint8_t>* image);
// ELF: a 32-bit little-endian ARM executable; every PT_LOAD program header with file
// bytes puts them at its physical (load) address, p_paddr. Memory beyond the file bytes
// (.bss) is not written. Segments must lie in the flash and must not overlap.
std::string ReadElf(const uint8_t* data, size_t size, std::vector<uint8_t>* image);

struct ImageReadResult {
  ImageFormat format = ImageFormat::Raw;
  std::vector<uint8_t> image;
  std::string error;  // empty on success
};

// Chooses the reader by the file name's extension (case-insensitive): ".bin" is a raw
// image, whatever it holds; ".hex" must be Intel HEX and ".elf" or ".axf" must be ELF.
// Any other name is judged by its content: the ELF magic "\x7fELF" is ELF, a ':'
// followed by a hex digit after optional white space is Intel HEX, anything else raw.
// A raw image comes back unchanged and unchecked (its size is the caller's to check);
// an Intel HEX or ELF image is 1 to kFlashSize bytes, or error is set.
ImageReadResult ReadImage(const std::string& fileName, const uint8_t* data, size_t size);

}  // namespace korvane
