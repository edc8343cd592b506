// The parts Korvane writes, as data: each part's name, the part identification its boot
// loader's J command answers, and its memory as the boot loader shows it. This is the
// only place a chip's geometry is written; every layer reads it from here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

struct MemoryMap {
  uint32_t flashSize;   // bytes of flash from address 0
  uint32_t sectorSize;  // what P and E take: every sector has this size
  uint32_t ramBase;     // the first address of the RAM
  uint32_t ramSize;     // the RAM from ramBase (the main SRAM)
  // Where a write puts each block before C copies it: above the RAM the boot loader uses
  // itself, and the lowest RAM address W takes under code read protection level 1.
  uint32_t ramBuffer;
  uint32_t blockSize;  // the largest copy the write sends at once
  // While the boot loader runs, the first bytes of flash read as its boot ROM: no
  // command sees what was written there.
  uint32_t bootRomWindow;
  uint32_t crpAddress;    // the code read protection word
  uint32_t copySizes[4];  // the byte counts C takes, smallest first

  uint32_t Sectors() const { return flashSize / sectorSize; }
};

struct Part {
  const char* name;  // as the chip maker writes it: "LPC1114FN28/102"
  uint32_t ids[2];   // what J answers; a second where a part answers either, else 0
  MemoryMap map;

  bool HasId(uint32_t id) const { return id == ids[0] || (ids[1] != 0 && id == ids[1]); }
};

// The UART ISP boot loader of the LPC111x, LPC11Cxx, LPC11Uxx and LPC13xx shows the
// same map but for the sizes: 4 KiB sectors from address 0, RAM from 0x10000000, the
// boot loader's own RAM below 0x10000300, 512 bytes of boot ROM at address 0, the CRP
// word at 0x2FC, copies of 256, 512, 1024 or 4096 bytes (UM10398 chapter 26, UM10462
// chapter 20, UM10375 chapter 21, UM10524 chapter 17: the ISP commands, the RAM they use
// and code read protection).
constexpr MemoryMap Lpc1xMap(uint32_t flashKiB, uint32_t ramKiB) {
  return {flashKiB * 1024,       4096, 0x10000000, ramKiB * 1024, 0x10000300, 1024, 512, 0x2FC,
          {256, 512, 1024, 4096}};
}

// The parts, the LPC1114FN28/102 (the window's only one) first. Each row's source is the
// user manual's table of part identification numbers (Table "Part identification
// numbers" of the ISP command J) and its ordering and memory overview.
inline constexpr Part kParts[] = {
    // UM10398 rev. 12.4, Table 386 and Table 2/3 (LPC1114FN28/102: 32 kB flash, 4 kB SRAM).
    {"LPC1114FN28/102", {0x0A40902B, 0x1A40902B}, Lpc1xMap(32, 4)},
};

// The window's part and korvane-sim's default.
inline constexpr const Part& kLpc1114 = kParts[0];
inline constexpr MemoryMap kLpc1114Map = kLpc1114.map;

// The part whose identification J answered; null for one of no row.
const Part* PartWithId(uint32_t id);
// The parts whose name starts with prefix, in any case ("lpc1343", "LPC11U"); the one
// whose whole name it is, alone, when there is one.
std::vector<const Part*> PartsNamed(const std::string& prefix);
// Every part of the table.
std::vector<const Part*> AllParts();

}  // namespace korvane
