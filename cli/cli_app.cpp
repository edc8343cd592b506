#include "cli/cli_app.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

#include "cli/board_display.h"
#include "cli/cli_support.h"
#include "cli/chip_commands.h"
#include "cli/boards.h"
#include "cli/monitor.h"
#include "cli/options.h"
#include "cli/outcome_texts.h"
#include "cli/port_names.h"
#include "cli/progress_bar.h"
#include "common/watched_file.h"
#include "image/image_reader.h"
#include "isp/image_checks.h"
#include "isp/program_image.h"
#include "isp/write_plan.h"
#include "job/image_file.h"
#include "job/messages.h"
#include "job/write_bin_file.h"
#include "korvane_version.h"
#include "serial/borrowed_port.h"
#include "serial/port_list.h"
#include "sim/sim_port.h"
#ifdef _WIN32
#include "serial/open_com_port.h"
#else
#include "serial/posix_com_port.h"
#endif

namespace korvane::cli {

namespace {

// The largest file korvane-cli reads: a full flash image in Intel HEX or an ELF with
// its symbols stays far below this.
constexpr uint64_t kMaxInputFileSize = uint64_t{64} << 20;

// The file, read once and turned into the flash image that is checked and written.
struct Input {
  LoadedFile file;
  ImageReadResult read;
  WritePlan plan;  // worked out after the checks, which may change the image
};

// Reads FILE the job's way (without waiting on a FIFO, only a regular file, measured
// before it is read) and converts it: kSuccess, or the exit code with the message told.
// A raw image keeps the window's checks and messages for its size; a file that is no
// image (its name and content tell no format) is a usage error.
int ReadInput(const std::string& path, const std::optional<ImageFormat>& format, Input* input,
              Console& console) {
  JobOutcome failure = LoadFile(path, kMaxInputFileSize, &input->file);
  const std::optional<ImageFormat> named = format ? format : FormatOfName(path);
  if (failure == JobOutcome::FileTooLarge && named != ImageFormat::Raw) {
    // Not a raw image too large for the flash, which the job's message tells, but a file
    // beyond what korvane-cli reads at all.
    const std::optional<FileStamp> stamp = StampOf(path);
    const std::string kind = named ? std::string(ImageFormatName(*named)) + " file" : "file";
    console.Err("korvane-cli: " + path + ": the " + kind + " is " +
                (stamp ? std::to_string(stamp->size) + " bytes, " : "") +
                "larger than the 64 MiB korvane-cli reads (a full flash image in Intel HEX is "
                "about 90 KiB); not written.\n");
    return kFailed;
  }
  if (failure == JobOutcome::Success) {
    const std::vector<uint8_t>& bytes = input->file.bytes;
    input->read = ReadImage(path, bytes.data(), bytes.size(), format);
    if (input->read.unrecognised) {
      console.Err("korvane-cli: " + path + ": " + input->read.error +
                  "; not written. --format bin|hex|elf reads it as that format.\n");
      return kUsage;
    }
    if (!input->read.error.empty()) {
      console.Err("korvane-cli: " + path + ": " + input->read.error + "\n");
      return kFailed;
    }
    const size_t size = input->read.image.size();
    if (size == 0) failure = JobOutcome::FileEmpty;
    if (size > kMaxImageSize) failure = JobOutcome::FileTooLarge;
  }
  if (failure == JobOutcome::Success) return kSuccess;
  JobResult result(failure);
  result.file = path;
  result.fileSize = input->file.size;
  result.systemError = input->file.reason;
  console.Err(FailureText(result, console.MessageLanguage(), {}));
  return kFailed;
}

// What the flash must hold after the plan was carried out on a chip whose flash was
// `before`: the erased sectors 0xFF but for the image's data, every other byte as it was.
std::vector<uint8_t> FlashAfter(const std::vector<uint8_t>& before, const Input& input) {
  std::vector<uint8_t> flash = before;
  for (const SectorRun& run : input.plan.sectors) {
    const auto from = static_cast<std::ptrdiff_t>(run.first * kSectorSize);
    const auto to = static_cast<std::ptrdiff_t>((run.last + 1) * kSectorSize);
    std::fill(flash.begin() + from, flash.begin() + to, uint8_t{0xFF});
  }
  const std::vector<uint8_t>& image = input.read.image;
  for (size_t i = 0; i < image.size(); ++i) {
    if (input.read.hasData[i]) flash[i] = image[i];
  }
  return flash;
}

// The first address where a simulated chip's flash differs from what the write must
// leave there, if any.
std::optional<size_t> FlashDifference(const sim::SimulatedChip& chip,
                                      const std::vector<uint8_t>& before, const Input& input) {
  const std::vector<uint8_t> expected = FlashAfter(before, input);
  const auto& flash = chip.loader.flash();
  const auto differs = std::mismatch(expected.begin(), expected.end(), flash.begin());
  if (differs.first == expected.end()) return std::nullopt;
  return static_cast<size_t>(differs.first - expected.begin());
}

std::vector<uint8_t> FlashOf(const sim::SimulatedChip& chip) {
  return std::vector<uint8_t>(chip.loader.flash().begin(), chip.loader.flash().end());
}

size_t DataBytes(const Input& input) {
  return static_cast<size_t>(
      std::count(input.read.hasData.begin(), input.read.hasData.end(), true));
}

// Compares the simulated flash with what the write must leave (the image's data, 0xFF
// elsewhere in the erased sectors, the rest untouched) and tells the modelled time.
int ReportSimulatedChip(const sim::SimulatedChip& chip, const std::vector<uint8_t>& before,
                        const Input& input, sim::Nanoseconds modelled, uint32_t transferBaud,
                        Console& console) {
  if (const std::optional<size_t> at = FlashDifference(chip, before, input)) {
    console.Err("korvane-cli: simulated chip: flash differs from the image at offset " +
                std::to_string(*at) + "\n");
    return kFailed;
  }
  const auto& flash = chip.loader.flash();
  if (chip.loader.bootLoaderRamWrites() > 0) {
    console.Err("korvane-cli: simulated chip: the write went into the boot loader's own RAM\n");
    return kFailed;
  }
  const size_t bytes = DataBytes(input);
  console.Out(
      "simulated chip: flash read back equals the image (" + std::to_string(bytes) +
      (bytes == 1 ? " byte" : " bytes") +
      "; every other byte of the erased sectors is 0xFF); on a real chip this write takes " +
      Format("%.2f", static_cast<double>(modelled) / 1e9) + " s at " +
      std::to_string(kHandshakeBaud) + "/" + std::to_string(transferBaud) + " baud\n");
  const CrpLevel crp = CrpLevelOf(flash.data(), flash.size());
  if (crp != CrpLevel::None) {
    console.Out(std::string("simulated chip: its flash now sets code read protection ") +
                CrpName(crp) + ": " + CrpEffect(crp) + "\n");
  }
  if (chip.loader.mode() == sim::BootLoader::Mode::UserProgram) {
    console.Out("simulated chip: reset into the new program\n");
  } else {
    // The boot ROM starts only a program whose first eight vectors add up to 0.
    console.Out(
        "simulated chip: reset, but stayed in its boot loader: the image's vector table has no "
        "valid checksum in entry 7, so a real chip would not start it either\n");
  }
  return kSuccess;
}

// What the image would do to the chip, told before the port is opened: false when it
// must not be written (it sets code read protection without --allow-crp, or
// --fix-checksum was asked for an image without a vector table). With --fix-checksum,
// the image that is written gets the right vector checksum. An image without data in
// sector 0 leaves the chip's vector table and protection word alone: nothing to check.
bool CheckImage(const Options& options, Input& input, Console& console) {
  std::vector<uint8_t>& image = input.read.image;
  std::vector<bool>& hasData = input.read.hasData;
  const size_t sector0 = std::min<size_t>(image.size(), kSectorSize);
  if (std::find(hasData.begin(), hasData.begin() + static_cast<std::ptrdiff_t>(sector0), true) ==
      hasData.begin() + static_cast<std::ptrdiff_t>(sector0)) {
    return true;
  }
  const CrpLevel crp = CrpLevelOf(image.data(), image.size());
  if (crp != CrpLevel::None) {
    const std::string what = std::string("the image sets code read protection ") + CrpName(crp) +
                             " (" + Hex(kCrpOffset) + " holds its value): " + CrpEffect(crp);
    if (!options.allowCrp) {
      console.Err("korvane-cli: " + what + ". Not written; --allow-crp writes it all the same.\n");
      return false;
    }
    console.Err("korvane-cli: warning: " + what + ".\n");
  }
  const std::optional<uint32_t> wanted = VectorChecksumFor(image.data(), image.size());
  if (!wanted) {
    const std::string why = "the image has no vector table (it is shorter than its " +
                            std::to_string(kVectorTableBytes) + " bytes)";
    if (options.fixChecksum) {
      console.Err("korvane-cli: --fix-checksum: " + why +
                  ", so it has no entry 7 to write. Not written.\n");
      return false;
    }
    console.Err("korvane-cli: warning: " + why +
                ", so the chip's boot ROM will not start it and stays in its boot loader.\n");
    return true;
  }
  if (HasValidVectorChecksum(image.data(), image.size())) return true;
  if (options.fixChecksum) {
    FixVectorChecksum(0, image.data(), static_cast<uint32_t>(image.size()));
    for (uint32_t i = 0; i < 4; ++i) hasData[kVectorChecksumOffset + i] = true;
    console.Err("korvane-cli: writing the vector checksum " + Hex(*wanted) + " into entry 7 (" +
                Hex(kVectorChecksumOffset) + "); " + options.file + " stays as it is\n");
    return true;
  }
  console.Err(
      "korvane-cli: warning: the image's first eight vectors do not add up to 0, so the chip's "
      "boot ROM "
      "will not start it and stays in its boot loader. Put " +
      Hex(*wanted) + " (the two's complement of the sum of entries 0 to 6) into entry 7 at " +
      Hex(kVectorChecksumOffset) + " when building it, or write with --fix-checksum.\n");
  return true;
}

// Deletes FILE after a write that put it on every board, when it still is the version
// that was read; false, with the message told, when it is not or cannot be deleted.
bool DeleteWritten(const std::string& path, const FileStamp& written, Console& console) {
  JobResult deleted = DeleteIfUnchanged(path, written);
  if (deleted.Succeeded()) return true;
  deleted.file = path;
  console.Err(FailureText(deleted, console.MessageLanguage(), {}));
  return false;
}

// The image to every board named, at once: progress per board, a line per finished
// job, the summary table; the file deleted (-d) only when every board has it.
int WriteMany(const Options& options, const Input& input, Console& console) {
  std::vector<std::unique_ptr<sim::SimulatedChip>> chips;  // one simulated board per "sim"
  std::vector<std::shared_ptr<std::string>> causes;
  std::vector<BoardJob> boards;
  int sims = 0;
  for (const std::string& port : options.ports) {
    chips.push_back(port == "sim" ? SimulatedBoard() : nullptr);
    causes.push_back(std::make_shared<std::string>());
    // Simulated boards are told apart by their number.
    const std::string name = port == "sim" ? "sim" + std::to_string(++sims) : port;
    boards.push_back(
        {name, OpenerFor(port, chips.back().get(), causes.back(), !options.noLowLatency)});
  }
  const JobOptions job = JobOptionsOf(options);

  const bool drawTable = !options.quiet && console.ErrCanRedraw();
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
  std::vector<std::vector<uint8_t>> before;  // each simulated board's flash before the write
  for (const auto& chip : chips) before.push_back(chip ? FlashOf(*chip) : std::vector<uint8_t>());
  if (options.reset == ResetWiring::None)
    console.Err("korvane-cli: " + std::string(WordsOf(language).holdButton) + "\n");
  std::vector<BoardReport> reports =
      WriteBoards(input.read.image, input.plan, boards, job, options.retries, listener);

  int code = ExitCodeOf(reports);
  console.Out(SummaryTable(reports, language));
  for (size_t i = 0; i < reports.size(); ++i) {
    // The details of each board that failed, after the table.
    const JobResult& result = reports[i].result;
    if (!result.Succeeded() && result.outcome != JobOutcome::Aborted) {
      console.Err(
          FailureText(result, language, {DeviceOf(reports[i].port), *causes[i]}, reports[i].port));
    }
    // A simulated board also shows that its flash holds the image.
    if (chips[i] && reports[i].result.Succeeded() && FlashDifference(*chips[i], before[i], input)) {
      console.Err("korvane-cli: simulated board " + std::to_string(i + 1) +
                  ": flash differs from the image\n");
      code = kFailed;
    }
  }
  if (code == kSuccess && options.deleteAfterWrite) {
    if (!DeleteWritten(options.file, input.file.stamp, console)) return kFailed;
  }
  return code;
}

int WriteOnce(const Options& options, Console& console, sim::SimulatedChip* chip) {
  // The file is read, converted and checked once, before the port is opened; the job
  // writes exactly this image, whatever happens to the file meanwhile.
  Input input;
  const int read = ReadInput(options.file, options.format, &input, console);
  if (read != kSuccess) return read;
  if (!CheckImage(options, input, console)) return kFailed;
  input.plan = PlanWrite(input.read.hasData);
  if (options.ports.size() > 1) return WriteMany(options, input, console);
  const std::vector<uint8_t>& image = input.read.image;
  const Language language = console.MessageLanguage();
  JobOptions job = JobOptionsOf(options);

  // On a terminal, one status line redrawn in place: each step of the job as it begins,
  // then the bar. A trace (-v) takes the lines instead.
  const bool drawBar = !options.quiet && !options.verbose && console.ErrIsTerminal();
  const int blocksAll = static_cast<int>(input.plan.blocks.size());
  int blocksStarted = 0;
  const SteadyClock::time_point start = SteadyClock::now();
  const sim::Nanoseconds simStart = chip ? chip->clock.Now() : 0;
  const std::vector<uint8_t> flashBefore = chip ? FlashOf(*chip) : std::vector<uint8_t>();
  StatusLine status(console);
  auto progress = [&](int32_t percent) {
    if (drawBar)
      status.Show(RenderProgressBar(percent, blocksStarted, blocksAll, SecondsSince(start)));
    ++blocksStarted;
  };
  if (drawBar) {
    job.phase = [&](const JobStep& step) {
      const std::string text = StepText(step, language);
      if (!text.empty()) status.Show(text);
    };
  }
  if (options.verbose) job.trace = TraceTo(console, start);

  const auto portCause = std::make_shared<std::string>();
  PortOpener opener = OpenerFor(options.port, chip, portCause, !options.noLowLatency);
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
  if (options.reset == ResetWiring::None)
    console.Err("korvane-cli: " + std::string(WordsOf(language).holdButton) + "\n");
  JobResult result = WriteImage(image, input.plan, opener, progress, job);
  // --retry: a failed write is tried again from its reset, unless it was stopped.
  for (int attempt = 2; attempt <= options.retries + 1 && WorthRetrying(result, &Interrupted);
       ++attempt) {
    status.End();
    console.Err(RetryText(result, attempt, options.retries + 1, language));
    blocksStarted = 0;
    result = WriteImage(image, input.plan, opener, progress, job);
  }
  if (drawBar && result.Succeeded()) {
    status.Show(RenderProgressBar(100, blocksAll, blocksAll, SecondsSince(start)));
  }
  status.End();
  if (!result.Succeeded()) {
    console.Err(FailureText(result, language, {DeviceOf(options.port), *portCause}));
    return result.outcome == JobOutcome::Aborted ? kAborted : kFailed;
  }
  const size_t bytes = DataBytes(input);
  const unsigned sectors = SectorCount(input.plan);
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
  int code = kSuccess;
  if (chip) {
    code = ReportSimulatedChip(*chip, flashBefore, input, chip->clock.Now() - simStart,
                               options.transferBaud, console);
  }
  if (code == kSuccess && options.deleteAfterWrite) {
    if (!DeleteWritten(options.file, input.file.stamp, console)) return kFailed;
  }
  if (code == kSuccess && held) {
    code = RunMonitor(*held, options.monitorBaud, false, DeviceOf(options.port), console,
                      options.reset);
  }
  return code;
}

// Writes the file each time it appears, until a write fails or Ctrl-C stops the watch.
// A file is written once it has stayed the same (identity, size, time) from one look to
// the next, a polling period apart, so that a file still being made is left alone.
int Watch(const Options& options, Console& console, sim::SimulatedChip* chip) {
  console.Err("korvane-cli: watching " + options.file + " (Ctrl-C stops)\n");
  std::string seenPath;  // what the previous look found, if anything
  std::optional<FileStamp> seenStamp;
  for (;;) {
    // The same test as the window's watcher: a folder of that name does not count. For
    // a pattern, the first match is the file written (and deleted).
    const std::string found = FindWatchedFile(options.file);
    const std::optional<FileStamp> stamp = found.empty() ? std::nullopt : StampOf(found);
    if (stamp && seenStamp && found == seenPath && *stamp == *seenStamp) {
      Options once = options;
      once.file = found;
      int code = WriteOnce(once, console, chip);
      if (code != kSuccess) return code;
      seenStamp.reset();
    } else {
      seenPath = found;
      seenStamp = stamp;
    }
    for (uint32_t waited = 0; waited < kWatchIntervalMs && !Interrupted.Requested();
         waited += 100) {
      console.Sleep(100);
    }
    if (Interrupted.Requested()) {
      console.Err("korvane-cli: stopped watching\n");
      return kSuccess;
    }
  }
}

// The monitor alone: the port opened, the chip reset into its program, the terminal.
int MonitorOnly(const Options& options, Console& console, sim::SimulatedChip* chip) {
  const auto portCause = std::make_shared<std::string>();
  std::unique_ptr<ComPort> port = OpenerFor(options.port, chip, portCause, !options.noLowLatency)();
  if (!port) {
    console.Err(FailureText(JobOutcome::PortOpenFailed, console.MessageLanguage(),
                            {DeviceOf(options.port), *portCause}));
    return kFailed;
  }
  // Without lines the board is reset by hand.
  return RunMonitor(*port, options.monitorBaud, options.reset != ResetWiring::None,
                    DeviceOf(options.port), console, options.reset);
}

// Tells why "-p auto" or "-p auto-all" found no port to write to, with the ports present.
void TellNoPortChosen(const std::string& why, const std::vector<SerialPortInfo>& ports,
                      Console& console) {
  console.Err("korvane-cli: " + why +
              (ports.empty() ? "No serial ports found.\n" : "Serial ports:\n") +
              FormatPortList(ports));
}

// "-p auto": the only USB serial port present; empty, with the reason told, when there
// is none or more than one.
std::string AutoPort(Console& console) {
  const std::vector<SerialPortInfo> ports = ListSerialPorts();
  if (const SerialPortInfo* port = OnlyUsbPort(ports)) {
    console.Err("korvane-cli: -p auto: " + port->device +
                (port->description.empty() ? "" : " (" + port->description + ")") + "\n");
    return port->device;
  }
  const bool anyUsb =
      std::any_of(ports.begin(), ports.end(), [](const SerialPortInfo& p) { return p.usb; });
  TellNoPortChosen(
      std::string("-p auto: ") +
          (anyUsb ? "more than one USB serial port is present" : "no USB serial port is present") +
          "; name one with -p. ",
      ports, console);
  return {};
}

// "-p auto-all": every USB serial port present; empty, with the list told, when there
// is none.
std::vector<std::string> AllUsbPorts(Console& console) {
  const std::vector<SerialPortInfo> ports = ListSerialPorts();
  std::vector<std::string> usb;
  for (const SerialPortInfo& port : ports) {
    if (port.usb) usb.push_back(port.device);
  }
  if (usb.empty()) TellNoPortChosen("-p auto-all: no USB serial port is present. ", ports, console);
  return usb;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, Console& console) {
  ParsedOptions parsed = ParseOptions(args);
  if (!parsed.error.empty()) {
    console.Err("korvane-cli: " + parsed.error + " (see korvane-cli --help)\n");
    return kUsage;
  }
  Options& options = parsed.options;
  if (options.help) {
    console.Out(UsageText());
    return kSuccess;
  }
  if (options.version) {
    console.Out("korvane-cli " KORVANE_VERSION "\n");
    return kSuccess;
  }

  if (options.listPorts) {
    const std::vector<SerialPortInfo> ports = ListSerialPorts();
    console.Out(ports.empty() ? "no serial ports found\n" : FormatPortList(ports));
    return kSuccess;
  }
  // "auto" and "auto-all" are keywords wherever they stand.
  std::vector<std::string> ports;
  for (const std::string& port : options.ports) {
    if (port == "auto") {
      ports.push_back(AutoPort(console));
      if (ports.back().empty()) return kFailed;
    } else if (port == "auto-all") {
      ports = AllUsbPorts(console);
      if (ports.empty()) return kFailed;
    } else {
      ports.push_back(port);
    }
  }
  // One device named twice (COM1 and 1, a by-id link and its ttyUSB) would be opened
  // twice, and the second open would fail against korvane-cli itself.
  if (const auto same = FindSameDevice(ports)) {
    const std::string device = DeviceIdentity(same->second);
    console.Err("korvane-cli: -p " + same->first + " and -p " + same->second +
                " are the same device" +
                (device == same->first || device == same->second ? "" : " (" + device + ")") +
                "; name each board once (see korvane-cli --help)\n");
    return kUsage;
  }
  options.ports = ports;
  options.port = ports[0];

  Interrupted.Clear();
  std::unique_ptr<sim::SimulatedChip> chip;
  if (options.port == "sim") chip = SimulatedBoard();
  if (options.noWrite) return MonitorOnly(options, console, chip.get());
  if (IsChipOperation(options)) return RunChipOperation(options, console, chip.get());
  return options.watch ? Watch(options, console, chip.get())
                       : WriteOnce(options, console, chip.get());
}

}  // namespace korvane::cli
