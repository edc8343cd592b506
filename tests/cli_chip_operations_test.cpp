// korvane-cli's chip operations and what they do with files and words: --read's OUT,
// --info, --erase-all, the checks of an image's vector table, and the output itself.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/options.h"
#include "cli/progress_bar.h"
#include "cli_test_support.h"
#include "image/hex_writer.h"

namespace korvane::cli {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
std::string Content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Every OUT that is no regular file (or a name for a new one in a folder that takes it)
// is refused before the port is opened: the port named here does not exist, so opening
// it first would end in "cannot open the serial port" instead.
TEST_F(Cli, ReadRefusesAnOutItMustNotReplaceBeforeThePortOpens) {
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink(fifo, dir.File("to-fifo"));
  fs::create_symlink("/dev/null", dir.File("to-null"));
  fs::create_symlink(dir.File("nothing"), dir.File("dangling"));
  fs::create_directory(dir.File("folder"));
  struct Case {
    std::string out;
    std::string why;
  } const cases[] = {
      {"/dev/null", "/dev/null is a device, not a regular file"},
      {dir.File("to-null"), "/dev/null is a device, not a regular file"},
      {fifo, fifo + " is a FIFO, not a regular file"},
      {dir.File("to-fifo"), fs::canonical(fifo).string() + " is a FIFO, not a regular file"},
      {dir.File("folder"), dir.File("folder") + " is a folder, not a regular file"},
      {dir.File("dangling"), dir.File("dangling") + " is a symbolic link to nothing"},
      {dir.File("missing/flash.bin"),
       "cannot create a file in " + dir.File("missing") + ": No such file or directory"},
  };
  for (const Case& c : cases) {
    console = RecordingConsole();
    EXPECT_EQ(Run({"--read", c.out, "-p", dir.File("no-such-port")}), kUsage) << c.out;
    EXPECT_EQ(console.err.rfind("korvane-cli: --read " + c.out + ": " + c.why, 0), 0u)
        << console.err;
    EXPECT_NE(console.err.find("; nothing was read (see korvane-cli --help)\n"), std::string::npos)
        << console.err;
    EXPECT_EQ(console.err.find("serial port"), std::string::npos) << console.err;
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(fs::is_symlink(dir.File("to-null")));
  EXPECT_FALSE(fs::exists(dir.File("nothing")));

  if (geteuid() != 0) {  // root may write any file
    const std::string readOnly = dir.File("read-only.bin");
    test::WriteFile(readOnly, {1, 2, 3});
    chmod(readOnly.c_str(), 0444);
    console = RecordingConsole();
    EXPECT_EQ(Run({"--read", readOnly, "-p", dir.File("no-such-port")}), kUsage);
    EXPECT_NE(console.err.find(readOnly + " may not be written"), std::string::npos) << console.err;
    EXPECT_EQ(Content(readOnly), std::string("\1\2\3"));
  }
}

// Through a link, the link's target gets the flash and keeps its mode; the link and
// every other file (a "OUT.part" among them) stay as they were, and nothing is left.
TEST_F(Cli, ReadReplacesALinksTargetAndNothingElse) {
  const std::string target = dir.File("backup.bin");
  const std::string link = dir.File("latest.bin");
  test::WriteFile(target, {9, 9, 9});
  chmod(target.c_str(), 0640);
  fs::create_symlink(target, link);
  std::ofstream(link + ".part") << "notes";
  ASSERT_EQ(Run({"-q", "--read", link, "--range", "0x7F00:256", "-p", "sim"}), kSuccess)
      << console.err;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Content(target), std::string(256, '\xFF'));
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(Content(link + ".part"), "notes");
  EXPECT_EQ(test::NamesIn(dir),
            (std::vector<std::string>{"backup.bin", "latest.bin", "latest.bin.part"}));
}
#endif

TEST_F(Cli, ReadSaysOneByteAndRefusesAnEmptyRange) {
  const std::string out = dir.File("one.bin");
  ASSERT_EQ(Run({"-q", "--read", out, "--range", "0x200:1", "-p", "sim"}), kSuccess);
  EXPECT_EQ(console.out.rfind("read 1 byte from 0x00000200 into " + out + " in ", 0), 0u)
      << console.out;
  EXPECT_EQ(ParseOptions({"--read", out, "--range", "0x200:0", "-p", "sim"}).error,
            "--range 0x200:0: the length is zero: nothing to read");
}

// Ctrl-C during a chip operation stops that operation, and the message names it.
TEST_F(Cli, AnAbortedChipOperationSaysWhichOneStopped) {
  InstallInterruptHandler();
  const struct {
    std::vector<std::string> args;
    Language language;
    const char* said;
  } cases[] = {
      {{"--info"}, Language::English, "korvane-cli: reading the chip's information was aborted\n"},
      {{"--erase-all"}, Language::English, "korvane-cli: erasing the flash was aborted\n"},
      {{"--read", "flash.bin"}, Language::English, "korvane-cli: reading the flash was aborted\n"},
      {{"--read", "flash.bin"},
       Language::Japanese,
       "korvane-cli: フラッシュメモリの読み出しを中断しました\n"},
      {{"--info"}, Language::Japanese, "korvane-cli: チップ情報の読み取りを中断しました\n"},
  };
  for (const auto& c : cases) {
    console = RecordingConsole();
    console.language = c.language;
    // Stopped as the handshake is done, before anything else is asked of the chip.
    bool asked = false;
    console.onErr = [&](const std::string&) {
      if (!asked) Interrupted.Request();
      asked = true;
    };
    std::vector<std::string> args = c.args;
    if (args.size() == 2) args[1] = dir.File(args[1]);
    args.insert(args.end(), {"-p", "sim"});
    EXPECT_EQ(Run(args), kAborted) << c.said;
    EXPECT_NE(console.err.find(c.said), std::string::npos) << console.err;
    EXPECT_EQ(console.err.find("write"), std::string::npos) << console.err;
    EXPECT_FALSE(test::FileExists(dir.File("flash.bin")));
    EXPECT_EQ(test::NamesIn(dir), std::vector<std::string>{}) << "no file left behind";
  }
}

TEST_F(Cli, InfoAndReadSpeakJapanese) {
  console.language = Language::Japanese;
  ASSERT_EQ(Run({"--info", "-p", "sim"}), kSuccess) << console.err;
  EXPECT_NE(console.out.find("品番ID:         0x0A40902B (LPC1114FN28/102, LPC1114FDH28/102)\n"),
            std::string::npos)
      << console.out;
  EXPECT_NE(console.out.find("セクタ 7（0x7000-0x7FFF）: 空\n"), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("コードリードプロテクション: 読み出しは許されています"),
            std::string::npos);
  console = RecordingConsole();
  console.language = Language::Japanese;
  EXPECT_EQ(Run({"--read", dir.File("missing/flash.bin"), "-p", "sim"}), kUsage);
  EXPECT_NE(console.err.find(dir.File("missing") + " にファイルを作れません"), std::string::npos)
      << console.err;
  EXPECT_NE(console.err.find("。読み出しは行っていません"), std::string::npos) << console.err;
}

// --erase-all without FILE writes nothing: the write's options are refused with it.
TEST(CliOptions, EraseAllWithoutFileTakesNoWriteOption) {
  for (const char* option : {"--verify", "--delete", "--fix-checksum", "--allow-crp", "--monitor",
                             "--format=hex", "--retry=2"}) {
    const std::string name = std::string(option).substr(0, std::string(option).find('='));
    EXPECT_EQ(ParseOptions({"--erase-all", option, "-p", "sim"}).error,
              "--erase-all without FILE and " + name +
                  " do not go together: --erase-all without FILE writes nothing")
        << option;
    // With FILE, it writes: the same options are welcome.
    if (name != "--monitor") {
      EXPECT_EQ(ParseOptions({"--erase-all", option, "-p", "sim", "a.bin"}).error, "") << option;
    }
  }
}

// An image with data in sector 0 but not the vector table: the erase leaves the table
// blank and the chip will not start it. --fix-checksum has nothing to sum and refuses.
TEST_F(Cli, AnImageWithoutItsVectorTableIsNeverMadeToLookStartable) {
  const std::string hex = dir.File("app.hex");
  struct Case {
    uint32_t start;
    bool backupHint;
  } const cases[] = {{0x300, true}, {0x200, true}, {0x10, false}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> data = test::MakeImage(600, c.start);
    std::ofstream(hex, std::ios::binary) << ToIntelHex(data.data(), data.size(), c.start);
    console = RecordingConsole();
    EXPECT_EQ(Run({"-q", "--fix-checksum", "-p", "sim", hex}), kFailed) << c.start;
    EXPECT_NE(console.err.find("--fix-checksum: the image has data in sector 0 but no vector "
                               "table (entries 0 to 6, 0x00000000 to 0x0000001B, are not all in "
                               "it), so it has no vector table to give a checksum. Not written."),
              std::string::npos)
        << console.err;
    EXPECT_EQ(console.out.find("reset into the new program"), std::string::npos);

    console = RecordingConsole();
    EXPECT_EQ(Run({"-q", "-p", "sim", hex}), kSuccess) << c.start;
    EXPECT_NE(console.err.find("so the chip's boot ROM will not start it and stays in its boot "
                               "loader"),
              std::string::npos)
        << console.err;
    EXPECT_EQ(console.err.find("--fix-checksum"), std::string::npos) << console.err;
    EXPECT_EQ(console.err.find("a --read backup starts at 0x00000200") != std::string::npos,
              c.backupHint)
        << console.err;
    EXPECT_NE(console.out.find("stayed in its boot loader"), std::string::npos) << console.out;
  }
}

TEST_F(Cli, AfterStaySaysTheChipWasLeftInItsBootLoader) {
  test::WriteFile(file, test::MakeStartableImage(2000));
  ASSERT_EQ(Run({"-q", "--after", "stay", "-p", "sim", file}), kSuccess) << console.err;
  EXPECT_NE(console.out.find("simulated chip: left in its boot loader, as --after stay asks\n"),
            std::string::npos)
      << console.out;
  EXPECT_EQ(console.out.find("checksum"), std::string::npos) << console.out;
}

// --reset none --erase-all FILE: the second reset is asked for; when no boot loader
// answers it, the failure says that the flash was erased.
TEST_F(Cli, EraseAllByHandAsksForTheSecondResetAndTellsWhatIsDone) {
  test::WriteFile(file, test::MakeStartableImage(2000));
  EXPECT_EQ(Run({"-q", "--reset", "none", "--erase-all", "-p", "sim", file}), kFailed);
  const size_t again = console.err.find(
      "korvane-cli: --reset none: the whole flash is erased; the chip reads its code read "
      "protection anew only when it is reset: hold the ISP button while you reset the board "
      "again");
  ASSERT_NE(again, std::string::npos) << console.err;
  const size_t failed = console.err.find("korvane-cli: the chip's boot loader did not answer\n");
  EXPECT_GT(failed, again) << console.err;
  EXPECT_NE(console.err.find("  done so far: the whole flash is erased"), std::string::npos)
      << console.err;
  EXPECT_NE(console.err.find("  next: hold the ISP button while you reset the board"),
            std::string::npos)
      << console.err;
  EXPECT_EQ(console.err.find("RTS"), std::string::npos) << "no lines moved: " << console.err;
}

TEST_F(Cli, AFailedWriteToStdoutFailsTheRun) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"--version"}, {"-q", "--info", "-p", "sim"}}) {
    console = RecordingConsole();
    console.outError = "No space left on device";
    EXPECT_EQ(Run(args), kFailed) << args[0];
    EXPECT_EQ(console.err, "korvane-cli: write error on standard output: No space left on device\n")
        << args[0];
  }
  // A usage error stays one.
  console = RecordingConsole();
  console.outError = "No space left on device";
  EXPECT_EQ(Run({"--bogus"}), kUsage);
}

TEST(ProgressBar, FitsTheTerminalsWidth) {
  for (const size_t columns : {80u, 60u, 45u, 30u, 12u}) {
    const std::string line = RenderProgressBar(50, 16, 32, 1.26, columns);
    EXPECT_LT(TerminalColumns(line), columns) << columns << ": " << line;
    EXPECT_NE(line.find("50%"), std::string::npos) << columns << ": " << line;
  }
  EXPECT_EQ(RenderProgressBar(50, 16, 32, 1.26, 45),
            "[########--------]  50%  16/32 blocks  1.3 s");
  EXPECT_EQ(RenderProgressBar(50, 16, 32, 1.26, 30), "50%  16/32 blocks  1.3 s");
  EXPECT_EQ(FitColumns("書き込み中", 5), "書き");
}

TEST(Printable, KeepsUtf8AndEscapesEverythingElse) {
  const struct {
    std::string bytes;
    std::string shown;
  } cases[] = {
      {"Synchronized", "Synchronized"},    {"\xFF\xFE", "\\xFF\\xFE"},
      {"OK\x1B[2J", "OK\\x1B[2J"},         {"読み", "読み"},
      {"\xE8\xAA", "\\xE8\\xAA"},           // a character cut short
      {"\xC0\xAF", "\\xC0\\xAF"},           // an overlong form
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},  // a surrogate
      {std::string("a\0b", 3), "a\\x00b"},
  };
  for (const auto& c : cases) EXPECT_EQ(Printable(c.bytes), c.shown) << c.shown;
}

}  // namespace
}  // namespace korvane::cli
