#include "cli/write_command.h"

#include <algorithm>
#include <memory>

#include "cli/board_display.h"
#include "bench/boards.h"
#include "cli/cli_app.h"
#include "cli/cli_support.h"
#include "cli/input.h"
#include "cli/monitor.h"
#include "cli/outcome_texts.h"
#include "cli/port_names.h"
#include "isp/program_image.h"
#include "job/write_bin_file.h"
#include "serial/borrowed_port.h"

namespace korvane::cli {

// Deletes FILE after a write that put it on every board, when it still is the version
// that was read; false, with the message told, when it is not or cannot be deleted.
bool DeleteWritten(const std::string& path, const FileStamp& written, Console& console) {
  JobResult deleted = DeleteIfUnchanged(path, written);
  if (deleted.Succeeded()) return true;
  deleted.file = path;
  console.Err(FailureText(deleted, console.MessageLanguage(), {}));
  return false;
}

namespace {

// The one place that decides on -d: FILE goes only when the write succeeded everywhere
// (code is kSuccess) and is still the version that was read. The exit code after it.
int DeleteIfWritten(int code, const Options& options, const Input& input, Console& console) {
  if (code != kSuccess || !options.deleteAfterWrite) return code;
  return DeleteWritten(options.file, input.file.stamp, console) ? kSuccess : kFailed;
}

// The input as one board got it: its own image, its serial number in.
Input OwnInput(const Input& input, const Bench& bench, const BoardAttempt& attempt) {
  if (attempt.image.empty()) return input;
  Input own = input;
  own.read.image = bench.ImageOf(attempt);
  return own;
}

std::vector<std::optional<uint64_t>> SerialsOf(const std::vector<BoardAttempt>& attempts) {
  std::vector<std::optional<uint64_t>> serials;
  for (const BoardAttempt& attempt : attempts) serials.push_back(attempt.serial);
  return serials;
}

// The image to every board named, at once: progress per board, a line per finished
// job, the summary table; the file deleted (-d) only when every board has it.
int WriteMany(const Options& options, const Input& input, const Boards& ports, Console& console,
              Bench& bench, RoundResult* round) {
  std::vector<BoardJob> boards;
  int sims = 0;
  for (size_t i = 0; i < ports.size(); ++i) {
    const std::string& port = options.ports[i];
    // Simulated boards are told apart by their number.
    const std::string name = IsSimulatedPortName(port) ? "sim" + std::to_string(++sims) : port;
    boards.push_back({name, ports[i]->Opener()});
    ports[i]->BeginWrite();
  }
  const JobOptions job = JobOptionsOf(options, console, SteadyClock::now());

  // The table is redrawn in place; a trace (-v) takes the lines instead.
  const bool drawTable = !options.quiet && !options.verbose && console.ErrCanRedraw();
  std::vector<BoardReport> initial(boards.size());
  for (size_t i = 0; i < boards.size(); ++i) initial[i].port = boards[i].port;
  const Language language = console.MessageLanguage();
  BoardTable table(initial, options.verify, console.ErrRows(), language);
  if (drawTable) console.Err(table.Draw());
  const BoardListener listener = [&](size_t board, const BoardReport& report) {
    if (drawTable) {
      console.Err(table.Update(board, report));
    } else if (!options.quiet && report.finished) {
      console.Err(FinishedLine(report, options.retries + 1, language));
    }
  };
  // Each board's attempts, followed by the bench on the board's own thread; what the bench
  // could not keep is told after the table.
  std::vector<BoardAttempt> attempts;
  for (size_t i = 0; i < boards.size(); ++i) {
    attempts.emplace_back(boards[i].port, ports[i]->Device(), ports[i]->Adapter());
    attempts.back().knownPart = ports[i]->KnownPart();
  }
  std::vector<std::string> benchTrouble(boards.size());
  AttemptHooks hooks;
  hooks.begin = [&](size_t board, int attempt, const JobOptions& base) {
    attempts[board].Begin(attempt);
    return bench.ForAttempt(base, &attempts[board]);
  };
  hooks.end = [&](size_t board, const JobResult& result) {
    benchTrouble[board] += bench.Ended(attempts[board], result, "write");
  };
  TellHowToReset(options, console);
  std::vector<BoardReport> reports =
      WriteBoards(input.read.image, input.plan, boards, job, options.retries, listener, hooks);

  int code = ExitCodeOf(reports);
  console.Out(SummaryTable(reports, language, SerialsOf(attempts)));
  std::vector<bool> kept(reports.size(), true);
  for (size_t i = 0; i < reports.size(); ++i) {
    // The details of each board that failed, after the table.
    const JobResult& result = reports[i].result;
    if (!result.Succeeded() && result.outcome != JobOutcome::Aborted) {
      console.Err(FailureText(result, language,
                              FactsOf(*ports[i], result, options.reset == ResetWiring::None),
                              reports[i].port));
    }
    // A board that can tell (a simulated one) shows that its flash holds the image.
    if (result.Succeeded() && ports[i]->FlashDifference(OwnInput(input, bench, attempts[i]))) {
      console.Err("korvane-cli: " + reports[i].port + ": flash differs from the image\n");
      code = kFailed;
      kept[i] = false;
    }
    if (!benchTrouble[i].empty()) {
      console.Err(benchTrouble[i]);
      code = kFailed;
      kept[i] = false;
    }
  }
  if (round != nullptr) *round = {reports, attempts, kept};
  return DeleteIfWritten(code, options, input, console);
}

// "chip: LPC1768 (0x26013F37), boot code 4.1": the chip the write found, by its own
// package where the board knows it or only one part the run takes has its ID, else every
// package of its die; the boot code where the session asked K.
std::string ChipLine(const JobResult& result, const BoardPort& board, const Options& options,
                     Language language) {
  if (!result.chip || result.chip->part == nullptr) return "";
  const uint32_t id = result.chip->partId;
  const Part* part = board.KnownPart();
  if (part == nullptr || !part->HasId(id)) {
    int taking = 0;
    for (const Part* allowed : options.AllowedParts()) taking += allowed->HasId(id) ? 1 : 0;
    part = taking == 1 ? result.chip->part : nullptr;
  }
  std::string text =
      part != nullptr ? std::string(part->name) + " (" + Hex(id) + ")" : PartText(id, nullptr);
  if (result.chip->bootCode) {
    text += (language == Language::Japanese ? "、ブートコード " : ", boot code ") +
            std::to_string((*result.chip->bootCode)[0]) + "." +
            std::to_string((*result.chip->bootCode)[1]);
  }
  return (language == Language::Japanese ? "マイコン: " : "chip: ") + text + "\n";
}

}  // namespace

int ReadImageFile(const Options& options, Console& console, Bench& bench, Input* input) {
  // The file is read, converted and checked once, before the port is opened; the job
  // writes exactly this image, whatever happens to the file meanwhile.
  const int read = ReadInput(options.file, options.format, options.LargestFlash(), input, console);
  if (read != kSuccess) return read;
  if (!CheckImage(options, *input, console)) return kFailed;
  std::string note;
  const std::string problem =
      bench.UseImage(options.file, &input->read.image, &input->read.hasData, &note);
  if (!problem.empty()) {
    console.Err("korvane-cli: " + problem + " (see korvane-cli --help)\n");
    return kUsage;
  }
  if (!note.empty() && !options.quiet) console.Err("korvane-cli: note: " + note + "\n");
  input->plan = PlanWrite(input->read.hasData);
  return kSuccess;
}

int WriteOnce(const Options& options, Console& console, const Boards& boards, Bench& bench) {
  Input input;
  const int read = ReadImageFile(options, console, bench, &input);
  if (read != kSuccess) return read;
  return WriteInput(options, input, console, boards, bench);
}

int WriteInput(const Options& options, const Input& input, Console& console, const Boards& boards,
               Bench& bench, RoundResult* round) {
  bench.NewRun();
  if (boards.size() > 1) return WriteMany(options, input, boards, console, bench, round);
  BoardPort& board = *boards.front();
  const std::vector<uint8_t>& image = input.read.image;
  const Language language = console.MessageLanguage();

  // On a terminal, one status line redrawn in place: each step of the job as it begins,
  // then the bar. A trace (-v) takes the lines instead.
  const SteadyClock::time_point start = SteadyClock::now();
  JobOptions job = JobOptionsOf(options, console, start);
  board.BeginWrite();
  StatusLine status(console);
  BlockBar bar(status, ShowJobSteps(options, console, status, &job),
               static_cast<int>(input.plan.blocks.size()), start);
  job.observer.progress = bar.Progress();
  PortOpener opener = board.Opener();
  // For the monitor the port stays open after the write: the job gets it on loan, so
  // that opening it again does not reset the chip through its modem lines.
  std::unique_ptr<ComPort> held;
  if (options.monitor) {
    opener = [open = opener, &held]() -> std::unique_ptr<ComPort> {
      if (!held) held = open();  // once: a retry writes through the same port
      if (!held) return nullptr;
      return std::make_unique<BorrowedPort>(*held);
    };
  }
  TellHowToReset(options, console);
  BoardAttempt attempt(options.port, board.Device(), board.Adapter());
  attempt.knownPart = board.KnownPart();
  bool benchFailed = false;
  // --retry: a failed write is tried again from its reset, unless it was stopped.
  const JobResult result = WriteWithRetries(
      options.retries, &Interrupted,
      [&](int number) {
        bar.Restart();
        attempt.Begin(number);
        const JobResult ended =
            WriteImage(image, input.plan, opener, bench.ForAttempt(job, &attempt));
        const std::string trouble = bench.Ended(attempt, ended, "write");
        if (!trouble.empty()) {
          status.End();
          console.Err(trouble);
          benchFailed = true;
        }
        return ended;
      },
      [&](const JobResult& failed, int next) {
        status.End();
        console.Err(RetryText(failed, next, options.retries + 1, language));
      });
  if (result.Succeeded()) bar.Full();
  status.End();
  if (round != nullptr) {
    BoardReport report;
    report.port = options.port;
    report.started = report.finished = true;
    report.attempt = attempt.attempt;
    report.result = result;
    report.seconds = SecondsSince(start);
    *round = {{report}, {attempt}, {!benchFailed}};
  }
  if (!result.Succeeded()) {
    console.Err(
        FailureText(result, language, FactsOf(board, result, options.reset == ResetWiring::None)));
    return result.outcome == JobOutcome::Aborted ? kAborted : kFailed;
  }
  console.Out(ChipLine(result, board, options, language));
  const size_t bytes = DataBytes(input);
  // The sectors of the chip that answered (its own runs), as its write erased them.
  const unsigned sectors =
      result.flash.sectorsErased != 0 ? result.flash.sectorsErased : SectorCount(input.plan);
  const std::string from = input.read.format == ImageFormat::Raw
                               ? ""
                               : std::string(" from ") + ImageFormatName(input.read.format);
  console.Out("wrote " + std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes") + from + " (" +
              std::to_string(sectors) + (sectors == 1 ? " sector" : " sectors") + ") in " +
              Format("%.2f", SecondsSince(start)) + " s\n");
  if (options.verify) {
    // What the compares saw: each block as copied, from 0x200 up.
    uint32_t end = 0;
    for (const PlannedBlock& block : input.plan.blocks)
      end = std::max(end, block.address + block.copySize);
    const std::string checked = end > kBootRomWindow
                                    ? "verified " + Hex(kBootRomWindow) + " to " + Hex(end - 1) +
                                          ": the flash equals the image"
                                    : "nothing to verify above " + Hex(kBootRomWindow);
    console.Out(checked +
                "; the first 512 bytes read as the boot ROM while the boot loader runs, so no "
                "command can check them\n");
  }
  if (attempt.serial) {
    const std::string number = std::to_string(*attempt.serial);
    const std::string at = Hex(bench.field()->address), as = bench.field()->FormatName();
    console.Out(language == Language::Japanese
                    ? "シリアル番号 " + number + " を " + at + " に " + as + " で書き込みました\n"
                    : "serial number " + number + " written at " + at + " as " + as + "\n");
  }
  int code = board.TellWrite(OwnInput(input, bench, attempt), job.session, console);
  if (benchFailed && code == kSuccess) code = kFailed;
  code = DeleteIfWritten(code, options, input, console);
  if (code == kSuccess && held) {
    code = RunMonitor(*held, options.monitorBaud, false, board.Device(), console, options.reset);
  }
  return code;
}

}  // namespace korvane::cli
