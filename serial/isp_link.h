// IspLink: the open serial connection of one write job, and the line operations
// from which the whole ISP dialogue is built.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "serial/com_port.h"

namespace korvane {

// Opens the port of one job; returns null when the device cannot be opened.
using PortOpener = std::function<std::unique_ptr<ComPort>()>;

struct IspLink {
  std::unique_ptr<ComPort> port;
  LineSettings settings;  // kept for the link's life; a baud change rewrites its rate

  bool IsOpen() const { return port != nullptr; }
  // Writes the settings record with a new baud rate and applies it.
  bool ApplyBaudRate(uint32_t baudRate);
  // Closes the port once; later calls do nothing.
  void Close();
  ~IspLink() { Close(); }
};

// The size of every buffer that holds one line of the dialogue, sent or received: the
// longest line, an encoded line of 45 bytes, has 61 characters.
constexpr size_t kLineBufferSize = 100;

// Writes the text and then CR LF, in two writes; true when both went out in full.
bool SendLine(IspLink& link, const char* text);
// Receives one LF-terminated line into buffer (capacity bytes, terminator included).
// Control bytes below 0x20 are dropped. False on a time-out, a line that does not fit,
// or when kLineByteBoundFactor * capacity bytes have come without the line's end.
constexpr size_t kLineByteBoundFactor = 10;
bool ReceiveLine(IspLink& link, char* buffer, size_t capacity);
// True only when the next line received equals expected exactly.
bool ExpectLine(IspLink& link, const char* expected);

// RTS (ISP entry) on, DTR (reset) pulsed for 50 ms, RTS released 100 ms after reset.
bool ResetIntoIsp(IspLink& link);
// RTS released, then DTR (reset) pulsed for 50 ms: the chip starts its program.
bool LeaveIspMode(IspLink& link);

}  // namespace korvane
