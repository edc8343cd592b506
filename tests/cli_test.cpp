#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>

#include "cli/board_display.h"
#include "bench/boards.h"
#include "cli/cli_app.h"
#include "cli/console.h"
#include "cli/monitor.h"
#include "cli/options.h"
#include "cli/port_names.h"
#include "cli/progress_bar.h"
#include "image/image_reader.h"
#include "common/abort_flag.h"
#include "job/messages.h"
#include "serial/port_list.h"
#include "sim/sim_port.h"
#include "cli_test_support.h"
#include "test_support.h"

namespace korvane::cli {
namespace {

using namespace korvane::bench;

TEST(CliOptions, ParsesTheCommandLine) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // part of the expected error; empty for a good command line
    Options expected;
  } const cases[] = {
      {{"-p", "sim", "a.bin"}, "", {"sim", "a.bin"}},
      {{"--port=/dev/ttyUSB0", "-dw", "a.bin"}, "", {"/dev/ttyUSB0", "a.bin", true, true}},
      {{"-qdpCOM5", "a.bin"}, "", {"COM5", "a.bin", true, false, true}},
      {{"--port", "5", "--delete", "--quiet", "--", "-x.bin"},
       "",
       {"5", "-x.bin", true, false, true}},
      {{"-h"}, "", {"", "", false, false, false, true}},
      {{"--version"}, "", {"", "", false, false, false, false, true}},
      {{"--baud", "115200", "-p", "sim", "a.bin"},
       "",
       {"sim", "a.bin", false, false, false, false, false, 115200}},
      {{"-p", "sim", "--baud=9600", "a.bin"},
       "",
       {"sim", "a.bin", false, false, false, false, false, 9600}},
      {{"-p", "sim", "--baud=14400", "a.bin"},
       "--baud takes 9600, 19200, 38400, 57600 or 115200",
       {}},
      {{"-p", "sim", "--baud", "fast", "a.bin"}, "not \"fast\"", {}},
      {{"-p", "sim", "a.bin", "--baud"}, "--baud needs a value", {}},
      {{"a.bin"}, "no port given", {}},
      {{"-p", "sim"}, "no FILE given", {}},
      {{"-p"}, "-p needs a value", {}},
      {{"a.bin", "--port"}, "--port needs a value", {}},
      {{"-p", "", "a.bin"}, "the port is empty", {}},
      {{"--port=", "a.bin"}, "the port is empty", {}},
      {{"-p", "sim", "-x", "a.bin"}, "unknown option -x", {}},
      {{"-p", "sim", "--force", "a.bin"}, "unknown option --force", {}},
      {{"-p", "sim", "--quiet=yes", "a.bin"}, "takes no value", {}},
      {{"-p", "sim", "-w", "a.bin"}, "--watch needs --delete", {}},
      {{"-p", "sim", "a.bin", "b.bin"}, "more than one FILE", {}},
      {{"-p", "sim", "--monitor-baud", "1000", "a.bin"}, "--monitor-baud takes 1200,", {}},
      {{"-p", "sim", "--no-write"}, "--no-write needs --monitor", {}},
      {{"-p", "sim", "--no-write", "--monitor", "a.bin"}, "--no-write takes no FILE", {}},
      {{"-p", "sim", "--monitor", "-dw", "a.bin"}, "--monitor and --watch do not go together", {}},
      {{"--list-ports", "-p", "sim"}, "--list-ports takes no port and no FILE", {}},
  };
  for (const Case& c : cases) {
    ParsedOptions parsed = ParseOptions(c.args);
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    if (c.error.empty()) {
      EXPECT_EQ(parsed.error, "") << joined;
      const Options& o = parsed.options;
      EXPECT_EQ(o.port, c.expected.port) << joined;
      EXPECT_EQ(o.file, c.expected.file) << joined;
      EXPECT_EQ(o.deleteAfterWrite, c.expected.deleteAfterWrite) << joined;
      EXPECT_EQ(o.watch, c.expected.watch) << joined;
      EXPECT_EQ(o.quiet, c.expected.quiet) << joined;
      EXPECT_EQ(o.help, c.expected.help) << joined;
      EXPECT_EQ(o.version, c.expected.version) << joined;
      EXPECT_EQ(o.transferBaud, c.expected.transferBaud) << joined;
    } else {
      EXPECT_NE(parsed.error.find(c.error), std::string::npos) << joined << "-> " << parsed.error;
    }
  }
}

TEST(CliOptions, MonitorAndPortListing) {
  ParsedOptions parsed =
      ParseOptions({"-p", "/dev/ttyUSB0", "--monitor", "--monitor-baud=9600", "a.hex"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_TRUE(parsed.options.monitor);
  EXPECT_EQ(parsed.options.monitorBaud, 9600u);
  parsed = ParseOptions({"--monitor", "--no-write", "-p", "auto"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_TRUE(parsed.options.noWrite);
  EXPECT_EQ(parsed.options.monitorBaud, kDefaultMonitorBaud);
  EXPECT_EQ(parsed.options.file, "");
  parsed = ParseOptions({"--list-ports"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_TRUE(parsed.options.listPorts);
}

TEST(CliOptions, ResetWiringAndWhatFollowsTheWrite) {
  struct Case {
    std::vector<std::string> args;
    ResetWiring reset;
    AfterWrite after;
  } const cases[] = {
      {{"-p", "sim", "a.bin"}, ResetWiring::Default, AfterWrite::Reset},
      {{"-p", "sim", "--reset", "swapped-inverted", "a.bin"},
       ResetWiring::SwappedInverted,
       AfterWrite::Reset},
      {{"-p", "sim", "--reset=none", "a.bin"}, ResetWiring::None, AfterWrite::Go},
      {{"-p", "sim", "--reset", "none", "--after", "stay", "a.bin"},
       ResetWiring::None,
       AfterWrite::Stay},
      {{"-p", "sim", "--after=go", "--reset", "inverted", "a.bin"},
       ResetWiring::Inverted,
       AfterWrite::Go},
  };
  for (const Case& c : cases) {
    const ParsedOptions parsed = ParseOptions(c.args);
    ASSERT_EQ(parsed.error, "") << c.args[3];
    EXPECT_EQ(parsed.options.reset, c.reset) << c.args[3];
    EXPECT_EQ(parsed.options.after, c.after) << c.args[3];
  }
}

// --help and the parser come from one table: every option --help names is one the parser
// knows, with a value where --help shows one, and the completion reads its list there.
TEST(CliOptions, HelpNamesEveryOptionTheParserTakes) {
  const std::string help = UsageText();
  const std::regex named(R"(\n(?:  -([a-z]), |      )--([a-z-]+)( [A-Z:a-z|]+)?)");
  int options = 0;
  for (auto it = std::sregex_iterator(help.begin(), help.end(), named);
       it != std::sregex_iterator(); ++it) {
    const std::string name = (*it)[2];
    const bool value = (*it)[3].matched;
    ++options;
    const std::string error = ParseOptions({"--" + name}).error;
    EXPECT_EQ(error.find("unknown option"), std::string::npos) << name << ": " << error;
    EXPECT_EQ(error == "option --" + name + " needs a value", value) << name << ": " << error;
    if ((*it)[1].matched) {
      const std::string shortError = ParseOptions({"-" + std::string((*it)[1])}).error;
      EXPECT_EQ(shortError.find("unknown option"), std::string::npos) << name;
    }
  }
  EXPECT_GT(options, 20) << "every option of --help was found";
  EXPECT_NE(ParseOptions({"--bogus"}).error.find("unknown option --bogus"), std::string::npos);
}

// Options that do nothing where they stand are usage errors that name the conflict.
TEST(CliOptions, OptionsThatMeanNothingTogetherAreRefused) {
  const std::string nothing = " do not go together: --no-write writes nothing";
  struct Case {
    std::vector<std::string> args;
    std::string error;  // the whole usage error; empty: accepted
  } const cases[] = {
      {{"-p", "sim", "-d", "--monitor", "--no-write"}, "--delete and --no-write" + nothing},
      {{"-p", "sim", "--retry", "2", "--monitor", "--no-write"},
       "--retry and --no-write" + nothing},
      {{"-p", "sim", "--verify", "--monitor", "--no-write"}, "--verify and --no-write" + nothing},
      {{"-p", "sim", "--fix-checksum", "--monitor", "--no-write"},
       "--fix-checksum and --no-write" + nothing},
      {{"-p", "sim", "--allow-crp", "--monitor", "--no-write"},
       "--allow-crp and --no-write" + nothing},
      {{"-p", "sim", "--baud", "9600", "--monitor", "--no-write"},
       "--baud and --no-write" + nothing + "; the monitor's rate is --monitor-baud"},
      {{"-p", "sim", "--format", "hex", "--monitor", "--no-write"},
       "--format and --no-write do not go together: --no-write reads no FILE"},
      {{"-p", "sim", "-dw", "--monitor", "--no-write"}, "--delete and --no-write" + nothing},
      {{"-p", "sim", "-dw", "--monitor", "a.bin"}, "--monitor and --watch do not go together"},
      {{"-p", "sim", "--monitor-baud", "9600", "a.bin"}, "--monitor-baud needs --monitor"},
      {{"-p", "sim", "--monitor-baud=9600", "--no-write"}, "--monitor-baud needs --monitor"},
      {{"-p", "sim", "--no-write"}, "--no-write needs --monitor"},
      {{"--list-ports", "--verify"}, "--list-ports and --verify do not go together"},
      {{"--list-ports", "--retry", "1"}, "--list-ports and --retry do not go together"},
      {{"-p", "/dev/ttyUSB0", "-p", "auto-all", "a.bin"}, "-p auto-all takes no other port"},
      {{"-p", "auto", "-p", "auto", "a.bin"}, "the port auto is given twice"},
      {{"-p", "sim", "--reset", "rts", "a.bin"},
       "--reset takes default, swapped, inverted, swapped-inverted or none, not \"rts\""},
      {{"-p", "sim", "--after", "run", "a.bin"}, "--after takes reset, go or stay, not \"run\""},
      {{"-p", "sim", "--reset", "none", "--after", "reset", "a.bin"},
       "--after reset needs the lines, and --reset none has none: --after go or stay"},
      {{"-p", "sim", "--after", "go", "--monitor", "--no-write"},
       "--after and --no-write do not go together: --no-write writes nothing"},
      {{"--info", "-p", "sim", "a.bin"}, "--info takes no FILE: a.bin"},
      {{"--read", "x.hex", "-d", "-p", "sim"},
       "--read and --delete do not go together: --read writes nothing"},
      {{"--range", "0x200:4", "-p", "sim", "a.bin"}, "--range needs --read"},
      {{"--read", "x.bin", "--range", "0x100:4", "-p", "sim"},
       "--range starts at 512 or above: while the boot loader runs, bytes 0 to 511 read as its "
       "boot ROM, not "
       "as the flash"},
      {{"--part", "LPC1114FN28/102", "--read", "x.bin", "--range", "512:32768", "-p", "sim"},
       "--range must lie within the flash (0 to 32767)"},
      {{"--read", "x.bin", "-p", "sim", "-p", "sim"}, "--read takes one port"},
      {{"--erase-all", "-p", "sim", "-p", "sim"}, "--erase-all without FILE takes one port"},
      {{"--info", "--erase-all", "-p", "sim"}, "--info and --erase-all do not go together"},
      {{"--erase-all", "-p", "sim", "-p", "sim", "a.bin"}, ""},
      {{"--read", "x.hex", "--range", "0x200:1024", "-p", "sim"}, ""},
      {{"-p", "sim", "--retry", "2", "--monitor", "a.bin"},
       ""},  // a failed write before the monitor is retried
      {{"--list-ports", "-q"}, ""},
      {{"-p", "sim", "-p", "auto", "a.bin"}, ""},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    EXPECT_EQ(ParseOptions(c.args).error, c.error) << joined;
  }
}

TEST(ProgressBar, ShowsPercentBlocksAndTime) {
  EXPECT_EQ(RenderProgressBar(0, 0, 32, 0.04),
            "[------------------------------]   0%  0/32 blocks  0.0 s");
  EXPECT_EQ(RenderProgressBar(50, 16, 32, 1.26),
            "[###############---------------]  50%  16/32 blocks  1.3 s");
  EXPECT_EQ(RenderProgressBar(100, 3, 3, 12.0),
            "[##############################] 100%  3/3 blocks  12.0 s");
}

TEST(CliText, JobMessagesBecomeUtf8) {
  EXPECT_EQ(Cp932ToUtf8(messages::kWriteAborted), "フラッシュメモリの書き込みを中断しました");
  EXPECT_EQ(Cp932ToUtf8(messages::kPortOpenFailed), "COMポートが開けません。");
}

TEST_F(Cli, WritesIntoTheSimulatedChipAndReportsIt) {
  test::WriteFile(file, test::MakeImage(3000));
  ASSERT_EQ(Run({"-p", "sim", file}), kSuccess) << console.err;
  EXPECT_NE(console.out.find("wrote 3000 bytes (1 sector) in "), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("simulated chip: flash read back equals the image (3000 bytes;"),
            std::string::npos);
  EXPECT_NE(console.out.find("on a real chip this write takes "), std::string::npos);
  EXPECT_NE(console.err.find("\r[----------------------"), std::string::npos) << "bar at 0%";
  EXPECT_NE(console.err.find(" 100%  3/3 blocks"), std::string::npos) << console.err;
  EXPECT_EQ(console.err.back(), '\n');
  EXPECT_EQ(console.err.find("korvane-cli: cannot"), std::string::npos) << "no failure told";
  EXPECT_TRUE(test::FileExists(file));
}

TEST_F(Cli, WritesAtTheChosenRateAfterTheHandshake) {
  test::WriteFile(file, test::MakeImage(4096));
  double modelled[2] = {};
  for (const uint32_t rate : {57600u, 115200u}) {
    console = RecordingConsole();
    ASSERT_EQ(Run({"-q", "--baud", std::to_string(rate), "-p", "sim", file}), kSuccess)
        << console.err;
    std::smatch told;
    ASSERT_TRUE(std::regex_search(
        console.out, told,
        std::regex("takes ([0-9.]+) s at 9600/" + std::to_string(rate) + " baud")))
        << console.out;
    modelled[rate == 115200u] = std::stod(told[1].str());
  }
  // The transfer takes most of the time: at twice the rate it takes about half.
  EXPECT_LT(modelled[1], modelled[0] * 0.65)
      << modelled[0] << " s at 57600, " << modelled[1] << " s at 115200";
}

// On a terminal, each step shows as it begins, then the bar takes its line.
TEST_F(Cli, ShowsEachStepFromTheStart) {
  test::WriteFile(file, test::MakeStartableImage(5000));
  ASSERT_EQ(Run({"-p", "sim", file}), kSuccess) << console.err;
  const size_t reset = console.err.find("\rresetting into the boot loader (attempt 1 of 5)");
  const size_t connected = console.err.find("\rconnected; reading the part ID");
  const size_t erase = console.err.find("\rerasing sectors 0-1");
  const size_t bar = console.err.find("\r[---");
  EXPECT_LT(reset, connected) << console.err;
  EXPECT_LT(connected, erase) << console.err;
  EXPECT_LT(erase, bar) << console.err;
  // A shorter text covers the longer one before it.
  EXPECT_NE(console.err.find("\rerasing sectors 0-1" + std::string(30 - 19, ' ')),
            std::string::npos);
  console = RecordingConsole();
  console.language = Language::Japanese;
  ASSERT_EQ(Run({"-p", "sim", file}), kSuccess) << console.err;
  EXPECT_NE(console.err.find("\rセクタ 0-1 を消去しています"), std::string::npos) << console.err;
}

// -v: every line both ways with its time, the data lines counted per group, the lines'
// changes; no bar in between.
TEST_F(Cli, VerboseTracesTheDialogue) {
  test::WriteFile(file, test::MakeStartableImage(1300));
  ASSERT_EQ(Run({"-v", "-p", "sim", file}), kSuccess) << console.err;
  std::vector<std::string> lines;
  std::istringstream err(console.err);
  for (std::string line; std::getline(err, line);) {
    std::smatch stamp;
    if (std::regex_match(line, stamp, std::regex(R"(\[ *[0-9]+\.[0-9]{3}\] (.*))")))
      lines.push_back(stamp[1]);
  }
  const std::vector<std::string> expected = {
      "RTS on: ISP entry active",
      "DTR on: reset active, then 50 ms",
      "DTR off: reset released, then 100 ms",
      "RTS off: ISP entry released",
      "> ?",
      "< Synchronized",
      "> Synchronized",
      "< Synchronized",
      "< OK",
      "> 12000",
      "< 12000",
      "< OK",
      "> A 0",
      "< A 0",
      "< 0",
      "> B 57600 1",
      "< 0",
      "> J",
      "< 0",
      "< 172003371",
      "part ID 0x0A40902B",
      "> U 23130",
      "< 0",
      "> P 0 0",
      "< 0",
      "> E 0 0",
      "< 0",
      "> W 268436224 512",
      "< 0",
      "> 12 data lines (512 bytes)",
  };
  ASSERT_GT(lines.size(), expected.size()) << console.err;
  EXPECT_EQ(
      std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(expected.size())),
      expected);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "> C 1024 268436224 512"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "> 20 data lines (900 bytes)"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "> 3 data lines (124 bytes)"), lines.end());
  EXPECT_EQ(
      std::vector<std::string>(lines.end() - 3, lines.end()),
      (std::vector<std::string>{"RTS off: ISP entry released", "DTR on: reset active, then 50 ms",
                                "DTR off: reset released"}));
  EXPECT_EQ(console.err.find("\r["), std::string::npos) << "no bar between the lines";
}

// --info and --read on the simulated chip: what it is, and its (blank) flash as Intel HEX
// that reads back as what was read.
TEST_F(Cli, InfoAndReadTellTheChip) {
  ASSERT_EQ(Run({"--info", "-p", "sim"}), kSuccess) << console.err;
  EXPECT_NE(console.out.find(
                "part ID:    0x0A40902B (LPC1114FN28/102, LPC1114FDH28/102)\nboot code:  7.1\n"),
            std::string::npos)
      << console.out;
  EXPECT_NE(console.out.find("sector 7 (0x7000-0x7FFF): blank\n"), std::string::npos)
      << console.out;
  const std::string hex = dir.File("flash.hex");
  console = RecordingConsole();
  ASSERT_EQ(Run({"-q", "--read", hex, "--range", "0x7F00:256", "-p", "sim"}), kSuccess)
      << console.err;
  EXPECT_EQ(console.out.rfind("read 256 bytes from 0x00007F00 into " + hex, 0), 0u) << console.out;
  std::ifstream in(hex, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  std::vector<uint8_t> image;
  std::vector<bool> hasData;
  ASSERT_EQ(
      ReadIntelHex(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &image, &hasData),
      "");
  ASSERT_EQ(image.size(), 0x8000u);
  EXPECT_EQ(std::count(hasData.begin(), hasData.end(), true), 256);
  EXPECT_TRUE(
      std::all_of(image.begin() + 0x7F00, image.end(), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_FALSE(test::FileExists(hex + ".part"));
}

TEST_F(Cli, VerifySaysWhatItChecked) {
  test::WriteFile(file, test::MakeStartableImage(3000));
  ASSERT_EQ(Run({"-q", "--verify", "-p", "sim", file}), kSuccess) << console.err;
  EXPECT_NE(
      console.out.find(
          "verified 0x00000200 to 0x00000BFF: the flash equals the image; the first 512 bytes "
          "read as the boot ROM"),
      std::string::npos)
      << console.out;
  test::WriteFile(file, test::MakeStartableImage(400));
  console = RecordingConsole();
  ASSERT_EQ(Run({"-q", "--verify", "-p", "sim", file}), kSuccess) << console.err;
  EXPECT_NE(console.out.find("nothing to verify above 0x00000200"), std::string::npos)
      << console.out;
}

TEST_F(Cli, TheExampleProgramStartsAfterItsWrite) {
  ASSERT_EQ(Run({"-q", "-p", "sim", KORVANE_SOURCE_DIR "/examples/blink/blink.bin"}), kSuccess);
  EXPECT_NE(console.out.find("simulated chip: reset into the new program"), std::string::npos)
      << console.out;
  // A random image has no valid vector table: the chip stays in its boot loader.
  test::WriteFile(file, test::MakeImage(64));
  ASSERT_EQ(Run({"-q", "-p", "sim", file}), kSuccess);
  EXPECT_NE(console.out.find("stayed in its boot loader"), std::string::npos);
}

TEST_F(Cli, DrawsNoBarWhenQuietOrNotOnATerminal) {
  test::WriteFile(file, test::MakeStartableImage(5000));
  ASSERT_EQ(Run({"-q", "-p", "sim", file}), kSuccess);
  EXPECT_EQ(console.err, "");
  console.terminal = false;
  ASSERT_EQ(Run({"-d", "-p", "sim", file}), kSuccess);
  EXPECT_EQ(console.err, "");
  EXPECT_FALSE(test::FileExists(file)) << "deleted";
  EXPECT_NE(console.out.find("wrote 5000 bytes (2 sectors)"), std::string::npos);
}

TEST_F(Cli, FailuresGiveTheJobsMessageAndExitCodeOne) {
  ASSERT_EQ(Run({"-p", "sim", dir.File("missing.bin")}), kFailed);
  EXPECT_EQ(console.err,
            "korvane-cli: cannot open the file\n  file: " + dir.File("missing.bin") +
                " (No such file or directory)\n  next: check the file's name and folder\n");
  test::WriteFile(file, test::MakeImage(10));
#ifdef _WIN32
  const char* noPort = "COM251";
#else
  std::string noPortPath = dir.File("no-tty");
  const char* noPort = noPortPath.c_str();
#endif
  console.err.clear();
  ASSERT_EQ(Run({"-p", noPort, file}), kFailed);
  EXPECT_NE(console.err.find("\nkorvane-cli: cannot open the serial port\n"), std::string::npos)
      << console.err;
  EXPECT_EQ(console.out, "");
}

TEST_F(Cli, FilesTheJobRefusesAreRefusedAtOnceWithTheSimulatedChipToo) {
  // Nothing is read before the job has measured the file: no wait on a FIFO, no crash
  // on a folder, no reading of a huge file.
  const std::string huge = dir.File("huge.bin");
  test::WriteFile(huge, {});
  std::filesystem::resize_file(huge, 100u * 1024 * 1024);
  std::filesystem::create_directory(dir.File("folder.bin"));
  std::vector<std::pair<std::string, std::string>> cases = {
      {huge, "the image is larger than the chip's flash\n  file: " + huge +
                 "\n  size: 104857600 bytes; the flash holds " +
                 std::to_string(Options().LargestFlash()) + "\n"},
#ifdef _WIN32
      {dir.File("folder.bin"), "cannot open the file\n"},  // Windows opens no folder as a file
#else
      {dir.File("folder.bin"), "cannot read the file\n  file: " + dir.File("folder.bin") +
                                   " (not a regular file)\n"},  // opened, but not a regular file
#endif
  };
#ifndef _WIN32
  ASSERT_EQ(mkfifo(dir.File("fifo.bin").c_str(), 0600), 0);
  cases.push_back({dir.File("fifo.bin"), "cannot read the file\n"});
  cases.push_back({"/dev/zero", "cannot read the file\n"});
#endif
  for (const auto& [path, message] : cases) {
    console.err.clear();
    EXPECT_EQ(Run({"-q", "-p", "sim", path}), kFailed) << path;
    EXPECT_EQ(console.err.rfind("korvane-cli: " + message, 0), 0u) << console.err;
  }
}

#ifndef _WIN32
TEST_F(Cli, PortFailuresNameTheDeviceAndTheCause) {
  test::WriteFile(file, test::MakeStartableImage(64));
  const std::string missing = dir.File("ttyUSB9");
  ASSERT_EQ(Run({"-q", "-p", missing, file}), kFailed);
  const std::string next =
      "  next: korvane-cli --list-ports lists the ports present; on Linux the user must be in the "
      "device's group (ls -l shows it; dialout on Debian)\n";
  EXPECT_EQ(console.err, "korvane-cli: cannot open the serial port\n  port: " + missing +
                             ": cannot open: No such file or directory\n" + next);
  // A COM number means the window's device for it.
  console.err.clear();
  ASSERT_EQ(Run({"-q", "-p", "COM200", file}), kFailed);
  EXPECT_EQ(console.err,
            "korvane-cli: cannot open the serial port\n  port: /dev/ttyS199: cannot open: No such "
            "file or directory\n" +
                next);
  // One byte is one byte.
  test::WriteFile(file, {0x41});
  ASSERT_EQ(Run({"-q", "-p", "sim", file}), kSuccess);
  EXPECT_NE(console.out.find("wrote 1 byte (1 sector)"), std::string::npos) << console.out;
}
#endif

TEST_F(Cli, TellsWhatTheImageWouldDoToTheChipBeforeWritingIt) {
  // CRP levels at 0x2FC: each refused without --allow-crp, before the port is opened.
  const struct {
    uint32_t value;
    const char* name;
  } levels[] = {
      {0x12345678, "CRP1"}, {0x87654321, "CRP2"}, {0x43218765, "CRP3"}, {0x4E697370, "NO_ISP"}};
  for (const auto& level : levels) {
    std::vector<uint8_t> image = test::MakeStartableImage(1024);
    for (int i = 0; i < 4; ++i)
      image[0x2FC + static_cast<size_t>(i)] = static_cast<uint8_t>(level.value >> (8 * i));
    test::WriteFile(file, image);
    console = RecordingConsole();
    EXPECT_EQ(Run({"-q", "-p", "sim", file}), kFailed) << level.name;
    EXPECT_NE(console.err.find(std::string("code read protection ") + level.name + " (0x000002FC"),
              std::string::npos)
        << console.err;
    EXPECT_NE(console.err.find("--allow-crp"), std::string::npos) << console.err;
    EXPECT_EQ(console.out.find("wrote"), std::string::npos) << level.name << " was written";
    console = RecordingConsole();
    EXPECT_EQ(Run({"-q", "--allow-crp", "-p", "sim", file}), kSuccess) << level.name;
    EXPECT_EQ(
        console.err.rfind(
            std::string("korvane-cli: warning: the image sets code read protection ") + level.name,
            0),
        0u)
        << console.err;
    EXPECT_NE(
        console.out.find(std::string("simulated chip: its flash now sets code read protection ") +
                         level.name),
        std::string::npos)
        << console.out;
  }

  // No vector checksum: a warning, and the file written unchanged; the chip stays in its
  // boot loader. With --fix-checksum, the chip starts it and the file stays as it was.
  const std::vector<uint8_t> image = test::MakeImage(2000, 5);
  test::WriteFile(file, image);
  console = RecordingConsole();
  ASSERT_EQ(Run({"-q", "-p", "sim", file}), kSuccess);
  EXPECT_EQ(console.err.rfind(
                "korvane-cli: warning: the image's first eight vectors do not add up to 0", 0),
            0u)
      << console.err;
  EXPECT_NE(console.err.find("--fix-checksum"), std::string::npos);
  EXPECT_NE(console.out.find("stayed in its boot loader"), std::string::npos) << console.out;
  console = RecordingConsole();
  ASSERT_EQ(Run({"-q", "--fix-checksum", "-p", "sim", file}), kSuccess) << console.err;
  EXPECT_NE(console.err.find("into entry 7 (0x0000001C)"), std::string::npos) << console.err;
  EXPECT_NE(console.out.find("flash read back equals the image"), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("reset into the new program"), std::string::npos) << console.out;
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), image)
      << "the file was changed";

  // A good image draws no word.
  test::WriteFile(file, test::MakeStartableImage(2000));
  console = RecordingConsole();
  ASSERT_EQ(Run({"-q", "-p", "sim", file}), kSuccess);
  EXPECT_EQ(console.err, "");
}

TEST_F(Cli, UsageErrorsExitWithTwoAndOneLine) {
  for (std::vector<std::string> args : {std::vector<std::string>{"-p"},
                                        {"-p", "sim"},
                                        {"--bogus", "-p", "sim", "x"},
                                        {"-w", "-p", "sim", "x"}}) {
    console.err.clear();
    EXPECT_EQ(Run(args), kUsage);
    EXPECT_EQ(std::count(console.err.begin(), console.err.end(), '\n'), 1) << console.err;
    EXPECT_EQ(console.err.rfind("korvane-cli: ", 0), 0u) << console.err;
  }
  EXPECT_EQ(Run({"--help"}), kSuccess);
  EXPECT_EQ(console.out.rfind("Usage: korvane-cli", 0), 0u);
  console.out.clear();
  EXPECT_EQ(Run({"--version"}), kSuccess);
  EXPECT_EQ(console.out, "korvane-cli 0.10\n") << "the version the window shows";
}

TEST_F(Cli, CtrlCStopsBeforeTheNextBlock) {
  InstallInterruptHandler();
  test::WriteFile(file, test::MakeImage(4096));
  for (int interrupts : {1, 2}) {
    console = RecordingConsole();
    console.onErr = [&](const std::string& text) {
      if (text.find("1/4 blocks") == std::string::npos) return;
      for (int i = 0; i < interrupts; ++i) {
#ifdef _WIN32
        Interrupted.Request();
#else
        std::raise(SIGINT);
#endif
      }
    };
    ASSERT_EQ(Run({"-d", "-p", "sim", file}), kAborted) << interrupts;
    EXPECT_NE(console.err.find("\nkorvane-cli: the write was aborted\n"), std::string::npos)
        << console.err;
    EXPECT_EQ(console.err.find("2/4 blocks"), std::string::npos);
    EXPECT_TRUE(test::FileExists(file));
  }
}

TEST_F(Cli, WatchWritesEachFileThatAppearsUntilStopped) {
  int sleeps = 0, written = 0;
  console.onSleep = [&] {
    ++sleeps;
    if (sleeps == 3 || sleeps == 50) {
      test::WriteFile(file, test::MakeImage(100, static_cast<uint32_t>(sleeps)));
      ++written;
    }
    if (sleeps == 100) Interrupted.Request();  // Ctrl-C while waiting
  };
  ASSERT_EQ(Run({"-w", "-d", "-p", "sim", file}), kSuccess);
  EXPECT_EQ(written, 2);
  size_t first = console.out.find("wrote 100 bytes");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(console.out.find("wrote 100 bytes", first + 1), std::string::npos);
  EXPECT_FALSE(test::FileExists(file));
  EXPECT_NE(console.err.find("stopped watching"), std::string::npos);
  EXPECT_EQ(console.slept, 100u * 100u) << "checked every 2000 ms";
}

TEST_F(Cli, WatchWritesTheFirstMatchOfAPattern) {
  const std::string second = dir.File("app-2.bin");
  console.onSleep = [&] {
    if (console.slept == 2000) {
      test::WriteFile(dir.File("app-1.bin"), test::MakeImage(300));
      test::WriteFile(second, test::MakeImage(200));
    }
    if (console.slept >= 5 * 2000) Interrupted.Request();
  };
  ASSERT_EQ(Run({"-w", "-d", "-p", "sim", dir.File("app-?.bin")}), kSuccess) << console.err;
  EXPECT_NE(console.out.find("wrote 300 bytes"), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("wrote 200 bytes"), std::string::npos)
      << "the next match at the next look";
  EXPECT_FALSE(test::FileExists(dir.File("app-1.bin")));
  EXPECT_FALSE(test::FileExists(second));
}

TEST_F(Cli, WatchWaitsUntilTheFileStopsChanging) {
  // A build writes the first half, pauses past a look, then the rest.
  console.onSleep = [&] {
    if (console.slept == 2000) test::WriteFile(file, test::MakeImage(4096));
    if (console.slept == 4000) test::AppendFile(file, test::MakeImage(4096, 2));
    if (console.slept >= 5 * 2000) Interrupted.Request();
  };
  ASSERT_EQ(Run({"-w", "-d", "-p", "sim", file}), kSuccess) << console.err;
  EXPECT_EQ(console.out.find("wrote 4096 bytes"), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("wrote 8192 bytes"), std::string::npos) << console.out;
  EXPECT_EQ(console.out.find("wrote", console.out.find("wrote") + 1), std::string::npos)
      << "written once";
  EXPECT_FALSE(test::FileExists(file));
}

TEST_F(Cli, WatchTakesNoFolderForTheFile) {
  std::filesystem::create_directory(file);
  console.onSleep = [&] {
    if (console.slept >= 3 * 2000) Interrupted.Request();
  };
  ASSERT_EQ(Run({"-w", "-d", "-p", "sim", file}), kSuccess);
  EXPECT_EQ(console.err.find("korvane-cli: cannot"), std::string::npos) << "no write was tried";
  EXPECT_EQ(console.out.find("wrote"), std::string::npos);
}

TEST_F(Cli, WatchStopsAtTheFirstFailure) {
  console.onSleep = [&] {
    if (!test::FileExists(file)) test::WriteFile(file, {});
  };
  ASSERT_EQ(Run({"-dw", "-p", "sim", file}), kFailed);
  EXPECT_NE(console.err.find("korvane-cli: the file is empty: nothing to write\n"),
            std::string::npos)
      << console.err;
  EXPECT_TRUE(test::FileExists(file));
}

#ifdef KORVANE_CLI_PATH
// The real program, in the environment given: exit codes and the message as the
// terminal shows it.
int RunProgram(const std::string& environment, const std::string& args,
               const std::string& errPath) {
  const std::string command = "env -u LC_ALL -u LC_MESSAGES -u LANG " + environment + " " +
                              KORVANE_CLI_PATH + " " + args + " >/dev/null 2>" + errPath;
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Cli, ProgramExitCodesAndTheUsersLanguage) {
  std::string err = dir.File("err.txt");
  test::WriteFile(file, test::MakeImage(700));
  EXPECT_EQ(RunProgram("", "-p sim " + file, err), 0);
  const std::string missing = dir.File("none.bin");
  const struct {
    const char* environment;
    std::string first;  // the message's first line
  } cases[] = {
      {"", "korvane-cli: cannot open the file"},
      {"LANG=C.UTF-8", "korvane-cli: cannot open the file"},
      {"LANG=ja_JP.UTF-8", "korvane-cli: ファイルが開けませんでした"},
      {"LANG=ja_JP.UTF-8 LC_MESSAGES=en_US.UTF-8", "korvane-cli: cannot open the file"},
      {"LANG=en_GB.UTF-8 LC_ALL=ja_JP.UTF-8", "korvane-cli: ファイルが開けませんでした"},
      {"LC_ALL= LANG=ja",
       "korvane-cli: ファイルが開けませんでした"},  // an empty one does not count
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunProgram(c.environment, "-p sim " + missing, err), 1) << c.environment;
    std::ifstream in(err);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, c.first) << c.environment;
  }
  EXPECT_EQ(RunProgram("", "-p sim", err), 2);
}
#endif

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST_F(Cli, ReadsIntelHexAndElfIntoTheFlashImage) {
  // The example program as the linker made it (ELF), as objcopy's Intel HEX, and as a raw
  // binary with its vector checksum; the first two lack only the checksum.
  const std::string example = std::string(KORVANE_SOURCE_DIR) + "/examples/blink/blink";
  std::vector<uint8_t> expected = ReadBytes(example + ".bin");
  ASSERT_FALSE(expected.empty());
  const struct {
    const char* source;
    const char* name;
    const char* format;
  } cases[] = {
      {".hex", "app.hex", "Intel HEX"}, {".elf", "app.axf", "ELF"}, {".elf", "app.elf", "ELF"},
      {".hex", "app.img", "Intel HEX"},  // recognised by its content
      {".elf", "app", "ELF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    test::WriteFile(path, ReadBytes(example + c.source));
    console = RecordingConsole();
    ASSERT_EQ(Run({"-q", "--fix-checksum", "--verify", "-p", "sim", path}), kSuccess)
        << console.err;
    EXPECT_NE(console.out.find("wrote " + std::to_string(expected.size()) + " bytes from " +
                               c.format + " (1 sector)"),
              std::string::npos)
        << console.out;
    EXPECT_NE(console.out.find("flash read back equals the image"), std::string::npos)
        << console.out;
    EXPECT_NE(console.out.find("reset into the new program"), std::string::npos) << console.out;
  }
}

TEST_F(Cli, ImagesThatCannotBeReadFailBeforeThePortIsOpened) {
  const struct {
    const char* name;
    std::string content;
    const char* error;  // part of the message
  } cases[] = {
      {"bad.hex", ":0400000001020304F1\n:00000001FF\n", "checksum"},
      {"short.hex", ":0400000001020304F2\n", "end-of-file record"},
      {"far.hex", ":020000040008F2\n:0400000001020304F2\n:00000001FF\n", "0x00080000"},
      {"text.hex", "hello\n", "not"},
      {"text.elf", "hello", "not"},
      {"broken",
       "\x7f"
       "ELF\x01\x01\x01",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    test::WriteFile(path, std::vector<uint8_t>(c.content.begin(), c.content.end()));
    console = RecordingConsole();
    EXPECT_EQ(Run({"-q", "-p", "sim", path}), kFailed);
    EXPECT_EQ(console.err.rfind("korvane-cli: " + path + ": ", 0), 0u) << console.err;
    EXPECT_NE(console.err.find(c.error), std::string::npos) << console.err;
    EXPECT_EQ(console.out, "") << "nothing written";
  }
  // Beyond what korvane-cli reads at all, a HEX file is named as one, with its size.
  for (const auto& [name, kind] :
       {std::pair<const char*, const char*>{"huge.hex", "Intel HEX file"}, {"huge.dat", "file"}}) {
    const std::string path = dir.File(name);
    std::filesystem::resize_file((test::WriteFile(path, {}), path), (uint64_t{64} << 20) + 1);
    console = RecordingConsole();
    EXPECT_EQ(Run({"-q", "-p", "sim", path}), kFailed);
    EXPECT_EQ(console.err,
              "korvane-cli: " + path + ": the " + kind +
                  " is 67108865 bytes, larger than the 64 MiB korvane-cli reads (a full flash "
                  "image in Intel HEX is about 90 KiB); not written.\n");
    std::filesystem::remove(path);
  }
  // A .bin is raw bytes whatever it holds.
  const std::string raw = dir.File("looks.bin");
  test::WriteFile(raw, {':', '0', '0', '0', '0', '0', '0', '0', '1', 'F', 'F', '\n'});
  console = RecordingConsole();
  EXPECT_EQ(Run({"-q", "-p", "sim", raw}), kSuccess) << console.err;
  EXPECT_NE(console.out.find("wrote 12 bytes (1 sector)"), std::string::npos) << console.out;
}

TEST_F(Cli, TheWrittenVersionIsTheOneDeleted) {
  // The file is read once; a change after that read keeps the file, and the flash holds
  // the version that was read.
  const std::vector<uint8_t> first = test::MakeStartableImage(2048, 1);
  test::WriteFile(file, first);
  console.onErr = [this](const std::string&) {
    if (!test::FileExists(file + ".done")) {
      test::WriteFile(file + ".done", {1});
      test::AppendFile(file, {1, 2, 3});
    }
  };
  console.terminal = true;
  EXPECT_EQ(Run({"-d", "-p", "sim", file}), kFailed);
  EXPECT_NE(console.err.find(
                "\nkorvane-cli: the file was written but not deleted\n  file: " + file + "\n"),
            std::string::npos)
      << console.err;
  EXPECT_TRUE(test::FileExists(file));
  EXPECT_NE(console.out.find("flash read back equals the image (2048 bytes;"), std::string::npos)
      << console.out;
}

TEST_F(Cli, MonitorShowsTheBoardAndSendsTheInput) {
  test::WriteFile(file, test::MakeStartableImage(1024));
  console.input = {"", "ping\r", "", "pong\r"};
  ASSERT_EQ(Run({"-q", "--monitor", "-p", "sim", file}), kSuccess) << console.err;
  // The simulated board's program sends back what it gets.
  const size_t wrote = console.out.find("reset into the new program\n");
  ASSERT_NE(wrote, std::string::npos) << console.out;
  EXPECT_EQ(console.out.substr(wrote + 27), "ping\rpong\r");
  EXPECT_EQ(console.rawChanges, (std::vector<bool>{true, false}));
  EXPECT_NE(console.err.find("monitor on sim at 115200 baud"), std::string::npos) << console.err;
  EXPECT_GT(console.waitedForInput, 0u) << "the quiet loop waits on the input, it does not spin";

  // At another rate than the program's, its bytes arrive garbled.
  console = RecordingConsole();
  console.input = {"ab"};
  ASSERT_EQ(Run({"-q", "--monitor", "--monitor-baud", "9600", "-p", "sim", file}), kSuccess);
  EXPECT_EQ(console.out.substr(console.out.size() - 2), "\xFF\xFF");

  // Ctrl-C ends it with exit 0 and the terminal as it was.
  console = RecordingConsole();
  console.input = {"", "^C", "never sent"};
  ASSERT_EQ(Run({"-q", "--monitor", "-p", "sim", file}), kSuccess);
  EXPECT_EQ(console.rawChanges, (std::vector<bool>{true, false}));
  EXPECT_FALSE(Interrupted.Requested());
  EXPECT_EQ(console.out.find("never sent"), std::string::npos);

  // A failed write starts no monitor.
  console = RecordingConsole();
  console.input = {"x"};
  EXPECT_EQ(Run({"-q", "--monitor", "-p", "sim", dir.File("missing.bin")}), kFailed);
  EXPECT_TRUE(console.rawChanges.empty());
}

// Several simulated boards at once: two good ones, one whose copy fails in the middle of
// the transfer and one that never answers. The good ones finish, and each report says
// what happened to its board.
TEST(Boards, OneBoardsFailureLeavesTheOthersAlone) {
  const std::vector<uint8_t> image = test::MakeStartableImage(8192);
  sim::SimulatedChip good1, good2;
  sim::SimulatedChip failing(
      sim::ChipConfig{sim::kLpc1114PartId, true, {sim::Rule::ReplyWith("C", "9", 4)}});
  sim::SimulatedChip silent(sim::ChipConfig{sim::kLpc1114PartId, false, {}});
  const std::vector<BoardJob> boards = {{"good1", good1.Opener()},
                                        {"failing", failing.Opener()},
                                        {"silent", silent.Opener()},
                                        {"good2", good2.Opener()}};
  std::vector<std::vector<JobPhase>> phases(boards.size());
  int finished = 0;
  const std::vector<BoardReport> reports =
      WriteBoards(image, PlanWrite(static_cast<uint32_t>(image.size())), boards, JobOptions{}, 0,
                  [&](size_t board, const BoardReport& report) {
                    if (phases[board].empty() || phases[board].back() != report.phase)
                      phases[board].push_back(report.phase);
                    if (report.finished) ++finished;
                  });
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_EQ(finished, 4);
  EXPECT_TRUE(reports[0].result.Succeeded());
  EXPECT_EQ(reports[1].result.outcome, JobOutcome::WriteFailed);
  EXPECT_EQ(reports[2].result.outcome, JobOutcome::IspEntryFailed);
  EXPECT_TRUE(reports[3].result.Succeeded());
  for (const sim::SimulatedChip* chip : {&good1, &good2}) {
    EXPECT_TRUE(std::equal(image.begin(), image.end(), chip->loader.flash().begin()));
    EXPECT_EQ(chip->loader.mode(), sim::BootLoader::Mode::UserProgram);
  }
  EXPECT_EQ(phases[0], (std::vector<JobPhase>{JobPhase::Reset, JobPhase::Handshake, JobPhase::Erase,
                                              JobPhase::Transfer, JobPhase::Restart}));
  EXPECT_EQ(phases[2], std::vector<JobPhase>{JobPhase::Reset});
  EXPECT_EQ(ExitCodeOf(reports), kFailed);
  // Every port closed, the failed ones too.
  for (const sim::SimulatedChip* chip : {&good1, &failing, &silent, &good2})
    EXPECT_EQ(chip->closes, 1);

  const std::string summary = SummaryTable(reports);
  EXPECT_NE(summary.find("4 boards: 2 ok, 2 not written: failing silent"), std::string::npos)
      << summary;
  // (The time column is the board's own, whatever the machine's load.)
  EXPECT_TRUE(std::regex_search(
      summary, std::regex("\nsilent +[0-9.]+ s +the chip's boot loader did not answer\n")))
      << summary;
  EXPECT_NE(
      summary.find("writing the program failed: SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION (9)\n"),
      std::string::npos)
      << summary;
  EXPECT_EQ(reports[1].result.isp.command, "C 4096 268436224 1024")
      << "the block of the fourth copy";
  EXPECT_EQ(reports[1].result.address, 4096u);
}

// The one retry loop: a failure is tried again while attempts are left, a success or an
// abort ends it, and each new attempt is announced first.
TEST(Boards, TheRetryLoopTriesAFailureAgainUntilItsAttemptsAreSpent) {
  struct Case {
    std::vector<JobOutcome> outcomes;  // of the attempts, in order
    int retries;
    bool abortAfterFirst;
    int attempts;  // made
  } const cases[] = {
      {{JobOutcome::Success}, 3, false, 1},
      {{JobOutcome::WriteFailed, JobOutcome::Success}, 3, false, 2},
      {{JobOutcome::WriteFailed, JobOutcome::WriteFailed, JobOutcome::WriteFailed}, 2, false, 3},
      {{JobOutcome::WriteFailed}, 0, false, 1},
      {{JobOutcome::Aborted}, 3, false, 1},
      {{JobOutcome::WriteFailed}, 3, true, 1},  // Ctrl-C came during the first
  };
  for (const Case& c : cases) {
    AbortFlag abort;
    int made = 0;
    std::vector<int> announced;
    const JobResult last = WriteWithRetries(
        c.retries, &abort,
        [&](int attempt) {
          EXPECT_EQ(attempt, made + 1);
          if (c.abortAfterFirst) abort.Request();
          return JobResult(c.outcomes[static_cast<size_t>(made++)]);
        },
        [&](const JobResult& failed, int next) {
          EXPECT_FALSE(failed.Succeeded());
          announced.push_back(next);
        });
    EXPECT_EQ(made, c.attempts);
    EXPECT_EQ(last.outcome, c.outcomes[static_cast<size_t>(made - 1)]);
    EXPECT_EQ(announced.size(), static_cast<size_t>(made - 1));
  }
}

TEST(Boards, AFailedBoardIsTriedAgainAloneAndAnAbortStopsThemAll) {
  const std::vector<uint8_t> image = test::MakeStartableImage(4096);
  sim::SimulatedChip good;
  // The second copy fails once: the next attempt, with its own reset, succeeds.
  sim::SimulatedChip once(
      sim::ChipConfig{sim::kLpc1114PartId, true, {sim::Rule::ReplyWith("C", "9", 2)}});
  std::vector<BoardReport> reports =
      WriteBoards(image, PlanWrite(static_cast<uint32_t>(image.size())),
                  {{"good", good.Opener()}, {"once", once.Opener()}}, JobOptions{}, 2, nullptr);
  EXPECT_TRUE(reports[0].result.Succeeded());
  EXPECT_EQ(reports[0].attempt, 1);
  EXPECT_TRUE(reports[1].result.Succeeded());
  EXPECT_EQ(reports[1].attempt, 2);
  EXPECT_EQ(once.loader.resets(), 3)
      << "a reset into the boot loader for each try, one into the program";
  EXPECT_EQ(ExitCodeOf(reports), kSuccess);

  // Ctrl-C as the first board starts: every board stops at its next check, none is
  // retried, no flash is touched.
  sim::SimulatedChip a, b;
  AbortFlag interrupt;  // the boards' common abort request, as Ctrl-C is
  JobOptions common;
  common.observer.abort = &interrupt;
  reports = WriteBoards(image, PlanWrite(static_cast<uint32_t>(image.size())),
                        {{"a", a.Opener()}, {"b", b.Opener()}}, common, 3,
                        [&interrupt](size_t, const BoardReport&) { interrupt.Request(); });
  for (const sim::SimulatedChip* chip : {&a, &b}) {
    EXPECT_TRUE(std::all_of(chip->loader.flash().begin(), chip->loader.flash().end(),
                            [](uint8_t v) { return v == 0xFF; }));
  }
  for (const BoardReport& report : reports) {
    EXPECT_EQ(report.result.outcome, JobOutcome::Aborted) << report.port;
    EXPECT_EQ(report.attempt, 1) << report.port;
  }
  EXPECT_EQ(ExitCodeOf(reports), kAborted);
  reports[0].result = JobOutcome::Success;
  EXPECT_EQ(ExitCodeOf(reports), kAborted) << "aborted and ok";
  reports[1].result = JobOutcome::WrongChip;
  EXPECT_EQ(ExitCodeOf(reports), kFailed);
}

TEST_F(Cli, SeveralPortsGetTheImageAndASummary) {
  test::WriteFile(file, test::MakeStartableImage(3000));
  console.terminal = false;
  ASSERT_EQ(Run({"-d", "--verify", "-p", "sim", "-p", "sim", "-p", "sim", file}), kSuccess)
      << console.err;
  for (const char* port : {"sim1: ok in ", "sim2: ok in ", "sim3: ok in "}) {
    EXPECT_NE(console.err.find(port), std::string::npos) << console.err;
  }
  EXPECT_NE(console.out.find("3 boards: 3 ok\n"), std::string::npos) << console.out;
  EXPECT_FALSE(test::FileExists(file)) << "every board has it: deleted";

  // One board whose port does not open: the others are written, the file stays.
  test::WriteFile(file, test::MakeStartableImage(3000));
  console = RecordingConsole();
  console.terminal = false;
  const std::string missing = dir.File("no-such-tty");
  EXPECT_EQ(Run({"-d", "-p", "sim", "-p", missing, file}), kFailed);
  EXPECT_NE(console.out.find("2 boards: 1 ok, 1 not written: " + missing), std::string::npos)
      << console.out;
  EXPECT_NE(console.out.find("  cannot open the serial port\n"), std::string::npos) << console.out;
  // The details after the table, for the board that failed.
  EXPECT_NE(console.err.find("korvane-cli: " + missing + ": cannot open the serial port\n  port: " +
                             missing + ": cannot open: "),
            std::string::npos)
      << console.err;
  EXPECT_TRUE(test::FileExists(file));

  // On a terminal, a line per board redrawn in place.
  console = RecordingConsole();
  ASSERT_EQ(Run({"-p", "sim", "-p", "sim", file}), kSuccess);
  EXPECT_NE(console.err.find("\x1b[2A"), std::string::npos) << "back up over both lines";
  EXPECT_NE(console.err.find("sim2  [####################] 100%  done"), std::string::npos)
      << console.err;
}

// -v with several boards: each board's dialogue, each line whole and named by its board,
// and no table drawn over them.
TEST_F(Cli, VerboseTracesEveryBoardLineByLine) {
  test::WriteFile(file, test::MakeStartableImage(3000));
  ASSERT_EQ(Run({"-v", "-p", "sim", "-p", "sim", file}), kSuccess) << console.err;
  for (const char* board : {"sim1", "sim2"}) {
    for (const char* line :
         {": > ?\n", ": < Synchronized\n", ": > J\n", ": > C 0 268436224 1024\n"}) {
      EXPECT_NE(console.err.find(std::string("] ") + board + line), std::string::npos)
          << board << line << console.err;
    }
  }
  EXPECT_EQ(console.err.find("\x1b["), std::string::npos) << "no table redrawn";
  // Every trace line is one line: its time, its board, one line of the dialogue.
  std::istringstream lines(console.err);
  const std::regex traced(R"(\[ *[0-9]+\.[0-9]{3}\] sim[12]: .*)");
  int traces = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("[", 0) != 0) continue;
    EXPECT_TRUE(std::regex_match(line, traced)) << line;
    ++traces;
  }
  EXPECT_GT(traces, 40);
}

TEST(PortNames, OneDeviceNamedTwiceIsFound) {
  using Same = std::optional<std::pair<std::string, std::string>>;
  EXPECT_EQ(FindSameDevice({"sim", "sim", "sim"}), Same()) << "each sim is a board of its own";
  EXPECT_EQ(FindSameDevice({"COM3", "1", "COM1"}), Same(std::make_pair("1", "COM1")));
  EXPECT_EQ(FindSameDevice({"COM2", "COM3"}), Same());
#ifdef _WIN32
  EXPECT_EQ(FindSameDevice({"\\\\.\\com7", "7"}), Same(std::make_pair("\\\\.\\com7", "7")));
#else
  EXPECT_EQ(FindSameDevice({"/dev/ttyS0", "COM1"}), Same(std::make_pair("/dev/ttyS0", "COM1")));
  // A by-id name is a link to the device itself.
  test::TempDir dir;
  const std::string device = dir.File("ttyUSB0");
  test::WriteFile(device, {});
  const std::string link = dir.File("usb-FTDI_FT232R_A1-if00-port0");
  ASSERT_EQ(symlink(device.c_str(), link.c_str()), 0);
  EXPECT_EQ(FindSameDevice({dir.File("ttyUSB1"), link, device}),
            Same(std::make_pair(link, device)));
#endif
}

#ifndef _WIN32
TEST_F(Cli, OneDeviceNamedTwiceIsAUsageError) {
  const std::string device = dir.File("ttyUSB0");
  test::WriteFile(device, {});
  const std::string link = dir.File("by-id-port0");
  ASSERT_EQ(symlink(device.c_str(), link.c_str()), 0);
  test::WriteFile(file, test::MakeStartableImage(100));
  EXPECT_EQ(Run({"-p", link, "-p", device, file}), kUsage);
  EXPECT_EQ(console.err,
            "korvane-cli: -p " + link + " and -p " + device +
                " are the same device; name each board once (see korvane-cli --help)\n");
}
#endif

// More boards than the terminal has rows: one line counts them, the boards at work fill
// the rows left, and every redraw has as many lines as the first, so it never scrolls.
TEST(BoardTable, FitsTheTerminalAndSaysAborted) {
  std::vector<BoardReport> reports(30);
  for (size_t i = 0; i < reports.size(); ++i) reports[i].port = "/dev/ttyUSB" + std::to_string(i);
  BoardTable table(reports, false, 24);
  const auto lines = [](const std::string& text) {
    return std::count(text.begin(), text.end(), '\n');
  };
  const std::string first = table.Draw();
  EXPECT_EQ(lines(first), 23);
  EXPECT_NE(first.find("\x1b[2K30 boards: 30 waiting\n"), std::string::npos) << first;
  for (size_t i = 0; i < 25; ++i) {
    reports[i].started = true;
    reports[i].phase = JobPhase::Transfer;
    reports[i].percent = 40;
  }
  for (size_t i = 0; i < 3; ++i) reports[i].finished = true;
  reports[0].result = JobOutcome::Success;
  reports[1].result = JobOutcome::WrongChip;
  reports[2].result = JobOutcome::Aborted;
  std::string text;
  for (size_t i = 0; i < 25; ++i) text = table.Update(i, reports[i]);
  EXPECT_EQ(text.rfind("\x1b[23A", 0), 0u) << "back up over the 23 lines";
  EXPECT_EQ(lines(text), 23);
  EXPECT_NE(text.find("30 boards: 5 waiting, 22 writing, 1 done, 1 failed, 1 aborted\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("/dev/ttyUSB3 "), std::string::npos) << "the first board at work";
  EXPECT_NE(text.find("/dev/ttyUSB24 "), std::string::npos) << "the 22nd board at work";
  EXPECT_EQ(text.find("/dev/ttyUSB0 "), std::string::npos) << "finished: in the table at the end";

  // Boards that fit are drawn one line each; an aborted one says so.
  BoardTable fits(std::vector<BoardReport>(reports.begin(), reports.begin() + 3), false, 24);
  EXPECT_NE(fits.Draw().find("/dev/ttyUSB2  [########------------]  40%  aborted"),
            std::string::npos);
  EXPECT_EQ(FinishedLine(reports[2], 1), "/dev/ttyUSB2: aborted in 0.00 s\n");
  EXPECT_EQ(FinishedLine(reports[1], 1).rfind("/dev/ttyUSB1: failed in 0.00 s: ", 0), 0u);
}

// After the end of the input, the monitor still shows the board's output until it has
// been quiet for 500 ms, and 2 s at most: a board that keeps talking does not keep it.
TEST(Monitor, EndsWithinItsBoundAfterTheInputEnds) {
  struct Case {
    uint32_t talkMs;            // the program's period; 0: silent
    uint64_t endsFrom, endsBy;  // after the monitor's start, in milliseconds
    const char* lastTick;       // the last line shown, if any
  } const cases[] = {
      {0, 500, 560, nullptr},
      {600, 500, 560, nullptr},  // a pause of 500 ms ends it before the first line
      {200, 2000, 2060, "tick 10\r\n"},
  };
  for (const Case& c : cases) {
    sim::ChipConfig config;
    config.programTalkMs = c.talkMs;
    sim::SimulatedChip chip(config);
    const std::vector<uint8_t> program = test::MakeStartableImage(1024);
    std::copy(program.begin(), program.end(), chip.loader.flash().begin());
    std::unique_ptr<ComPort> port = chip.OpenPort();
    RecordingConsole console;
    console.clock = [&chip] { return chip.clock.Now() / 1000000; };
    uint64_t started = 0;
    console.onErr = [&](const std::string& text) {
      if (text.find("monitor on") != std::string::npos) started = console.clock();
    };
    ASSERT_EQ(RunMonitor(*port, 115200, true, "sim", console), kSuccess) << console.err;
    const uint64_t ran = console.clock() - started;
    EXPECT_GE(ran, c.endsFrom) << c.talkMs;
    EXPECT_LE(ran, c.endsBy) << c.talkMs;
    if (c.lastTick) {
      EXPECT_EQ(console.out.substr(console.out.size() - std::strlen(c.lastTick)), c.lastTick)
          << console.out;
    } else {
      EXPECT_EQ(console.out, "");
    }
    EXPECT_NE(console.err.find("monitor ended"), std::string::npos);
  }
}

// A reader of stdout that goes away ends the monitor as the end of the input does.
TEST(Monitor, EndsWhenStdoutsReaderGoesAway) {
  sim::ChipConfig config;
  config.programTalkMs = 100;
  sim::SimulatedChip chip(config);
  const std::vector<uint8_t> program = test::MakeStartableImage(1024);
  std::copy(program.begin(), program.end(), chip.loader.flash().begin());
  std::unique_ptr<ComPort> port = chip.OpenPort();
  RecordingConsole console;
  console.stdoutGone = true;
  console.input = std::vector<std::string>(1000, "");  // the input never ends
  EXPECT_EQ(RunMonitor(*port, 115200, true, "sim", console), kSuccess);
  EXPECT_EQ(console.rawChanges, (std::vector<bool>{true, false})) << "the terminal put back";
  EXPECT_LT(console.input.size(), 1000u - 3) << "it ran until the first line";
  EXPECT_GT(console.input.size(), 1000u - 20) << "and ended there";
}

#ifndef _WIN32
TEST(PortList, FindsTheSerialPortsOfAMachine) {
  // A machine's folders in miniature: an FTDI adapter with its by-id name and product,
  // a board's own USB serial port, a UART that answers and one that does not.
  test::TempDir root;
  auto make = [&](const std::string& path, const std::string& text) {
    const std::string full = root.File(path);
    ASSERT_EQ(std::system(("mkdir -p \"$(dirname '" + full + "')\"").c_str()), 0);
    std::ofstream(full) << text;
  };
  make("dev/ttyUSB0", "");
  make("dev/ttyACM0", "");
  make("dev/ttyS0", "");
  make("dev/ttyS1", "");
  make("dev/tty", "");
  make("sys/class/tty/ttyS0/type", "4\n");
  make("sys/class/tty/ttyS1/type", "0\n");
  make("sys/devices/usb1/1-1/idVendor", "0403\n");
  make("sys/devices/usb1/1-1/product", "FT232R USB UART\n");
  make("sys/devices/usb1/1-1/1-1:1.0/ttyUSB0/x", "");
  ASSERT_EQ(std::system(("mkdir -p '" + root.File("dev/serial/by-id") + "' '" +
                         root.File("sys/class/tty/ttyUSB0") + "' && ln -s ../../ttyUSB0 '" +
                         root.File("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A5-if00-port0") +
                         "' && ln -s ../../../devices/usb1/1-1/1-1:1.0/ttyUSB0 '" +
                         root.File("sys/class/tty/ttyUSB0/device") + "'")
                            .c_str()),
            0);
  const std::vector<SerialPortInfo> ports = ListSerialPortsUnder(root.File(""));
  ASSERT_EQ(ports.size(), 3u) << FormatPortList(ports);
  EXPECT_EQ(ports[0].device, "/dev/ttyACM0");
  EXPECT_TRUE(ports[0].usb);
  EXPECT_EQ(ports[1].device, "/dev/ttyS0");
  EXPECT_FALSE(ports[1].usb);
  EXPECT_EQ(ports[2].device, "/dev/ttyUSB0");
  EXPECT_EQ(ports[2].name, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A5-if00-port0");
  EXPECT_EQ(ports[2].description, "FT232R USB UART");
  EXPECT_TRUE(ports[2].usb);
  EXPECT_EQ(OnlyUsbPort(ports), nullptr) << "two USB ports: auto picks none";
  const std::vector<SerialPortInfo> one = {ports[1], ports[2]};
  ASSERT_NE(OnlyUsbPort(one), nullptr);
  EXPECT_EQ(OnlyUsbPort(one)->device, "/dev/ttyUSB0");
  EXPECT_EQ(OnlyUsbPort({ports[1]}), nullptr);
}
#endif

}  // namespace
}  // namespace korvane::cli
