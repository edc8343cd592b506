#include "cli/monitor.h"

#include <memory>

#include "cli/cli_app.h"
#include "common/abort_flag.h"
#include "serial/borrowed_port.h"
#include "serial/isp_link.h"

namespace korvane::cli {

namespace {

// Raw input for the life of the terminal, whatever way it ends.
class RawInput {
 public:
  explicit RawInput(Console& console) : console_(console) { console_.SetRawInput(true); }
  ~RawInput() { console_.SetRawInput(false); }
  RawInput(const RawInput&) = delete;
  RawInput& operator=(const RawInput&) = delete;

 private:
  Console& console_;
};

// What one look at the port found.
struct Look {
  size_t received = 0;      // bytes the board sent
  bool outputGone = false;  // stdout no longer takes them
};

// Passes on to stdout what the board sent within one look at the port.
Look PassOn(ComPort& port, Console& console) {
  uint8_t received[4096];
  Look look;
  look.received = port.ReadAvailable(received, sizeof received);
  if (look.received > 0) {
    look.outputGone =
        !console.OutBytes(std::string(reinterpret_cast<const char*>(received), look.received));
  }
  return look;
}

}  // namespace

int RunMonitor(ComPort& port, uint32_t baud, bool resetIntoProgram, const std::string& device,
               Console& console, ResetWiring wiring) {
  // The port's failures end the terminal; what the system said is kept for the message.
  std::string failure;
  const auto previous = port.onSystemError;
  port.onSystemError = [&failure, previous](const std::string& text) {
    failure = text;
    if (previous) previous(text);
  };
  auto fail = [&](const std::string& what) {
    console.Err("korvane-cli: " + device + ": " + what + (failure.empty() ? "" : ": " + failure) +
                "\n");
    port.onSystemError = previous;
    return kFailed;
  };

  LineSettings settings = MakeLineSettings(baud);
  settings.xonXoffOutput = false;  // the program's bytes 0x11 and 0x13 are data here
  settings.xonXoffInput = false;
  // Both pins released: on an inverted board that is both lines on.
  settings.rts = settings.dtr = InvertsLines(wiring) ? LineLevel::On : LineLevel::Off;
  CommTimeouts timeouts;
  timeouts.readTotalTimeoutConstant = kMonitorPollMs;
  if (!port.ApplySettings(settings) || !port.SetTimeouts(timeouts)) {
    return fail("cannot set the port to " + std::to_string(baud) + " baud for the monitor");
  }
  if (resetIntoProgram) {
    IspLink link;
    link.port = std::make_unique<BorrowedPort>(port);
    link.wiring = wiring;
    if (!LeaveIspMode(link)) return fail("cannot reset the chip into its program");
  }
  console.Err("korvane-cli: monitor on " + device + " at " + std::to_string(baud) +
              " baud (Ctrl-C or the end of the input ends it)\n");

  RawInput raw(console);
  std::string typed;
  while (!Interrupted.Requested()) {
    const Look look = PassOn(port, console);
    if (!failure.empty()) return fail("the port failed");
    if (look.outputGone) break;  // nobody reads the board's output any more
    // While the board talks, the input is only looked at; when it is quiet, the wait for
    // input is the other half of the loop's pause.
    typed.clear();
    const Console::Input input = console.ReadInput(look.received > 0 ? 0 : kMonitorPollMs, &typed);
    if (input == Console::Input::Ended) {
      // What the board still says in answer to the last input is shown, until it has
      // been quiet for a while, and never longer than kMonitorDrainLimitMs: a board that
      // keeps talking does not keep the monitor.
      const uint64_t deadline = console.NowMs() + kMonitorDrainLimitMs;
      for (uint64_t quietSince = console.NowMs();
           !Interrupted.Requested() && failure.empty() && console.NowMs() < deadline;) {
        const Look drained = PassOn(port, console);
        if (drained.outputGone) break;
        const uint64_t now = console.NowMs();
        if (drained.received > 0) quietSince = now;
        if (now - quietSince >= kMonitorDrainMs) break;
      }
      break;
    }
    if (!typed.empty()) {
      size_t written = 0;
      if (!port.Write(typed.data(), typed.size(), &written) || written != typed.size()) {
        return fail("cannot send to the board");
      }
    }
  }
  Interrupted.Clear();
  port.onSystemError = previous;
  console.Err("korvane-cli: monitor ended\n");
  return kSuccess;
}

}  // namespace korvane::cli
