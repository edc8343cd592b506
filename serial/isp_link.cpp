#include "serial/isp_link.h"

#include <cstring>
#include <string>

namespace korvane {

bool IspLink::ApplyBaudRate(uint32_t baudRate) {
  settings.baudRate = baudRate;
  settings.rts = rtsOn ? LineLevel::On : LineLevel::Off;
  settings.dtr = dtrOn ? LineLevel::On : LineLevel::Off;
  return port->ApplySettings(settings);
}

void IspLink::Close() {
  if (port) {
    port->Close();
    port.reset();
  }
}

namespace {

bool WriteAll(ComPort& port, const void* data, size_t count) {
  size_t written = 0;
  return port.Write(data, count, &written) && written == count;
}

}  // namespace

void Trace(IspLink& link, const std::string& text) {
  if (link.trace) link.trace(text);
}

bool SendLine(IspLink& link, const char* text, bool traced) {
  if (traced && link.trace) link.trace(std::string("> ") + text);
  if (!WriteAll(*link.port, text, std::strlen(text))) return false;
  return WriteAll(*link.port, "\r\n", 2);
}

bool ReceiveLine(IspLink& link, char* buffer, size_t capacity, bool traced) {
  if (capacity == 0) return false;
  size_t index = 0;
  const auto fail = [&](const char* why) {
    buffer[index < capacity ? index : capacity - 1] = '\0';
    if (traced)
      Trace(link, index == 0 ? std::string("< (") + why + ")"
                             : std::string("< ") + buffer + " (" + why + ")");
    return false;
  };
  // Every byte counts toward this bound, the dropped ones too: a stream of control or
  // NUL bytes (a floating RX line reads as NULs) ends the line instead of holding it.
  const size_t mostBytes = capacity * kLineByteBoundFactor;
  for (size_t received = 0;; ++received) {
    uint8_t byte = 0;
    if (received >= mostBytes) return fail("no line end");
    if (!link.port->ReadByte(&byte))
      return fail(index == 0 ? "no answer in time" : "no line end in time");
    if (byte == '\n') {
      buffer[index] = '\0';
      if (traced && link.trace) link.trace(std::string("< ") + buffer);
      return true;
    }
    if (byte < 0x20) continue;
    buffer[index++] = static_cast<char>(byte);
    if (index >= capacity) return fail("line too long");
  }
}

bool ExpectLine(IspLink& link, const char* expected) {
  char line[kLineBufferSize];
  if (!ReceiveLine(link, line, sizeof line)) return false;
  return std::strcmp(line, expected) == 0;
}

bool RunResetSequence(IspLink& link, const ResetSequence& sequence) {
  if (link.wiring == ResetWiring::None) return true;
  for (const ResetStep& step : sequence) {
    Trace(link, DescribeStep(step, link.wiring));
    const std::optional<LineChange> change = LineChangeFor(step.signal, step.active, link.wiring);
    if (change && !link.port->ChangeLine(*change)) return false;
    if (change == LineChange::SetRts || change == LineChange::ClearRts)
      link.rtsOn = change == LineChange::SetRts;
    if (change == LineChange::SetDtr || change == LineChange::ClearDtr)
      link.dtrOn = change == LineChange::SetDtr;
    if (step.waitAfterMs > 0) link.port->Wait(step.waitAfterMs);
  }
  return true;
}

bool ResetIntoIsp(IspLink& link) {
  return RunResetSequence(link, IntoBootLoaderSequence(link.timing));
}

bool LeaveIspMode(IspLink& link) {
  return RunResetSequence(link, IntoProgramSequence(link.timing));
}

}  // namespace korvane
