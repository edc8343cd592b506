#include "cli/station.h"

#include <cstdio>
#include <optional>

#include "cli/cli_app.h"
#include "cli/cli_support.h"
#include "cli/outcome_texts.h"
#include "cli/port_names.h"
#include "cli/write_command.h"
#include "common/sha256.h"
#include "serial/port_list.h"

namespace korvane::cli {

namespace {

// How often a wait looks at the keys and the ports.
constexpr uint32_t kLookMs = 200;

bool Japanese(Language language) {
  return language == Language::Japanese;
}

std::string ImageSummary(const Input& input, Language language) {
  const std::vector<uint8_t>& image = input.read.image;
  return std::to_string(image.size()) +
         (Japanese(language) ? " バイト、SHA-256 " : " bytes, SHA-256 ") +
         Sha256Hex(image.data(), image.size()).substr(0, 16);
}

std::string StartText(const Options& options, const Input& input, size_t boards,
                      Language language) {
  const std::string rounds = std::to_string(options.stationRounds);
  if (Japanese(language)) {
    return "ステーション: " + options.file + "（" + ImageSummary(input, language) +
           "）を 1 ラウンドに " + std::to_string(boards) + " 台" +
           (options.stationRounds > 0 ? "、" + rounds + " ラウンド" : "") +
           "。q、Ctrl-D、Ctrl-C で終了します";
  }
  return "station: " + options.file + " (" + ImageSummary(input, language) + ") to " +
         std::to_string(boards) + (boards == 1 ? " board" : " boards") + " a round" +
         (options.stationRounds > 0 ? ", " + rounds + " rounds" : "") +
         "; q, Ctrl-D or Ctrl-C ends it";
}

std::string WaitText(int round, bool usb, Language language) {
  const std::string number = std::to_string(round);
  if (Japanese(language)) {
    if (!usb)
      return "ラウンド " + number + ": ボードをセットして Enter を押してください（q で終了）";
    return "ラウンド " + number + ": " +
           (round == 1 ? "ボードのポートを待っています"
                       : "ボードが外され、次のボードがつながるのを待っています");
  }
  if (!usb) return "round " + number + ": put the boards in and press Enter (q ends)";
  return "round " + number + ": waiting for " +
         (round == 1 ? "the boards' ports" : "each board to be unplugged and the next plugged in");
}

// With usb: each port gone and back (each board brings its own USB serial chip). The
// keys are read meanwhile, for q, Ctrl-D and Ctrl-C.
NextRound WaitForPorts(const Options& options, const Boards& boards, OperatorKeys& keys,
                       bool needGone, Console& console) {
  std::vector<bool> gone(boards.size(), !needGone);
  for (;;) {
    bool all = true;
    for (size_t i = 0; i < boards.size(); ++i) {
      const bool present = SerialPortPresent(boards[i]->Device());
      if (!present && !gone[i]) {
        gone[i] = true;
        console.Err("korvane-cli: " + options.ports[i] +
                    (Japanese(console.MessageLanguage())
                         ? " が外れました。次のボードを待っています\n"
                         : " is gone; waiting for the next board\n"));
      }
      all = all && gone[i] && present;
    }
    if (all) return NextRound::Go;
    if (keys.Wait(false, kLookMs) == NextRound::End) return NextRound::End;
  }
}

}  // namespace

NextRound OperatorKeys::Wait(bool decideOnEnter, uint32_t sliceMs) {
  for (;;) {
    // Keys typed ahead first.
    while (!typed_.empty()) {
      const char key = typed_.front();
      typed_.erase(typed_.begin());
      if (key == 'q' || key == 'Q' || key == '\x04') return NextRound::End;
      if (decideOnEnter && (key == '\n' || key == '\r')) {
        // A Return that comes as CR LF counts once.
        if (key == '\r' && !typed_.empty() && typed_.front() == '\n') typed_.erase(typed_.begin());
        return NextRound::Go;
      }
    }
    if (Interrupted.Requested()) return NextRound::End;
    if (ended_) {
      if (decideOnEnter) return NextRound::End;
      console_.Sleep(sliceMs);
      return Interrupted.Requested() ? NextRound::End : NextRound::Go;
    }
    const Console::Input got = console_.ReadInput(sliceMs, &typed_);
    if (Interrupted.Requested()) return NextRound::End;
    if (got == Console::Input::Ended) ended_ = true;
    if (ended_ && typed_.empty() && decideOnEnter) return NextRound::End;
    if (!decideOnEnter && typed_.find_first_of("qQ\x04") == std::string::npos) {
      typed_.clear();  // Enter and the rest mean nothing while the ports are awaited
      return NextRound::Go;
    }
  }
}

std::string TotalsText(const StationTotals& totals, Language language) {
  char yield[16] = "-";
  if (totals.Yield() >= 0) std::snprintf(yield, sizeof yield, "%.1f%%", totals.Yield());
  const int rounds = totals.rounds, written = totals.written, failed = totals.failed;
  if (Japanese(language)) {
    return std::to_string(rounds) + " ラウンド、書き込み " + std::to_string(written) +
           " 台、失敗 " + std::to_string(failed) + " 台" +
           (totals.aborted > 0 ? "、中断 " + std::to_string(totals.aborted) + " 台" : "") +
           "、歩留まり " + yield;
  }
  return std::to_string(rounds) + (rounds == 1 ? " round, " : " rounds, ") +
         std::to_string(written) + (written == 1 ? " board written, " : " boards written, ") +
         std::to_string(failed) + " failed, " +
         (totals.aborted > 0 ? std::to_string(totals.aborted) + " aborted, " : "") + "yield " +
         yield;
}

int RunStation(const Options& options, Console& console, const Boards& boards, Bench& bench) {
  if (options.stationUsb) {
    for (const std::string& port : options.ports) {
      if (IsSimulatedPortName(port)) {
        console.Err("korvane-cli: --station usb waits for each port to go and come back, and -p " +
                    port + " never goes (see korvane-cli --help)\n");
        return kUsage;
      }
    }
  }
  Input input;
  const int read = ReadImageFile(options, console, bench, &input);
  if (read != kSuccess) return read;
  const Language language = console.MessageLanguage();
  console.Err("korvane-cli: " + StartText(options, input, boards.size(), language) + "\n");
  OperatorKeys keys(console);
  console.SetRawInput(true);
  StationTotals totals;
  for (int round = 1; options.stationRounds == 0 || round <= options.stationRounds;) {
    // The next round: the operator's Enter, or every port gone and back.
    console.Err("korvane-cli: " + WaitText(round, options.stationUsb, language) + "\n");
    const NextRound next = options.stationUsb
                               ? WaitForPorts(options, boards, keys, round > 1, console)
                               : keys.Wait(true, kLookMs);
    if (next == NextRound::End) break;
    // FILE is read again only when it changed on disk, and checked before it is written.
    const std::optional<FileStamp> now = StampOf(options.file);
    if (!now || !(*now == input.file.stamp)) {
      Input changed;
      if (ReadImageFile(options, console, bench, &changed) != kSuccess) {
        console.Err("korvane-cli: " + options.file +
                    (Japanese(language)
                         ? " が変更されましたが書き込めません（上記参照）。何も書き込んでいません。"
                           "直してからラウンドを始め直してください\n"
                         : " changed and cannot be written (see above); nothing was written: "
                           "mend it and start the round again\n"));
        continue;
      }
      input = std::move(changed);
      bench.Rebind(&input.read.image);
      console.Err("korvane-cli: " + options.file +
                  (Japanese(language)
                       ? " が変更されました。このラウンドから新しい内容を書き込みます（"
                       : " changed: writing it from this round on (") +
                  ImageSummary(input, language) + (Japanese(language) ? "）\n" : ")\n"));
    }
    RoundResult result;
    WriteInput(options, input, console, boards, bench, &result);
    ++totals.rounds;
    int written = 0;
    for (size_t i = 0; i < result.reports.size(); ++i) {
      const BoardReport& report = result.reports[i];
      const bool kept = i >= result.benchKept.size() || result.benchKept[i];
      const bench::Verdict verdict = bench::VerdictOf(report.result, kept);
      totals.Add(verdict);
      const bool pass = verdict == bench::Verdict::Pass;
      written += pass ? 1 : 0;
      std::string line = std::string(pass ? "PASS" : "FAIL") + "  " + report.port;
      if (i < result.attempts.size() && result.attempts[i].serial.has_value())
        line += "  serial " + std::to_string(result.attempts[i].serial.value());
      line += "  " + Format("%.2f", report.seconds) + " s";
      if (!report.result.Succeeded()) {
        line += "  " + ShortText(report.result, language);
      } else if (!pass) {
        line += Japanese(language) ? "  書き込みましたが、記録か番号を残せませんでした（上記参照）"
                                   : "  written, but its record or number was not kept (see above)";
      }
      console.Out(line + "\n");
    }
    const std::string of = std::to_string(result.reports.size());
    console.Out(Japanese(language)
                    ? "ラウンド " + std::to_string(round) + ": " + of + " 台中 " +
                          std::to_string(written) + " 台を書き込み。ここまで " +
                          TotalsText(totals, language) + "\n"
                    : "round " + std::to_string(round) + ": " + std::to_string(written) + " of " +
                          of + " written; so far " + TotalsText(totals, language) + "\n");
    ++round;
    if (Interrupted.Requested()) break;
  }
  console.SetRawInput(false);
  console.Out((Japanese(language) ? "ステーション: " : "station: ") + TotalsText(totals, language) +
              "\n");
  if (totals.failed > 0) return kFailed;
  return totals.aborted > 0 ? kAborted : kSuccess;
}

}  // namespace korvane::cli
