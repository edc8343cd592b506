// The boards korvane-cli writes, as their ports: every port name given with -p comes
// from one factory, "sim" included. A board's port is opened as often as a job asks (a
// retry, a watch that writes again) and keeps what the system said of its failures.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/input.h"
#include "cli/outcome_texts.h"
#include "job/chip_session.h"
#include "serial/com_port.h"
#include "serial/isp_link.h"

namespace korvane::cli {

class BoardPort {
 public:
  virtual ~BoardPort() = default;
  // The port, opened anew; null when it cannot be opened (OpenFailure tells why).
  virtual std::unique_ptr<ComPort> Open() = 0;
  PortOpener Opener() {
    return [this] { return Open(); };
  }
  // The device the name stands for.
  virtual std::string Device() const = 0;
  // The USB adapter behind the port ("0403:6001 A50285BI"), where the system tells.
  virtual std::string Adapter() const { return ""; }
  // The part the board is known to be, beyond what its chip tells (a simulated board's
  // package, which the part ID it shares with the other packages of its die does not
  // tell); null when only the chip can tell.
  virtual const Part* KnownPart() const { return nullptr; }
  // What the system said when the port last failed to open; empty when it did not.
  virtual std::string OpenFailure() const { return ""; }

  // A board that can tell what a write left on it (the simulated chip) remembers its
  // flash now; the others do nothing.
  virtual void BeginWrite() {}
  // After a successful write: the first address where the flash differs from what the
  // write must leave, if the board can tell and it does.
  // (input's image is the board's own, its serial number in.)
  virtual std::optional<size_t> FlashDifference(const Input& input) const {
    (void)input;
    return std::nullopt;
  }
  // After a successful write of one board: its account of the write on the console
  // (the simulated chip: its flash checked, the time on a real chip, whether it started
  // the program). The exit code: kFailed when the flash is not what the write must leave.
  virtual int TellWrite(const Input& input, const SessionSettings& settings, Console& console) {
    (void)input;
    (void)settings;
    (void)console;
    return 0;
  }
};

// The boards of a run, one per port named, in the order given.
using Boards = std::vector<std::unique_ptr<BoardPort>>;

// The board behind a port name: "sim" a simulated LPC1114FN28/102 of its own, "sim:PART"
// a simulated part of the table (its whole name; whose program answers on the serial
// line by sending back what it gets, for the monitor); anything else a device path,
// COMn or n. Null for "sim:" with a name that is no part's. With lowLatency, a USB adapter is asked
// to pass on each reply at once (Linux). A simulated board's unique ID follows its number
// among the ports named (0 for the first), so that each has its own in every run.
std::unique_ptr<BoardPort> MakeBoardPort(const std::string& name, bool lowLatency,
                                         uint32_t number = 0);

// What a failure's message says of the port: the device, the system's reason (the
// result's own, else the open's), and whether the board is reset by hand.
PortFacts FactsOf(const BoardPort& port, const JobResult& result, bool byHand);

}  // namespace korvane::cli
