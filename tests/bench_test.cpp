// The production bench: the record of every board (--log), serial numbers from a shared
// file (--serial), board after board (--station).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "bench/bench.h"
#include "bench/bench_log.h"
#include "bench/serial_numbers.h"
#include "cli/write_command.h"
#include "cli/cli_support.h"
#include "bench_test_support.h"
#include "cli_test_support.h"
#include "sim/sim_port.h"

namespace korvane::cli {
namespace {

using namespace korvane::bench;

TEST(BenchLog, TimesAreUtcWithMilliseconds) {
  using std::chrono::milliseconds;
  const struct {
    int64_t ms;
    const char* text;
  } cases[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {951782400123, "2000-02-29T00:00:00.123Z"},
      {1796976592999, "2026-12-11T08:09:52.999Z"},
      {4102444799999, "2099-12-31T23:59:59.999Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsoTimeUtc(std::chrono::system_clock::time_point(milliseconds(c.ms))), c.text);
  }
}

// A written board, one that fails with the boot loader's refusal and one that is
// aborted: each record has every field, numbers as numbers, and says how it ended.
TEST_F(BenchTest, RecordsSayWhatEachBoardGotAndHowItEnded) {
  // Written, with its serial number.
  ASSERT_EQ(Run({"-q", "--verify", "-p", "sim", "--log", log, "--serial", "0x7FF0:u32le",
                 "--serial-file", numbers, "--serial-start", "1000", file}),
            kSuccess)
      << console.err;
  // A chip the run does not take.
  EXPECT_EQ(Run({"-q", "-p", "sim:LPC11U14FBD48/201", "--part", "LPC1114", "--log", log, file}),
            kFailed);
  // Aborted in the middle of the transfer.
  test::WriteFile(file, test::MakeStartableImage(4096));
  console.onErr = [](const std::string& text) {
    if (text.find("1/4 blocks") != std::string::npos) Interrupted.Request();
  };
  console.terminal = true;
  EXPECT_EQ(Run({"-p", "sim", "--log", log, file}), kAborted);

  const std::vector<std::string> lines = LinesOf(ReadText(log));
  const auto records = Records(log);
  ASSERT_EQ(records.size(), 3u) << ReadText(log);
  for (const std::string& line : lines) {
    // Every field, in order; numbers and true/false unquoted.
    size_t at = 0;
    for (const char* field : kRecordFields) {
      const size_t found = line.find("\"" + std::string(field) + "\":", at);
      ASSERT_NE(found, std::string::npos) << field << " in " << line;
      at = found;
    }
    EXPECT_NE(line.find("\"baud\":57600,"), std::string::npos) << line;
    EXPECT_NE(line.find("\"attempt\":1,"), std::string::npos) << line;
  }
  auto written = records[0];
  EXPECT_EQ(written["result"], "ok");
  EXPECT_EQ(written["operation"], "write");
  EXPECT_EQ(written["port"], "sim");
  EXPECT_EQ(written["part"], "LPC1114FN28/102");
  EXPECT_EQ(written["part_id"], "0x0A40902B");
  EXPECT_EQ(written["boot_code"], "7.1");
  EXPECT_EQ(written["uid"], "0A1B2C3D4E5F60718293A4B5C6D7E8F9");
  EXPECT_EQ(written["serial"], "1000");
  EXPECT_EQ(written["image_bytes"], std::to_string(0x7FF4));
  EXPECT_EQ(written["image_sha256"].size(), 64u);
  EXPECT_EQ(written["verify"], "true");
  EXPECT_EQ(written["file"], file);
  EXPECT_EQ(written.count("command"), 0u) << "null for a board that was written";
  EXPECT_GE(std::stod(written["seconds"]), std::stod(written["handshake_seconds"]));
  EXPECT_NE(lines[0].find("\"serial\":1000,"), std::string::npos);
  EXPECT_NE(lines[0].find("\"verify\":true,"), std::string::npos);
  EXPECT_NE(lines[0].find("\"command\":null,"), std::string::npos);

  auto wrong = records[1];
  EXPECT_EQ(wrong["result"], "wrong_chip");
  EXPECT_EQ(wrong["part"].rfind("LPC11U14", 0), 0u) << "the part the chip is";
  EXPECT_EQ(wrong["part_id"], "0x0998802B");
  EXPECT_EQ(wrong.count("uid"), 0u) << "K and N come only after the part is taken";
  EXPECT_EQ(wrong.count("serial"), 0u);

  auto aborted = records[2];
  EXPECT_EQ(aborted["result"], "aborted");
  EXPECT_EQ(aborted["image_bytes"], "4096");
}

// A refusal of the boot loader is recorded with the command and its return code; CSV has
// its header once and a cell for every field on every line.
TEST_F(BenchTest, CsvRecordsARefusalWithItsCommandAndReturnCode) {
  const std::string csv = dir.File("bench.csv");
  sim::SimulatedChip refusing(
      sim::ChipConfig{sim::kLpc1114PartId, true, {sim::Rule::ReplyWith("C", "9")}});
  sim::SimulatedChip good;
  Boards boards;
  boards.push_back(std::make_unique<ChipBoard>("refusing", refusing));
  boards.push_back(std::make_unique<ChipBoard>("good", good));
  ParsedOptions parsed = ParseOptions({"-q", "-p", "a", "-p", "b", "--log", csv, file});
  ASSERT_EQ(parsed.error, "");
  for (int run = 0; run < 2; ++run) {
    Bench bench;
    ASSERT_EQ(bench.Open(BenchSettingsOf(parsed.options)), "");
    EXPECT_EQ(WriteOnce(parsed.options, console, boards, bench), kFailed);
  }
  const std::vector<std::string> lines = LinesOf(ReadText(csv));
  ASSERT_EQ(lines.size(), 5u) << ReadText(csv);
  EXPECT_EQ(lines[0] + "\n", RecordCsvHeader());
  std::vector<std::string> header;
  ASSERT_TRUE(ParseCsvLine(lines[0], &header));
  int refusals = 0;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> cells;
    ASSERT_TRUE(ParseCsvLine(lines[i], &cells));
    ASSERT_EQ(cells.size(), kRecordFields.size()) << lines[i];
    std::map<std::string, std::string> record;
    for (size_t k = 0; k < cells.size(); ++k) record[header[k]] = cells[k];
    if (record["port"] != "a") {  // the refusing board, as its port was named
      EXPECT_EQ(record["result"], "ok");
      continue;
    }
    ++refusals;
    EXPECT_EQ(record["result"], "write_failed");
    EXPECT_EQ(record["command"].rfind("C ", 0), 0u) << record["command"];
    EXPECT_EQ(record["return_code"], "9");
    EXPECT_EQ(record["return_code_name"], "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION");
  }
  EXPECT_EQ(refusals, 2);
}

// --info, --erase-all and --read are recorded too, each as its own operation.
TEST_F(BenchTest, ChipOperationsAreRecordedWithTheirOwnOperation) {
  const std::string out = dir.File("flash.bin");
  ASSERT_EQ(Run({"-q", "--info", "-p", "sim", "--log", log}), kSuccess) << console.err;
  ASSERT_EQ(Run({"-q", "--erase-all", "-p", "sim", "--log", log}), kSuccess) << console.err;
  ASSERT_EQ(Run({"-q", "--read", out, "--range", "0x200:1024", "-p", "sim", "--log", log}),
            kSuccess)
      << console.err;
  const auto records = Records(log);
  ASSERT_EQ(records.size(), 3u);
  const char* operations[] = {"info", "erase", "read"};
  for (size_t i = 0; i < records.size(); ++i) {
    auto record = records[i];
    EXPECT_EQ(record["operation"], operations[i]);
    EXPECT_EQ(record["result"], "ok");
    EXPECT_EQ(record["uid"], "0A1B2C3D4E5F60718293A4B5C6D7E8F9") << operations[i];
    EXPECT_EQ(record["boot_code"], "7.1") << operations[i];
    EXPECT_EQ(record.count("file"), 0u) << "no image: " << operations[i];
    EXPECT_EQ(record.count("image_sha256"), 0u);
  }
}

// --retry: each attempt has its record; the number the failed attempt gave back is the
// one the next attempt takes.
TEST_F(BenchTest, EachAttemptOfARetryHasItsRecord) {
  sim::SimulatedChip once(
      sim::ChipConfig{sim::kLpc1114PartId, true, {sim::Rule::ReplyWith("C", "9", 1)}});
  Boards boards;
  boards.push_back(std::make_unique<ChipBoard>("once", once));
  ParsedOptions parsed =
      ParseOptions({"-q", "--retry", "2", "-p", "board", "--log", log, "--serial", "0x7FF0:u32be",
                    "--serial-file", numbers, "--serial-start", "77", file});
  ASSERT_EQ(parsed.error, "");
  Bench bench;
  ASSERT_EQ(bench.Open(BenchSettingsOf(parsed.options)), "");
  ASSERT_EQ(WriteOnce(parsed.options, console, boards, bench), kSuccess) << console.err;
  const auto records = Records(log);
  ASSERT_EQ(records.size(), 2u);
  auto first = records[0], second = records[1];
  EXPECT_EQ(first["attempt"], "1");
  EXPECT_EQ(first["result"], "write_failed");
  EXPECT_EQ(second["attempt"], "2");
  EXPECT_EQ(second["result"], "ok");
  EXPECT_EQ(first["serial"], "77");
  EXPECT_EQ(second["serial"], "77");
  EXPECT_EQ(StateOf(numbers).next, 78u);
  EXPECT_TRUE(StateOf(numbers).givenBack.empty());
}

// Eight boards of one run append to one log at once: every line whole, one per board.
TEST_F(BenchTest, EightBoardsIntoOneLogEachLineWhole) {
  std::vector<std::string> args = {"-q", "--log", log, file};
  for (int i = 0; i < 8; ++i) args.insert(args.begin(), {"-p", "sim"});
  ASSERT_EQ(Run(args), kSuccess) << console.err;
  std::set<std::string> ports, uids;
  for (auto record : Records(log)) {
    ports.insert(record["port"]);
    uids.insert(record["uid"]);
  }
  EXPECT_EQ(ports, (std::set<std::string>{"sim1", "sim2", "sim3", "sim4", "sim5", "sim6", "sim7",
                                          "sim8"}));
  EXPECT_EQ(uids.size(), 8u) << "each simulated board has a unique ID of its own";
}

// Without --log the dialogue has no command beyond the write's.
TEST_F(BenchTest, KAndNAreAskedOnlyForALog) {
  for (const bool logged : {false, true}) {
    sim::SimulatedChip chip;
    Boards boards;
    boards.push_back(std::make_unique<ChipBoard>("chip", chip));
    std::vector<std::string> args = {"-q", "-p", "chip", file};
    if (logged) args.insert(args.begin(), {"--log", log});
    ParsedOptions parsed = ParseOptions(args);
    Bench bench;
    ASSERT_EQ(bench.Open(BenchSettingsOf(parsed.options)), "");
    ASSERT_EQ(WriteOnce(parsed.options, console, boards, bench), kSuccess) << console.err;
    const std::vector<std::string> transcript = chip.Transcript();
    const auto sent = [&](const std::string& line) {
      return std::find(transcript.begin(), transcript.end(), line) != transcript.end();
    };
    EXPECT_EQ(sent("> K\r\n"), logged);
    EXPECT_EQ(sent("> N\r\n"), logged);
  }
}

// Serial numbers in every format land in the flash of several boards, one of which fails
// after the block with its number was copied: the written boards hold different numbers,
// and the failed board's number is spent (it may be in that board's flash): never given
// back, never on another board; no gap.
TEST_F(BenchTest, SerialNumbersLandInTheFlashOfEachBoardWithoutGapOrTwice) {
  const struct {
    const char* field;
    uint32_t address;
  } formats[] = {{"0x7FF0:u32le", 0x7FF0},
                 {"0x7FF0:u32be", 0x7FF0},
                 {"0x7000:dec:8", 0x7000},
                 {"0x6F01:hex:6", 0x6F01}};
  for (const auto& format : formats) {
    SCOPED_TRACE(format.field);
    std::remove(numbers.c_str());
    sim::SimulatedChip chips[4];
    sim::SimulatedChip failing(
        sim::ChipConfig{sim::kLpc1114PartId, true, {sim::Rule::ReplyWith("C", "9", 2)}});
    Boards boards;
    for (int i = 0; i < 4; ++i) {
      boards.push_back(
          std::make_unique<ChipBoard>("b" + std::to_string(i), i == 2 ? failing : chips[i]));
    }
    ParsedOptions parsed =
        ParseOptions({"-q", "--verify", "-p", "a", "-p", "b", "-p", "c", "-p", "d", "--serial",
                      format.field, "--serial-file", numbers, "--serial-start", "1000", file});
    ASSERT_EQ(parsed.error, "");
    Bench bench;
    ASSERT_EQ(bench.Open(BenchSettingsOf(parsed.options)), "");
    Input input;
    ASSERT_EQ(ReadImageFile(parsed.options, console, bench, &input), kSuccess);
    RoundResult round;
    EXPECT_EQ(WriteInput(parsed.options, input, console, boards, bench, &round), kFailed);
    ASSERT_EQ(round.attempts.size(), 4u);
    ASSERT_TRUE(round.attempts[2].serial);
    SerialField field;
    ASSERT_EQ(ParseSerialField(format.field, &field), "");
    std::multiset<uint64_t> written;
    for (int i : {0, 1, 3}) {
      ASSERT_TRUE(round.attempts[size_t(i)].serial);
      const uint64_t number = *round.attempts[size_t(i)].serial;
      const std::vector<uint8_t> bytes = field.Bytes(number);
      EXPECT_TRUE(
          std::equal(bytes.begin(), bytes.end(),
                     chips[i].loader.flash().begin() + static_cast<std::ptrdiff_t>(format.address)))
          << "board " << i << " holds " << number;
      written.insert(number);
    }
    const SerialState state = StateOf(numbers);
    const uint64_t failed = *round.attempts[2].serial;
    EXPECT_EQ(round.attempts[2].serialState, "spent");
    EXPECT_EQ(state.givenBack.count(failed), 0u) << failed;
    std::multiset<uint64_t> used = written;
    used.insert(failed);
    used.insert(state.givenBack.begin(), state.givenBack.end());
    std::multiset<uint64_t> range;
    for (uint64_t n = 1000; n < state.next; ++n) range.insert(n);
    EXPECT_EQ(used, range) << "each number taken is on a board, spent or back in the file, once";
  }
}

// A board that was not written gives its number back, and the next run's first board
// takes it.
TEST_F(BenchTest, TheNextRunsFirstBoardTakesTheNumberGivenBack) {
  const std::vector<std::string> serial = {"-q",    "--serial", "0x7FF0:u32le", "--serial-file",
                                           numbers, file};
  sim::SimulatedChip failing(
      sim::ChipConfig{sim::kLpc1114PartId, true, {sim::Rule::ReplyWith("C", "9")}});
  sim::SimulatedChip next;
  for (sim::SimulatedChip* chip : {&failing, &next}) {
    Boards boards;
    boards.push_back(std::make_unique<ChipBoard>("board", *chip));
    std::vector<std::string> args = {"-p", "board"};
    args.insert(args.end(), serial.begin(), serial.end());
    if (chip == &failing) args.insert(args.end(), {"--serial-start", "1000"});
    ParsedOptions parsed = ParseOptions(args);
    ASSERT_EQ(parsed.error, "");
    Bench bench;
    ASSERT_EQ(bench.Open(BenchSettingsOf(parsed.options)), "");
    EXPECT_EQ(WriteOnce(parsed.options, console, boards, bench),
              chip == &failing ? kFailed : kSuccess);
  }
  EXPECT_TRUE(StateOf(numbers).givenBack.empty());
  EXPECT_EQ(StateOf(numbers).next, 1001u);
  const auto& flash = next.loader.flash();
  EXPECT_EQ(std::vector<uint8_t>(flash.begin() + 0x7FF0, flash.begin() + 0x7FF4),
            (std::vector<uint8_t>{0xE8, 0x03, 0x00, 0x00}))
      << "1000, little-endian";
}

// Many takers at once, each with the file opened on its own (as separate processes have
// it), some giving numbers back: no number reaches two of them, and in the end every
// number taken is held once or back in the file.
TEST_F(BenchTest, TakersSharingTheFileNeverGetOneNumberTwice) {
  constexpr int kTakers = 8, kTakes = 40;
  {
    SerialPool creator;
    LockWaits waits;
    ASSERT_EQ(creator.Open(numbers, 0, &waits, nullptr), "");
    ASSERT_EQ(creator.Create(nullptr), "");
  }
  std::vector<std::vector<uint64_t>> held(kTakers);
  std::vector<std::thread> takers;
  for (int t = 0; t < kTakers; ++t) {
    takers.emplace_back([&, t] {
      SerialPool pool;
      LockWaits waits;
      ASSERT_EQ(pool.Open(numbers, std::nullopt, &waits, nullptr), "");
      for (int i = 0; i < kTakes; ++i) {
        uint64_t number = 0;
        std::string error;
        ASSERT_TRUE(pool.Take(UINT32_MAX, nullptr, &number, &error)) << error;
        // Every third board was not written.
        if (i % 3 == 2) {
          ASSERT_TRUE(pool.GiveBack(number, nullptr, &error)) << error;
        } else {
          held[size_t(t)].push_back(number);
        }
      }
    });
  }
  for (std::thread& taker : takers) taker.join();
  std::multiset<uint64_t> used;
  for (const auto& numbersHeld : held) used.insert(numbersHeld.begin(), numbersHeld.end());
  const SerialState state = StateOf(numbers);
  used.insert(state.givenBack.begin(), state.givenBack.end());
  std::multiset<uint64_t> range;
  for (uint64_t n = 0; n < state.next; ++n) range.insert(n);
  EXPECT_EQ(used, range);
}

// Writers of one log, each with the log opened on its own: every line whole.
TEST_F(BenchTest, WritersSharingTheLogNeverMixTheirLines) {
  constexpr int kWriters = 8, kRecords = 30;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      BenchLog own;
      LockWaits waits;
      ASSERT_EQ(own.Open(log, {}, &waits, nullptr), "");
      BoardRecord record;
      record.port = "writer" + std::to_string(w);
      record.file = std::string(2000, 'f');  // long lines: more than one write's worth
      for (int i = 0; i < kRecords; ++i) {
        std::string error;
        record.attempt = i;
        ASSERT_TRUE(own.Append(record, nullptr, &error)) << error;
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  std::map<std::string, int> perWriter;
  for (auto record : Records(log)) ++perWriter[record["port"]];
  EXPECT_EQ(perWriter.size(), size_t{kWriters});
  for (const auto& [port, count] : perWriter) EXPECT_EQ(count, kRecords) << port;
}

// Each field the bench cannot use is refused before any port is opened (the port named
// does not exist: opening it first would fail with "cannot open the serial port").
TEST_F(BenchTest, EachRefusalComesBeforeAnyPortOpens) {
  std::vector<uint8_t> image = test::MakeStartableImage(1024);
  image.resize(2048, 0xFF);
  image[0x600] = 0x12;  // a byte of data among the 0xFF where a field might go
  test::WriteFile(file, image);
  const std::string other = dir.File("other.txt");
  { std::ofstream(other) << "start 5\nnext 1000\n"; }
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--serial", "0x8000:u32le", "--part", "LPC1114FN28"}, "must lie within the flash"},
      {{"--serial", "0x7FF2:u32le"}, "a multiple of 4"},
      {{"--serial", "0x1C:dec:4"}, "overlaps the vector table"},
      {{"--serial", "0x2FA:dec:4"}, "overlaps the code read protection word"},
      {{"--serial", "0x5FE:hex:4"}, "overlaps the image's own bytes at 0x600"},
      {{"--serial", "0x7FF0:dec:3"}, "does not fit the field (at most 999)"},
      {{"--serial", "0x7FF0:u32le", "--serial-start", "1"}, "was started at 5"},
      {{"--serial", "0x7FF0:dec:0"}, "dec:N takes N from 1 to 20"},
      {{"--serial", "7FF0"}, "--serial takes ADDR:FORMAT"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-p", "/dev/korvane-no-such-port", "--serial-file", other};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(file);
    console = RecordingConsole();
    EXPECT_EQ(Run(args), kUsage) << c.says;
    EXPECT_NE(console.err.find(c.says), std::string::npos) << console.err;
  }
  const struct {
    std::vector<std::string> args;
    const char* says;
  } others[] = {
      {{"--serial", "0x7FF0:u32le", "--serial-file", dir.File("none.txt")},
       "(--serial-start N creates it)"},
      {{"--serial", "0x7FF0:u32le"}, "--serial needs --serial-file"},
      {{"--serial", "0x7FF0:u32le", "--serial-file", other, "--serial-keep"},
       "--serial-keep needs --log"},
      {{"--log", dir.path().string()}, "is a folder"},
      {{"--station", "0"}, "--station takes N"},
      {{"--station", "-d"}, "--station and --delete do not go together"},
  };
  for (const auto& c : others) {
    std::vector<std::string> args = {"-p", "/dev/korvane-no-such-port"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(file);
    console = RecordingConsole();
    EXPECT_EQ(Run(args), kUsage) << c.says;
    EXPECT_NE(console.err.find(c.says), std::string::npos) << console.err;
  }
  EXPECT_EQ(StateOf(other).next, 1000u) << "no number was taken";
}

// --serial-keep: a board the log knows gets its number again and takes none; a new board
// takes the next.
TEST_F(BenchTest, SerialKeepGivesAKnownBoardItsNumberAgain) {
  const std::vector<std::string> serial = {"--log",         log,     "--serial", "0x7FF0:u32le",
                                           "--serial-file", numbers, file};
  std::vector<std::string> first = {"-q", "-p", "sim", "-p", "sim", "--serial-start", "50"};
  first.insert(first.end(), serial.begin(), serial.end());
  ASSERT_EQ(Run(first), kSuccess) << console.err;
  std::map<std::string, std::string> numberOf;  // by unique ID
  for (auto record : Records(log)) numberOf[record["uid"]] = record["serial"];
  ASSERT_EQ(numberOf.size(), 2u);

  std::vector<std::string> again = {"-q", "-p", "sim", "-p", "sim", "-p", "sim", "--serial-keep"};
  again.insert(again.end(), serial.begin(), serial.end());
  ASSERT_EQ(Run(again), kSuccess) << console.err;
  const auto records = Records(log);
  ASSERT_EQ(records.size(), 5u);
  for (size_t i = 2; i < records.size(); ++i) {
    auto record = records[i];
    if (numberOf.count(record["uid"]) != 0) {
      EXPECT_EQ(record["serial"], numberOf[record["uid"]]) << record["port"];
    } else {
      EXPECT_EQ(record["serial"], "52") << "a board the log does not know takes the next";
    }
  }
  EXPECT_EQ(StateOf(numbers).next, 53u);
}

// A station of three rounds, each begun with Enter: three PASS lines and the totals.
TEST_F(BenchTest, StationWritesRoundAfterRoundUntilItsRoundsAreDone) {
  console.input = {"\n", "", "\n", "\n", "\n"};
  ASSERT_EQ(Run({"-q", "--station", "3", "-p", "sim", "--serial", "0x7FF0:u32le", "--serial-file",
                 numbers, "--serial-start", "7", file}),
            kSuccess)
      << console.err;
  const std::vector<std::string> lines = LinesOf(console.out);
  std::vector<std::string> passes;
  for (const std::string& line : lines) {
    if (line.rfind("PASS", 0) == 0 || line.rfind("FAIL", 0) == 0) passes.push_back(line);
  }
  ASSERT_EQ(passes.size(), 3u) << console.out;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(passes[size_t(i)].rfind("PASS  sim  serial " + std::to_string(7 + i) + "  ", 0), 0u)
        << passes[size_t(i)];
  }
  EXPECT_EQ(lines.back(), "station: 3 rounds, 3 boards written, 0 failed, yield 100.0%");
  EXPECT_EQ(console.input.size(), 1u) << "the fourth Enter is left unread";
  EXPECT_EQ(console.rawChanges, (std::vector<bool>{true, false}));

  // In Japanese the station speaks Japanese; its PASS and FAIL lines stay as they are,
  // for the scripts that read them.
  console = RecordingConsole();
  console.language = Language::Japanese;
  console.input = {"\n"};
  ASSERT_EQ(Run({"-q", "--station", "1", "-p", "sim", file}), kSuccess) << console.err;
  EXPECT_NE(console.err.find("ラウンド 1: ボードをセットして Enter を押してください"),
            std::string::npos)
      << console.err;
  EXPECT_NE(console.out.find("\nPASS  sim  "), std::string::npos) << console.out;
  EXPECT_EQ(LinesOf(console.out).back(),
            "ステーション: 1 ラウンド、書き込み 1 台、失敗 0 台、歩留まり 100.0%");
}

// q, the end of the input or Ctrl-C while waiting ends the station; a board that fails
// makes the exit code 1; a FILE that changed is written from the next round on.
TEST_F(BenchTest, StationEndsOnTheOperatorsWordAndTellsAChangedFile) {
  console.input = {"\n", "x\n", "q"};
  console.onErr = [&](const std::string& text) {
    if (text.find("round 2: put the boards in") != std::string::npos)
      test::WriteFile(file, test::MakeStartableImage(2048, 9));
  };
  EXPECT_EQ(Run({"-q", "--station", "-p", "sim", file}), kSuccess) << console.err;
  EXPECT_NE(console.err.find("changed: writing it from this round on (2048 bytes"),
            std::string::npos)
      << console.err;
  EXPECT_NE(console.out.find("station: 2 rounds, 2 boards written, 0 failed, yield 100.0%"),
            std::string::npos)
      << console.out;

  for (const std::vector<std::string>& input :
       {std::vector<std::string>{"\n"}, std::vector<std::string>{"\n", "^C"},
        std::vector<std::string>{"\n", "\x04"}}) {
    console = RecordingConsole();
    console.input = input;
    EXPECT_EQ(Run({"-q", "--station", "-p", "sim:LPC11U14FBD48/201", "--part", "LPC1114", file}),
              kFailed);
    EXPECT_NE(console.out.find("FAIL  sim:LPC11U14FBD48/201  "), std::string::npos) << console.out;
    EXPECT_NE(console.out.find("the chip is not the part expected"), std::string::npos);
    EXPECT_NE(console.out.find("station: 1 round, 0 boards written, 1 failed, yield 0.0%"),
              std::string::npos)
        << console.out;
    Interrupted.Clear();
  }
}

}  // namespace
}  // namespace korvane::cli
