// IspLink: the open serial connection of one write job, and the line operations
// from which the whole ISP dialogue is built.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "common/abort_flag.h"
#include "serial/com_port.h"
#include "serial/reset_sequence.h"

namespace korvane {

// Opens the port of one job; returns null when the device cannot be opened.
using PortOpener = std::function<std::unique_ptr<ComPort>()>;

struct IspLink {
  std::unique_ptr<ComPort> port;
  LineSettings settings;  // kept for the link's life; a baud change rewrites its rate
  ResetWiring wiring = ResetWiring::Default;  // how the lines reach the board's pins
  ResetTiming timing;                         // the reset pulse and the ISP pin after it
  bool rtsOn = false, dtrOn = false;          // as the last reset sequence left them
  const AbortFlag* abort = nullptr;           // the job's abort request; null: none
  // Told of every line sent ("> W 268436224 1024") and received ("< 0"), every group of
  // data lines as one ("> 20 data lines (900 bytes)") and every change of the modem
  // lines ("RTS on"), for a trace of the dialogue; null: no trace.
  std::function<void(const std::string&)> trace;

  bool IsOpen() const { return port != nullptr; }
  // Writes the settings record with a new baud rate and applies it, with RTS and DTR
  // kept as the last reset sequence left them (an inverted board's pins stay released).
  bool ApplyBaudRate(uint32_t baudRate);
  // Closes the port once; later calls do nothing.
  void Close();
  ~IspLink() { Close(); }
};

// The size of every buffer that holds one line of the dialogue, sent or received: the
// longest line, an encoded line of 45 bytes, has 61 characters.
constexpr size_t kLineBufferSize = 100;

// Tells the link's trace, if it has one.
void Trace(IspLink& link, const std::string& text);

// Writes the text and then CR LF, in two writes; true when both went out in full.
// traced: the line goes to the link's trace.
bool SendLine(IspLink& link, const char* text, bool traced = true);
// Receives one LF-terminated line into buffer (capacity bytes, terminator included).
// Control bytes below 0x20 are dropped. False on a time-out, a line that does not fit,
// or when kLineByteBoundFactor * capacity bytes have come without the line's end; the
// buffer then holds what came of the line (empty when nothing came).
constexpr size_t kLineByteBoundFactor = 10;
bool ReceiveLine(IspLink& link, char* buffer, size_t capacity, bool traced = true);
// True only when the next line received equals expected exactly.
bool ExpectLine(IspLink& link, const char* expected);

// Carries out a reset sequence with the link's wiring; false when a line change failed.
// With ResetWiring::None no line moves and nothing is waited for.
bool RunResetSequence(IspLink& link, const ResetSequence& sequence);
// IntoBootLoaderSequence with the link's timing: by default RTS (ISP entry) on, DTR
// (reset) pulsed for 50 ms, RTS released 100 ms after the reset.
bool ResetIntoIsp(IspLink& link);
// IntoProgramSequence: by default RTS released, then DTR (reset) pulsed for 50 ms: the
// chip starts its program.
bool LeaveIspMode(IspLink& link);

}  // namespace korvane
