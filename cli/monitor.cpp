#include "cli/monitor.h"

#include <memory>

#include "cli/cli_app.h"
#include "isp/job_flags.h"
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

// Passes on to stdout what the board sent within one look at the port; how many bytes.
size_t PassOn(ComPort& port, Console& console) {
  uint8_t received[4096];
  const size_t count = port.ReadAvailable(received, sizeof received);
  if (count > 0) console.OutBytes(std::string(reinterpret_cast<const char*>(received), count));
  return count;
}

}  // namespace

int RunMonitor(ComPort& port, uint32_t baud, bool resetIntoProgram, const std::string& device, Console& console) {
  // The port's failures end the terminal; what the system said is kept for the message.
  std::string failure;
  const auto previous = port.onSystemError;
  port.onSystemError = [&failure, previous](const std::string& text) {
    failure = text;
    if (previous) previous(text);
  };
  auto fail = [&](const std::string& what) {
    console.Err("korvane-cli: " + device + ": " + what + (failure.empty() ? "" : ": " + failure) + "\n");
    port.onSystemError = previous;
    return kFailed;
  };

  LineSettings settings = MakeLineSettings(baud);
  settings.outX = false;  // the program's bytes 0x11 and 0x13 are data here
  settings.inX = false;
  CommTimeouts timeouts;
  timeouts.readTotalTimeoutConstant = kMonitorPollMs;
  if (!port.ApplySettings(settings) || !port.SetTimeouts(timeouts)) {
    return fail("cannot set the port to " + std::to_string(baud) + " baud for the monitor");
  }
  if (resetIntoProgram) {
    IspLink link;
    link.port = std::make_unique<BorrowedPort>(port);
    if (!LeaveIspMode(link)) return fail("cannot reset the chip into its program");
  }
  console.Err("korvane-cli: monitor on " + device + " at " + std::to_string(baud) +
              " baud (Ctrl-C or the end of the input ends it)\n");

  RawInput raw(console);
  std::string typed;
  while (!AbortRequested) {
    const size_t count = PassOn(port, console);
    if (!failure.empty()) return fail("the port failed");
    // While the board talks, the input is only looked at; when it is quiet, the wait for
    // input is the other half of the loop's pause.
    typed.clear();
    const Console::Input input = console.ReadInput(count > 0 ? 0 : kMonitorPollMs, &typed);
    if (input == Console::Input::Ended) {
      // What the board still says in answer to the last input is shown, until it has
      // been quiet for a while.
      for (uint32_t quiet = 0; quiet < kMonitorDrainMs && !AbortRequested && failure.empty();) {
        quiet = PassOn(port, console) > 0 ? 0 : quiet + kMonitorPollMs;
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
  AbortRequested = false;
  port.onSystemError = previous;
  console.Err("korvane-cli: monitor ended\n");
  return kSuccess;
}

}  // namespace korvane::cli
