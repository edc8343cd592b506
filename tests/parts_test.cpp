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
    EXPECT_EQ(map.flashSize % map.sectorSize, 0u) << part.name;
    EXPECT_LE(map.Sectors(), 32u) << part.name << ": the boot loader's sector numbers";
    // The write's block must fit the RAM above the boot loader's own use.
    EXPECT_LE(uint64_t{map.ramBuffer} + map.blockSize, uint64_t{map.ramBase} + map.ramSize)
        << part.name;
    EXPECT_LT(map.crpAddress + 4, map.sectorSize) << part.name;
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
  // Differences the manual decides: none so far.
  const std::map<uint32_t, std::string> explained = {};
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
                             "4 KiB\n"),
            std::string::npos)
      << console.out;
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
                  map.flashSize - map.sectorSize, map.flashSize - 1);
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
  EXPECT_NE(console.err.find("korvane-cli: the chip is not the part expected\n  part ID read: " +
                             PartText(other.ids[0], &other) +
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
