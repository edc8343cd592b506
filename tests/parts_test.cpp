// The part table: its rows hold together, agree with Debian's lpctools where both know
// a part, and every part is written, read and told as its own flash and RAM say.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "cli/options.h"
#include "cli/outcome_texts.h"
#include "cli_test_support.h"
#include "common/parts.h"
#include "isp/write_plan.h"

namespace korvane::cli {
namespace {

TEST(Parts, EveryRowHoldsTogether) {
  std::set<std::string> names;
  for (const Part& part : kParts) {
    const MemoryMap& map = part.map;
    EXPECT_TRUE(names.insert(part.name).second) << part.name << " twice";
    // The packages of one die answer J alike: their rows must not differ but in name.
    for (const uint32_t id : part.ids) {
      if (id == 0) continue;
      for (const Part* same : PartsWithId(id)) {
        EXPECT_EQ(same->map.flashSize, map.flashSize) << part.name << ", " << same->name;
        EXPECT_EQ(same->map.ramSize, map.ramSize) << part.name << ", " << same->name;
      }
    }
    EXPECT_NE(part.ids[0], 0u) << part.name;
    EXPECT_EQ(map.SectorStart(map.Sectors()), map.flashSize)
        << part.name << ": runs cover the flash";
    EXPECT_EQ(map.SectorOf(map.flashSize - 1), map.Sectors() - 1) << part.name;
    EXPECT_LE(map.Sectors(), 32u) << part.name << ": the boot loader's sector numbers";
    // The write's block must fit the RAM above the boot loader's own use and below the
    // top it keeps for its stack.
    EXPECT_GE(map.blockSize, 256u) << part.name;
    EXPECT_GT(map.ramBuffer, map.ispRamLast) << part.name << ": above the ISP commands' RAM";
    EXPECT_LE(uint64_t{map.ramBuffer} + map.blockSize,
              uint64_t{map.ramBase} + map.ramSize - kBootLoaderTop)
        << part.name;
    EXPECT_LT(map.crpAddress + 4, map.SectorSize(0)) << part.name;
    EXPECT_NE(std::string(part.family), "") << part.name;
    EXPECT_NE(PartWithId(part.ids[0]), nullptr) << part.name;
    EXPECT_EQ(PartsNamed(part.name), std::vector<const Part*>{&part}) << part.name;
  }
  EXPECT_EQ(std::string(kParts[0].name), "LPC1114FN28/102") << "the window's part comes first";
  EXPECT_EQ(kLpc1114.ids[0], 172003371u);
  EXPECT_EQ(kLpc1114.ids[1], 440438827u);
  EXPECT_EQ(PartWithId(0x12345678), nullptr);
  EXPECT_EQ(PartsNamed("lpc1114fn28/102"), std::vector<const Part*>{&kLpc1114}) << "any case";
  EXPECT_TRUE(PartsNamed("LPC9").empty());
}

// Debian's lpctools keeps a table of its own: every part both tables know (by ID) must
// have the same flash and RAM, or be listed here with the user manual's word on it.
TEST(Parts, AgreeWithLpctoolsWhereBothKnowAPart) {
  std::ifstream file("/etc/lpctools_parts.def");
  if (!file) GTEST_SKIP() << "lpctools is not installed (scripts/setup installs it)";
  // Differences the manual decides.
  const std::map<uint32_t, std::string> explained = {
      {0x26011922, "LPC1764: 128 kB of flash in UM10360 rev. 4.1 Table 2 (lpctools: 64 kB)"},
  };
  int compared = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    unsigned id = 0, flashBase = 0, flash = 0, sectors = 0, vector = 0, ramBase = 0, ram = 0;
    char name[64] = {};
    if (std::sscanf(line.c_str(), "%x, %63[^,], %x, %x, %u, %x, %x, %x", &id, name, &flashBase,
                    &flash, &sectors, &vector, &ramBase, &ram) != 8)
      continue;
    const Part* part = PartWithId(id);
    if (part == nullptr) continue;
    ++compared;
    if (explained.count(id) != 0) continue;
    EXPECT_EQ(part->map.flashSize, flash) << part->name << " (lpctools: " << name << ")";
    EXPECT_EQ(part->map.ramSize, ram) << part->name << " (lpctools: " << name << ")";
    EXPECT_EQ(part->map.Sectors(), sectors) << part->name << " (lpctools: " << name << ")";
  }
  RecordProperty("compared", compared);
  // Both tables know the LPC1114FHN33/302: a comparison that finds no part compares
  // nothing and must not pass.
  EXPECT_GT(compared, 0) << "no part both tables know";
}

// The table against the figures of the chip maker's documents, a sample of rows per
// family, the figures written here with their document.
TEST(Parts, RowsHoldTheFiguresOfTheirDocuments) {
  const struct {
    const char* name;
    uint32_t id, flashKiB, sectors, ramKiB;
    const char* source;
  } cases[] = {
      // LPC111X data sheet rev. 7.3, Table 2; IDs from NXP's SVD file LPC11xx-v6-z0.xml.
      {"LPC1111FHN33/101", 0x041E502B, 8, 2, 2, "DS LPC111X Table 2, SVD DEVICE_ID"},
      {"LPC1112FHN33/102", 0x2524D02B, 16, 4, 2, "DS LPC111X Table 2 (2 kB for the HVQFN33 /102)"},
      {"LPC1112FDH28/102", 0x0A24902B, 16, 4, 4, "DS LPC111X Table 2 (4 kB for the TSSOP28 /102)"},
      // lpc21isp gives the /203 8 KiB of RAM and the /323 and /333 32 KiB of flash: the
      // data sheet says otherwise, and the table follows it.
      {"LPC1114FHN33/203", 0x00040042, 32, 8, 4, "DS LPC111X Table 2 (not lpc21isp's 8 kB)"},
      {"LPC1114FBD48/323", 0x00040060, 48, 12, 8, "DS LPC111X Table 2, section 7.2 (not 32 kB)"},
      {"LPC1114FBD48/333", 0x00040070, 56, 14, 8, "DS LPC111X Table 2, section 7.2 (not 32 kB)"},
      {"LPC1115FBD48/303", 0x00050080, 64, 16, 8, "DS LPC111X Table 2"},
      // LPC11CX2_CX4 data sheet rev. 3.1, Table 2; IDs from the SVD file.
      {"LPC11C24FBD48/301", 0x1430102B, 32, 8, 8, "DS LPC11CX2_CX4 Table 2"},
      {"LPC11C12FBD48/301", 0x1421102B, 16, 4, 8, "DS LPC11CX2_CX4 Table 2"},
      // UM10375 rev. 5: Table 329 (IDs), Tables 2 and 3 (memory), Table 313 (sectors).
      {"LPC1311FHN33", 0x2C42502B, 8, 2, 4, "UM10375 Tables 2, 313, 329"},
      {"LPC1343FBD48", 0x3D00002B, 32, 8, 8, "UM10375 Tables 2, 313, 329"},
      {"LPC1342FHN33", 0x3D01402B, 16, 4, 4, "UM10375 Tables 2, 313, 329"},
      // UM10360 rev. 4.1: Table 584 (IDs), Tables 2 and 3 (memory), Table 568 (sectors).
      {"LPC1768", 0x26013F37, 512, 30, 32, "UM10360 Tables 2, 3, 568, 584"},
      {"LPC1764", 0x26011922, 128, 18, 16, "UM10360 Tables 2, 3, 568, 584"},
      {"LPC1752", 0x25001121, 64, 16, 16, "UM10360 Tables 2, 3, 568, 584"},
      {"LPC1751", 0x25001110, 32, 8, 8, "UM10360 Tables 2, 3, 568, 584"},
      // UM10462 rev. 5.3: Table 377 (IDs), Table 3 (memory).
      {"LPC11U37FBD48/401", 0x00017C40, 128, 32, 8, "UM10462 Tables 3, 377"},
      {"LPC11U24FBD48/301", 0x2988402B, 32, 8, 6, "UM10462 Tables 3, 377"},
  };
  for (const auto& c : cases) {
    const std::vector<const Part*> named = PartsNamed(c.name);
    ASSERT_EQ(named.size(), 1u) << c.name;
    const Part& part = *named[0];
    EXPECT_TRUE(part.HasId(c.id)) << c.name << " (" << c.source << ")";
    EXPECT_EQ(part.map.flashSize, c.flashKiB * 1024) << c.name << " (" << c.source << ")";
    EXPECT_EQ(part.map.Sectors(), c.sectors) << c.name << " (" << c.source << ")";
    EXPECT_EQ(part.map.ramSize, c.ramKiB * 1024) << c.name << " (" << c.source << ")";
  }
  // Left out, with the reason in the table's comment.
  EXPECT_TRUE(PartsNamed("LPC1110").empty()) << "1 KiB of SRAM: no room for a block";
  EXPECT_TRUE(PartsNamed("LPC1112FHN24").empty()) << "the data sheet and the peers disagree";
  EXPECT_EQ(PartWithId(0x3000002B), nullptr) << "an LPC1343 ID no NXP document gives";
}

// The LPC17xx's sectors: 16 of 4 KiB, then 32 KiB ones (UM10360 Table 568); a plan
// across the boundary erases each in its run.
TEST(Parts, SectorRunsMapAddressesToTheirSectors) {
  const MemoryMap& map = PartsNamed("LPC1768").at(0)->map;
  EXPECT_EQ(map.Sectors(), 30u);
  EXPECT_EQ(map.SectorOf(0xFFFF), 15u);
  EXPECT_EQ(map.SectorOf(0x10000), 16u);
  EXPECT_EQ(map.SectorOf(0x7FFFF), 29u);
  EXPECT_EQ(map.SectorStart(17), 0x18000u);
  EXPECT_EQ(map.SectorSize(16), 0x8000u);
  std::vector<bool> hasData(0x12000, false);
  std::fill(hasData.begin() + 0xF000, hasData.begin() + 0x11000, true);  // across the boundary
  const WritePlan plan = PlanWrite(hasData, map);
  ASSERT_EQ(plan.sectors.size(), 1u);
  EXPECT_EQ(plan.sectors[0], (SectorRun{15, 16}));
  EXPECT_EQ(plan.blocks.front().copySize, 4096u);
}

// Parts with 2 KiB of SRAM write in blocks of 512 bytes: a 1024-byte block would reach
// the boot loader's stack at the top of the RAM.
TEST(Parts, TheBlockFollowsTheRam) {
  EXPECT_EQ(PartsNamed("LPC1111FHN33/101").at(0)->map.blockSize, 512u);
  EXPECT_EQ(PartsNamed("LPC1114FN28/102").at(0)->map.blockSize, 1024u);
  const MemoryMap& small = PartsNamed("LPC1112FHN33/102").at(0)->map;
  const WritePlan plan = PlanWrite(4096, small);
  ASSERT_EQ(plan.blocks.size(), 8u);
  for (const PlannedBlock& block : plan.blocks) EXPECT_LE(block.copySize, 512u);
  EXPECT_EQ(plan.blocks.back().address, 0u) << "the vector table's block last";
}

TEST(CliOptions, PartNamesOneOrMorePartsAndTheTimesTakeMilliseconds) {
  ParsedOptions parsed = ParseOptions({"--part", "lpc1114fn28/102", "-p", "sim", "a.bin"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.parts, std::vector<const Part*>{&kLpc1114});
  EXPECT_EQ(ParseOptions({"--part", "LPC9", "-p", "sim", "a.bin"}).error,
            "--part LPC9: no part korvane-cli writes is named so (korvane-cli --list-parts lists "
            "them)");
  parsed = ParseOptions({"--reset-time", "200", "--isp-time=5000", "-p", "sim", "a.bin"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.timing.resetMs, 200u);
  EXPECT_EQ(parsed.options.timing.ispMs, 5000u);
  for (const char* bad : {"0", "5001", "fast", ""}) {
    EXPECT_EQ(ParseOptions({"--reset-time", bad, "-p", "sim", "a.bin"}).error,
              std::string("--reset-time takes milliseconds from 1 to 5000, not \"") + bad + "\"");
  }
  EXPECT_EQ(ParseOptions({"--list-parts", "-p", "sim"}).error,
            "--list-parts takes no port and no FILE");
  // --range within the flash of the parts allowed.
  EXPECT_EQ(ParseOptions({"--part", "LPC1114FN28/102", "--read", "x.bin", "--range", "512:32768",
                          "-p", "sim"})
                .error,
            "--range must lie within the flash (0 to 32767)");
}

TEST_F(Cli, ListPartsTellsEveryPart) {
  ASSERT_EQ(Run({"--list-parts"}), kSuccess);
  for (const Part& part : kParts) {
    EXPECT_NE(console.out.find(std::string("\n") + part.name + " "), std::string::npos)
        << part.name << "\n"
        << console.out;
  }
  EXPECT_NE(console.out.find("LPC1114FN28/102       0x0A40902B, 0x1A40902B   32 KiB        8   "
                             "4 KiB  LPC111x   peer-agreed ID\n"),
            std::string::npos)
      << console.out;
  EXPECT_NE(console.out.find("LPC1343FBD48          0x3D00002B               32 KiB        8   "
                             "8 KiB  LPC13xx   NXP\n"),
            std::string::npos)
      << console.out;
  // A family alone, in any case; one that is no family's is a usage error.
  console.out.clear();
  ASSERT_EQ(Run({"--list-parts", "lpc13"}), kSuccess);
  EXPECT_EQ(console.out.find("LPC1114"), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("\nLPC1311FHN33 "), std::string::npos) << console.out;
  EXPECT_EQ(Run({"--list-parts", "LPC99"}), kUsage);
  EXPECT_NE(console.err.find("no family of the table begins so"), std::string::npos);
}

// Every part: an image over its whole flash written and checked in its simulated flash,
// --info telling its name, size and every sector, --read reading to its flash's end.
TEST_F(Cli, EveryPartIsWrittenToldAndReadAsItsFlashSays) {
  for (const Part& part : kParts) {
    const MemoryMap& map = part.map;
    const std::string port = std::string("sim:") + part.name;
    test::WriteFile(file, test::MakeStartableImage(map.flashSize, 7));
    console = RecordingConsole();
    ASSERT_EQ(Run({"-q", "--verify", "-p", port, file}), kSuccess) << part.name << console.err;
    EXPECT_NE(console.out.find("(" + std::to_string(map.Sectors()) + " sectors)"),
              std::string::npos)
        << console.out;
    EXPECT_NE(console.out.find("simulated chip: flash read back equals the image"),
              std::string::npos)
        << console.out;

    console = RecordingConsole();
    ASSERT_EQ(Run({"-q", "--info", "-p", port}), kSuccess) << part.name << console.err;
    const std::string partLine = console.out.substr(0, console.out.find('\n'));
    EXPECT_NE(partLine.find(part.name), std::string::npos) << partLine;
    EXPECT_NE(console.out.find("memory:     " + std::to_string(map.flashSize / 1024) +
                               " KiB of flash in " + std::to_string(map.Sectors()) + " sectors"),
              std::string::npos)
        << console.out;
    char last[64];
    std::snprintf(last, sizeof last, "sector %u (0x%04X-0x%04X): blank\n", map.Sectors() - 1,
                  map.SectorStart(map.Sectors() - 1), map.flashSize - 1);
    EXPECT_NE(console.out.find(last), std::string::npos) << console.out;

    const std::string out = dir.File("flash.bin");
    console = RecordingConsole();
    ASSERT_EQ(Run({"-q", "--read", out, "-p", port}), kSuccess) << part.name << console.err;
    std::ifstream in(out, std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<uint32_t>(in.tellg()), map.flashSize - map.bootRomWindow) << part.name;
  }
}

// Another chip than --part names: refused after J, before anything is unlocked or
// erased, naming what was expected and what was found.
TEST_F(Cli, APinnedPartRefusesAnyOtherChipBeforeItsFlashIsTouched) {
  test::WriteFile(file, test::MakeStartableImage(3000));
  const Part& other = kParts[sizeof kParts / sizeof kParts[0] - 1];
  if (&other == &kLpc1114) GTEST_SKIP() << "one part in the table";
  EXPECT_EQ(Run({"-v", "--part", "LPC1114FN28/102", "-p", std::string("sim:") + other.name, file}),
            kFailed);
  EXPECT_NE(console.err.find(
                "korvane-cli: the chip is not the part expected\n  part ID read: " +
                PartText(other.ids[0], PartsWithId(other.ids[0]).size() == 1 ? &other : nullptr) +
                "; accepted: LPC1114FN28/102 (0x0A40902B, 0x1A40902B)\n"),
            std::string::npos)
      << console.err;
  EXPECT_EQ(console.err.find("> U 23130"), std::string::npos) << "nothing unlocked";
  EXPECT_EQ(console.err.find("> E "), std::string::npos) << "nothing erased";
}

// With the LPC1114FN28/102 pinned, the file checks are the window's: one byte over its
// flash is refused before the port is opened. Without --part, an image larger than the
// chip's own flash is refused after J, before anything is erased.
TEST_F(Cli, AnImageLargerThanTheChipsFlashIsRefusedBeforeItIsErased) {
  test::WriteFile(file, test::MakeImage(32769));
  EXPECT_EQ(Run({"-q", "--part", "LPC1114FN28/102", "-p", dir.File("no-such-port"), file}),
            kFailed);
  EXPECT_EQ(console.err,
            "korvane-cli: the image is larger than the chip's flash\n  file: " + file +
                "\n  size: 32769 bytes; the flash holds 32768\n  next: link the program for the "
                "chip's flash (korvane-cli --list-parts tells each part's)\n");
  uint32_t largest = 0;
  for (const Part& part : kParts) largest = std::max(largest, part.map.flashSize);
  if (largest == kLpc1114.map.flashSize) GTEST_SKIP() << "no part with a larger flash";
  test::WriteFile(file, test::MakeImage(largest));
  console = RecordingConsole();
  EXPECT_EQ(Run({"-v", "-p", "sim", file}), kFailed);
  EXPECT_NE(console.err.find("korvane-cli: the image is larger than the chip's flash\n  size: " +
                             std::to_string(largest) + " bytes; the flash holds 32768\n"),
            std::string::npos)
      << console.err;
  EXPECT_NE(console.err.find("> J"), std::string::npos) << "after J";
  EXPECT_EQ(console.err.find("> U 23130"), std::string::npos) << "before the unlock";
}

}  // namespace
}  // namespace korvane::cli
