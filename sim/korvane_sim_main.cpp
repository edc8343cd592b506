// korvane-sim: the simulated LPC1114FN28/102 boot loader on a pseudo-terminal, in real
// time, so that programs can be tested through a real serial device. A pty has no
// modem lines: tests/e2e/modem_shim.c, preloaded into the host program, reports its
// RTS and DTR changes to korvane-sim's lines socket.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/parts.h"
#include "common/safe_files.h"
#include "common/standard_streams.h"
#include "korvane_version.h"
#include "sim/pty_chip.h"
#include "sim/rule_spec.h"

namespace {

using korvane::sim::PtyChip;

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
  stopRequested = 1;
  // Whatever holds the chip up then, the process ends within a second (SIGALRM's
  // default action).
  alarm(1);
}

constexpr char kUsage[] =
    "Usage: korvane-sim --link PATH [options]\n"
    "Runs a simulated LPC1114FN28/102 (or the --part given) UART ISP boot loader on a\n"
    "new pseudo-terminal, in real time. PATH becomes a symbolic link to the terminal's\n"
    "device, which is also printed on stdout. Stops on SIGTERM, SIGINT or SIGHUP.\n"
    "\n"
    "  --link PATH            the link to make (an earlier link there is replaced)\n"
    "  --lines SOCKET         the datagram socket that takes \"RTS 1\", \"DTR 0\", ... from\n"
    "                         the host (RTS: ISP entry pin, DTR: reset); default PATH.lines\n"
    "  --part NAME            the part modelled, by its whole name as korvane-cli\n"
    "                         --list-parts shows it (default LPC1114FN28/102): its\n"
    "                         part ID, flash, sectors and RAM\n"
    "  --part-id N            the part identification number J answers, decimal\n"
    "                         (default the part's own: 172003371 for the LPC1114FN28/102)\n"
    "  --program-echo         the chip's program sends back every byte it receives, at\n"
    "                         115200 baud (for a terminal on the port)\n"
    "  --program-talks MS     the chip's program sends \"tick N\" every MS milliseconds\n"
    "                         (1 to 60000), at 115200 baud, as a board that keeps talking\n"
    "  --no-answer            nothing on the line answers\n"
    "  --wiring WIRING        how the host's lines reach the chip: default (RTS drives the\n"
    "                         ISP entry pin, DTR the reset, each active while its line is\n"
    "                         on), swapped (DTR the ISP pin, RTS the reset), inverted\n"
    "                         (active while off), swapped-inverted, or none (no line\n"
    "                         reaches the chip; it starts in its boot loader, as when the\n"
    "                         ISP button is held through a reset)\n"
    "  --flash-in FILE        the flash holds FILE (at most the part's flash, the rest 0xFF)\n"
    "                         at start\n"
    "  --adapter-latency MS   a USB serial adapter between chip and host (1 to 255): the\n"
    "                         chip's bytes wait until MS ms after the first of them or 62\n"
    "                         are waiting, as in an FTDI chip; 1 ms once the host asks the\n"
    "                         driver for low latency (through the shim)\n"
    "  --rule ON:ACTION[:ARG][@N]\n"
    "                         a fault of the chip, repeatable: ON is ?, Synchronized,\n"
    "                         frequency, data, checksum or a command letter; ACTION is\n"
    "                         reply (ARG: the answer), silent, noecho, echo (ARG: the\n"
    "                         echo), delay (ARG: ms) or garble; @N: only its Nth time.\n"
    "                         Examples: C:reply:9@2  checksum:reply:RESEND  ?:silent@1\n"
    "  --pace                 bytes take their real time on the wire at the current baud\n"
    "                         rate (10 bit times each); else they pass at once. Erases\n"
    "                         and copies take their modelled time either way\n"
    "  --flash-out FILE       writes the whole flash into FILE at the end\n"
    "  --dump FILE            writes the flash into FILE after each restart and at the end\n"
    "  --log FILE             every line both ways and every line change, each with its\n"
    "                         CLOCK_MONOTONIC time in seconds: \"T RTS 1\", \"T > J\", \"T < 0\"\n"
    "  --exit-after-restart   ends once the chip has been reset into a started program\n"
    "  --timeout SECONDS      ends after this long, failing (exit code 1)\n"
    "  -v, --verbose          tells line changes, the chip's modes and the host's\n"
    "                         commands on stderr\n"
    "  -h, --help             this text\n"
    "      --version          the version\n"
    "\n"
    "Host side: LD_PRELOAD=" KORVANE_SHIM_INSTALL_PATH
    " KORVANE_SIM_LINES=SOCKET program.\n"
    "At the end a summary goes to stderr.\n";

struct Options {
  std::string link;
  std::string lines;
  std::string flashOut;
  std::string flashIn;
  std::string logPath;
  korvane::sim::ChipConfig chip;
  PtyChip::ServeOptions serve;
  bool verbose = false;
  bool help = false;
  bool version = false;
};

bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  *value = std::strtoull(text.c_str(), nullptr, 10);
  return errno == 0 && *value <= max;
}

// Empty on success, else what is wrong.
std::string ParseOptions(const std::vector<std::string>& args, Options* options) {
  std::optional<uint32_t> partId;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string text;
    if (arg == "--link") {
      if (!value(&options->link) || options->link.empty()) return "--link needs a path";
    } else if (arg == "--lines") {
      if (!value(&options->lines) || options->lines.empty()) return "--lines needs a path";
    } else if (arg == "--flash-out") {
      if (!value(&options->flashOut) || options->flashOut.empty())
        return "--flash-out needs a file";
    } else if (arg == "--part-id") {
      unsigned long long id = 0;
      if (!value(&text) || !ParseNumber(text, 0xFFFFFFFFu, &id)) {
        return "--part-id needs a decimal number below 2^32";
      }
      partId = static_cast<uint32_t>(id);
    } else if (arg == "--part") {
      if (!value(&text)) return "--part needs a part's name (korvane-cli --list-parts)";
      const std::vector<const korvane::Part*> named = korvane::PartsNamed(text);
      if (named.size() != 1) {
        return "--part " + text + ": " +
               (named.empty() ? "no part is named so" : "more than one part is named so") +
               " (korvane-cli --list-parts lists them)";
      }
      options->chip.part = named.front();
    } else if (arg == "--timeout") {
      char* end = nullptr;
      if (!value(&text) || text.empty()) return "--timeout needs a number of seconds";
      const double seconds = std::strtod(text.c_str(), &end);
      if (*end != '\0' || !(seconds > 0) || seconds > 1e6) {
        return "--timeout needs a positive number of seconds";
      }
      options->serve.timeoutSeconds = seconds;
    } else if (arg == "--dump") {
      if (!value(&options->serve.dumpPath) || options->serve.dumpPath.empty())
        return "--dump needs a file";
    } else if (arg == "--log") {
      if (!value(&options->logPath) || options->logPath.empty()) return "--log needs a file";
    } else if (arg == "--pace") {
      options->chip.wireTime = true;
    } else if (arg == "--rule") {
      korvane::sim::Rule rule;
      if (!value(&text)) return "--rule needs ON:ACTION[:ARGUMENT][@N]";
      const std::string problem = korvane::sim::ParseRule(text, &rule);
      if (!problem.empty()) return "--rule " + text + ": " + problem;
      options->chip.rules.push_back(rule);
    } else if (arg == "--program-talks") {
      unsigned long long ms = 0;
      if (!value(&text) || !ParseNumber(text, 60000, &ms) || ms == 0) {
        return "--program-talks needs a number of milliseconds from 1 to 60000";
      }
      options->chip.programTalkMs = static_cast<uint32_t>(ms);
    } else if (arg == "--program-echo") {
      options->chip.programEcho = true;
    } else if (arg == "--wiring") {
      if (!value(&text))
        return "--wiring needs default, swapped, inverted, swapped-inverted or none";
      const std::optional<korvane::ResetWiring> wiring = korvane::ResetWiringNamed(text);
      if (!wiring)
        return "--wiring takes default, swapped, inverted, swapped-inverted or none, not \"" +
               text + "\"";
      options->chip.wiring = *wiring;
    } else if (arg == "--adapter-latency") {
      unsigned long long ms = 0;
      if (!value(&text) || !ParseNumber(text, 255, &ms) || ms == 0) {
        return "--adapter-latency needs a number of milliseconds from 1 to 255";
      }
      options->serve.adapterLatencyMs = static_cast<uint32_t>(ms);
    } else if (arg == "--flash-in") {
      if (!value(&options->flashIn) || options->flashIn.empty()) return "--flash-in needs a file";
    } else if (arg == "--no-answer") {
      options->chip.present = false;
    } else if (arg == "--exit-after-restart") {
      options->serve.exitAfterRestart = true;
    } else if (arg == "-v" || arg == "--verbose") {
      options->verbose = true;
    } else if (arg == "-h" || arg == "--help") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else {
      return "unknown argument " + arg;
    }
  }
  // J answers the part's own ID unless --part-id says otherwise.
  options->chip.partId = partId ? *partId : options->chip.part->ids[0];
  if (options->help || options->version) return std::string();
  if (options->link.empty()) return "no --link PATH given";
  if (options->lines.empty()) options->lines = options->link + ".lines";
  return std::string();
}

std::string Plural(int count, const char* word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// Blocks the stop signals but while the chip waits (so none is missed) and has them set
// stopRequested; *waitMask is the mask to wait with.
void CatchStopSignals(sigset_t* waitMask) {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stopSignals, signal);
  sigprocmask(SIG_BLOCK, &stopSignals, waitMask);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    sigdelset(waitMask, signal);
    sigaction(signal, &action, nullptr);
  }
}

// Every file named, checked before anything starts, none opened in a way that could wait
// (a FIFO) or move a device's lines: the log opened (*wireLog), the flash files regular
// files or new ones (a file for each made beside it and removed again), --flash-in read
// into the chip's flash. Empty, or what is wrong.
std::string PrepareFiles(Options& options, std::FILE** wireLog) {
  if (!options.logPath.empty()) {
    korvane::FileProblem problem;
    *wireLog = korvane::OpenStreamForWriting(options.logPath, &problem);
    if (!*wireLog) return "--log: " + korvane::DescribeInEnglish(problem);
  }
  for (const std::string& path : {options.flashOut, options.serve.dumpPath}) {
    if (path.empty()) continue;
    korvane::OutputFile check;
    if (const korvane::FileProblem refused = check.Prepare(path))
      return korvane::DescribeInEnglish(refused);
  }
  if (options.flashIn.empty()) return "";
  // The flash as a board brought along would hold it.
  std::vector<uint8_t> bytes;
  const korvane::FileProblem unread =
      korvane::ReadRegularFile(options.flashIn, options.chip.part->map.flashSize, &bytes);
  if (unread.kind == korvane::FileProblem::Kind::TooLarge) {
    return options.flashIn + " is larger than the flash (" +
           std::to_string(options.chip.part->map.flashSize) + " bytes)";
  }
  if (unread) return "--flash-in: " + korvane::DescribeInEnglish(unread);
  options.chip.flash = bytes;
  return "";
}

// How the chip's serving ended, in words, and the exit code.
int Ending(PtyChip::End end, const std::string& error, std::string* how) {
  switch (end) {
    case PtyChip::End::Stopped:
      *how = "stopped";
      return 0;
    case PtyChip::End::ProgramStarted:
      *how = "the program started";
      return 0;
    case PtyChip::End::TimedOut:
      *how = "timed out";
      return 1;
    case PtyChip::End::Failed:
      break;
  }
  *how = "failed: " + error;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  korvane::SecureStandardStreams();
  Options options;
  options.chip.wireTime = false;  // --pace turns it on
  const std::string problem =
      ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &options);
  if (!problem.empty()) {
    std::fprintf(stderr, "korvane-sim: %s (see korvane-sim --help)\n", problem.c_str());
    return 2;
  }
  if (options.version || options.help) {
    std::fputs(options.version ? "korvane-sim " KORVANE_VERSION "\n" : kUsage, stdout);
    return 0;
  }
  sigset_t waitMask;
  CatchStopSignals(&waitMask);

  std::FILE* wireLog = nullptr;
  std::string error = PrepareFiles(options, &wireLog);
  PtyChip chip(options.chip);
  if (error.empty() && !chip.Open(options.link, options.lines, &error) && error.empty())
    error = "cannot make the pseudo-terminal";
  if (!error.empty()) {
    std::fprintf(stderr, "korvane-sim: %s\n", error.c_str());
    if (wireLog) std::fclose(wireLog);
    return 1;
  }
  std::printf("%s\n", chip.devicePath().c_str());
  std::fflush(stdout);

  options.serve.stop = &stopRequested;
  options.serve.waitMask = &waitMask;
  options.serve.log = options.verbose ? stderr : nullptr;
  options.serve.wireLog = wireLog;
  const PtyChip::End end = chip.Serve(options.serve, &error);
  // The chip has let go: a stop signal's alarm no longer guards anything, and writing
  // the flash files must not be cut short by it.
  alarm(0);
  if (wireLog) std::fclose(wireLog);

  std::string how;
  int code = Ending(end, error, &how);
  for (const std::string& path : {options.flashOut, options.serve.dumpPath}) {
    std::string unwritten;
    if (!path.empty() && !chip.DumpFlash(path, &unwritten)) {
      std::fprintf(stderr, "korvane-sim: %s\n", unwritten.c_str());
      code = 1;
    }
  }
  const auto& loader = chip.loader();
  std::fprintf(stderr, "korvane-sim: %s; %s, %s; chip: %s\n", how.c_str(),
               Plural(loader.resets(), "reset").c_str(),
               Plural(loader.programStarts(), "program start").c_str(),
               korvane::sim::ModeName(loader.mode()));
  return code;
}
