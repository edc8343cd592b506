// The memory of the LPC1114FN28/102 as its UART ISP boot loader shows it, written once:
// the flash, the RAM, and what a write needs of them. Every layer reads it from here.
// Source: the chip maker's user manual UM10398 (LPC111x/LPC11Cxx), the chapters on the
// memory map, flash programming (sectors, the ISP commands' ranges and counts, the RAM
// the boot loader uses itself) and code read protection.
#pragma once

#include <cstdint>

namespace korvane {

struct MemoryMap {
  uint32_t flashSize;   // bytes of flash from address 0
  uint32_t sectorSize;  // what P and E take: every sector has this size
  uint32_t ramBase;     // the first address of the RAM
  uint32_t ramSize;
  // Where a write puts each block before C copies it: above the RAM the boot loader uses
  // itself (0x1000017C to 0x1000025B), and the lowest RAM address W takes under code
  // read protection level 1.
  uint32_t ramBuffer;
  uint32_t blockSize;  // the largest copy the write sends at once
  // While the boot loader runs, the first bytes of flash read as its boot ROM: no
  // command sees what was written there.
  uint32_t bootRomWindow;
  uint32_t crpAddress;    // the code read protection word
  uint32_t copySizes[4];  // the byte counts C takes, smallest first
};

inline constexpr MemoryMap kLpc1114Map = {
    32768, 4096, 0x10000000, 4096, 0x10000300, 1024, 512, 0x2FC, {256, 512, 1024, 4096},
};

}  // namespace korvane
