// Fuzzes ReadElf against a plain reference of the files Korvane loads: a 32-bit
// little-endian ARM executable whose program header table lies in the file, with
// entries of at least 32 bytes; every PT_LOAD entry with file bytes has no more of them
// than memory, and they lie in the file. With section headers (a table in the file,
// entries of at least 40 bytes), every allocated section with contents goes to the
// load address of the segment that holds its file bytes (or its own address); without
// them, every such segment's bytes go to its physical address; all inside the flash, on
// no other piece's bytes, and at least one byte. Both must agree on whether the file is accepted
// and on the image. Also checks that every failure is a one-line ASCII message and that ReadImage,
// choosing by content, returns raw bytes unchanged or a flash image of 1 to 32768 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/image_reader.h"
#include "image_fuzz_checks.h"

namespace {

// The little-endian number of `count` bytes at `offset`.
uint64_t Number(const uint8_t* data, uint64_t offset, int count) {
  uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i)
    value = value * 256 + data[offset + static_cast<uint64_t>(i)];
  return value;
}

bool Reference(const uint8_t* data, size_t size, std::vector<uint8_t>* image) {
  if (size < 52 || data[0] != 0x7F || data[1] != 'E' || data[2] != 'L' || data[3] != 'F')
    return false;
  if (data[4] != 1 || data[5] != 1 || Number(data, 16, 2) != 2 || Number(data, 18, 2) != 40)
    return false;
  const uint64_t tableOffset = Number(data, 28, 4);
  const uint64_t entrySize = Number(data, 42, 2);
  const uint64_t entryCount = Number(data, 44, 2);
  if (entryCount == 0 || entryCount == 0xFFFF || entrySize < 32) return false;
  if (tableOffset + entrySize * entryCount > size) return false;
  // Pieces of the file that go into flash: {file offset, address, length}.
  struct Piece {
    uint64_t offset, address, length;
  };
  std::vector<Piece> segments;
  for (uint64_t index = 0; index < entryCount; ++index) {
    const uint64_t entry = tableOffset + index * entrySize;
    const uint64_t fileOffset = Number(data, entry + 4, 4);
    const uint64_t address = Number(data, entry + 12, 4);
    const uint64_t fileSize = Number(data, entry + 16, 4);
    const uint64_t memorySize = Number(data, entry + 20, 4);
    if (Number(data, entry, 4) != 1 || fileSize == 0) continue;
    if (fileSize > memorySize || fileOffset + fileSize > size) return false;
    segments.push_back({fileOffset, address, fileSize});
  }
  std::vector<Piece> pieces;
  const uint64_t sectionOffset = Number(data, 32, 4);
  const uint64_t sectionSize = Number(data, 46, 2);
  const uint64_t sectionCount = Number(data, 48, 2);
  if (sectionCount == 0) {
    pieces = segments;
  } else {
    if (sectionCount == 0xFFFF || sectionSize < 40 ||
        sectionOffset + sectionSize * sectionCount > size)
      return false;
    for (uint64_t index = 0; index < sectionCount; ++index) {
      const uint64_t entry = sectionOffset + index * sectionSize;
      const uint64_t type = Number(data, entry + 4, 4);
      const uint64_t flags = Number(data, entry + 8, 4);
      const uint64_t offset = Number(data, entry + 16, 4);
      const uint64_t length = Number(data, entry + 20, 4);
      if ((flags & 2) == 0 || type == 8 || length == 0) continue;
      if (offset + length > size) return false;
      uint64_t address = Number(data, entry + 12, 4);
      for (const Piece& segment : segments) {
        if (offset >= segment.offset && offset + length <= segment.offset + segment.length) {
          address = segment.address + offset - segment.offset;
          break;
        }
      }
      pieces.push_back({offset, address, length});
    }
  }
  std::vector<bool> owned(32768, false);
  std::vector<uint8_t> flash(32768, 0xFF);
  uint64_t end = 0;
  for (const Piece& piece : pieces) {
    if (piece.address + piece.length > 32768) return false;
    for (uint64_t i = 0; i < piece.length; ++i) {
      const auto at = static_cast<size_t>(piece.address + i);
      if (owned[at]) return false;
      owned[at] = true;
      flash[at] = data[piece.offset + i];
    }
    if (piece.address + piece.length > end) end = piece.address + piece.length;
  }
  if (end == 0) return false;
  image->assign(flash.begin(), flash.begin() + static_cast<std::ptrdiff_t>(end));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image;
  const std::string error = korvane::ReadElf(data, size, &image);
  std::vector<uint8_t> expected;
  const bool accepted = Reference(data, size, &expected);
  korvane::fuzz::CheckReader(error, image, accepted, expected);
  korvane::fuzz::CheckChoice(data, size, korvane::ImageFormat::Elf, error, image);
  return 0;
}
