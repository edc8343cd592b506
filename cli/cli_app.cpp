#include "cli/cli_app.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

#include "cli/station.h"
#include "cli/watch.h"
#include "cli/write_command.h"
#include "cli/board_display.h"
#include "cli/board_port.h"
#include "cli/cli_support.h"
#include "cli/chip_commands.h"
#include "bench/boards.h"
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
#include "serial/port_list.h"

namespace korvane::cli {

namespace {

// --list-parts: a line per part, its name, its part ID(s), its flash and RAM, its family
// and whether its values are NXP's or its ID peer-agreed; with a family, only the parts
// of the families whose names begin so (in any case). Empty when none does.
std::string PartTable(const std::string& family) {
  std::string text =
      "part                  part ID                 flash    sectors  RAM     family    "
      "values\n";
  bool any = false;
  for (const Part* part : AllParts()) {
    const std::string name = part->family;
    if (family.size() > name.size() ||
        !std::equal(family.begin(), family.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        }))
      continue;
    any = true;
    std::string ids = Hex(part->ids[0]);
    if (part->ids[1] != 0) ids += ", " + Hex(part->ids[1]);
    char line[200];
    std::snprintf(line, sizeof line, "%-21s %-23s %3u KiB  %7u  %2u KiB  %-9s %s\n", part->name,
                  ids.c_str(), part->map.flashSize / 1024, part->map.Sectors(),
                  part->map.ramSize / 1024, part->family,
                  part->source == PartSource::Nxp ? "NXP" : "peer-agreed ID");
    text += line;
  }
  return any ? text : "";
}

// The monitor alone: the port opened, the chip reset into its program, the terminal.
int MonitorOnly(const Options& options, Console& console, BoardPort& board) {
  std::unique_ptr<ComPort> port = board.Open();
  if (!port) {
    const JobResult failed(JobOutcome::PortOpenFailed);
    console.Err(FailureText(failed, console.MessageLanguage(),
                            FactsOf(board, failed, options.reset == ResetWiring::None)));
    return kFailed;
  }
  // Without lines the board is reset by hand.
  return RunMonitor(*port, options.monitorBaud, options.reset != ResetWiring::None, board.Device(),
                    console, options.reset);
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

int RunCommand(const std::vector<std::string>& args, Console& console);

}  // namespace

int RunCli(const std::vector<std::string>& args, Console& console) {
  const int code = RunCommand(args, console);
  // Output that never arrived is a failure, whatever the command did.
  const std::string problem = console.OutError();
  if (problem.empty()) return code;
  console.Err("korvane-cli: write error on standard output: " + problem + "\n");
  return code == kSuccess ? kFailed : code;
}

namespace {

int RunCommand(const std::vector<std::string>& args, Console& console) {
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

  if (options.listParts) {
    const std::string table = PartTable(options.listFamily);
    if (table.empty()) {
      console.Err("korvane-cli: --list-parts " + options.listFamily +
                  ": no family of the table begins so (korvane-cli --list-parts lists them)\n");
      return kUsage;
    }
    console.Out(table);
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
  // Every port from the one factory, "sim" among them.
  Boards boards;
  for (const std::string& port : options.ports) {
    boards.push_back(
        MakeBoardPort(port, !options.noLowLatency, static_cast<uint32_t>(boards.size())));
    if (!boards.back()) {
      console.Err("korvane-cli: -p " + port +
                  ": no part is named so (korvane-cli --list-parts lists them; sim:NAME takes "
                  "a whole name) (see korvane-cli --help)\n");
      return kUsage;
    }
  }
  if (options.noWrite) return MonitorOnly(options, console, *boards.front());
  // The log and the file of serial numbers, opened before any port is.
  Bench bench;
  if (const std::string problem = bench.Open(BenchSettingsOf(options)); !problem.empty()) {
    // Stopped while a shared file's lock was waited for: no usage error.
    if (Interrupted.Requested()) {
      console.Err("korvane-cli: " + problem + "\n");
      return kAborted;
    }
    console.Err("korvane-cli: " + problem + " (see korvane-cli --help)\n");
    return kUsage;
  }
  if (IsChipOperation(options)) return RunChipOperation(options, console, *boards.front(), bench);
  if (options.station) return RunStation(options, console, boards, bench);
  return options.watch ? Watch(options, console, boards, bench)
                       : WriteOnce(options, console, boards, bench);
}

}  // namespace

}  // namespace korvane::cli
