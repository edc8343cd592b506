#include "cli/chip_commands.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/cli_app.h"
#include "cli/cli_support.h"
#include "cli/file_texts.h"
#include "cli/outcome_texts.h"
#include "cli/port_names.h"
#include "common/safe_files.h"
#include "image/hex_writer.h"
#include "image/image_reader.h"
#include "isp/write_plan.h"
#include "job/chip_operations.h"
#include "job/image_file.h"
#include "job/chip_session.h"

namespace korvane::cli {

namespace {

// The sizes of the flash's sectors in KiB: "4", or "4 and 32" where runs differ.
std::string SectorSizesText(const MemoryMap& map) {
  std::string text;
  for (const SectorsOfSize& run : map.sectorRuns) {
    if (run.count == 0) continue;
    text += (text.empty() ? "" : " and ") + std::to_string(run.size / 1024);
  }
  return text;
}

// The words of the chip operations' reports.
struct ReportWords {
  const char* partId;
  const char* bootCode;
  const char* uid;
  const char* noUid;
  const char* memory;  // {0} flash KiB, {1} sectors, {2} sector KiB, {3} RAM KiB
  const char* sector;  // {0} number, {1} first address, {2} last, {3} state
  const char* blank;
  const char* inUse;
  const char* notTold;
  const char* romWindow;
  const char* readBlocked;
  const char* readAllowed;
  const char* erased;    // {0} sectors, {1} seconds
  const char* readOne;   // {0} address, {1} file, {2} seconds
  const char* readMany;  // {0} bytes, {1} address, {2} file, {3} seconds
  const char* notRead;   // after the problem with OUT, before the port is opened
  const char* notSaved;  // after the problem with OUT, once the flash was read
};

const ReportWords kEnglishReport = {
    "part ID:    ",
    "boot code:  ",
    "unique ID:  ",
    "not told (the boot code has no N command)",
    "memory:     {0} KiB of flash in {1} sectors of {2} KiB, {3} KiB of RAM",
    "sector {0} ({1}-{2}): {3}",
    "blank",
    "in use",
    "not told (code read protection)",
    " (bytes 0 to 511 read as the boot ROM here)",
    "code read protection: reading is blocked (CRP1 or CRP2); korvane-cli --erase-all erases the "
    "whole flash and lifts it",
    "code read protection: reading is allowed (none, or CRP3 and the like, which only keep the ISP "
    "pin from being sampled)",
    "erased all {0} sectors in {1} s",
    "read 1 byte from {0} into {1} in {2} s",
    "read {0} bytes from {1} into {2} in {3} s",
    "; nothing was read",
    "; the flash was read, but not saved",
};

const ReportWords kJapaneseReport = {
    "品番ID:         ",
    "ブートコード:   ",
    "ユニークID:     ",
    "不明（ブートコードに N コマンドがありません）",
    "メモリ:         フラッシュ {0} KiB（{2} KiB のセクタ {1} 個）、RAM {3} KiB",
    "セクタ {0}（{1}-{2}）: {3}",
    "空",
    "使用中",
    "不明（コードリードプロテクション）",
    "（0〜511 バイトはここではブートROMとして読めます）",
    "コードリードプロテクション: 読み出しは禁止されています（CRP1 または CRP2）。korvane-cli "
    "--erase-all でフラッシュ全体を消去すると解除されます",
    "コードリードプロテクション: 読み出しは許されています（なし、または ISP 端子の検出だけを止める "
    "CRP3 など）",
    "全 {0} セクタを消去しました（{1} 秒）",
    "{0} から 1 バイトを {1} へ読み出しました（{2} 秒）",
    "{1} から {0} バイトを {2} へ読み出しました（{3} 秒）",
    "。読み出しは行っていません",
    "。フラッシュメモリは読み出しましたが、保存できませんでした",
};

const ReportWords& ReportWordsOf(Language language) {
  return language == Language::Japanese ? kJapaneseReport : kEnglishReport;
}

std::string InfoText(const ChipInfo& info, Language language) {
  const ReportWords& words = ReportWordsOf(language);
  // J tells the die: every package of it that the table names.
  std::string text = words.partId + PartText(info.partId, nullptr) + "\n";
  text += words.bootCode + std::to_string(info.bootCodeMajor) + "." +
          std::to_string(info.bootCodeMinor) + "\n";
  text += words.uid;
  if (info.uid) {
    for (size_t i = 0; i < info.uid->size(); ++i) text += (i ? " " : "") + Hex((*info.uid)[i]);
  } else {
    text += words.noUid;
  }
  text += "\n";
  const MemoryMap& map = info.part ? info.part->map : kLpc1114Map;
  text += Fill(words.memory, {std::to_string(map.flashSize / 1024), std::to_string(map.Sectors()),
                              SectorSizesText(map), std::to_string(map.ramSize / 1024)}) +
          "\n";
  for (size_t sector = 0; sector < info.sectorBlank.size(); ++sector) {
    const uint32_t first = map.SectorStart(static_cast<unsigned>(sector));
    std::string state = !info.sectorBlank[sector]   ? words.notTold
                        : *info.sectorBlank[sector] ? words.blank
                                                    : words.inUse;
    // Its first 512 bytes read as the boot ROM while the boot loader runs.
    if (sector == 0 && info.sectorBlank[sector]) state += words.romWindow;
    text += Fill(words.sector,
                 {std::to_string(sector), Hex(first, 4),
                  Hex(map.SectorStart(static_cast<unsigned>(sector) + 1) - 1, 4), state}) +
            "\n";
  }
  text += std::string(info.readProtected ? words.readBlocked : words.readAllowed) + "\n";
  return text;
}

// The file --read writes: Intel HEX for .hex and .ihx, raw bytes otherwise.
std::string ReadFileContent(const std::string& path, const std::vector<uint8_t>& bytes,
                            uint32_t address) {
  return FormatOfName(path) == ImageFormat::IntelHex
             ? ToIntelHex(bytes.data(), bytes.size(), address)
             : std::string(bytes.begin(), bytes.end());
}

// What an aborted chip operation says: which operation was stopped.
const char* AbortedText(const Options& options, Language language) {
  const Words& words = WordsOf(language);
  return options.info       ? words.abortedInfo
         : options.eraseAll ? words.abortedErase
                            : words.abortedRead;
}

}  // namespace

bool IsChipOperation(const Options& options) {
  return options.info || !options.readTo.empty() || (options.eraseAll && options.file.empty());
}

int RunChipOperation(const Options& options, Console& console, BoardPort& board, Bench& bench) {
  const Language language = console.MessageLanguage();
  const ReportWords& words = ReportWordsOf(language);
  // OUT is checked, and the file that will take its place made beside it, before the
  // port is opened: a place that cannot take the flash is told before the chip is read.
  OutputFile out;
  if (!options.readTo.empty()) {
    if (const FileProblem problem = out.Prepare(options.readTo)) {
      console.Err("korvane-cli: --read " + options.readTo + ": " +
                  FileProblemText(problem, language) + words.notRead +
                  " (see korvane-cli --help)\n");
      return kUsage;
    }
  }
  const SteadyClock::time_point start = SteadyClock::now();
  JobOptions job = JobOptionsOf(options, console, start);
  StatusLine status(console);
  const bool drawn = ShowJobSteps(options, console, status, &job);
  TellHowToReset(options, console);

  ChipInfo info;
  std::vector<uint8_t> bytes;
  unsigned sectors = 0;
  std::function<JobResult(ChipSession&)> operation;
  std::optional<BlockBar> bar;
  if (options.info) {
    operation = [&info](ChipSession& session) { return ReadChipInfo(session, &info); };
  } else if (options.eraseAll) {
    operation = [&sectors](ChipSession& session) {
      sectors = session.part().map.Sectors();
      return EraseWholeFlash(session);
    };
  } else {
    bar.emplace(status, drawn, 0, start);
    job.observer.progress = bar->Progress();
    operation = [&](ChipSession& session) {
      // The range, and so the bar's blocks, follow the chip's flash.
      const MemoryMap& map = session.part().map;
      const uint32_t end =
          options.readLength != 0 ? options.readStart + options.readLength : map.flashSize;
      bar->SetBlocks(
          static_cast<int>((end - 1) / map.blockSize - options.readStart / map.blockSize + 1));
      return ReadFlash(session, options.readStart, options.readLength, &bytes);
    };
  }
  BoardAttempt attempt(options.port, board.Device(), board.Adapter());
  attempt.knownPart = board.KnownPart();
  attempt.Begin(1);
  const JobOptions own = bench.ForAttempt(job, &attempt);
  const JobResult result = RunOnChip(board.Opener(), own.session, own.observer, operation);
  const std::string trouble = bench.Ended(attempt, result,
                                          options.info       ? "info"
                                          : options.eraseAll ? "erase"
                                                             : "read");
  if (result.Succeeded() && bar) bar->Full();
  status.End();
  if (!trouble.empty()) console.Err(trouble);
  const int done = trouble.empty() ? kSuccess : kFailed;
  if (result.outcome == JobOutcome::Aborted) {
    console.Err("korvane-cli: " + std::string(AbortedText(options, language)) + "\n");
    return kAborted;
  }
  if (!result.Succeeded()) {
    console.Err(
        FailureText(result, language, FactsOf(board, result, options.reset == ResetWiring::None)));
    return kFailed;
  }
  const std::string seconds = Format("%.2f", SecondsSince(start));
  if (options.info) {
    console.Out(InfoText(info, language));
  } else if (options.eraseAll) {
    console.Out(Fill(words.erased, {std::to_string(sectors), seconds}) + "\n");
  } else {
    if (const FileProblem problem =
            out.Commit(ReadFileContent(options.readTo, bytes, options.readStart))) {
      console.Err("korvane-cli: --read " + options.readTo + ": " +
                  FileProblemText(problem, language) + words.notSaved + "\n");
      return kFailed;
    }
    const std::string from = Hex(options.readStart);
    console.Out((bytes.size() == 1 ? Fill(words.readOne, {from, options.readTo, seconds})
                                   : Fill(words.readMany, {std::to_string(bytes.size()), from,
                                                           options.readTo, seconds})) +
                "\n");
  }
  if (result.startRefusedByProtection)
    console.Err("korvane-cli: " + std::string(WordsOf(language).startRefused) + "\n");
  return done;
}

}  // namespace korvane::cli
