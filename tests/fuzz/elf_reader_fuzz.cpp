// Fuzzes ReadElf against a plain reference of the files Korvane loads: a 32-bit
// little-endian ARM executable whose program header table lies in the file, with
// entries of at least 32 bytes; every PT_LOAD entry with file bytes puts bytes that lie
// in the file at its physical address, inside the flash and on no other entry's bytes,
// and at least one does. Both must agree on whether the file is accepted and on the
// image. Also checks that every failure is a one-line ASCII message and that ReadImage,
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
  for (int i = count - 1; i >= 0; --i) value = value * 256 + data[offset + static_cast<uint64_t>(i)];
  return value;
}

bool Reference(const uint8_t* data, size_t size, std::vector<uint8_t>* image) {
  if (size < 52 || data[0] != 0x7F || data[1] != 'E' || data[2] != 'L' || data[3] != 'F') return false;
  if (data[4] != 1 || data[5] != 1 || Number(data, 16, 2) != 2 || Number(data, 18, 2) != 40) return false;
  const uint64_t tableOffset = Number(data, 28, 4);
  const uint64_t entrySize = Number(data, 42, 2);
  const uint64_t entryCount = Number(data, 44, 2);
  if (entryCount == 0 || entryCount == 0xFFFF || entrySize < 32) return false;
  if (tableOffset + entrySize * entryCount > size) return false;
  std::vector<int> owner(32768, -1);
  std::vector<uint8_t> flash(32768, 0xFF);
  uint64_t end = 0;
  for (uint64_t index = 0; index < entryCount; ++index) {
    const uint64_t entry = tableOffset + index * entrySize;
    const uint64_t fileOffset = Number(data, entry + 4, 4);
    const uint64_t address = Number(data, entry + 12, 4);
    const uint64_t fileSize = Number(data, entry + 16, 4);
    if (Number(data, entry, 4) != 1 || fileSize == 0) continue;
    if (fileOffset + fileSize > size || address + fileSize > 32768) return false;
    for (uint64_t i = 0; i < fileSize; ++i) {
      const auto at = static_cast<size_t>(address + i);
      if (owner[at] >= 0) return false;
      owner[at] = static_cast<int>(index);
      flash[at] = data[fileOffset + i];
    }
    if (address + fileSize > end) end = address + fileSize;
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
