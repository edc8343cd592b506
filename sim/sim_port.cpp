#include "sim/sim_port.h"

namespace korvane::sim {

namespace {

class SimPort final : public ComPort {
 public:
  explicit SimPort(SimulatedChip& chip) : chip_(chip) {}
  ~SimPort() override {
    if (!closed_) Close();
  }

  bool ApplySettings(const LineSettings& settings) override {
    Record(PortEvent::Kind::Settings, settings.baudRate);
    if (Disconnected()) return false;
    if (settings.baudRate == chip_.script.refuseBaud) return false;
    baud_ = settings.baudRate;
    // Disabled DTR and RTS control leaves a line cleared, enabled control sets it.
    chip_.loader.SetHostLine(true, settings.rts == LineLevel::On);
    chip_.loader.SetHostLine(false, settings.dtr == LineLevel::On);
    return true;
  }

  bool SetTimeouts(const CommTimeouts& timeouts) override {
    Record(PortEvent::Kind::Timeouts, timeouts.readTotalTimeoutConstant);
    if (Disconnected() || chip_.script.refuseTimeouts) return false;
    timeouts_ = timeouts;
    return true;
  }

  bool ChangeLine(LineChange change) override {
    Record(PortEvent::Kind::Line, static_cast<uint32_t>(change));
    if (Disconnected()) return false;
    if (++lineChanges_ == chip_.script.failLineChange) return false;
    switch (change) {
      case LineChange::SetRts:
        chip_.loader.SetHostLine(true, true);
        break;
      case LineChange::ClearRts:
        chip_.loader.SetHostLine(true, false);
        break;
      case LineChange::SetDtr:
        chip_.loader.SetHostLine(false, true);
        break;
      case LineChange::ClearDtr:
        chip_.loader.SetHostLine(false, false);
        break;
    }
    return true;
  }

  bool PurgeInput() override {
    Record(PortEvent::Kind::Purge, 0);
    if (Disconnected()) return false;
    auto& output = chip_.loader.output();
    while (!output.empty() && output.front().at <= chip_.clock.Now()) output.pop_front();
    return true;
  }

  bool Write(const void* data, size_t count, size_t* written) override {
    *written = 0;
    ++writes_;
    if (Disconnected() || writes_ == chip_.script.failWrite) {
      Record(PortEvent::Kind::Write, 0);
      return false;
    }
    if (writes_ == chip_.script.shortWrite && count > 0) --count;
    const auto* bytes = static_cast<const uint8_t*>(data);
    Record(PortEvent::Kind::Write, 0, std::string(bytes, bytes + count));
    Nanoseconds byteTime = ByteTime(baud_);
    Nanoseconds start = chip_.clock.Now();
    // Garbled bytes are modelled as bytes sent at a rate the chip does not listen at.
    uint32_t arrivingBaud = writes_ == chip_.script.garbleWrite ? 0 : baud_;
    for (size_t i = 0; i < count; ++i) {
      chip_.loader.Receive(bytes[i], arrivingBaud, start + byteTime * (i + 1));
    }
    chip_.clock.AdvanceTo(start + byteTime * count);
    *written = count;
    return true;
  }

  bool ReadByte(uint8_t* byte) override {
    if (Disconnected()) {
      Record(PortEvent::Kind::Timeout, 0);
      return false;
    }
    Nanoseconds timeout =
        Milliseconds(timeouts_.readTotalTimeoutConstant + timeouts_.readTotalTimeoutMultiplier);
    chip_.loader.RunProgram(chip_.clock.Now() + timeout);
    auto& output = chip_.loader.output();
    if (output.empty() || output.front().at > chip_.clock.Now() + timeout) {
      chip_.clock.Advance(timeout);
      Record(PortEvent::Kind::Timeout, 0);
      return false;
    }
    BootLoader::TimedByte next = output.front();
    output.pop_front();
    chip_.clock.AdvanceTo(next.at);
    if (++reads_ == chip_.script.failRead) {
      Record(PortEvent::Kind::Timeout, 0);
      return false;
    }
    // A byte sent at another rate than the receiver's arrives garbled.
    *byte = next.baudRate == baud_ ? next.value : uint8_t{0xFF};
    Record(PortEvent::Kind::Read, 0, std::string(1, static_cast<char>(*byte)));
    return true;
  }

  void Close() override {
    if (chip_.onClose) chip_.onClose();
    closed_ = true;
    chip_.portOpen = false;
    ++chip_.closes;
    Record(PortEvent::Kind::Close, 0);
  }

  void Wait(uint32_t milliseconds) override {
    Record(PortEvent::Kind::Wait, milliseconds);
    chip_.clock.Advance(Milliseconds(milliseconds));
  }

 private:
  void Record(PortEvent::Kind kind, uint32_t value, std::string bytes = {}) {
    chip_.events.push_back({kind, chip_.clock.Now(), value, std::move(bytes)});
    if (chip_.onEvent) chip_.onEvent(chip_.events.back());
  }

  // Counts one port operation; true once the script's disconnection has come.
  bool Disconnected() {
    ++operations_;
    return chip_.script.disconnectAt != 0 && operations_ >= chip_.script.disconnectAt;
  }

  SimulatedChip& chip_;
  uint32_t baud_ = 0;
  CommTimeouts timeouts_{};
  int lineChanges_ = 0;
  int writes_ = 0;
  int reads_ = 0;
  int operations_ = 0;
  bool closed_ = false;
};

void FlushLines(const std::string& prefix, std::string& pending, const std::string& terminator,
                std::vector<std::string>& lines) {
  size_t start = 0;
  for (size_t end; (end = pending.find(terminator, start)) != std::string::npos;) {
    end += terminator.size();
    lines.push_back(prefix + pending.substr(start, end - start));
    start = end;
  }
  if (start < pending.size()) lines.push_back(prefix + pending.substr(start));
  pending.clear();
}

}  // namespace

SimulatedChip::SimulatedChip(ChipConfig config) : loader(clock, std::move(config)) {}

std::unique_ptr<ComPort> SimulatedChip::OpenPort() {
  if (script.refuseOpen || portOpen) return nullptr;
  portOpen = true;
  ++opens;
  events.push_back({PortEvent::Kind::Open, clock.Now(), 0, {}});
  return std::make_unique<SimPort>(*this);
}

std::vector<std::string> SimulatedChip::Transcript(size_t fromEvent, size_t toEvent) const {
  std::vector<std::string> lines;
  std::string sent, received;
  for (size_t i = fromEvent; i < events.size() && i < toEvent; ++i) {
    const PortEvent& event = events[i];
    if (event.kind == PortEvent::Kind::Write) {
      FlushLines("< ", received, "\n", lines);
      sent += event.bytes;
    } else if (event.kind == PortEvent::Kind::Read) {
      FlushLines("> ", sent, "\r\n", lines);
      received += event.bytes;
    }
  }
  FlushLines("> ", sent, "\r\n", lines);
  FlushLines("< ", received, "\n", lines);
  return lines;
}

std::vector<PortEvent> SimulatedChip::EventsOf(PortEvent::Kind kind) const {
  std::vector<PortEvent> result;
  for (const PortEvent& event : events) {
    if (event.kind == kind) result.push_back(event);
  }
  return result;
}

}  // namespace korvane::sim
