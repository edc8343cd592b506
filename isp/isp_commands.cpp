#include "isp/isp_commands.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "isp/job_flags.h"
#include "isp/uu_encode.h"

namespace korvane {

namespace {

constexpr char kSynchronized[] = "Synchronized";
constexpr int kLinesPerChecksum = 20;

bool HandshakeAttempt(IspLink& link, bool* sendFailed) {
  if (!ResetIntoIsp(link)) return false;
  link.port->PurgeInput();  // outcome not consulted
  size_t written = 0;
  if (!link.port->Write("?", 1, &written) || written != 1) return false;
  if (!ExpectLine(link, kSynchronized)) return false;
  if (!SendLine(link, kSynchronized)) return false;
  if (!ExpectLine(link, kSynchronized)) return false;
  if (!ExpectLine(link, "OK")) return false;
  char frequency[kLineBufferSize];
  std::snprintf(frequency, sizeof frequency, "%d", kCrystalKhz);
  if (!SendLine(link, frequency)) {
    *sendFailed = true;
    return false;
  }
  return ExpectLine(link, frequency) && ExpectLine(link, "OK");
}

// Formats a command line into one line buffer and sends it.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
bool SendFormatted(IspLink& link, const char* format, ...) {
  char line[kLineBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return SendLine(link, line);
}

// A reply line that is a decimal number (at most 10 digits, below 2^32).
bool ReceiveNumber(IspLink& link, uint32_t* value) {
  char line[kLineBufferSize];
  if (!ReceiveLine(link, line, sizeof line)) return false;
  const size_t length = std::strlen(line);
  if (length == 0 || length > 10 || std::strspn(line, "0123456789") != length) return false;
  const unsigned long long number = std::strtoull(line, nullptr, 10);
  if (number > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

bool SendChecksum(IspLink& link, uint32_t checksum) {
  return SendFormatted(link, "%u", static_cast<unsigned>(checksum)) && ExpectLine(link, "OK");
}

// Receives one group of up to 20 encoded lines (count bytes at most) and its checksum
// line into out; *received gets the bytes of the group. False when a line is lost or
// malformed; *checksumMatches tells whether a complete group summed to its checksum.
bool ReceiveReadGroup(IspLink& link, uint32_t count, uint8_t* out, uint32_t* received, bool* checksumMatches) {
  uint32_t sum = 0, offset = 0;
  bool wellFormed = true;
  for (int lines = 0; lines < kLinesPerChecksum && offset < count; ++lines) {
    char line[kLineBufferSize];
    if (!ReceiveLine(link, line, sizeof line)) return false;
    uint8_t bytes[kMaxUuLineBytes];
    size_t n = 0;
    if (!UuDecodeLine(line, bytes, &n) || n == 0 || n > count - offset) {
      // The rest of the group still comes; its checksum is not worth comparing.
      wellFormed = false;
      n = 0;
    }
    for (size_t i = 0; i < n; ++i) {
      out[offset + i] = bytes[i];
      sum += bytes[i];
    }
    offset += static_cast<uint32_t>(n);
  }
  uint32_t checksum = 0;
  if (!ReceiveNumber(link, &checksum)) return false;
  *received = offset;
  *checksumMatches = wellFormed && checksum == sum;
  return true;
}

}  // namespace

bool SendCommand(IspLink& link, const char* line) {
  return SendLine(link, line) && ExpectLine(link, "0");
}

bool EnterIspMode(IspLink& link) {
  for (int attempt = 0; attempt < kHandshakeAttempts; ++attempt) {
    // Each attempt waits up to the read time-out; an abort is taken between attempts.
    if (AbortRequested) return false;
    bool sendFailed = false;
    if (HandshakeAttempt(link, &sendFailed)) return true;
    if (sendFailed) return false;
  }
  return false;
}

bool EchoOff(IspLink& link) {
  return SendLine(link, "A 0") && ExpectLine(link, "A 0") && ExpectLine(link, "0");
}

bool SetIspBaudRate(IspLink& link, int baudRate, int stopBits) {
  return SendFormatted(link, "B %d %d", baudRate, stopBits) && ExpectLine(link, "0");
}

bool ReadPartId(IspLink& link, char* buffer, size_t capacity) {
  return SendLine(link, "J") && ExpectLine(link, "0") && ReceiveLine(link, buffer, capacity);
}

bool ReadBootCodeVersion(IspLink& link, unsigned* first, unsigned* second) {
  uint32_t a = 0, b = 0;
  if (!SendLine(link, "K") || !ExpectLine(link, "0") || !ReceiveNumber(link, &a) || !ReceiveNumber(link, &b)) {
    return false;
  }
  *first = a;
  *second = b;
  return true;
}

bool UnlockFlash(IspLink& link) {
  return SendFormatted(link, "U %d", kUnlockCode) && ExpectLine(link, "0");
}

bool PrepareSectors(IspLink& link, unsigned first, unsigned last) {
  return SendFormatted(link, "P %u %u", first, last) && ExpectLine(link, "0");
}

bool EraseSectors(IspLink& link, unsigned first, unsigned last) {
  return SendFormatted(link, "E %u %u", first, last) && ExpectLine(link, "0");
}

bool PrepareAndErase(IspLink& link, int sectorCount) {
  const auto last = static_cast<unsigned>(sectorCount - 1);
  return PrepareSectors(link, 0, last) && EraseSectors(link, 0, last);
}

bool WriteToRam(IspLink& link, uint32_t ramAddress, const uint8_t* data, uint32_t count) {
  if (!SendFormatted(link, "W %u %u", static_cast<unsigned>(ramAddress), static_cast<unsigned>(count)) ||
      !ExpectLine(link, "0")) {
    return false;
  }
  uint32_t checksum = 0;
  int lines = 0;
  for (uint32_t offset = 0; offset < count;) {
    const uint32_t n = count - offset < kMaxUuLineBytes ? count - offset : static_cast<uint32_t>(kMaxUuLineBytes);
    char line[kLineBufferSize];
    UuEncodeLine(line, data + offset, n);
    for (uint32_t i = 0; i < n; ++i) checksum += data[offset + i];
    if (!SendLine(link, line)) return false;
    offset += n;
    if (++lines == kLinesPerChecksum || offset == count) {
      if (!SendChecksum(link, checksum)) return false;
      checksum = 0;
      lines = 0;
    }
  }
  return true;
}

bool ReadMemory(IspLink& link, uint32_t address, uint32_t count, uint8_t* out) {
  if (!SendFormatted(link, "R %u %u", static_cast<unsigned>(address), static_cast<unsigned>(count)) ||
      !ExpectLine(link, "0")) {
    return false;
  }
  int resends = 0;
  for (uint32_t offset = 0; offset < count;) {
    uint32_t received = 0;
    bool matches = false;
    if (!ReceiveReadGroup(link, count - offset, out + offset, &received, &matches)) return false;
    if (matches) {
      if (!SendLine(link, "OK")) return false;
      offset += received;
      resends = 0;
    } else {
      // The boot loader sends the group again; after too many tries the read fails,
      // and the boot loader is told to stop with a reply that is neither OK nor RESEND.
      if (++resends > kReadResendLimit) {
        SendLine(link, "STOP");
        return false;
      }
      if (!SendLine(link, "RESEND")) return false;
    }
  }
  return true;
}

bool CopyRamToFlash(IspLink& link, uint32_t flashAddress, uint32_t ramAddress, uint32_t count) {
  return SendFormatted(link, "C %u %u %u", static_cast<unsigned>(flashAddress), static_cast<unsigned>(ramAddress),
                       static_cast<unsigned>(count)) &&
         ExpectLine(link, "0");
}

bool CompareMemory(IspLink& link, uint32_t address1, uint32_t address2, uint32_t count,
                   std::optional<uint32_t>* mismatchOffset) {
  if (!SendFormatted(link, "M %u %u %u", static_cast<unsigned>(address1), static_cast<unsigned>(address2),
                     static_cast<unsigned>(count))) {
    return false;
  }
  char line[kLineBufferSize];
  if (!ReceiveLine(link, line, sizeof line)) return false;
  if (std::strcmp(line, "0") == 0) return true;
  uint32_t offset = 0;
  if (std::strcmp(line, kCompareErrorReply) == 0 && ReceiveNumber(link, &offset) && offset < count &&
      mismatchOffset) {
    *mismatchOffset = offset;
  }
  return false;
}

bool Go(IspLink& link, uint32_t address) {
  return SendFormatted(link, "G %u T", static_cast<unsigned>(address)) && ExpectLine(link, "0");
}

}  // namespace korvane
