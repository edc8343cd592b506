// The serial-port seam: the handful of platform operations the ISP dialogue needs.
// Backends: Windows (Win32 communications API), POSIX (termios) and the simulated chip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace korvane {

enum class Parity { None, Odd, Even, Mark, Space };
enum class StopBits { One, OnePointFive, Two };
// The level a modem control line (RTS, DTR) takes.
enum class LineLevel { Off, On };

// The line settings, in the serial line's own terms; each backend turns them into its
// system's record. Built from scratch for every job.
struct LineSettings {
  uint32_t baudRate = 9600;
  uint8_t dataBits = 8;
  Parity parity = Parity::None;
  StopBits stopBits = StopBits::One;
  // XON/XOFF flow control (0x11 and 0x13): the output stops at an XOFF from the other
  // end, and an XOFF is sent when the input fills.
  bool xonXoffOutput = true;
  bool xonXoffInput = true;
  bool rtsCtsFlow = false;  // hardware handshake; Korvane never uses it
  // The levels RTS and DTR take when the settings are applied.
  LineLevel rts = LineLevel::Off;
  LineLevel dtr = LineLevel::Off;
};

// The line settings Korvane uses, at the given baud rate.
LineSettings MakeLineSettings(uint32_t baudRate);

struct CommTimeouts {
  uint32_t readIntervalTimeout = 0;
  uint32_t readTotalTimeoutMultiplier = 0;
  uint32_t readTotalTimeoutConstant = 2000;
  uint32_t writeTotalTimeoutMultiplier = 0;
  uint32_t writeTotalTimeoutConstant = 500;
};

// The time-outs Korvane sets once after the first settings.
constexpr CommTimeouts kIspTimeouts{};

// One change of a modem control line; the values are the Win32 escape function codes.
enum class LineChange : int { SetRts = 3, ClearRts = 4, SetDtr = 5, ClearDtr = 6 };

class ComPort {
 public:
  virtual ~ComPort() = default;

  virtual bool ApplySettings(const LineSettings& settings) = 0;
  virtual bool SetTimeouts(const CommTimeouts& timeouts) = 0;
  virtual bool ChangeLine(LineChange change) = 0;
  // Discards everything received and not yet read; aborts a pending read.
  virtual bool PurgeInput() = 0;
  // Writes count bytes; *written receives how many went out. False on failure.
  virtual bool Write(const void* data, size_t count, size_t* written) = 0;
  // One byte within the read time-out; false when none came (time-out or failure).
  virtual bool ReadByte(uint8_t* byte) = 0;
  // Up to capacity bytes: waits up to the read time-out for the first, then takes what
  // has arrived without waiting further; 0 when none came. For a terminal on the port,
  // where bytes come in bursts of any length.
  virtual size_t ReadAvailable(uint8_t* buffer, size_t capacity) {
    return capacity > 0 && ReadByte(buffer) ? 1 : 0;
  }
  // Releases the device. Called exactly once; the destructor closes a port left open.
  virtual void Close() = 0;
  virtual void Wait(uint32_t milliseconds) = 0;
  // What opening the device did beyond opening it, for a trace ("low latency: on");
  // empty when nothing.
  virtual std::string OpenNote() const { return {}; }

  // Told what failed and the system's reason ("set RTS: Inappropriate ioctl for device")
  // each time one of the system's calls fails, for messages that name the cause. The
  // job's own messages do not depend on it; backends that cannot tell say nothing.
  std::function<void(const std::string&)> onSystemError;
  // The last of those reports: what the system said of the port's last failure; empty
  // when none failed (or the backend cannot tell).
  virtual std::string LastSystemError() const { return lastSystemError_; }

 protected:
  void ReportSystemError(const std::string& text) const {
    lastSystemError_ = text;
    if (onSystemError) onSystemError(text);
  }

 private:
  mutable std::string lastSystemError_;
};

// The Windows device name of COM port `number`: "\\.\COM" and the number in decimal.
std::string ComDeviceName(int number);

}  // namespace korvane
