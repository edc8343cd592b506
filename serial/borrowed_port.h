// A port lent to someone else for a while: every operation goes to the port that is
// lent, except Close, which leaves it open for its owner. korvane-cli lends its port to
// a write job and keeps it for the terminal that follows, so the chip is not reset by
// the port being opened again.
#pragma once

#include "serial/com_port.h"

namespace korvane {

class BorrowedPort final : public ComPort {
 public:
  explicit BorrowedPort(ComPort& owner) : owner_(owner) {}

  bool ApplySettings(const LineSettings& settings) override {
    return owner_.ApplySettings(settings);
  }
  bool SetTimeouts(const CommTimeouts& timeouts) override { return owner_.SetTimeouts(timeouts); }
  bool ChangeLine(LineChange change) override { return owner_.ChangeLine(change); }
  bool PurgeInput() override { return owner_.PurgeInput(); }
  bool Write(const void* data, size_t count, size_t* written) override {
    return owner_.Write(data, count, written);
  }
  bool ReadByte(uint8_t* byte) override { return owner_.ReadByte(byte); }
  size_t ReadAvailable(uint8_t* buffer, size_t capacity) override {
    return owner_.ReadAvailable(buffer, capacity);
  }
  void Close() override {}
  void Wait(uint32_t milliseconds) override { owner_.Wait(milliseconds); }
  std::string OpenNote() const override { return owner_.OpenNote(); }
  // The system's reason is the lent port's: its calls are the ones that fail.
  std::string LastSystemError() const override { return owner_.LastSystemError(); }

 private:
  ComPort& owner_;
};

}  // namespace korvane
