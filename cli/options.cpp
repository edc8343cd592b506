#include "cli/options.h"

#include <algorithm>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace korvane::cli {

namespace {

enum class Flag {
  Port,
  Baud,
  Delete,
  Watch,
  Quiet,
  Help,
  Version,
  FixChecksum,
  AllowCrp,
  Verify,
  Monitor,
  MonitorBaud,
  NoWrite,
  ListPorts,
  Retry,
  Format,
  Verbose,
  Reset,
  After,
  Info,
  EraseAll,
  Read,
  Range,
  NoLowLatency,
  None
};

const char* LongName(Flag flag) {
  switch (flag) {
    case Flag::Port:
      return "port";
    case Flag::Baud:
      return "baud";
    case Flag::Delete:
      return "delete";
    case Flag::Watch:
      return "watch";
    case Flag::Quiet:
      return "quiet";
    case Flag::Help:
      return "help";
    case Flag::Version:
      return "version";
    case Flag::FixChecksum:
      return "fix-checksum";
    case Flag::AllowCrp:
      return "allow-crp";
    case Flag::Verify:
      return "verify";
    case Flag::Monitor:
      return "monitor";
    case Flag::MonitorBaud:
      return "monitor-baud";
    case Flag::NoWrite:
      return "no-write";
    case Flag::ListPorts:
      return "list-ports";
    case Flag::Retry:
      return "retry";
    case Flag::Format:
      return "format";
    case Flag::Verbose:
      return "verbose";
    case Flag::Reset:
      return "reset";
    case Flag::After:
      return "after";
    case Flag::Info:
      return "info";
    case Flag::EraseAll:
      return "erase-all";
    case Flag::Read:
      return "read";
    case Flag::Range:
      return "range";
    case Flag::NoLowLatency:
      return "no-low-latency";
    case Flag::None:
      break;
  }
  return "";
}

Flag LongFlag(const std::string& name) {
  for (int i = 0; i < static_cast<int>(Flag::None); ++i) {
    if (name == LongName(static_cast<Flag>(i))) return static_cast<Flag>(i);
  }
  return Flag::None;
}

// Options that mean nothing in each other's company, or without another: one rule each,
// checked in this order, the first one broken is the usage error.
struct OptionRule {
  enum class Kind {
    Needs,     // the option needs one of the others
    Excludes,  // the option takes none of the others
    Alone,     // the option takes no option but the others
  };
  Flag option;
  Kind kind;
  std::vector<Flag> others;
  const char* why;  // said after the rule; may be empty
};
const std::vector<OptionRule> kOptionRules = {
    {Flag::ListPorts, OptionRule::Kind::Alone, {Flag::Quiet}, ""},
    {Flag::NoWrite, OptionRule::Kind::Needs, {Flag::Monitor}, ""},
    {Flag::MonitorBaud, OptionRule::Kind::Needs, {Flag::Monitor}, ""},
    {Flag::Monitor, OptionRule::Kind::Excludes, {Flag::Watch}, ""},
    {Flag::Watch, OptionRule::Kind::Needs, {Flag::Delete}, ""},
    {Flag::Delete, OptionRule::Kind::Excludes, {Flag::NoWrite}, "--no-write writes nothing"},
    {Flag::Watch, OptionRule::Kind::Excludes, {Flag::NoWrite}, "--no-write writes nothing"},
    {Flag::Retry, OptionRule::Kind::Excludes, {Flag::NoWrite}, "--no-write writes nothing"},
    {Flag::Verify, OptionRule::Kind::Excludes, {Flag::NoWrite}, "--no-write writes nothing"},
    {Flag::FixChecksum, OptionRule::Kind::Excludes, {Flag::NoWrite}, "--no-write writes nothing"},
    {Flag::AllowCrp, OptionRule::Kind::Excludes, {Flag::NoWrite}, "--no-write writes nothing"},
    {Flag::Baud,
     OptionRule::Kind::Excludes,
     {Flag::NoWrite},
     "--no-write writes nothing; the monitor's rate is --monitor-baud"},
    {Flag::Format, OptionRule::Kind::Excludes, {Flag::NoWrite}, "--no-write reads no FILE"},
    {Flag::Verbose,
     OptionRule::Kind::Excludes,
     {Flag::NoWrite},
     "--no-write has no dialogue to trace"},
    {Flag::After, OptionRule::Kind::Excludes, {Flag::NoWrite}, "--no-write writes nothing"},
    {Flag::Range, OptionRule::Kind::Needs, {Flag::Read}, ""},
    {Flag::Info, OptionRule::Kind::Excludes, {Flag::EraseAll, Flag::Read}, ""},
    {Flag::Read, OptionRule::Kind::Excludes, {Flag::EraseAll}, ""},
    // The chip operations other than a write take no write options.
    {Flag::Info,
     OptionRule::Kind::Excludes,
     {Flag::Delete, Flag::Watch, Flag::Verify, Flag::FixChecksum, Flag::AllowCrp, Flag::Format,
      Flag::Monitor, Flag::NoWrite, Flag::Retry},
     "--info writes nothing"},
    {Flag::Read,
     OptionRule::Kind::Excludes,
     {Flag::Delete, Flag::Watch, Flag::Verify, Flag::FixChecksum, Flag::AllowCrp, Flag::Format,
      Flag::Monitor, Flag::NoWrite, Flag::Retry},
     "--read writes nothing"},
    {Flag::EraseAll, OptionRule::Kind::Excludes, {Flag::NoWrite}, ""},
};

// The first rule of kOptionRules the options given break, as a usage error; empty when
// they keep them all.
std::string BrokenOptionRule(const std::set<Flag>& given) {
  for (const OptionRule& rule : kOptionRules) {
    if (given.count(rule.option) == 0) continue;
    const std::string option = std::string("--") + LongName(rule.option);
    const std::string why = *rule.why ? std::string(": ") + rule.why : "";
    const auto listed = [&rule](Flag flag) {
      return std::find(rule.others.begin(), rule.others.end(), flag) != rule.others.end();
    };
    if (rule.kind == OptionRule::Kind::Needs &&
        std::none_of(rule.others.begin(), rule.others.end(),
                     [&](Flag f) { return given.count(f) != 0; })) {
      return option + " needs --" + LongName(rule.others.front()) + why;
    }
    for (const Flag flag : given) {
      const bool conflict = rule.kind == OptionRule::Kind::Excludes ? listed(flag)
                            : rule.kind == OptionRule::Kind::Alone
                                ? flag != rule.option && !listed(flag)
                                : false;
      if (conflict) return option + " and --" + LongName(flag) + " do not go together" + why;
    }
  }
  return "";
}

Flag ShortFlag(char name) {
  switch (name) {
    case 'p':
      return Flag::Port;
    case 'd':
      return Flag::Delete;
    case 'w':
      return Flag::Watch;
    case 'q':
      return Flag::Quiet;
    case 'h':
      return Flag::Help;
    case 'v':
      return Flag::Verbose;
    default:
      return Flag::None;
  }
}

void SetSwitch(Options& options, Flag flag) {
  switch (flag) {
    case Flag::Delete:
      options.deleteAfterWrite = true;
      break;
    case Flag::Watch:
      options.watch = true;
      break;
    case Flag::Quiet:
      options.quiet = true;
      break;
    case Flag::Help:
      options.help = true;
      break;
    case Flag::Version:
      options.version = true;
      break;
    case Flag::FixChecksum:
      options.fixChecksum = true;
      break;
    case Flag::AllowCrp:
      options.allowCrp = true;
      break;
    case Flag::Verify:
      options.verify = true;
      break;
    case Flag::Monitor:
      options.monitor = true;
      break;
    case Flag::NoWrite:
      options.noWrite = true;
      break;
    case Flag::ListPorts:
      options.listPorts = true;
      break;
    case Flag::Verbose:
      options.verbose = true;
      break;
    case Flag::Info:
      options.info = true;
      break;
    case Flag::EraseAll:
      options.eraseAll = true;
      break;
    case Flag::NoLowLatency:
      options.noLowLatency = true;
      break;
    case Flag::Port:
    case Flag::Baud:
    case Flag::MonitorBaud:
    case Flag::Retry:
    case Flag::Format:
    case Flag::Reset:
    case Flag::After:
    case Flag::Read:
    case Flag::Range:
    case Flag::None:
      break;
  }
}

bool TakesValue(Flag flag) {
  return flag == Flag::Port || flag == Flag::Baud || flag == Flag::MonitorBaud ||
         flag == Flag::Retry || flag == Flag::Format || flag == Flag::Reset ||
         flag == Flag::After || flag == Flag::Read || flag == Flag::Range;
}

// Stores an option's value; a usage error when the value is not one it takes.
std::string SetValue(Options& options, Flag flag, const std::string& value) {
  if (flag == Flag::Port) {
    options.ports.push_back(value);
    return "";
  }
  if (flag == Flag::Retry) {
    if (value.size() == 1 || value.size() == 2) {
      if (value.find_first_not_of("0123456789") == std::string::npos &&
          std::stoi(value) <= kMaxRetries) {
        options.retries = std::stoi(value);
        return "";
      }
    }
    return "--retry takes a number from 0 to " + std::to_string(kMaxRetries) + ", not \"" + value +
           "\"";
  }
  if (flag == Flag::Read) {
    if (value.empty()) return "--read needs a file";
    options.readTo = value;
    return "";
  }
  if (flag == Flag::Range) {
    // START:LENGTH, each decimal or 0x hexadecimal; within the flash, from 512 up.
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
    if (numbers[0] + numbers[1] > kMaxImageSize) {
      return "--range must lie within the flash (0 to " + std::to_string(kMaxImageSize - 1) + ")";
    }
    options.readStart = static_cast<uint32_t>(numbers[0]);
    options.readLength = static_cast<uint32_t>(numbers[1]);
    return "";
  }
  if (flag == Flag::Reset) {
    if (const std::optional<ResetWiring> wiring = ResetWiringNamed(value)) {
      options.reset = *wiring;
      return "";
    }
    return "--reset takes default, swapped, inverted, swapped-inverted or none, not \"" + value +
           "\"";
  }
  if (flag == Flag::After) {
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
  if (flag == Flag::Format) {
    for (const ImageFormat format : {ImageFormat::Raw, ImageFormat::IntelHex, ImageFormat::Elf}) {
      if (value == FormatOptionName(format)) {
        options.format = format;
        return "";
      }
    }
    return "--format takes bin, hex or elf, not \"" + value + "\"";
  }
  if (flag == Flag::MonitorBaud) {
    for (const uint32_t rate : kMonitorRates) {
      if (value == std::to_string(rate)) {
        options.monitorBaud = rate;
        return "";
      }
    }
    return "--monitor-baud takes 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or 230400, "
           "not \"" +
           value + "\"";
  }
  for (const uint32_t rate : kTransferRates) {
    if (value == std::to_string(rate)) {
      options.transferBaud = rate;
      return "";
    }
  }
  return "--baud takes 9600, 19200, 38400, 57600 or 115200, not \"" + value + "\"";
}

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  Options& options = parsed.options;
  bool portGiven = false;
  std::set<Flag> given;
  std::vector<std::string> files;
  auto fail = [&parsed](std::string error) {
    parsed.error = std::move(error);
    return parsed;
  };

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      files.insert(files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    if (arg.rfind("--", 0) == 0) {
      size_t equals = arg.find('=');
      std::string name =
          arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      Flag flag = LongFlag(name);
      if (flag == Flag::None) return fail("unknown option --" + name);
      given.insert(flag);
      if (TakesValue(flag)) {
        std::string value;
        if (equals != std::string::npos) {
          value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          return fail("option --" + name + " needs a value");
        }
        const std::string problem = SetValue(options, flag, value);
        if (!problem.empty()) return fail(problem);
        portGiven = portGiven || flag == Flag::Port;
      } else if (equals != std::string::npos) {
        return fail("option --" + name + " takes no value");
      } else {
        SetSwitch(options, flag);
      }
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      for (size_t k = 1; k < arg.size(); ++k) {
        Flag flag = ShortFlag(arg[k]);
        if (flag == Flag::None) return fail(std::string("unknown option -") + arg[k]);
        given.insert(flag);
        if (flag != Flag::Port) {
          SetSwitch(options, flag);
          continue;
        }
        if (k + 1 < arg.size()) {
          options.ports.push_back(arg.substr(k + 1));
        } else if (i + 1 < args.size()) {
          options.ports.push_back(args[++i]);
        } else {
          return fail("option -p needs a value");
        }
        portGiven = true;
        break;
      }
      continue;
    }
    files.push_back(arg);
  }

  if (options.help || options.version) return parsed;
  if (options.listPorts && (portGiven || !files.empty())) {
    return fail("--list-ports takes no port and no FILE");
  }
  const std::string broken = BrokenOptionRule(given);
  if (!broken.empty()) return fail(broken);
  if (options.listPorts) return parsed;
  // Without lines, only the boot loader can start the program.
  if (options.reset == ResetWiring::None) {
    if (given.count(Flag::After) != 0 && options.after == AfterWrite::Reset) {
      return fail("--after reset needs the lines, and --reset none has none: --after go or stay");
    }
    if (given.count(Flag::After) == 0) options.after = AfterWrite::Go;
  }
  if (!portGiven) return fail("no port given (-p PORT)");
  const auto hasPort = [&options](const std::string& port) {
    return std::find(options.ports.begin(), options.ports.end(), port) != options.ports.end();
  };
  for (size_t i = 0; i < options.ports.size(); ++i) {
    const std::string& port = options.ports[i];
    if (port.empty()) return fail("the port is empty");
    if (port != "sim" &&
        std::find(options.ports.begin(), options.ports.begin() + static_cast<long>(i), port) !=
            options.ports.begin() + static_cast<long>(i)) {
      return fail("the port " + port + " is given twice");
    }
  }
  // "auto-all" names every USB port already: wherever it stands, it stands alone.
  if (hasPort("auto-all") && options.ports.size() > 1)
    return fail("-p auto-all takes no other port");
  options.port = options.ports[0];
  const bool several = options.ports.size() > 1 || options.port == "auto-all";
  if (several && options.monitor) return fail("--monitor takes one port");
  if (options.noWrite) {
    if (!files.empty()) return fail("--no-write takes no FILE");
    return parsed;
  }
  if (options.eraseAll && files.empty()) {
    // Without FILE, --erase-all writes nothing: the write's options would do nothing.
    for (const Flag flag : {Flag::Verify, Flag::Delete, Flag::Watch, Flag::FixChecksum,
                            Flag::AllowCrp, Flag::Format, Flag::Retry, Flag::Monitor}) {
      if (given.count(flag) != 0) {
        return fail(std::string("--erase-all without FILE and --") + LongName(flag) +
                    " do not go together: --erase-all without FILE writes nothing");
      }
    }
  }
  if (options.info || !options.readTo.empty() || (options.eraseAll && files.empty())) {
    const std::string what = options.info ? "--info" : options.eraseAll ? "--erase-all" : "--read";
    if (!files.empty() && !options.eraseAll) return fail(what + " takes no FILE: " + files[0]);
    if (several) return fail(what + (options.eraseAll ? " without FILE" : "") + " takes one port");
    return parsed;
  }
  if (files.empty()) return fail("no FILE given");
  if (files.size() > 1) return fail("more than one FILE given: " + files[1]);
  options.file = files[0];
  return parsed;
}

std::string UsageText() {
  return "Usage: korvane-cli [options] -p PORT [-p PORT ...] FILE\n"
         "  or:  korvane-cli --info | --erase-all [FILE] | --read OUT [--range START:LENGTH] -p "
         "PORT\n"
         "  or:  korvane-cli --monitor --no-write -p PORT\n"
         "  or:  korvane-cli --list-ports\n"
         "Writes the image FILE into the flash of an LPC1114FN28/102 through its UART ISP\n"
         "boot loader, then resets the chip into the new program. FILE is a raw binary\n"
         "(.bin), Intel HEX (.hex, .ihx) or an ARM ELF executable (.elf, .axf); other\n"
         "names are recognised by their content (ELF or Intel HEX), or refused.\n"
         "\n"
         "Writing:\n"
         "  -p, --port PORT   a serial device: a path such as /dev/ttyUSB0 (Linux, macOS),\n"
         "                    COM5 or 5 (Windows); \"auto\" for the only USB serial port\n"
         "                    present; \"sim\" writes into the built-in simulated chip\n"
         "      --baud RATE   the rate after the handshake (which is at 9600): 9600,\n"
         "                    19200, 38400, 57600 (the default) or 115200\n"
         "      --format bin|hex|elf  read FILE as this format, whatever its name\n"
         "  -d, --delete      delete FILE after a fully successful write\n"
         "      --fix-checksum  write the image with the vector checksum (entry 7) the\n"
         "                    chip needs to start it; FILE stays as it is\n"
         "      --allow-crp   write an image that sets code read protection\n"
         "      --verify      compare every block in flash with the image right after its\n"
         "                    copy (from 0x200 up: below, the boot ROM hides the flash)\n"
         "      --reset WIRING  how RTS and DTR reach the board: default (RTS drives the\n"
         "                    ISP pin, DTR the reset, active while on), swapped (DTR the ISP\n"
         "                    pin, RTS the reset), inverted (active while off),\n"
         "                    swapped-inverted, or none (no line is moved: hold the ISP\n"
         "                    button while resetting the board by hand)\n"
         "      --after reset|go|stay  after the write: reset into the program with the\n"
         "                    lines (the default), start it with G 0 T (the default with\n"
         "                    --reset none; only a program with a valid vector checksum\n"
         "                    starts), or leave the chip in its boot loader\n"
         "      --no-low-latency  leave a USB adapter's latency as it is (by default\n"
         "                    korvane-cli asks the Linux driver for low latency, so that\n"
         "                    an FTDI adapter passes each reply on after 1 ms, not 16)\n"
         "  -q, --quiet       no progress bar\n"
         "  -v, --verbose     every line to and from the chip and every change of RTS and\n"
         "                    DTR on stderr, with the time since the start\n"
         "\n"
         "Many boards:\n"
         "  -p PORT -p PORT ...  several ports (or -p auto-all: every USB serial port)\n"
         "                    write FILE to every board at once, with a summary at the end\n"
         "      --retry N     try a board whose write failed again (from its reset), up\n"
         "                    to N times (0 to 10)\n"
         "\n"
         "Chip operations:\n"
         "      --info        tell what the chip is: part ID, boot code version, unique\n"
         "                    ID, which sectors are blank, whether code read protection\n"
         "                    blocks reading; writes nothing\n"
         "      --erase-all   erase every sector (also under code read protection); with\n"
         "                    FILE, then reset the chip and write FILE\n"
         "      --read OUT    read the flash into OUT (Intel HEX for .hex and .ihx, else\n"
         "                    raw bytes); bytes 0 to 511 read as the boot ROM, so the\n"
         "                    default range is 512 to 32767; OUT is a regular file (a\n"
         "                    link's target) or a new one, replaced once all is read\n"
         "      --range START:LENGTH  the part of the flash --read reads (from 512 up)\n"
         "\n"
         "Watch and monitor:\n"
         "  -w, --watch       watch FILE and write it each time it appears, checking every\n"
         "                    2000 ms; needs --delete; stops at the first failure\n"
         "      --monitor     after the write, stay on the port as a terminal: the board's\n"
         "                    output to stdout, stdin to the board; Ctrl-C or the end of\n"
         "                    the input ends it\n"
         "      --monitor-baud RATE  the monitor's rate (default 115200)\n"
         "      --no-write    with --monitor: no write, only a reset into the program\n"
         "\n"
         "Other:\n"
         "      --list-ports  list the serial ports present\n"
         "  -h, --help        this text\n"
         "      --version     the version\n"
         "\n"
         "Messages are in Japanese when LC_ALL, LC_MESSAGES or LANG (the first set) starts\n"
         "with \"ja\", else in English.\n"
         "Exit codes: 0 success, 1 the write failed, 2 usage error, 3 aborted (Ctrl-C).\n"
         "With several boards: 0 when every board was written, 3 when all the others\n"
         "were aborted, else 1; -d deletes FILE only when every board was written.\n";
}

}  // namespace korvane::cli
