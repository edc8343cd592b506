// The Windows backend of the serial-port seam: each ComPort operation is one Win32 call.

#include "serial/win32_com_port.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "serial/open_com_port.h"

namespace korvane {

namespace {

// "what: the system's reason" for the calling thread's last error.
std::string SystemError(const char* what) {
  const DWORD code = GetLastError();
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  while (length > 0 &&
         (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
    --length;
  std::string reason(text, length);
  if (reason.empty()) reason = "system error " + std::to_string(code);
  return std::string(what) + ": " + reason;
}

// A COM port opened with CreateFileA, used synchronously.
class Win32ComPort final : public ComPort {
 public:
  // saved: the device's state as found, put back on close; none to leave it as it is.
  Win32ComPort(HANDLE handle, std::optional<DCB> saved) : handle_(handle), saved_(saved) {}
  ~Win32ComPort() override { Close(); }

  Win32ComPort(const Win32ComPort&) = delete;
  Win32ComPort& operator=(const Win32ComPort&) = delete;

  bool ApplySettings(const LineSettings& settings) override {
    if (!IsOpen()) return false;
    DCB dcb = BuildDcb(settings);
    return SetCommState(handle_, &dcb) != FALSE || Failed("apply the line settings");
  }

  bool SetTimeouts(const CommTimeouts& timeouts) override {
    if (!IsOpen()) return false;
    COMMTIMEOUTS record = BuildCommTimeouts(timeouts);
    return SetCommTimeouts(handle_, &record) != FALSE || Failed("set the time-outs");
  }

  bool ChangeLine(LineChange change) override {
    if (!IsOpen()) return false;
    if (EscapeCommFunction(handle_, static_cast<DWORD>(change)) != FALSE) return true;
    switch (change) {
      case LineChange::SetRts:
        return Failed("set RTS");
      case LineChange::ClearRts:
        return Failed("clear RTS");
      case LineChange::SetDtr:
        return Failed("set DTR");
      case LineChange::ClearDtr:
        return Failed("clear DTR");
    }
    return false;
  }

  bool PurgeInput() override {
    if (!IsOpen()) return false;
    return PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR) != FALSE || Failed("purge");
  }

  bool Write(const void* data, size_t count, size_t* written) override {
    if (written != nullptr) *written = 0;
    if (!IsOpen()) return false;
    DWORD done = 0;
    // size_t and DWORD are both 32 bits wide in the 32-bit build.
    const BOOL ok = WriteFile(handle_, data, static_cast<DWORD>(count), &done, nullptr);
    if (written != nullptr) *written = done;
    return ok != FALSE || Failed("write");
  }

  bool ReadByte(uint8_t* byte) override {
    if (!IsOpen()) return false;
    uint8_t received = 0;
    DWORD count = 0;
    if (ReadFile(handle_, &received, 1, &count, nullptr) == FALSE) return Failed("read");
    if (count != 1) return false;  // the time-out
    *byte = received;
    return true;
  }

  size_t ReadAvailable(uint8_t* buffer, size_t capacity) override {
    if (!IsOpen() || capacity == 0 || !ReadByte(buffer)) return 0;
    // The first byte came within the time-out; the rest is what the driver holds already.
    COMSTAT status{};
    DWORD errors = 0;
    if (!ClearCommError(handle_, &errors, &status) || status.cbInQue == 0) return 1;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(capacity - 1, status.cbInQue));
    DWORD count = 0;
    if (ReadFile(handle_, buffer + 1, want, &count, nullptr) == FALSE) return 1;
    return 1 + count;
  }

  void Close() override {
    if (!IsOpen()) return;
    if (saved_) SetCommState(handle_, &*saved_);
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  void Wait(uint32_t milliseconds) override { Sleep(milliseconds); }

 private:
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Reports what failed with the system's reason; false, for returning.
  bool Failed(const char* what) const {
    ReportSystemError(SystemError(what));
    return false;
  }

  HANDLE handle_;
  std::optional<DCB> saved_;
};

}  // namespace

DCB BuildDcb(const LineSettings& settings) {
  // Every field not named here is off or zero. XON/XOFF at 10 bytes either way, the
  // output going on while an XOFF is held, no error replacement, no NUL stripping.
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = settings.baudRate;
  dcb.fBinary = TRUE;
  dcb.fParity = settings.parity != Parity::None;
  dcb.fOutxCtsFlow = settings.rtsCtsFlow;
  dcb.fDtrControl = settings.dtr == LineLevel::On ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = settings.xonXoffOutput;
  dcb.fInX = settings.xonXoffInput;
  if (settings.rtsCtsFlow) {
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  } else {
    dcb.fRtsControl = settings.rts == LineLevel::On ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  }
  dcb.XonLim = 10;
  dcb.XoffLim = 10;
  dcb.ByteSize = settings.dataBits;
  switch (settings.parity) {
    case Parity::None:
      dcb.Parity = NOPARITY;
      break;
    case Parity::Odd:
      dcb.Parity = ODDPARITY;
      break;
    case Parity::Even:
      dcb.Parity = EVENPARITY;
      break;
    case Parity::Mark:
      dcb.Parity = MARKPARITY;
      break;
    case Parity::Space:
      dcb.Parity = SPACEPARITY;
      break;
  }
  switch (settings.stopBits) {
    case StopBits::One:
      dcb.StopBits = ONESTOPBIT;
      break;
    case StopBits::OnePointFive:
      dcb.StopBits = ONE5STOPBITS;
      break;
    case StopBits::Two:
      dcb.StopBits = TWOSTOPBITS;
      break;
  }
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

COMMTIMEOUTS BuildCommTimeouts(const CommTimeouts& timeouts) {
  COMMTIMEOUTS record{};
  record.ReadIntervalTimeout = timeouts.readIntervalTimeout;
  record.ReadTotalTimeoutMultiplier = timeouts.readTotalTimeoutMultiplier;
  record.ReadTotalTimeoutConstant = timeouts.readTotalTimeoutConstant;
  record.WriteTotalTimeoutMultiplier = timeouts.writeTotalTimeoutMultiplier;
  record.WriteTotalTimeoutConstant = timeouts.writeTotalTimeoutConstant;
  return record;
}

std::unique_ptr<ComPort> OpenWin32ComPort(const std::string& deviceName, std::string* error,
                                          bool restoreOnClose) {
  HANDLE handle = CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0 /* no sharing */,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error) *error = SystemError("cannot open");
    return nullptr;
  }
  std::optional<DCB> saved;
  if (restoreOnClose) {
    DCB found{};
    found.DCBlength = sizeof(DCB);
    if (GetCommState(handle, &found)) saved = found;
  }
  // Output stopped by an XOFF that came before (from a chip reset since) would stay
  // stopped: resume it. A driver without XON/XOFF may refuse, which changes nothing.
  EscapeCommFunction(handle, SETXON);
  return std::make_unique<Win32ComPort>(handle, saved);
}

std::unique_ptr<ComPort> OpenComPort(int number) {
  return OpenWin32ComPort(ComDeviceName(number));
}

}  // namespace korvane
