// Fuzzes ReceiveLine with bytes "from the chip": the first input byte is the buffer's
// capacity, the rest arrives on the port, one byte per read, and running out of input
// is a read time-out. Every line is checked against a plain model of the receiver,
// and so is how far into the input each receive read. The buffer has exactly the
// capacity given, so AddressSanitizer catches a write past it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "serial/isp_link.h"

namespace {

class InputPort final : public korvane::ComPort {
 public:
  InputPort(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ApplySettings(const korvane::LineSettings&) override { return true; }
  bool SetTimeouts(const korvane::CommTimeouts&) override { return true; }
  bool ChangeLine(korvane::LineChange) override { return true; }
  bool PurgeInput() override { return true; }
  bool Write(const void*, size_t count, size_t* written) override {
    *written = count;
    return true;
  }
  bool ReadByte(uint8_t* byte) override {
    if (next_ >= size_) return false;  // nothing more: the time-out runs out
    *byte = data_[next_++];
    return true;
  }
  void Close() override {}
  void Wait(uint32_t) override {}
  size_t consumed() const { return next_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t next_ = 0;
};

struct Expected {
  bool ok;
  std::string line;
  size_t consumed;  // input bytes read by the receive
};

// A line ends at LF; bytes below 0x20 are dropped; a line that fills the buffer
// without room for its terminator fails; input that ends first is a time-out; and no
// line takes more than kLineByteBoundFactor times its capacity in bytes, dropped ones
// included.
Expected Model(const uint8_t* data, size_t size, size_t capacity) {
  Expected result{false, std::string(), 0};
  if (capacity == 0) return result;
  while (result.consumed < size) {
    if (result.consumed >= capacity * korvane::kLineByteBoundFactor) return result;
    const uint8_t byte = data[result.consumed++];
    if (byte == '\n') {
      result.ok = true;
      return result;
    }
    if (byte < 0x20) continue;
    result.line.push_back(static_cast<char>(byte));
    if (result.line.size() == capacity) return result;
  }
  return result;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t capacity = data[0];
  const uint8_t* bytes = data + 1;
  const size_t count = size - 1;

  korvane::IspLink link;
  auto port = std::make_unique<InputPort>(bytes, count);
  InputPort* input = port.get();
  link.port = std::move(port);
  const std::unique_ptr<char[]> buffer(new char[capacity == 0 ? 1 : capacity]);

  size_t start = 0;
  for (;;) {
    const Expected expected = Model(bytes + start, count - start, capacity);
    const bool ok = korvane::ReceiveLine(link, capacity == 0 ? nullptr : buffer.get(), capacity);
    Check(ok == expected.ok);
    Check(input->consumed() == start + expected.consumed);  // nothing read beyond the line
    if (ok) {
      Check(std::strlen(buffer.get()) == expected.line.size());
      Check(std::memcmp(buffer.get(), expected.line.data(), expected.line.size()) == 0);
    }
    start = input->consumed();
    // A failed receive leaves the rest to the next; stop once the input is used up.
    if (expected.consumed == 0 || start >= count) break;
  }
  return 0;
}
