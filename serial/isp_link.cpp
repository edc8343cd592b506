#include "serial/isp_link.h"

#include <cstring>

namespace korvane {

bool IspLink::ApplyBaudRate(uint32_t baudRate) {
  settings.baudRate = baudRate;
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

bool ChangeLines(ComPort& port, std::initializer_list<LineChange> changes) {
  for (LineChange change : changes) {
    if (!port.ChangeLine(change)) return false;
  }
  return true;
}

}  // namespace

bool SendLine(IspLink& link, const char* text) {
  if (!WriteAll(*link.port, text, std::strlen(text))) return false;
  return WriteAll(*link.port, "\r\n", 2);
}

bool ReceiveLine(IspLink& link, char* buffer, size_t capacity) {
  if (capacity == 0) return false;
  size_t index = 0;
  // Every byte counts toward this bound, the dropped ones too: a stream of control or
  // NUL bytes (a floating RX line reads as NULs) ends the line instead of holding it.
  const size_t mostBytes = capacity * kLineByteBoundFactor;
  for (size_t received = 0;; ++received) {
    uint8_t byte = 0;
    if (received >= mostBytes || !link.port->ReadByte(&byte)) return false;
    if (byte == '\n') {
      buffer[index] = '\0';
      return true;
    }
    if (byte < 0x20) continue;
    buffer[index++] = static_cast<char>(byte);
    if (index >= capacity) return false;
  }
}

bool ExpectLine(IspLink& link, const char* expected) {
  char line[kLineBufferSize];
  if (!ReceiveLine(link, line, sizeof line)) return false;
  return std::strcmp(line, expected) == 0;
}

bool ResetIntoIsp(IspLink& link) {
  ComPort& port = *link.port;
  if (!ChangeLines(port, {LineChange::SetRts, LineChange::SetDtr})) return false;
  port.Wait(50);
  if (!port.ChangeLine(LineChange::ClearDtr)) return false;
  port.Wait(100);
  return port.ChangeLine(LineChange::ClearRts);
}

bool LeaveIspMode(IspLink& link) {
  ComPort& port = *link.port;
  if (!ChangeLines(port, {LineChange::ClearRts, LineChange::SetDtr})) return false;
  port.Wait(50);
  return port.ChangeLine(LineChange::ClearDtr);
}

}  // namespace korvane
