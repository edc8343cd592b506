// The parts Korvane writes, as data: each part's name, the part identification its boot
// loader's J command answers, and its memory as the boot loader shows it. This is the
// only place a chip's geometry is written; every layer reads it from here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

// Sectors of one size, count of them one after another: a family's flash is laid out in
// runs of them (16 x 4 KiB, then 14 x 32 KiB, say).
struct SectorsOfSize {
  uint32_t count;
  uint32_t size;
};

struct MemoryMap {
  uint32_t flashSize;  // bytes of flash from address 0
  // What P and E take, from address 0: the runs in order, unused ones of count 0.
  SectorsOfSize sectorRuns[3];
  uint32_t ramBase;  // the first address of the RAM
  uint32_t ramSize;  // the RAM from ramBase (the main SRAM)
  // Where a write puts each block before C copies it: above the RAM the boot loader uses
  // itself, and the lowest RAM address W takes under code read protection level 1.
  uint32_t ramBuffer;
  // The largest copy the write sends at once: one of copySizes that fits between
  // ramBuffer and the RAM the boot loader keeps at the top for its stack.
  uint32_t blockSize;
  // While the boot loader runs, the first bytes of flash read as its boot ROM: no
  // command sees what was written there.
  uint32_t bootRomWindow;
  uint32_t crpAddress;    // the code read protection word
  uint32_t copySizes[4];  // the byte counts C takes, smallest first
  // The RAM the ISP commands use themselves, first and last address; the boot loader
  // also keeps the top kBootLoaderTop bytes of the RAM (its stack).
  uint32_t ispRamFirst;
  uint32_t ispRamLast;

  // How many sectors the flash has.
  constexpr unsigned Sectors() const {
    unsigned count = 0;
    for (const SectorsOfSize& run : sectorRuns) count += run.count;
    return count;
  }
  // The first address of sector n (n up to Sectors(): the end of the flash).
  constexpr uint32_t SectorStart(unsigned n) const {
    uint32_t address = 0;
    for (const SectorsOfSize& run : sectorRuns) {
      if (n < run.count) return address + n * run.size;
      address += run.count * run.size;
      n -= run.count;
    }
    return address;
  }
  constexpr uint32_t SectorSize(unsigned n) const { return SectorStart(n + 1) - SectorStart(n); }
  // The sector that holds address (within the flash).
  constexpr unsigned SectorOf(uint32_t address) const {
    unsigned sector = 0;
    for (const SectorsOfSize& run : sectorRuns) {
      if (run.count != 0 && address < run.count * run.size) return sector + address / run.size;
      address -= run.count * run.size;
      sector += run.count;
    }
    return sector;
  }
};

// Where a row's values come from.
enum class PartSource {
  Nxp,         // every value from NXP's documents (data sheet, user manual, its SVD file)
  PeerAgreed,  // memory from NXP, the ID agreed by every peer table that lists the part
};

struct Part {
  const char* name;  // as the chip maker writes it: "LPC1114FN28/102"
  uint32_t ids[2];   // what J answers; a second where a part answers either, else 0
  MemoryMap map;
  const char* family;  // "LPC111x", "LPC11Uxx", ...: the rows that share a boot loader
  PartSource source;

  bool HasId(uint32_t id) const { return id == ids[0] || (ids[1] != 0 && id == ids[1]); }
};

// The UART ISP boot loader of the LPC111x, LPC11Cxx, LPC11Uxx and LPC13xx shows the
// same map but for the sizes: 4 KiB sectors from address 0, RAM from 0x10000000, the
// boot loader's own RAM below 0x10000300 (its ISP commands use 0x1000017C-0x1000025B,
// UM10375 section 21.8.8; W starts at 0x10000300 under CRP1), 512 bytes of boot
// ROM at address 0, the CRP word at 0x2FC, copies of 256, 512, 1024 or 4096 bytes
// (UM10398 chapter 26, UM10462 chapter 20, UM10375 chapter 21, UM10524 chapter 17: the
// ISP commands, the RAM they use and code read protection). The top of the RAM is the
// boot loader's too: "Flash programming commands use the top 32 bytes of on-chip RAM.
// The stack is located at RAM top - 32 bytes. The maximum stack usage is 256 bytes"
// (UM10375 rev. 5 section 21.8.8, p. 324; the same boot loader in the other manuals), so
// a block ends at least 288 bytes below the top: 1024 bytes on parts with 4 KiB or more,
// 512 on parts with 2 KiB (a part with 1 KiB has no room for a block: not in the table).
constexpr uint32_t kBootLoaderTop = 32 + 256;
constexpr uint32_t Lpc1xBlock(uint32_t ramKiB) {
  const uint32_t room = ramKiB * 1024 - 0x300 - kBootLoaderTop;
  return room >= 1024 ? 1024 : room >= 512 ? 512 : room >= 256 ? 256 : 0;
}
constexpr MemoryMap Lpc1xMap(uint32_t flashKiB, uint32_t ramKiB) {
  return {flashKiB * 1024,
          {{flashKiB / 4, 4096}, {0, 0}, {0, 0}},
          0x10000000,
          ramKiB * 1024,
          0x10000300,
          Lpc1xBlock(ramKiB),
          512,
          0x2FC,
          {256, 512, 1024, 4096},
          0x1000017C,
          0x1000025B};
}

// The LPC17xx (UM10360 rev. 4.1, chapter 32): sectors 0-15 of 4 KiB, then sectors of 32
// KiB (Table 568, p. 631); the local SRAM from 0x10000000 (Table 3, p. 14), of which the
// ISP commands use 0x10000118-0x100001FF (section 32.3.2.7, p. 629) and W takes
// 0x10000200 and up under CRP1 (Table 569, p. 632); the top 288 bytes as on the LPC1xxx
// (the same section); copies of 256 to 4096 bytes (Table 579, p. 637), so a block of 4096
// bytes fits above 0x10000200 on every part. The boot ROM window's size is not stated
// (section 33.6): the first 512 bytes are skipped as on the other Cortex-M parts. CRP
// word at 0x2FC (section 32.6), the checksum in vector 7 (section 32.3.1.1).
constexpr MemoryMap Lpc17Map(uint32_t flashKiB, uint32_t localRamKiB) {
  return {flashKiB * 1024,
          {{(flashKiB < 64 ? flashKiB : 64) / 4, 4096},
           {flashKiB > 64 ? (flashKiB - 64) / 32 : 0, 32768},
           {0, 0}},
          0x10000000,
          localRamKiB * 1024,
          0x10000200,
          4096,
          512,
          0x2FC,
          {256, 512, 1024, 4096},
          0x10000118,
          0x100001FF};
}

// The parts, the LPC1114FN28/102 (the window's only one) first. The packages of one
// die answer J alike and share a row's memory: J tells the die, --part the package.
inline constexpr Part kParts[] = {
    // The part Korvane's window writes: the two IDs its boot loader answers (peer-agreed:
    // lpc21isp, mxli, Black Magic Debug and OpenOCD), 32 KiB of flash and 4 KiB of SRAM
    // (LPC111X data sheet rev. 7.3, Table 2 "Ordering options", pp. 5-6).
    {"LPC1114FN28/102",
     {0x0A40902B, 0x1A40902B},
     Lpc1xMap(32, 4),
     "LPC111x",
     PartSource::PeerAgreed},
    // UM10462 rev. 5.3 (LPC11U3x/2x/1x): the IDs from Table 377 "device identification
    // numbers" (a part answers either of two), flash and SRAM0 from Table 3 "memory
    // configuration" (the USB SRAM and SRAM1 banks at 0x2000xxxx are not counted), 4 kB
    // sectors from Tables 360 and 361.
    {"LPC11U12FHN33/201", {0x095C802B, 0x295C802B}, Lpc1xMap(16, 4), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U12FBD48/201", {0x095C802B, 0x295C802B}, Lpc1xMap(16, 4), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U13FBD48/201", {0x097A802B, 0x297A802B}, Lpc1xMap(24, 4), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U14FHN33/201", {0x0998802B, 0x2998802B}, Lpc1xMap(32, 4), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U14FHI33/201", {0x2998802B, 0}, Lpc1xMap(32, 4), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U14FBD48/201", {0x0998802B, 0x2998802B}, Lpc1xMap(32, 4), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U14FET48/201", {0x0998802B, 0x2998802B}, Lpc1xMap(32, 4), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U22FBD48/301", {0x2954402B, 0}, Lpc1xMap(16, 6), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U23FBD48/301", {0x2972402B, 0}, Lpc1xMap(24, 6), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U24FHI33/301", {0x2988402B, 0}, Lpc1xMap(32, 6), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U24FBD48/301", {0x2988402B, 0}, Lpc1xMap(32, 6), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U24FET48/301", {0x2988402B, 0}, Lpc1xMap(32, 6), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U24FHN33/401", {0x2980002B, 0}, Lpc1xMap(32, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U24FBD48/401", {0x2980002B, 0}, Lpc1xMap(32, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U24FBD64/401", {0x2980002B, 0}, Lpc1xMap(32, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U34FHN33/311", {0x0003D440, 0}, Lpc1xMap(40, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U34FBD48/311", {0x0003D440, 0}, Lpc1xMap(40, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U34FHN33/421", {0x0001CC40, 0}, Lpc1xMap(48, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U34FBD48/421", {0x0001CC40, 0}, Lpc1xMap(48, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U35FHN33/401", {0x0001BC40, 0}, Lpc1xMap(64, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U35FBD48/401", {0x0001BC40, 0}, Lpc1xMap(64, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U35FBD64/401", {0x0001BC40, 0}, Lpc1xMap(64, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U35FHI33/501", {0x0000BC40, 0}, Lpc1xMap(64, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U35FET48/501", {0x0000BC40, 0}, Lpc1xMap(64, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U36FBD48/401", {0x00019C40, 0}, Lpc1xMap(96, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U36FBD64/401", {0x00019C40, 0}, Lpc1xMap(96, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U37FBD48/401", {0x00017C40, 0}, Lpc1xMap(128, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U37HFBD64/401", {0x00007C44, 0}, Lpc1xMap(128, 8), "LPC11Uxx", PartSource::Nxp},
    {"LPC11U37FBD64/501", {0x00007C40, 0}, Lpc1xMap(128, 8), "LPC11Uxx", PartSource::Nxp},
    // The rest of the LPC111x (UM10398). Flash and SRAM: LPC111X data sheet rev. 7.3,
    // Table 2 "Ordering options", pp. 5-6 (the /323 has 48 KiB and the /333 56 KiB, its
    // section 7.2 p. 42 too; the /203 parts 4 KiB of SRAM). 4 KiB sectors: the flash / 4
    // KiB (UM10398's sector table could not be read; every peer agrees). IDs: NXP's SVD
    // file LPC11xx-v6-z0.xml, DEVICE_ID (a part answers either of the two it gives), where
    // it lists the part (PartSource::Nxp); the LPC1100XL parts, the /002 and the 20- and
    // 28-pin /102 parts it does not list: IDs peer-agreed (lpc21isp, mxli, Black Magic
    // Debug, OpenOCD). Left out: the LPC1110FD20 (1 KiB of SRAM leaves no room for a block
    // above 0x10000300 and below the boot loader's stack) and the LPC1112FHN24/202 (the
    // data sheet gives 2 KiB of SRAM, the peers 4 KiB, for the ID of the 4 KiB /202 parts).
    {"LPC1111FDH20/002",
     {0x0A16D02B, 0x1A16D02B},
     Lpc1xMap(8, 2),
     "LPC111x",
     PartSource::PeerAgreed},
    {"LPC1111FHN33/101", {0x041E502B, 0x2516D02B}, Lpc1xMap(8, 2), "LPC111x", PartSource::Nxp},
    {"LPC1111FHN33/102", {0x2516D02B, 0}, Lpc1xMap(8, 2), "LPC111x", PartSource::Nxp},
    {"LPC1111FHN33/103", {0x00010013, 0}, Lpc1xMap(8, 2), "LPC111x", PartSource::PeerAgreed},
    {"LPC1111FHN33/201", {0x0416502B, 0x2516902B}, Lpc1xMap(8, 4), "LPC111x", PartSource::Nxp},
    {"LPC1111FHN33/202", {0x2516902B, 0}, Lpc1xMap(8, 4), "LPC111x", PartSource::Nxp},
    {"LPC1111FHN33/203", {0x00010012, 0}, Lpc1xMap(8, 4), "LPC111x", PartSource::PeerAgreed},
    {"LPC1112FD20/102",
     {0x0A24902B, 0x1A24902B},
     Lpc1xMap(16, 4),
     "LPC111x",
     PartSource::PeerAgreed},
    {"LPC1112FDH20/102",
     {0x0A24902B, 0x1A24902B},
     Lpc1xMap(16, 4),
     "LPC111x",
     PartSource::PeerAgreed},
    {"LPC1112FDH28/102",
     {0x0A24902B, 0x1A24902B},
     Lpc1xMap(16, 4),
     "LPC111x",
     PartSource::PeerAgreed},
    {"LPC1112FHN33/101", {0x042D502B, 0x2524D02B}, Lpc1xMap(16, 2), "LPC111x", PartSource::Nxp},
    {"LPC1112FHN33/102", {0x2524D02B, 0}, Lpc1xMap(16, 2), "LPC111x", PartSource::Nxp},
    {"LPC1112FHN33/103", {0x00020023, 0}, Lpc1xMap(16, 2), "LPC111x", PartSource::PeerAgreed},
    {"LPC1112FHN33/201", {0x0425502B, 0x2524902B}, Lpc1xMap(16, 4), "LPC111x", PartSource::Nxp},
    {"LPC1112FHN33/202", {0x2524902B, 0}, Lpc1xMap(16, 4), "LPC111x", PartSource::Nxp},
    {"LPC1112FHI33/202", {0x2524902B, 0}, Lpc1xMap(16, 4), "LPC111x", PartSource::Nxp},
    {"LPC1112FHN33/203", {0x00020022, 0}, Lpc1xMap(16, 4), "LPC111x", PartSource::PeerAgreed},
    {"LPC1112FHI33/203", {0x00020022, 0}, Lpc1xMap(16, 4), "LPC111x", PartSource::PeerAgreed},
    {"LPC1113FHN33/201", {0x0434502B, 0x2532902B}, Lpc1xMap(24, 4), "LPC111x", PartSource::Nxp},
    {"LPC1113FHN33/202", {0x2532902B, 0}, Lpc1xMap(24, 4), "LPC111x", PartSource::Nxp},
    {"LPC1113FHN33/203", {0x00030032, 0}, Lpc1xMap(24, 4), "LPC111x", PartSource::PeerAgreed},
    {"LPC1113FHN33/301", {0x0434102B, 0x2532102B}, Lpc1xMap(24, 8), "LPC111x", PartSource::Nxp},
    {"LPC1113FBD48/301", {0x0434102B, 0x2532102B}, Lpc1xMap(24, 8), "LPC111x", PartSource::Nxp},
    {"LPC1113FHN33/302", {0x2532102B, 0}, Lpc1xMap(24, 8), "LPC111x", PartSource::Nxp},
    {"LPC1113FBD48/302", {0x2532102B, 0}, Lpc1xMap(24, 8), "LPC111x", PartSource::Nxp},
    {"LPC1113FHN33/303", {0x00030030, 0}, Lpc1xMap(24, 8), "LPC111x", PartSource::PeerAgreed},
    {"LPC1113FBD48/303", {0x00030030, 0}, Lpc1xMap(24, 8), "LPC111x", PartSource::PeerAgreed},
    {"LPC1114FDH28/102",
     {0x0A40902B, 0x1A40902B},
     Lpc1xMap(32, 4),
     "LPC111x",
     PartSource::PeerAgreed},
    {"LPC1114FHN33/201", {0x0444502B, 0x2540902B}, Lpc1xMap(32, 4), "LPC111x", PartSource::Nxp},
    {"LPC1114FHN33/202", {0x2540902B, 0}, Lpc1xMap(32, 4), "LPC111x", PartSource::Nxp},
    {"LPC1114FHN33/203", {0x00040042, 0}, Lpc1xMap(32, 4), "LPC111x", PartSource::PeerAgreed},
    {"LPC1114FHN33/301", {0x0444102B, 0x2540102B}, Lpc1xMap(32, 8), "LPC111x", PartSource::Nxp},
    {"LPC1114FBD48/301", {0x0444102B, 0x2540102B}, Lpc1xMap(32, 8), "LPC111x", PartSource::Nxp},
    {"LPC1114FHN33/302", {0x2540102B, 0}, Lpc1xMap(32, 8), "LPC111x", PartSource::Nxp},
    {"LPC1114FHI33/302", {0x2540102B, 0}, Lpc1xMap(32, 8), "LPC111x", PartSource::Nxp},
    {"LPC1114FBD48/302", {0x2540102B, 0}, Lpc1xMap(32, 8), "LPC111x", PartSource::Nxp},
    {"LPC11D14FBD100/302", {0x2540102B, 0}, Lpc1xMap(32, 8), "LPC111x", PartSource::Nxp},
    {"LPC1114FHN33/303", {0x00040040, 0}, Lpc1xMap(32, 8), "LPC111x", PartSource::PeerAgreed},
    {"LPC1114FHI33/303", {0x00040040, 0}, Lpc1xMap(32, 8), "LPC111x", PartSource::PeerAgreed},
    {"LPC1114FBD48/303", {0x00040040, 0}, Lpc1xMap(32, 8), "LPC111x", PartSource::PeerAgreed},
    {"LPC1114FBD48/323", {0x00040060, 0}, Lpc1xMap(48, 8), "LPC111x", PartSource::PeerAgreed},
    {"LPC1114FHN33/333", {0x00040070, 0}, Lpc1xMap(56, 8), "LPC111x", PartSource::PeerAgreed},
    {"LPC1114FBD48/333", {0x00040070, 0}, Lpc1xMap(56, 8), "LPC111x", PartSource::PeerAgreed},
    {"LPC1115FBD48/303", {0x00050080, 0}, Lpc1xMap(64, 8), "LPC111x", PartSource::PeerAgreed},
    // LPC11Cxx (UM10398 too): flash and SRAM from the LPC11CX2_CX4 data sheet rev. 3.1,
    // Table 2 "Ordering options", p. 3; IDs from NXP's SVD file (as the LPC111x).
    {"LPC11C12FBD48/301", {0x1421102B, 0}, Lpc1xMap(16, 8), "LPC11Cxx", PartSource::Nxp},
    {"LPC11C14FBD48/301", {0x1440102B, 0}, Lpc1xMap(32, 8), "LPC11Cxx", PartSource::Nxp},
    {"LPC11C22FBD48/301", {0x1431102B, 0}, Lpc1xMap(16, 8), "LPC11Cxx", PartSource::Nxp},
    {"LPC11C24FBD48/301", {0x1430102B, 0}, Lpc1xMap(32, 8), "LPC11Cxx", PartSource::Nxp},
    // LPC1311/13/42/43 (UM10375 rev. 5): IDs from Table 329 "LPC13xx device identification
    // numbers", p. 336; flash and SRAM from Table 2 "Ordering options", pp. 6-7, and Table
    // 3, p. 9; 4 KiB sectors from Table 313, p. 327. 0x3000002B, which two peers take for
    // an LPC1343, is in no NXP document read: not taken.
    {"LPC1311FHN33", {0x2C42502B, 0}, Lpc1xMap(8, 4), "LPC13xx", PartSource::Nxp},
    {"LPC1311FHN33/01", {0x1816902B, 0}, Lpc1xMap(8, 4), "LPC13xx", PartSource::Nxp},
    {"LPC1313FHN33", {0x2C40102B, 0}, Lpc1xMap(32, 8), "LPC13xx", PartSource::Nxp},
    {"LPC1313FBD48", {0x2C40102B, 0}, Lpc1xMap(32, 8), "LPC13xx", PartSource::Nxp},
    {"LPC1313FHN33/01", {0x1830102B, 0}, Lpc1xMap(32, 8), "LPC13xx", PartSource::Nxp},
    {"LPC1313FBD48/01", {0x1830102B, 0}, Lpc1xMap(32, 8), "LPC13xx", PartSource::Nxp},
    {"LPC1342FHN33", {0x3D01402B, 0}, Lpc1xMap(16, 4), "LPC13xx", PartSource::Nxp},
    {"LPC1342FBD48", {0x3D01402B, 0}, Lpc1xMap(16, 4), "LPC13xx", PartSource::Nxp},
    {"LPC1343FHN33", {0x3D00002B, 0}, Lpc1xMap(32, 8), "LPC13xx", PartSource::Nxp},
    {"LPC1343FBD48", {0x3D00002B, 0}, Lpc1xMap(32, 8), "LPC13xx", PartSource::Nxp},
    // LPC175x/176x (UM10360 rev. 4.1): IDs from Table 584, p. 639 (the LPC1751 answers
    // either: 0x25001110 is its silicon without CRP); flash from Table 2, p. 9; the local
    // SRAM at 0x10000000 from Table 3, p. 14 (the AHB banks at 0x2007C000 are not counted).
    {"LPC1769", {0x26113F37, 0}, Lpc17Map(512, 32), "LPC17xx", PartSource::Nxp},
    {"LPC1768", {0x26013F37, 0}, Lpc17Map(512, 32), "LPC17xx", PartSource::Nxp},
    {"LPC1767", {0x26012837, 0}, Lpc17Map(512, 32), "LPC17xx", PartSource::Nxp},
    {"LPC1766", {0x26013F33, 0}, Lpc17Map(256, 32), "LPC17xx", PartSource::Nxp},
    {"LPC1765", {0x26013733, 0}, Lpc17Map(256, 32), "LPC17xx", PartSource::Nxp},
    {"LPC1764", {0x26011922, 0}, Lpc17Map(128, 16), "LPC17xx", PartSource::Nxp},
    {"LPC1763", {0x26012033, 0}, Lpc17Map(256, 32), "LPC17xx", PartSource::Nxp},
    {"LPC1759", {0x25113737, 0}, Lpc17Map(512, 32), "LPC17xx", PartSource::Nxp},
    {"LPC1758", {0x25013F37, 0}, Lpc17Map(512, 32), "LPC17xx", PartSource::Nxp},
    {"LPC1756", {0x25011723, 0}, Lpc17Map(256, 16), "LPC17xx", PartSource::Nxp},
    {"LPC1754", {0x25011722, 0}, Lpc17Map(128, 16), "LPC17xx", PartSource::Nxp},
    {"LPC1752", {0x25001121, 0}, Lpc17Map(64, 16), "LPC17xx", PartSource::Nxp},
    {"LPC1751", {0x25001118, 0x25001110}, Lpc17Map(32, 8), "LPC17xx", PartSource::Nxp},
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
