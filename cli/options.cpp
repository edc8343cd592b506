#include "cli/options.h"

#include <algorithm>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "cli/port_names.h"

namespace korvane::cli {

namespace {

enum class Flag {
  Port,
  Baud,
  Format,
  Delete,
  FixChecksum,
  AllowCrp,
  Verify,
  Reset,
  After,
  NoLowLatency,
  Quiet,
  Verbose,
  Retry,
  Info,
  EraseAll,
  Read,
  Range,
  Part,
  ResetTime,
  IspTime,
  Watch,
  Monitor,
  MonitorBaud,
  NoWrite,
  ListPorts,
  ListParts,
  Log,
  Serial,
  SerialFile,
  SerialStart,
  SerialKeep,
  Station,
  StationName,
  Help,
  Version,
  None
};

enum class Group { Writing, ManyBoards, ChipOperations, WatchAndMonitor, Bench, Other };

// Options that mean nothing in each other's company, or without another.
struct OptionRule {
  enum class Kind {
    Needs,     // the option needs one of the others
    Excludes,  // the option takes none of the others
    Alone,     // the option takes no option but the others
  };
  Kind kind;
  std::vector<Flag> others;
  const char* why;  // said after the rule; may be empty
};

using TakeValue = std::string (*)(Options& options, const std::string& value);

// One option of korvane-cli, written once: its names, its value, its help, its group, how
// it is stored and what it does not go with. Parsing, --help, the conflict rules and the
// completion (which reads --help) all come from kOptions.
struct OptionRow {
  Flag flag;
  const char* longName;
  char shortName;     // 0: none
  const char* value;  // the value's name in --help; null for a switch; "[...]": may be left out
  Group group;
  const char* help;   // --help's lines, the first after the names, "\n" between them
  bool Options::*on;  // a switch: what it turns on
  TakeValue take;     // a value: stores it, or says why it cannot
  std::vector<OptionRule> rules;
  // A value that may be left out: whether the next argument is meant as it.
  bool (*isValue)(const std::string& next) = nullptr;
};

std::string TakePort(Options& options, const std::string& value) {
  options.ports.push_back(value);
  return "";
}

std::string TakeRetry(Options& options, const std::string& value) {
  if ((value.size() == 1 || value.size() == 2) &&
      value.find_first_not_of("0123456789") == std::string::npos &&
      std::stoi(value) <= kMaxRetries) {
    options.retries = std::stoi(value);
    return "";
  }
  return "--retry takes a number from 0 to " + std::to_string(kMaxRetries) + ", not \"" + value +
         "\"";
}

std::string TakeRead(Options& options, const std::string& value) {
  if (value.empty()) return "--read needs a file";
  options.readTo = value;
  return "";
}

std::string TakeRange(Options& options, const std::string& value) {
  // START:LENGTH, each decimal or 0x hexadecimal; within the flash, from the boot ROM's
  // window up.
  const size_t colon = value.find(':');
  uint64_t numbers[2] = {};
  bool good = colon != std::string::npos;
  for (int i = 0; good && i < 2; ++i) {
    const std::string part = i == 0 ? value.substr(0, colon) : value.substr(colon + 1);
    const bool hex = part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X');
    const std::string digits = hex ? part.substr(2) : part;
    good = !digits.empty() && digits.size() <= 8 &&
           digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") ==
               std::string::npos;
    if (good) numbers[i] = std::stoull(digits, nullptr, hex ? 16 : 10);
  }
  if (!good) return "--range takes START:LENGTH (such as 0x200:1024), not \"" + value + "\"";
  if (numbers[0] < kBootRomWindow) {
    return "--range starts at " + std::to_string(kBootRomWindow) +
           " or above: while the boot loader runs, bytes 0 to " +
           std::to_string(kBootRomWindow - 1) + " read as its boot ROM, not as the flash";
  }
  if (numbers[1] == 0) return "--range " + value + ": the length is zero: nothing to read";
  // Within the flash: checked once every option is read (--part tells which flash).
  if (numbers[0] + numbers[1] > 0xFFFFFFFFu) return "--range must lie within the flash";
  options.readStart = static_cast<uint32_t>(numbers[0]);
  options.readLength = static_cast<uint32_t>(numbers[1]);
  return "";
}

std::string TakeLog(Options& options, const std::string& value) {
  if (value.empty()) return "--log needs a file";
  options.logTo = value;
  return "";
}

std::string TakeListParts(Options& options, const std::string& value) {
  options.listParts = true;
  options.listFamily = value;
  return "";
}

// Whether the argument after --list-parts is its FAMILY: a word that is no option.
bool IsFamilyValue(const std::string& value) {
  return !value.empty() && value[0] != '-';
}

std::string TakeStationName(Options& options, const std::string& value) {
  if (value.empty()) return "--station-name needs a name";
  options.stationName = value;
  return "";
}

std::string TakeSerial(Options& options, const std::string& value) {
  SerialField field;
  const std::string problem = ParseSerialField(value, &field);
  if (problem.empty()) options.serial = field;
  return problem;
}

std::string TakeSerialFile(Options& options, const std::string& value) {
  if (value.empty()) return "--serial-file needs a file";
  options.serialFile = value;
  return "";
}

std::string TakeSerialStart(Options& options, const std::string& value) {
  if (!value.empty() && value.size() <= 19 &&
      value.find_first_not_of("0123456789") == std::string::npos) {
    options.serialStart = std::stoull(value);
    return "";
  }
  return "--serial-start takes a decimal number, not \"" + value + "\"";
}

// Whether an argument after --station is its value: N, usb or usb:N.
// N, usb or usb:N, the values --station takes: whether it names usb, and N where given.
bool ParseStationValue(const std::string& value, bool* usb, std::optional<int>* rounds) {
  *usb = value.rfind("usb", 0) == 0;
  rounds->reset();
  if (value == "usb") return true;
  if (*usb && value[3] != ':') return false;
  const std::string number = *usb ? value.substr(4) : value;
  if (number.empty() || number.size() > 6 ||
      number.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *rounds = std::stoi(number);
  return true;
}

// Whether an argument after --station is meant as its value (and is then taken or refused
// as one): digits, or usb followed by anything but a file's name ("usbx", "usb:", not
// "usb.bin" or "usb/app.hex").
bool IsStationValue(const std::string& value) {
  if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos) return true;
  return value.rfind("usb", 0) == 0 && value.find_first_of("./\\") == std::string::npos;
}

std::string TakeStation(Options& options, const std::string& value) {
  options.station = true;
  if (value.empty()) return "";
  std::optional<int> rounds;
  if (!ParseStationValue(value, &options.stationUsb, &rounds) || rounds == 0)
    return "--station takes N (rounds, 1 to 999999), usb or usb:N, not \"" + value + "\"";
  options.stationRounds = rounds.value_or(0);
  return "";
}

std::string TakeReset(Options& options, const std::string& value) {
  if (const std::optional<ResetWiring> wiring = ResetWiringNamed(value)) {
    options.reset = *wiring;
    return "";
  }
  return "--reset takes default, swapped, inverted, swapped-inverted or none, not \"" + value +
         "\"";
}

std::string TakeAfter(Options& options, const std::string& value) {
  const std::pair<const char*, AfterWrite> modes[] = {
      {"reset", AfterWrite::Reset}, {"go", AfterWrite::Go}, {"stay", AfterWrite::Stay}};
  for (const auto& [name, mode] : modes) {
    if (value == name) {
      options.after = mode;
      return "";
    }
  }
  return "--after takes reset, go or stay, not \"" + value + "\"";
}

std::string TakeFormat(Options& options, const std::string& value) {
  for (const ImageFormat format : {ImageFormat::Raw, ImageFormat::IntelHex, ImageFormat::Elf}) {
    if (value == FormatOptionName(format)) {
      options.format = format;
      return "";
    }
  }
  return "--format takes bin, hex or elf, not \"" + value + "\"";
}

// "9600, 19200 or 57600".
template <size_t N>
std::string RateList(const uint32_t (&rates)[N]) {
  std::string list;
  for (size_t i = 0; i < N; ++i)
    list += (i == 0 ? "" : i + 1 == N ? " or " : ", ") + std::to_string(rates[i]);
  return list;
}

// One of the rates, for the option named: stored in *rate, or why not.
template <size_t N>
std::string TakeRate(const char* name, const uint32_t (&rates)[N], const std::string& value,
                     uint32_t* rate) {
  for (const uint32_t known : rates) {
    if (value == std::to_string(known)) {
      *rate = known;
      return "";
    }
  }
  return std::string(name) + " takes " + RateList(rates) + ", not \"" + value + "\"";
}

std::string TakeMonitorBaud(Options& options, const std::string& value) {
  return TakeRate("--monitor-baud", kMonitorRates, value, &options.monitorBaud);
}

std::string TakeBaud(Options& options, const std::string& value) {
  return TakeRate("--baud", kTransferRates, value, &options.transferBaud);
}

std::string TakePart(Options& options, const std::string& value) {
  const std::vector<const Part*> named = PartsNamed(value);
  if (named.empty()) {
    return "--part " + value +
           ": no part korvane-cli writes is named so (korvane-cli "
           "--list-parts lists them)";
  }
  for (const Part* part : named) {
    if (std::find(options.parts.begin(), options.parts.end(), part) == options.parts.end())
      options.parts.push_back(part);
  }
  return "";
}

// A time in milliseconds from 1 to kMaxResetTimeMs, for the option named.
std::string TakeMs(const char* name, const std::string& value, uint32_t* ms) {
  if (!value.empty() && value.size() <= 4 &&
      value.find_first_not_of("0123456789") == std::string::npos) {
    const auto number = static_cast<uint32_t>(std::stoul(value));
    if (number >= 1 && number <= kMaxResetTimeMs) {
      *ms = number;
      return "";
    }
  }
  return std::string(name) + " takes milliseconds from 1 to " + std::to_string(kMaxResetTimeMs) +
         ", not \"" + value + "\"";
}

std::string TakeResetTime(Options& options, const std::string& value) {
  return TakeMs("--reset-time", value, &options.timing.resetMs);
}

std::string TakeIspTime(Options& options, const std::string& value) {
  return TakeMs("--isp-time", value, &options.timing.ispMs);
}

using Kind = OptionRule::Kind;
constexpr const char* kWritesNothing = "--no-write writes nothing";
// What a write takes and an operation that writes nothing does not, in the order their
// conflict with --erase-all without FILE is told.
const std::vector<Flag> kWriteOnly = {
    Flag::Verify,     Flag::Delete,      Flag::Watch,      Flag::FixChecksum, Flag::AllowCrp,
    Flag::Format,     Flag::Retry,       Flag::Monitor,    Flag::NoWrite,     Flag::Serial,
    Flag::SerialFile, Flag::SerialStart, Flag::SerialKeep, Flag::Station};

// In the order --help lists them within their groups; the rules are checked in this
// order too, and the first one broken is the usage error.
const std::vector<OptionRow> kOptions = {
    {Flag::Port,
     "port",
     'p',
     "PORT",
     Group::Writing,
     "a serial device: a path such as /dev/ttyUSB0 (Linux, macOS),\n"
     "COM5 or 5 (Windows); \"auto\" for the only USB serial port\n"
     "present; \"sim\" writes into the built-in simulated chip\n"
     "(\"sim:PART\" a simulated part of --list-parts)",
     nullptr,
     TakePort,
     {}},
    {Flag::Baud,
     "baud",
     0,
     "RATE",
     Group::Writing,
     "the rate after the handshake (which is at 9600): 9600,\n"
     "19200, 38400, 57600 (the default) or 115200",
     nullptr,
     TakeBaud,
     {{Kind::Excludes,
       {Flag::NoWrite},
       "--no-write writes nothing; the monitor's rate is --monitor-baud"}}},
    {Flag::Format,
     "format",
     0,
     "bin|hex|elf",
     Group::Writing,
     "read FILE as this format, whatever its name",
     nullptr,
     TakeFormat,
     {{Kind::Excludes, {Flag::NoWrite}, "--no-write reads no FILE"}}},
    {Flag::Delete,
     "delete",
     'd',
     nullptr,
     Group::Writing,
     "delete FILE after a fully successful write",
     &Options::deleteAfterWrite,
     nullptr,
     {{Kind::Excludes, {Flag::NoWrite}, kWritesNothing}}},
    {Flag::FixChecksum,
     "fix-checksum",
     0,
     nullptr,
     Group::Writing,
     "write the image with the vector checksum (entry 7) the\n"
     "chip needs to start it; FILE stays as it is",
     &Options::fixChecksum,
     nullptr,
     {{Kind::Excludes, {Flag::NoWrite}, kWritesNothing}}},
    {Flag::AllowCrp,
     "allow-crp",
     0,
     nullptr,
     Group::Writing,
     "write an image that sets code read protection",
     &Options::allowCrp,
     nullptr,
     {{Kind::Excludes, {Flag::NoWrite}, kWritesNothing}}},
    {Flag::Verify,
     "verify",
     0,
     nullptr,
     Group::Writing,
     "compare every block in flash with the image right after its\n"
     "copy (from 0x200 up: below, the boot ROM hides the flash)",
     &Options::verify,
     nullptr,
     {{Kind::Excludes, {Flag::NoWrite}, kWritesNothing}}},
    {Flag::Part,
     "part",
     0,
     "NAME",
     Group::Writing,
     "the part the chip must be: a name as --list-parts shows it,\n"
     "or the start of one, in any case (lpc11u37, LPC11U); another\n"
     "chip is refused before anything is erased (by default any\n"
     "part korvane-cli writes, told by its ID)",
     nullptr,
     TakePart,
     {}},
    {Flag::Reset,
     "reset",
     0,
     "WIRING",
     Group::Writing,
     "how RTS and DTR reach the board: default (RTS drives the\n"
     "ISP pin, DTR the reset, active while on), swapped (DTR the ISP\n"
     "pin, RTS the reset), inverted (active while off),\n"
     "swapped-inverted, or none (no line is moved: hold the ISP\n"
     "button while resetting the board by hand)",
     nullptr,
     TakeReset,
     {}},
    {Flag::After,
     "after",
     0,
     "reset|go|stay",
     Group::Writing,
     "after the write: reset into the program with the\n"
     "lines (the default), start it with G 0 T (the default with\n"
     "--reset none; only a program with a valid vector checksum\n"
     "starts), or leave the chip in its boot loader",
     nullptr,
     TakeAfter,
     {{Kind::Excludes, {Flag::NoWrite}, kWritesNothing}}},
    {Flag::ResetTime,
     "reset-time",
     0,
     "MS",
     Group::Writing,
     "how long the reset is held: 1 to 5000 ms (default 50)",
     nullptr,
     TakeResetTime,
     {}},
    {Flag::IspTime,
     "isp-time",
     0,
     "MS",
     Group::Writing,
     "how long the ISP pin stays active after the reset is\n"
     "released: 1 to 5000 ms (default 100); boards whose reset\n"
     "supervisor or RC needs longer take more of both",
     nullptr,
     TakeIspTime,
     {}},
    {Flag::NoLowLatency,
     "no-low-latency",
     0,
     nullptr,
     Group::Writing,
     "leave a USB adapter's latency as it is (by default\n"
     "korvane-cli asks the Linux driver for low latency, so that\n"
     "an FTDI adapter passes each reply on after 1 ms, not 16)",
     &Options::noLowLatency,
     nullptr,
     {}},
    {Flag::Quiet,
     "quiet",
     'q',
     nullptr,
     Group::Writing,
     "no progress bar",
     &Options::quiet,
     nullptr,
     {}},
    {Flag::Verbose,
     "verbose",
     'v',
     nullptr,
     Group::Writing,
     "every line to and from the chip and every change of RTS and\n"
     "DTR on stderr, with the time since the start",
     &Options::verbose,
     nullptr,
     {{Kind::Excludes, {Flag::NoWrite}, "--no-write has no dialogue to trace"}}},
    {Flag::Retry,
     "retry",
     0,
     "N",
     Group::ManyBoards,
     "try a board whose write failed again (from its reset), up\n"
     "to N times (0 to 10)",
     nullptr,
     TakeRetry,
     {{Kind::Excludes, {Flag::NoWrite}, kWritesNothing}}},
    {Flag::Info,
     "info",
     0,
     nullptr,
     Group::ChipOperations,
     "tell what the chip is: part ID, boot code version, unique\n"
     "ID, which sectors are blank, whether code read protection\n"
     "blocks reading; writes nothing",
     &Options::info,
     nullptr,
     {{Kind::Excludes, {Flag::EraseAll, Flag::Read}, ""},
      {Kind::Excludes, kWriteOnly, "--info writes nothing"}}},
    {Flag::EraseAll,
     "erase-all",
     0,
     nullptr,
     Group::ChipOperations,
     "erase every sector (also under code read protection); with\n"
     "FILE, then reset the chip and write FILE",
     &Options::eraseAll,
     nullptr,
     {{Kind::Excludes, {Flag::NoWrite}, ""}}},
    {Flag::Read,
     "read",
     0,
     "OUT",
     Group::ChipOperations,
     "read the flash into OUT (Intel HEX for .hex and .ihx, else\n"
     "raw bytes); bytes 0 to 511 read as the boot ROM, so the\n"
     "default range is 512 to the end of the flash; OUT is a\n"
     "regular file (a link's target) or a new one, replaced once\n"
     "all is read",
     nullptr,
     TakeRead,
     {{Kind::Excludes, {Flag::EraseAll}, ""},
      {Kind::Excludes, kWriteOnly, "--read writes nothing"}}},
    {Flag::Range,
     "range",
     0,
     "START:LENGTH",
     Group::ChipOperations,
     "the part of the flash --read reads (from 512 up)",
     nullptr,
     TakeRange,
     {{Kind::Needs, {Flag::Read}, ""}}},
    {Flag::Watch,
     "watch",
     'w',
     nullptr,
     Group::WatchAndMonitor,
     "watch FILE and write it each time it appears, checking every\n"
     "2000 ms; needs --delete; stops at the first failure",
     &Options::watch,
     nullptr,
     {{Kind::Needs, {Flag::Delete}, ""}, {Kind::Excludes, {Flag::NoWrite}, kWritesNothing}}},
    {Flag::Monitor,
     "monitor",
     0,
     nullptr,
     Group::WatchAndMonitor,
     "after the write, stay on the port as a terminal: the board's\n"
     "output to stdout, stdin to the board; Ctrl-C or the end of\n"
     "the input ends it",
     &Options::monitor,
     nullptr,
     {{Kind::Excludes, {Flag::Watch}, ""}}},
    {Flag::MonitorBaud,
     "monitor-baud",
     0,
     "RATE",
     Group::WatchAndMonitor,
     "the monitor's rate (default 115200)",
     nullptr,
     TakeMonitorBaud,
     {{Kind::Needs, {Flag::Monitor}, ""}}},
    {Flag::NoWrite,
     "no-write",
     0,
     nullptr,
     Group::WatchAndMonitor,
     "with --monitor: no write, only a reset into the program",
     &Options::noWrite,
     nullptr,
     {{Kind::Needs, {Flag::Monitor}, ""}}},
    {Flag::Log,
     "log",
     0,
     "FILE",
     Group::Bench,
     "add a record of every board and attempt to FILE: JSON Lines,\n"
     "or CSV for a name ending in .csv; the part, boot code and\n"
     "unique ID, the image's SHA-256, the serial number, the\n"
     "result and the time of each step (docs/korvane-cli.md)",
     nullptr,
     TakeLog,
     {{Kind::Excludes, {Flag::NoWrite}, kWritesNothing}}},
    {Flag::Serial,
     "serial",
     0,
     "ADDR:FORMAT",
     Group::Bench,
     "write each board's own number into its\n"
     "image at flash ADDR, where the image leaves 0xFF: FORMAT\n"
     "u32le, u32be, dec:N (N decimal digits) or hex:N (N hex\n"
     "digits)",
     nullptr,
     TakeSerial,
     {{Kind::Needs, {Flag::SerialFile}, ""}}},
    {Flag::SerialFile,
     "serial-file",
     0,
     "FILE",
     Group::Bench,
     "the numbers' file: the next number and\n"
     "those given back by boards not written (the lowest is\n"
     "taken first); shared by every korvane-cli of the bench",
     nullptr,
     TakeSerialFile,
     {{Kind::Needs, {Flag::Serial}, ""}}},
    {Flag::SerialStart,
     "serial-start",
     0,
     "N",
     Group::Bench,
     "create --serial-file with N as its first number",
     nullptr,
     TakeSerialStart,
     {{Kind::Needs, {Flag::SerialFile}, ""}}},
    {Flag::SerialKeep,
     "serial-keep",
     0,
     nullptr,
     Group::Bench,
     "a board whose unique ID has a number in the\n"
     "--log already gets that number again",
     &Options::serialKeep,
     nullptr,
     {{Kind::Needs, {Flag::Serial}, ""}, {Kind::Needs, {Flag::Log}, ""}}},
    {Flag::Station,
     "station",
     0,
     "[N|usb|usb:N]",
     Group::Bench,
     "board after board: after each\n"
     "round wait for the next (Enter; with usb, every port gone\n"
     "and back), N rounds or until q, Ctrl-D or Ctrl-C; a PASS\n"
     "or FAIL line per board, and the totals",
     nullptr,
     TakeStation,
     {{Kind::Excludes,
       {Flag::Delete},
       "a station writes FILE round after round; it never deletes it"},
      {Kind::Excludes, {Flag::Watch, Flag::Monitor}, ""}},
     IsStationValue},
    {Flag::StationName,
     "station-name",
     0,
     "NAME",
     Group::Bench,
     "the station field of each --log record (by\n"
     "default the host's name)",
     nullptr,
     TakeStationName,
     {{Kind::Needs, {Flag::Log}, ""}}},
    {Flag::ListPorts,
     "list-ports",
     0,
     nullptr,
     Group::Other,
     "list the serial ports present",
     &Options::listPorts,
     nullptr,
     {{Kind::Alone, {Flag::Quiet}, ""}}},
    {Flag::ListParts,
     "list-parts",
     0,
     "[FAMILY]",
     Group::Other,
     "list the parts korvane-cli writes: name, part ID, flash,\n"
     "sectors, RAM, family and where the values come from; with\n"
     "FAMILY (LPC111x, LPC13, ...) only the families it begins",
     nullptr,
     TakeListParts,
     {{Kind::Alone, {}, ""}},
     IsFamilyValue},
    {Flag::Help, "help", 'h', nullptr, Group::Other, "this text", &Options::help, nullptr, {}},
    {Flag::Version,
     "version",
     0,
     nullptr,
     Group::Other,
     "the version",
     &Options::version,
     nullptr,
     {}},
};

const OptionRow* RowOf(Flag flag) {
  for (const OptionRow& row : kOptions) {
    if (row.flag == flag) return &row;
  }
  return nullptr;
}

const OptionRow* LongRow(const std::string& name) {
  for (const OptionRow& row : kOptions) {
    if (name == row.longName) return &row;
  }
  return nullptr;
}

const OptionRow* ShortRow(char name) {
  for (const OptionRow& row : kOptions) {
    if (row.shortName != 0 && row.shortName == name) return &row;
  }
  return nullptr;
}

std::string LongName(Flag flag) {
  return RowOf(flag)->longName;
}

// The first rule of kOptions the options given break, as a usage error; empty when they
// keep them all.
std::string BrokenOptionRule(const std::set<Flag>& given) {
  for (const OptionRow& row : kOptions) {
    if (given.count(row.flag) == 0) continue;
    const std::string option = std::string("--") + row.longName;
    for (const OptionRule& rule : row.rules) {
      const std::string why = *rule.why ? std::string(": ") + rule.why : "";
      const auto listed = [&rule](Flag flag) {
        return std::find(rule.others.begin(), rule.others.end(), flag) != rule.others.end();
      };
      if (rule.kind == Kind::Needs && std::none_of(rule.others.begin(), rule.others.end(),
                                                   [&](Flag f) { return given.count(f) != 0; })) {
        return option + " needs --" + LongName(rule.others.front()) + why;
      }
      for (const Flag flag : given) {
        const bool conflict = rule.kind == Kind::Excludes ? listed(flag)
                              : rule.kind == Kind::Alone  ? flag != row.flag && !listed(flag)
                                                          : false;
        if (conflict) return option + " and --" + LongName(flag) + " do not go together" + why;
      }
    }
  }
  return "";
}

// Stores what an option gives: a switch turned on, a value taken (or why not).
std::string Apply(Options& options, const OptionRow& row, const std::string& value) {
  if (row.take) return row.take(options, value);
  options.*row.on = true;
  return "";
}

}  // namespace

namespace {

// What the arguments gave, before their combination is checked.
struct Given {
  std::set<Flag> flags;
  std::vector<std::string> files;
  bool port = false;
};

// Reads the arguments into *options and *given: empty, or the usage error.
std::string ReadArguments(const std::vector<std::string>& args, Options* options, Given* given) {
  // One option found: its value, where it takes one, attached (after "=" or in the same
  // word) or the next argument.
  size_t i = 0;
  const auto take = [&](const OptionRow& row, const std::string& shown,
                        const std::optional<std::string>& attached) -> std::string {
    given->flags.insert(row.flag);
    if (!row.value) {
      if (attached) return "option " + shown + " takes no value";
      return Apply(*options, row, "");
    }
    std::string value;
    const bool optional = row.value[0] == '[';
    if (attached) {
      value = *attached;
    } else if (optional) {
      // Taken only when the next argument is one of its values.
      if (i + 1 < args.size() && row.isValue != nullptr && row.isValue(args[i + 1]))
        value = args[++i];
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return "option " + shown + " needs a value";
    }
    given->port = given->port || row.flag == Flag::Port;
    return Apply(*options, row, value);
  };
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      given->files.insert(given->files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    if (arg.rfind("--", 0) == 0) {
      const size_t equals = arg.find('=');
      const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
      const OptionRow* row = LongRow(name);
      if (row == nullptr) return "unknown option --" + name;
      const std::string problem =
          take(*row, "--" + name,
               equals == std::string::npos ? std::nullopt
                                           : std::optional<std::string>(arg.substr(equals + 1)));
      if (!problem.empty()) return problem;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      // Bundled switches ("-dw"); a short option with a value ends the word ("-pCOM5").
      for (size_t k = 1; k < arg.size(); ++k) {
        const OptionRow* row = ShortRow(arg[k]);
        if (row == nullptr) return std::string("unknown option -") + arg[k];
        const bool rest = row->value && k + 1 < arg.size();
        const std::string problem =
            take(*row, std::string("-") + arg[k],
                 rest ? std::optional<std::string>(arg.substr(k + 1)) : std::nullopt);
        if (!problem.empty()) return problem;
        if (row->value) break;
      }
      continue;
    }
    given->files.push_back(arg);
  }
  return "";
}

// The ports given: at least one, none empty, none twice ("sim" may come many times),
// "auto-all" alone.
std::string CheckPorts(const Options& options, const Given& given) {
  if (!given.port) return "no port given (-p PORT)";
  const auto& ports = options.ports;
  for (auto it = ports.begin(); it != ports.end(); ++it) {
    if (it->empty()) return "the port is empty";
    if (!IsSimulatedPortName(*it) && std::find(ports.begin(), it, *it) != it)
      return "the port " + *it + " is given twice";
  }
  // "auto-all" names every USB port already: wherever it stands, it stands alone.
  if (std::find(ports.begin(), ports.end(), "auto-all") != ports.end() && ports.size() > 1)
    return "-p auto-all takes no other port";
  return "";
}

// What the command does, from the options and FILE: the usage error where they do not
// make one command.
std::string CheckCommand(Options& options, const Given& given) {
  const std::vector<std::string>& files = given.files;
  const bool several = options.ports.size() > 1 || options.port == "auto-all";
  if (several && options.monitor) return "--monitor takes one port";
  if (options.noWrite) return files.empty() ? "" : "--no-write takes no FILE";
  if (options.eraseAll && files.empty()) {
    // Without FILE, --erase-all writes nothing: the write's options would do nothing.
    for (const Flag flag : kWriteOnly) {
      if (given.flags.count(flag) != 0) {
        return "--erase-all without FILE and --" + LongName(flag) +
               " do not go together: --erase-all without FILE writes nothing";
      }
    }
  }
  const uint32_t flash = options.LargestFlash();
  if (options.readLength != 0 && uint64_t{options.readStart} + options.readLength > flash)
    return "--range must lie within the flash (0 to " + std::to_string(flash - 1) + ")";
  if (options.info || !options.readTo.empty() || (options.eraseAll && files.empty())) {
    const std::string what = options.info ? "--info" : options.eraseAll ? "--erase-all" : "--read";
    if (!files.empty() && !options.eraseAll) return what + " takes no FILE: " + files[0];
    if (several) return what + (options.eraseAll ? " without FILE" : "") + " takes one port";
    return "";
  }
  if (files.empty()) return "no FILE given";
  if (files.size() > 1) return "more than one FILE given: " + files[1];
  options.file = files[0];
  return "";
}

}  // namespace

std::vector<const Part*> Options::AllowedParts() const {
  return parts.empty() ? AllParts() : parts;
}

uint32_t Options::LargestFlash() const {
  uint32_t largest = 0;
  for (const Part* part : AllowedParts()) largest = std::max(largest, part->map.flashSize);
  return largest;
}

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  Options& options = parsed.options;
  Given given;
  parsed.error = ReadArguments(args, &options, &given);
  if (!parsed.error.empty() || options.help || options.version) return parsed;
  for (const auto& [listing, name] :
       {std::pair<bool, const char*>{options.listPorts, "--list-ports"},
        {options.listParts, "--list-parts"}}) {
    if (listing && (given.port || !given.files.empty())) {
      parsed.error = std::string(name) + " takes no port and no FILE";
      return parsed;
    }
  }
  parsed.error = BrokenOptionRule(given.flags);
  if (!parsed.error.empty() || options.listPorts || options.listParts) return parsed;
  // Without lines, only the boot loader can start the program.
  if (options.reset == ResetWiring::None) {
    if (given.flags.count(Flag::After) != 0 && options.after == AfterWrite::Reset) {
      parsed.error = "--after reset needs the lines, and --reset none has none: --after go or stay";
      return parsed;
    }
    if (given.flags.count(Flag::After) == 0) options.after = AfterWrite::Go;
  }
  parsed.error = CheckPorts(options, given);
  if (!parsed.error.empty()) return parsed;
  options.port = options.ports[0];
  parsed.error = CheckCommand(options, given);
  return parsed;
}

std::string UsageText() {
  // Each option's names in a column of 20, its help beside them (after two spaces where
  // the names are longer), its further lines under it.
  const auto entry = [](const OptionRow& row) {
    std::string names = row.shortName ? std::string("  -") + row.shortName + ", " : "      ";
    names += std::string("--") + row.longName + (row.value ? std::string(" ") + row.value : "");
    constexpr size_t kColumn = 20;
    std::string text = names.size() + 2 <= kColumn
                           ? names + std::string(kColumn - names.size(), ' ')
                           : names + "  ";
    for (const char* p = row.help; *p; ++p)
      text += *p == '\n' ? "\n" + std::string(kColumn, ' ') : std::string(1, *p);
    return text + "\n";
  };
  const struct {
    Group group;
    const char* title;
    const char* before;  // lines of the group that are no single option
  } groups[] = {
      {Group::Writing, "Writing:", ""},
      {Group::ManyBoards, "Many boards:",
       "  -p PORT -p PORT ...  several ports (or -p auto-all: every USB serial port)\n"
       "                    write FILE to every board at once, with a summary at the end\n"},
      {Group::ChipOperations, "Chip operations:", ""},
      {Group::WatchAndMonitor, "Watch and monitor:", ""},
      {Group::Bench, "Production bench:", ""},
      {Group::Other, "Other:", ""},
  };
  std::string text =
      "Usage: korvane-cli [options] -p PORT [-p PORT ...] FILE\n"
      "  or:  korvane-cli --info | --erase-all [FILE] | --read OUT [--range START:LENGTH] -p "
      "PORT\n"
      "  or:  korvane-cli --monitor --no-write -p PORT\n"
      "  or:  korvane-cli --list-ports | --list-parts\n"
      "Writes the image FILE into the flash of an NXP LPC1114FN28/102, or of another\n"
      "part korvane-cli --list-parts lists (LPC111x, LPC11Cxx, LPC11Uxx, LPC13xx,\n"
      "LPC17xx), through its UART ISP\n"
      "boot loader, then resets the chip into the new program. FILE is a raw binary\n"
      "(.bin), Intel HEX (.hex, .ihx) or an ARM ELF executable (.elf, .axf); other\n"
      "names are recognised by their content (ELF or Intel HEX), or refused.\n";
  for (const auto& group : groups) {
    text += std::string("\n") + group.title + "\n" + group.before;
    for (const OptionRow& row : kOptions) {
      if (row.group == group.group) text += entry(row);
    }
  }
  return text +
         "\n"
         "Messages are in Japanese when LC_ALL, LC_MESSAGES or LANG (the first set) starts\n"
         "with \"ja\", else in English.\n"
         "Exit codes: 0 success, 1 the write failed, 2 usage error, 3 aborted (Ctrl-C).\n"
         "With several boards: 0 when every board was written, 3 when all the others\n"
         "were aborted, else 1; -d deletes FILE only when every board was written.\n";
}

}  // namespace korvane::cli
