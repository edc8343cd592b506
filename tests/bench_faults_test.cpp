// The production bench under the faults a factory meets: a write that fails after its
// serial number may have reached the flash, a numbers' file or log that is malformed,
// replaced on disk or on a full disk, a lock that another program holds, a log that
// cannot be written during a station.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "bench/bench.h"
#include "bench/station_round.h"
#include "bench_test_support.h"
#include "cli/cli_support.h"
#include "cli/station.h"
#include "cli/write_command.h"

namespace korvane::cli {
namespace {

// Writes args's FILE to the boards, through a bench opened for them: the exit code.
int WriteWith(const std::vector<std::string>& args, Console& console, const Boards& boards,
              RoundResult* round = nullptr) {
  ParsedOptions parsed = ParseOptions(args);
  EXPECT_EQ(parsed.error, "");
  Bench bench;
  const std::string problem = bench.Open(BenchSettingsOf(parsed.options));
  EXPECT_EQ(problem, "");
  if (!problem.empty()) return kUsage;
  Input input;
  const int read = ReadImageFile(parsed.options, console, bench, &input);
  if (read != kSuccess) return read;
  return WriteInput(parsed.options, input, console, boards, bench, round);
}

// A board's number is given back only when no copy may have put a byte of it into the
// flash; a write whose program is in flash but whose start failed keeps it as written.
// The next board never gets a number that may be on another board.
TEST_F(BenchTest, ANumberIsGivenBackOnlyWhenItCannotBeOnTheBoard) {
  // The 1 KiB image and its number at 0x7FF0: the block at 0x7C00 (the number's) is
  // copied first, the block at 0 last.
  const struct {
    const char* what;
    std::vector<sim::Rule> rules;
    std::vector<std::string> extra;
    const char* result;
    const char* state;
  } cases[] = {
      {"the number's block refused",
       {sim::Rule::ReplyWith("C", "9", 1)},
       {},
       "write_failed",
       "given_back"},
      {"the number's block unanswered", {sim::Rule::Silent("C", 1)}, {}, "write_failed", "spent"},
      {"the block after the number's refused",
       {sim::Rule::ReplyWith("C", "9", 2)},
       {},
       "write_failed",
       "spent"},
      {"G unanswered", {sim::Rule::Silent("G")}, {"--after", "go"}, "isp_leave_failed", "written"},
      {"the erase refused", {sim::Rule::ReplyWith("E", "9")}, {}, "erase_failed", "given_back"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove(numbers.c_str());
    std::remove(log.c_str());
    sim::SimulatedChip failing(sim::ChipConfig{sim::kLpc1114PartId, true, c.rules});
    sim::SimulatedChip next;
    std::vector<std::string> args = {"-q",
                                     "-p",
                                     "board",
                                     "--log",
                                     log,
                                     "--serial",
                                     "0x7FF0:u32le",
                                     "--serial-file",
                                     numbers,
                                     "--serial-start",
                                     "500",
                                     file};
    args.insert(args.begin(), c.extra.begin(), c.extra.end());
    Boards first;
    first.push_back(std::make_unique<ChipBoard>("failing", failing));
    RoundResult round;
    EXPECT_EQ(WriteWith(args, console, first, &round), kFailed) << console.err;
    ASSERT_EQ(round.attempts.size(), 1u);
    EXPECT_EQ(round.attempts[0].serialState, c.state);
    auto records = Records(log);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["result"], c.result);
    EXPECT_EQ(records[0]["serial"], "500");
    EXPECT_EQ(records[0]["serial_state"], c.state);

    Boards second;
    second.push_back(std::make_unique<ChipBoard>("next", next));
    args.erase(std::find(args.begin(), args.end(), "--serial-start"),
               std::find(args.begin(), args.end(), "500") + 1);
    ASSERT_EQ(WriteWith(args, console, second, &round), kSuccess) << console.err;
    const uint64_t expected = std::string(c.state) == "given_back" ? 500 : 501;
    EXPECT_EQ(round.attempts[0].serial, expected);
    EXPECT_TRUE(StateOf(numbers).givenBack.empty());
    EXPECT_EQ(StateOf(numbers).next, expected + 1);
  }
}

// A retry of the same board writes the number its failed attempt spent, instead of
// spending another.
TEST_F(BenchTest, ARetryWritesTheNumberItsFailedAttemptSpent) {
  sim::SimulatedChip once(
      sim::ChipConfig{sim::kLpc1114PartId, true, {sim::Rule::ReplyWith("C", "9", 2)}});
  Boards boards;
  boards.push_back(std::make_unique<ChipBoard>("once", once));
  RoundResult round;
  ASSERT_EQ(WriteWith({"-q", "--retry", "1", "-p", "b", "--log", log, "--serial", "0x7FF0:u32le",
                       "--serial-file", numbers, "--serial-start", "9", file},
                      console, boards, &round),
            kSuccess)
      << console.err;
  auto records = Records(log);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["serial_state"], "spent");
  EXPECT_EQ(records[1]["serial_state"], "written");
  EXPECT_EQ(records[0]["serial"], "9");
  EXPECT_EQ(records[1]["serial"], "9");
  EXPECT_EQ(StateOf(numbers).next, 10u);
}

// Every malformed numbers' file is refused before any port opens, left as it was, and
// nothing is created by a refused command.
TEST_F(BenchTest, AMalformedNumbersFileIsRefusedAndLeftAsItWas) {
  const struct {
    const char* text;
    const char* says;
  } cases[] = {
      {"next 5\nnext 6\n", "a second \"next\" line"},
      {"start 1\nstart 1\nnext 6\n", "a second \"start\" line"},
      {"start 10\nnext 20\nback 5\n", "was never taken from it"},
      {"next 20\nback 20\n", "was never taken from it"},
      {"next 20\nback 3\nback 3\n", "given back twice"},
      {"next 20", "no line end"},
      {"next 18446744073709551616\n", "past 2^64 - 1"},
      {"start 9\nnext 3\n", "start (9) is after next (3)"},
      {"next -1\n", "is not \"start N\""},
      {"", "the file is empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    test::WriteFile(numbers, std::vector<uint8_t>(c.text, c.text + std::strlen(c.text)));
    EXPECT_EQ(Run({"-q", "-p", "/nonexistent/port", "--serial", "0x7FF0:u32le", "--serial-file",
                   numbers, "--serial-start", "1", file}),
              kUsage);
    EXPECT_NE(console.err.find(c.says), std::string::npos) << console.err;
    EXPECT_EQ(console.err.find("serial port"), std::string::npos) << "no port was opened";
    EXPECT_EQ(ReadText(numbers), c.text);
    console.err.clear();
  }
  // A refused command creates no numbers' file (here: the field overlaps the image).
  std::remove(numbers.c_str());
  EXPECT_EQ(Run({"-q", "-p", "sim", "--serial", "0x100:u32le", "--serial-file", numbers,
                 "--serial-start", "1", file}),
            kUsage);
  EXPECT_FALSE(test::FileExists(numbers));
}

// A byte-order mark and comment lines survive every rewrite; the last 64-bit number is
// never handed out (next could not go beyond it).
TEST_F(BenchTest, TheNumbersFileKeepsItsCommentsAndNeverWraps) {
  const std::string text = "\xEF\xBB\xBF# line 3, bench B\nstart 7\n\n# next below\nnext 7\n";
  test::WriteFile(numbers, std::vector<uint8_t>(text.begin(), text.end()));
  ASSERT_EQ(Run({"-q", "-p", "sim", "--serial", "0x7FE0:dec:20", "--serial-file", numbers, file}),
            kSuccess)
      << console.err;
  EXPECT_EQ(ReadText(numbers), "\xEF\xBB\xBF# line 3, bench B\n\n# next below\nstart 7\nnext 8\n");

  const std::string last = "next 18446744073709551615\n";
  test::WriteFile(numbers, std::vector<uint8_t>(last.begin(), last.end()));
  EXPECT_EQ(Run({"-q", "-p", "sim", "--serial", "0x7FE0:dec:20", "--serial-file", numbers, file}),
            kFailed);
  EXPECT_EQ(ReadText(numbers), last);
}

// A numbers' file or log replaced on disk while it is open (an editor's save, a restore)
// is the one used from then on: the lock guards what the path names.
TEST_F(BenchTest, AFileReplacedOnDiskIsTheOneUsed) {
  LockWaits waits;
  SerialPool pool;
  test::WriteFile(numbers, {'n', 'e', 'x', 't', ' ', '5', '\n'});
  ASSERT_EQ(pool.Open(numbers, std::nullopt, &waits, nullptr), "");
  BenchLog bench;
  ASSERT_EQ(bench.Open(log, {}, &waits, nullptr), "");

  const std::string edited = dir.File("edited");
  test::WriteFile(edited, {'n', 'e', 'x', 't', ' ', '9', '0', '\n'});
  std::filesystem::rename(edited, numbers);
  test::WriteFile(edited, {});
  std::filesystem::rename(edited, log);

  uint64_t number = 0;
  std::string error;
  ASSERT_TRUE(pool.Take(UINT32_MAX, nullptr, &number, &error)) << error;
  EXPECT_EQ(number, 90u);
  EXPECT_EQ(StateOf(numbers).next, 91u);
  BoardRecord record;
  record.port = "p";
  ASSERT_TRUE(bench.Append(record, nullptr, &error)) << error;
  EXPECT_EQ(Records(log).size(), 1u) << "the record went into the log the path names";
}

// --serial-keep: a kept number at or past next moves next beyond it, and no other board
// gets it; one that does not fit the field fails its board with the reason.
TEST_F(BenchTest, AKeptNumberIsReserved) {
  // The simulated board's unique ID, with number 50 in the log.
  ASSERT_EQ(Run({"-q", "-p", "sim", "--log", log, "--serial", "0x7FF0:u32le", "--serial-file",
                 numbers, "--serial-start", "50", file}),
            kSuccess)
      << console.err;
  // The numbers start again below it (a new reel of labels, say).
  test::WriteFile(numbers, {'s', 't', 'a', 'r', 't', ' ', '4', '9', '\n', 'n', 'e', 'x', 't', ' ',
                            '4', '9', '\n'});
  ASSERT_EQ(Run({"-q", "-p", "sim", "-p", "sim", "-p", "sim", "--log", log, "--serial",
                 "0x7FF0:u32le", "--serial-file", numbers, "--serial-keep", file}),
            kSuccess)
      << console.err;
  // sim1 keeps 50 (the first run's board); the others get numbers of their own, whichever
  // board reached the file first.
  std::map<std::string, uint64_t> byPort;
  std::set<uint64_t> others;
  auto records = Records(log);
  ASSERT_EQ(records.size(), 4u);
  for (size_t i = 1; i < records.size(); ++i) {
    const uint64_t serial = std::stoull(records[i]["serial"]);
    if (records[i]["port"] == "sim1") {
      EXPECT_EQ(serial, 50u);
    } else {
      EXPECT_NE(serial, 50u) << records[i]["port"];
      others.insert(serial);
    }
  }
  EXPECT_EQ(others.size(), 2u) << "two numbers, one for each other board";
  EXPECT_GT(StateOf(numbers).next, std::max<uint64_t>(50, *others.rbegin()));

  // The log keeps 99999 for sim's board; a field of two digits cannot hold it.
  Interrupted.Clear();
  std::remove(numbers.c_str());
  ASSERT_EQ(Run({"-q", "-p", "sim", "--log", log, "--serial", "0x7FF0:dec:5", "--serial-file",
                 numbers, "--serial-start", "99999", file}),
            kSuccess);
  console.err.clear();
  EXPECT_EQ(Run({"-q", "-p", "sim", "--log", log, "--serial", "0x7FF0:dec:2", "--serial-file",
                 numbers, "--serial-keep", file}),
            kUsage)
      << "the file's next number does not fit dec:2 either";
  test::WriteFile(numbers, {'n', 'e', 'x', 't', ' ', '1', '\n'});
  console.err.clear();
  EXPECT_EQ(Run({"-q", "-p", "sim", "--log", log, "--serial", "0x7FF0:dec:2", "--serial-file",
                 numbers, "--serial-keep", file}),
            kFailed);
  EXPECT_NE(console.err.find("99999, does not fit the field (at most 99)"), std::string::npos)
      << console.err;
  EXPECT_EQ(StateOf(numbers).next, 1u) << "no number was taken instead";
}

// Records stay whole lines that decode: a log left without its last line end, file names
// that are not UTF-8, cells a spreadsheet would run as formulas.
TEST_F(BenchTest, RecordsAreWholeLinesThatDecode) {
  test::WriteFile(log, {'{', '"', 't'});  // a line cut short by another program
  LockWaits waits;
  BenchLog json;
  // Its first line is no record: refused as a log of another kind.
  EXPECT_NE(json.Open(log, {}, &waits, nullptr), "");
  std::remove(log.c_str());
  ASSERT_EQ(json.Open(log, {}, &waits, nullptr), "");
  BoardRecord record;
  record.port = "p";
  record.file = std::string("caf\xE9\xFF/\xE2\x82\xAC.bin");  // Latin-1 bytes, then a euro sign
  std::string error;
  ASSERT_TRUE(json.Append(record, nullptr, &error)) << error;
  test::AppendFile(log, {'{', '"'});
  ASSERT_TRUE(json.Append(record, nullptr, &error)) << error;
  const std::vector<std::string> lines = LinesOf(ReadText(log));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("caf\\u00e9\\u00ff/\xE2\x82\xAC.bin"), std::string::npos) << lines[0];
  std::map<std::string, std::string> fields;
  ASSERT_TRUE(ParseJsonRecord(lines[2], &fields)) << "the record after the torn line is whole";
  EXPECT_EQ(fields["file"], record.file) << "the bytes come back as they were";

  record.file = "=HYPERLINK(\"x\")";
  record.port = "-p";
  const std::string csv = RecordCsv(record);
  EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"x\"\")\","), std::string::npos) << csv;
  EXPECT_NE(csv.find(",'-p,"), std::string::npos) << csv;
}

// A log that is the numbers' file or FILE, or whose content is not its name's format,
// is refused before any port opens.
TEST_F(BenchTest, ALogThatIsAnotherFileOrFormatIsRefused) {
  ASSERT_EQ(Run({"-q", "-p", "sim", "--log", log, file}), kSuccess);
  test::WriteFile(numbers, {'n', 'e', 'x', 't', ' ', '1', '\n'});
  const std::string link = dir.File("link.csv");
  std::error_code noLink;  // a system without symbolic links skips that case
  std::filesystem::create_symlink(log, link, noLink);
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--log", numbers, "--serial", "0x7FF0:u32le", "--serial-file", numbers},
       "which the run reads"},
      {{"--log", file}, "which the run reads"},
      {{"--log", link}, "is not a CSV log"},
      {{"--log", log + ".csv"}, ""},  // a new CSV log: fine
  };
  for (const auto& c : cases) {
    if (noLink && c.args[1] == link) continue;
    std::vector<std::string> args = {"-q", "-p", "/nonexistent/port"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(file);
    console.err.clear();
    const int code = Run(args);
    if (*c.says == '\0') {
      EXPECT_NE(code, kUsage) << console.err;
      continue;
    }
    EXPECT_EQ(code, kUsage) << console.err;
    EXPECT_NE(console.err.find(c.says), std::string::npos) << console.err;
  }
}

#ifndef _WIN32
// On a full disk (a file-size limit in a child process stands in for it) the numbers'
// file keeps its old content whole, and the log is left with whole records only.
TEST_F(BenchTest, AFullDiskTearsNeitherTheNumbersNorTheLog) {
  test::WriteFile(numbers, {'n', 'e', 'x', 't', ' ', '1', '0', '0', '0', '\n'});
  ASSERT_EQ(Run({"-q", "-p", "sim", "--log", log, file}), kSuccess);
  const std::string numbersBefore = ReadText(numbers), logBefore = ReadText(log);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    // Room for part of a record and none for a new numbers' file of the same size.
    const rlimit limit{static_cast<rlim_t>(logBefore.size() + 100),
                       static_cast<rlim_t>(logBefore.size() + 100)};
    setrlimit(RLIMIT_FSIZE, &limit);
    LockWaits waits;
    BenchLog full;
    std::string error;
    if (full.Open(log, {}, &waits, nullptr) != "") _exit(10);
    BoardRecord record;
    record.port = "full";
    if (full.Append(record, nullptr, &error)) _exit(11);  // it must not fit
    const rlimit tiny{5, 5};
    setrlimit(RLIMIT_FSIZE, &tiny);
    SerialPool pool;
    uint64_t number = 0;
    if (pool.Open(numbers, std::nullopt, &waits, nullptr) != "") _exit(12);
    if (pool.Take(UINT32_MAX, nullptr, &number, &error)) _exit(13);  // it must not be written
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadText(log), logBefore) << "the record that did not fit is not there in part";
  EXPECT_EQ(ReadText(numbers), numbersBefore);
  EXPECT_TRUE(test::NamesIn(dir).size() >= 3u);
  for (const std::string& name : test::NamesIn(dir))
    EXPECT_EQ(name.find(".part-"), std::string::npos) << "no temporary file left: " << name;
}

// Ctrl-C while another program holds the numbers' file ends the run at once (exit 3),
// not after the lock's bound for each board.
TEST_F(BenchTest, CtrlCEndsAWaitForALockAtOnce) {
  test::WriteFile(numbers, {'n', 'e', 'x', 't', ' ', '1', '\n'});
  SharedFile holder;
  ASSERT_FALSE(holder.Open(numbers, false));
  ASSERT_TRUE(holder.Lock(0, nullptr));
  const auto began = std::chrono::steady_clock::now();
  std::thread press([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Interrupted.Request();
  });
  const int code = Run({"-p", "sim", "-p", "sim", "-p", "sim", "-p", "sim", "--serial",
                        "0x7FF0:u32le", "--serial-file", numbers, file});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  press.join();
  EXPECT_EQ(code, kAborted) << console.err;
  EXPECT_LT(seconds, 5.0) << "well within one lock bound (10 s), not four";
  holder.Unlock();
  EXPECT_EQ(ReadText(numbers), "next 1\n");
}
#endif

// A station's board passes only when its record was written: a log that cannot take it
// makes the board FAIL and the station exit 1.
TEST_F(BenchTest, AStationBoardWhoseRecordIsLostFails) {
  console.input = {"\n"};
  bool replaced = false;
  console.onErr = [&](const std::string& text) {
    // Before the round: the log's path becomes a folder, where no record can go.
    if (!replaced && text.find("round 1:") != std::string::npos) {
      std::filesystem::remove(log);
      std::filesystem::create_directory(log);
      replaced = true;
    }
  };
  EXPECT_EQ(Run({"--station", "1", "-p", "sim", "--log", log, file}), kFailed) << console.err;
  EXPECT_TRUE(replaced);
  EXPECT_NE(console.out.find("FAIL  sim"), std::string::npos) << console.out;
  EXPECT_EQ(console.out.find("PASS"), std::string::npos) << console.out;
  EXPECT_NE(console.err.find("the record of sim was not written"), std::string::npos)
      << console.err;
}

// Messages that named the wrong cause: each now names the right one.
TEST_F(BenchTest, MessagesNameTheRightCause) {
  const std::string folder = dir.File("numbers-folder");
  std::filesystem::create_directory(folder);
  const struct {
    std::vector<std::string> args;
    int code;
    const char* says;
    const char* saysNot;
  } cases[] = {
      {{"-p", "sim", "--part", "lpc11u", file}, kFailed, "LPC11U12FHN33/201, ", "--list-parts;"},
      {{"--station", "9999999", "-p", "sim", file},
       kUsage,
       "--station takes N (rounds, 1 to 999999)",
       "more than one FILE"},
      {{"--station", "usbx", "-p", "sim", file}, kUsage, "not \"usbx\"", "more than one FILE"},
      {{"-p", "sim", "--serial", "0x8000:u32le", "--serial-file", numbers, "--serial-start", "1",
        file},
       kFailed,
       "lies beyond the LPC1114FN28/102's flash",
       "larger than the chip's flash"},
      {{"-p", "sim", "--serial", "0x7FF0:u32le", "--serial-file", folder, file},
       kUsage,
       "folder",
       "--serial-start N creates it"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2]);
    console.err.clear();
    EXPECT_EQ(Run(c.args), c.code) << console.err;
    EXPECT_NE(console.err.find(c.says), std::string::npos) << console.err;
    EXPECT_EQ(console.err.find(c.saysNot), std::string::npos) << console.err;
  }

  // J unanswered after the rate changed: no answer, the rate the suspect; the record too.
  sim::SimulatedChip silent(sim::ChipConfig{sim::kLpc1114PartId, true, {sim::Rule::Silent("J")}});
  Boards boards;
  boards.push_back(std::make_unique<ChipBoard>("silent", silent));
  console.err.clear();
  EXPECT_EQ(WriteWith({"-p", "b", "--log", log, file}, console, boards), kFailed);
  EXPECT_NE(console.err.find("no answer to J (the part ID)"), std::string::npos) << console.err;
  EXPECT_NE(console.err.find("may not hold 57600 baud"), std::string::npos) << console.err;
  EXPECT_EQ(console.err.find("not the part expected"), std::string::npos) << console.err;
  EXPECT_EQ(Records(log).at(0)["result"], "no_answer");

  // A simulated board's record names its own package, not the first of its die's.
  std::remove(log.c_str());
  ASSERT_EQ(Run({"-q", "-p", "sim:LPC11U12FBD48/201", "--log", log, file}), kSuccess);
  EXPECT_EQ(Records(log).at(0)["part"], "LPC11U12FBD48/201");
}

// The sector erased only for the serial number is the chip's own: 4 KiB sectors below
// 64 KiB, the LPC17xx's 32 KiB ones above.
TEST(SerialNote, NamesTheSectorOfTheChipsLayout) {
  SerialField field;
  ASSERT_EQ(ParseSerialField("0x1F000:u32le", &field), "");
  std::vector<bool> hasData(0x20000, false);
  std::fill(hasData.begin(), hasData.begin() + 100, true);
  EXPECT_EQ(SerialOnlySectorNote(field, hasData, PartsNamed("LPC1768").at(0)->map),
            "sector 17 (0x18000\u20130x1FFFF) is erased for the serial number; the image does "
            "not use it");
  EXPECT_EQ(SerialOnlySectorNote(field, hasData, PartsNamed("LPC11U37FBD48/401").at(0)->map),
            "sector 31 (0x1F000\u20130x1FFFF) is erased for the serial number; the image does "
            "not use it");
  EXPECT_EQ(SerialOnlySectorNote(field, hasData, kLpc1114Map), "") << "beyond its flash";
  hasData[0x18000] = true;  // the image's own byte in the LPC1768's sector 17
  EXPECT_EQ(SerialOnlySectorNote(field, hasData, PartsNamed("LPC1768").at(0)->map), "");
}

}  // namespace
}  // namespace korvane::cli
