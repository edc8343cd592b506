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

// The parts, the LPC1114FN28/102 (the window's only one) first. The packages of one
// die answer J alike and share a row's memory: J tells the die, --part the package.
inline constexpr Part kParts[] = {
    // The part Korvane's window writes: the two IDs its boot loader answers and its
    // 32 KiB of flash, as Korvane has always written it; 4 KiB of SRAM (UM10398, the
    // LPC111x user manual, whose tables could not be read here: lpc21isp's and
    // lpctools' neighbours agree).
    {"LPC1114FN28/102", {0x0A40902B, 0x1A40902B}, Lpc1xMap(32, 4)},
    // UM10462 rev. 5.3 (LPC11U3x/2x/1x): the IDs from Table 377 "device identification
    // numbers" (a part answers either of two), flash and SRAM0 from Table 3 "memory
    // configuration" (the USB SRAM and SRAM1 banks at 0x2000xxxx are not counted), 4 kB
    // sectors from Tables 360 and 361.
    {"LPC11U12FHN33/201", {0x095C802B, 0x295C802B}, Lpc1xMap(16, 4)},
    {"LPC11U12FBD48/201", {0x095C802B, 0x295C802B}, Lpc1xMap(16, 4)},
    {"LPC11U13FBD48/201", {0x097A802B, 0x297A802B}, Lpc1xMap(24, 4)},
    {"LPC11U14FHN33/201", {0x0998802B, 0x2998802B}, Lpc1xMap(32, 4)},
    {"LPC11U14FHI33/201", {0x2998802B, 0}, Lpc1xMap(32, 4)},
    {"LPC11U14FBD48/201", {0x0998802B, 0x2998802B}, Lpc1xMap(32, 4)},
    {"LPC11U14FET48/201", {0x0998802B, 0x2998802B}, Lpc1xMap(32, 4)},
    {"LPC11U22FBD48/301", {0x2954402B, 0}, Lpc1xMap(16, 6)},
    {"LPC11U23FBD48/301", {0x2972402B, 0}, Lpc1xMap(24, 6)},
    {"LPC11U24FHI33/301", {0x2988402B, 0}, Lpc1xMap(32, 6)},
    {"LPC11U24FBD48/301", {0x2988402B, 0}, Lpc1xMap(32, 6)},
    {"LPC11U24FET48/301", {0x2988402B, 0}, Lpc1xMap(32, 6)},
    {"LPC11U24FHN33/401", {0x2980002B, 0}, Lpc1xMap(32, 8)},
    {"LPC11U24FBD48/401", {0x2980002B, 0}, Lpc1xMap(32, 8)},
    {"LPC11U24FBD64/401", {0x2980002B, 0}, Lpc1xMap(32, 8)},
    {"LPC11U34FHN33/311", {0x0003D440, 0}, Lpc1xMap(40, 8)},
    {"LPC11U34FBD48/311", {0x0003D440, 0}, Lpc1xMap(40, 8)},
    {"LPC11U34FHN33/421", {0x0001CC40, 0}, Lpc1xMap(48, 8)},
    {"LPC11U34FBD48/421", {0x0001CC40, 0}, Lpc1xMap(48, 8)},
    {"LPC11U35FHN33/401", {0x0001BC40, 0}, Lpc1xMap(64, 8)},
    {"LPC11U35FBD48/401", {0x0001BC40, 0}, Lpc1xMap(64, 8)},
    {"LPC11U35FBD64/401", {0x0001BC40, 0}, Lpc1xMap(64, 8)},
    {"LPC11U35FHI33/501", {0x0000BC40, 0}, Lpc1xMap(64, 8)},
    {"LPC11U35FET48/501", {0x0000BC40, 0}, Lpc1xMap(64, 8)},
    {"LPC11U36FBD48/401", {0x00019C40, 0}, Lpc1xMap(96, 8)},
    {"LPC11U36FBD64/401", {0x00019C40, 0}, Lpc1xMap(96, 8)},
    {"LPC11U37FBD48/401", {0x00017C40, 0}, Lpc1xMap(128, 8)},
    {"LPC11U37HFBD64/401", {0x00007C44, 0}, Lpc1xMap(128, 8)},
    {"LPC11U37FBD64/501", {0x00007C40, 0}, Lpc1xMap(128, 8)},
};

// The window's part and korvane-sim's default.
inline constexpr const Part& kLpc1114 = kParts[0];
inline constexpr MemoryMap kLpc1114Map = kLpc1114.map;

// The part whose identification J answered (the first row of its die); null for one of
// no row.
const Part* PartWithId(uint32_t id);
// Every row whose part answers J with id: the packages of one die.
std::vector<const Part*> PartsWithId(uint32_t id);
// The parts whose name starts with prefix, in any case ("lpc1343", "LPC11U"); the one
// whose whole name it is, alone, when there is one.
std::vector<const Part*> PartsNamed(const std::string& prefix);
// Every part of the table.
std::vector<const Part*> AllParts();

}  // namespace korvane
