#include "cli/board_port.h"

#include "cli/port_names.h"
#include "cli/simulated_board.h"
#include "serial/port_list.h"
#ifdef _WIN32
#include "serial/open_com_port.h"
#else
#include "serial/posix_com_port.h"
#endif

namespace korvane::cli {

namespace {

// A serial device of the system.
class DevicePort final : public BoardPort {
 public:
  DevicePort(std::string device, bool lowLatency)
      : device_(std::move(device)), lowLatency_(lowLatency) {}

  std::unique_ptr<ComPort> Open() override {
    failure_.clear();
#ifdef _WIN32
    // korvane-cli leaves the device as it found it. (The adapter's latency is its
    // driver's setting on Windows.)
    std::unique_ptr<ComPort> opened = OpenWin32ComPort(device_, &failure_, true);
#else
    std::unique_ptr<ComPort> opened = OpenPosixComPort(device_, &failure_, lowLatency_);
#endif
    return opened;
  }
  std::string Device() const override {
    return device_;
  }
  std::string OpenFailure() const override {
    return failure_;
  }
  std::string Adapter() const override {
    return UsbAdapterOf(device_);
  }

 private:
  std::string device_;
  bool lowLatency_;
  std::string failure_;
};

}  // namespace

std::unique_ptr<BoardPort> MakeBoardPort(const std::string& name, bool lowLatency,
                                         uint32_t number) {
  if (name == "sim") return MakeSimulatedBoard(kLpc1114, number);
  if (IsSimulatedPortName(name)) {
    const std::vector<const Part*> named = PartsNamed(name.substr(4));
    if (named.size() != 1) return nullptr;
    return MakeSimulatedBoard(*named.front(), number);
  }
  return std::make_unique<DevicePort>(DeviceOf(name), lowLatency);
}

PortFacts FactsOf(const BoardPort& port, const JobResult& result, bool byHand) {
  PortFacts facts;
  facts.device = port.Device();
  facts.cause = !result.systemError.empty() && result.file.empty() ? result.systemError
                : result.outcome == JobOutcome::PortOpenFailed     ? port.OpenFailure()
                                                                   : "";
  facts.byHand = byHand;
  return facts;
}

}  // namespace korvane::cli
