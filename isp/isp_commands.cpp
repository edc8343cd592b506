#include "isp/isp_commands.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/abort_flag.h"
#include "isp/uu_encode.h"

namespace korvane {

namespace {

constexpr char kSynchronized[] = "Synchronized";
constexpr int kLinesPerChecksum = 20;

IspResult Success(const std::string& command) {
  IspResult result;
  result.command = command;
  return result;
}

// Sends one line of the dialogue; the result names it.
IspResult Send(IspLink& link, const std::string& line, bool traced = true) {
  IspResult result = Success(line);
  if (!SendLine(link, line.c_str(), traced)) result.status = IspStatus::PortFailed;
  return result;
}

// A line that is a decimal number (at most 10 digits, below 2^32).
bool ParseNumber(const char* line, uint32_t* value) {
  const size_t length = std::strlen(line);
  if (length == 0 || length > 10 || std::strspn(line, "0123456789") != length) return false;
  const unsigned long long number = std::strtoull(line, nullptr, 10);
  if (number > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

// Receives the next line into line: Ok, or TimedOut / Garbled (a line cut short) for the
// answer awaited to command.
IspResult Receive(IspLink& link, const std::string& command, const char* awaited, char* line,
                  size_t capacity) {
  IspResult result = Success(command);
  if (!ReceiveLine(link, line, capacity)) {
    result.awaited = awaited;
    result.received = line;
    result.status = result.received.empty() ? IspStatus::TimedOut : IspStatus::Garbled;
  }
  return result;
}

// The next line must be expected. Awaiting the "0" of CMD_SUCCESS, another number is
// the boot loader's refusal with that return code.
IspResult Expect(IspLink& link, const std::string& command, const char* expected) {
  char line[kLineBufferSize];
  IspResult result = Receive(link, command, expected, line, sizeof line);
  if (!result || std::strcmp(line, expected) == 0) return result;
  uint32_t code = 0;
  if (std::strcmp(expected, "0") == 0 && ParseNumber(line, &code)) {
    result.status = IspStatus::Refused;
    result.code = code;
    return result;
  }
  result.status = IspStatus::Garbled;
  result.awaited = expected;
  result.received = line;
  return result;
}

// Sends a command line and expects CMD_SUCCESS.
IspResult Command(IspLink& link, const std::string& line) {
  IspResult result = Send(link, line);
  return result ? Expect(link, line, "0") : result;
}

// A command line from a format.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
Formatted(const char* format, ...) {
  char line[kLineBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return line;
}

// A reply line that is a decimal number.
IspResult ReceiveNumber(IspLink& link, const std::string& command, uint32_t* value) {
  char line[kLineBufferSize];
  IspResult result = Receive(link, command, "a number", line, sizeof line);
  if (result && !ParseNumber(line, value)) {
    result.status = IspStatus::Garbled;
    result.awaited = "a number";
    result.received = line;
  }
  return result;
}

IspResult HandshakeAttempt(IspLink& link, bool* sendFailed) {
  IspResult result = Success("?");
  if (!ResetIntoIsp(link)) {
    result.status = IspStatus::LinesFailed;
    return result;
  }
  link.port->PurgeInput();  // outcome not consulted
  size_t written = 0;
  if (!link.port->Write("?", 1, &written) || written != 1) {
    result.status = IspStatus::PortFailed;
    return result;
  }
  Trace(link, "> ?");
  if (!(result = Expect(link, "?", kSynchronized))) return result;
  if (!(result = Send(link, kSynchronized))) return result;
  if (!(result = Expect(link, kSynchronized, kSynchronized))) return result;
  if (!(result = Expect(link, kSynchronized, "OK"))) return result;
  const std::string frequency = std::to_string(kCrystalKhz);
  if (!(result = Send(link, frequency))) {
    *sendFailed = true;
    return result;
  }
  if (!(result = Expect(link, frequency, frequency.c_str()))) return result;
  return Expect(link, frequency, "OK");
}

// Receives one group of up to 20 encoded lines (count bytes at most) and its checksum
// line into out; *received gets the bytes of the group. Fails when a line is lost;
// *checksumMatches tells whether a complete, well-formed group summed to its checksum.
IspResult ReceiveReadGroup(IspLink& link, const std::string& command, uint32_t count, uint8_t* out,
                           uint32_t* received, bool* checksumMatches) {
  uint32_t sum = 0, offset = 0;
  bool wellFormed = true;
  int lines = 0;
  for (; lines < kLinesPerChecksum && offset < count; ++lines) {
    char line[kLineBufferSize];
    if (!ReceiveLine(link, line, sizeof line, false)) {
      IspResult result = Success(command);
      result.status = line[0] == '\0' ? IspStatus::TimedOut : IspStatus::Garbled;
      result.awaited = "a data line";
      result.received = line;
      return result;
    }
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
  Trace(link, "< " + std::to_string(lines) + " data lines (" + std::to_string(offset) + " bytes)");
  uint32_t checksum = 0;
  IspResult result = ReceiveNumber(link, command, &checksum);
  if (!result) return result;
  *received = offset;
  *checksumMatches = wellFormed && checksum == sum;
  return result;
}

}  // namespace

IspResult SendCommand(IspLink& link, const char* line) {
  return Command(link, line);
}

IspResult EnterIspMode(IspLink& link, const std::function<void(int attempt)>& onAttempt) {
  IspResult result = Success("?");
  for (int attempt = 1; attempt <= kHandshakeAttempts; ++attempt) {
    // Each attempt waits up to the read time-out; an abort is taken between attempts
    // (and before the first: then nothing was sent).
    if (AbortAsked(link.abort)) {
      result.status = IspStatus::Aborted;
      return result;
    }
    if (onAttempt) onAttempt(attempt);
    bool sendFailed = false;
    result = HandshakeAttempt(link, &sendFailed);
    if (result || sendFailed) return result;
  }
  return result;
}

IspResult EchoOff(IspLink& link) {
  IspResult result = Send(link, "A 0");
  if (!result || !(result = Expect(link, "A 0", "A 0"))) return result;
  return Expect(link, "A 0", "0");
}

IspResult SetIspBaudRate(IspLink& link, int baudRate, int stopBits) {
  return Command(link, Formatted("B %d %d", baudRate, stopBits));
}

IspResult ReadPartId(IspLink& link, char* buffer, size_t capacity) {
  IspResult result = Command(link, "J");
  return result ? Receive(link, "J", "the part identification", buffer, capacity) : result;
}

IspResult ReadBootCodeVersion(IspLink& link, unsigned* major, unsigned* minor) {
  uint32_t byte0 = 0, byte1 = 0;
  IspResult result = Command(link, "K");
  if (!result || !(result = ReceiveNumber(link, "K", &byte0)) ||
      !(result = ReceiveNumber(link, "K", &byte1))) {
    return result;
  }
  *major = byte1;
  *minor = byte0;
  return result;
}

IspResult UnlockFlash(IspLink& link) {
  return Command(link, Formatted("U %d", kUnlockCode));
}

IspResult PrepareSectors(IspLink& link, unsigned first, unsigned last) {
  return Command(link, Formatted("P %u %u", first, last));
}

IspResult EraseSectors(IspLink& link, unsigned first, unsigned last) {
  return Command(link, Formatted("E %u %u", first, last));
}

IspResult PrepareAndErase(IspLink& link, unsigned first, unsigned last) {
  IspResult result = PrepareSectors(link, first, last);
  return result ? EraseSectors(link, first, last) : result;
}

IspResult BlankCheckSectors(IspLink& link, unsigned first, unsigned last, bool* blank) {
  const std::string command = Formatted("I %u %u", first, last);
  IspResult result = Command(link, command);
  *blank = static_cast<bool>(result);
  if (result || result.status != IspStatus::Refused || result.code != kSectorNotBlank)
    return result;
  // SECTOR_NOT_BLANK comes with the offset of the first word in use and its contents.
  uint32_t offset = 0, contents = 0;
  if (!(result = ReceiveNumber(link, command, &offset)) ||
      !(result = ReceiveNumber(link, command, &contents))) {
    return result;
  }
  return Success(command);
}

IspResult ReadUid(IspLink& link, uint32_t uid[4]) {
  IspResult result = Command(link, "N");
  for (int i = 0; i < 4 && result; ++i) result = ReceiveNumber(link, "N", &uid[i]);
  return result;
}

IspResult WriteToRam(IspLink& link, uint32_t ramAddress, const uint8_t* data, uint32_t count) {
  const std::string command =
      Formatted("W %u %u", static_cast<unsigned>(ramAddress), static_cast<unsigned>(count));
  IspResult result = Command(link, command);
  if (!result) return result;
  uint32_t checksum = 0, groupBytes = 0;
  int lines = 0;
  for (uint32_t offset = 0; offset < count;) {
    const uint32_t n =
        count - offset < kMaxUuLineBytes ? count - offset : static_cast<uint32_t>(kMaxUuLineBytes);
    char line[kLineBufferSize];
    UuEncodeLine(line, data + offset, n);
    for (uint32_t i = 0; i < n; ++i) checksum += data[offset + i];
    if (!SendLine(link, line, false)) {
      result.status = IspStatus::PortFailed;
      return result;
    }
    offset += n;
    groupBytes += n;
    if (++lines == kLinesPerChecksum || offset == count) {
      // The trace shows a group of data lines as one line, then its checksum.
      Trace(link, "> " + std::to_string(lines) + " data lines (" + std::to_string(groupBytes) +
                      " bytes)");
      const std::string sum = std::to_string(checksum);
      if (!(result = Send(link, sum)) || !(result = Expect(link, sum, "OK"))) {
        result.command = command;
        return result;
      }
      checksum = 0;
      groupBytes = 0;
      lines = 0;
    }
  }
  result.command = command;
  return result;
}

IspResult ReadMemory(IspLink& link, uint32_t address, uint32_t count, uint8_t* out) {
  const std::string command =
      Formatted("R %u %u", static_cast<unsigned>(address), static_cast<unsigned>(count));
  IspResult result = Command(link, command);
  if (!result) return result;
  int resends = 0;
  for (uint32_t offset = 0; offset < count;) {
    uint32_t received = 0;
    bool matches = false;
    if (!(result =
              ReceiveReadGroup(link, command, count - offset, out + offset, &received, &matches))) {
      return result;
    }
    if (matches) {
      if (!(result = Send(link, "OK"))) return result;
      offset += received;
      resends = 0;
    } else {
      // The boot loader sends the group again; after too many tries the read fails,
      // and the boot loader is told to stop with a reply that is neither OK nor RESEND.
      if (++resends > kReadResendLimit) {
        Send(link, "STOP");
        result.status = IspStatus::Garbled;
        result.awaited = "a group that matches its checksum";
        result.received = "a wrong checksum " + std::to_string(resends) + " times";
        result.command = command;
        return result;
      }
      if (!(result = Send(link, "RESEND"))) return result;
    }
  }
  result.command = command;
  return result;
}

IspResult CopyRamToFlash(IspLink& link, uint32_t flashAddress, uint32_t ramAddress,
                         uint32_t count) {
  return Command(link, Formatted("C %u %u %u", static_cast<unsigned>(flashAddress),
                                 static_cast<unsigned>(ramAddress), static_cast<unsigned>(count)));
}

IspResult CompareMemory(IspLink& link, uint32_t address1, uint32_t address2, uint32_t count,
                        std::optional<uint32_t>* mismatchOffset) {
  const std::string command =
      Formatted("M %u %u %u", static_cast<unsigned>(address1), static_cast<unsigned>(address2),
                static_cast<unsigned>(count));
  IspResult result = Command(link, command);
  if (result || result.status != IspStatus::Refused || result.code != kCompareError) return result;
  uint32_t offset = 0;
  // COMPARE_ERROR comes with the offset of the first difference.
  if (ReceiveNumber(link, command, &offset) && offset < count && mismatchOffset)
    *mismatchOffset = offset;
  return result;
}

IspResult Go(IspLink& link, uint32_t address) {
  return Command(link, Formatted("G %u T", static_cast<unsigned>(address)));
}

}  // namespace korvane
