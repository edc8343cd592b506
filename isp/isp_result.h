// What one exchange with the boot loader came to: success, the boot loader's return
// code, no answer in time, or an answer that was not one the command has.
#pragma once

#include <cstdint>
#include <string>

namespace korvane {

enum class IspStatus {
  Ok,
  Refused,      // the boot loader answered with a return code other than CMD_SUCCESS
  TimedOut,     // no (complete) line came within the read time-out
  Garbled,      // a line came that the command does not answer
  PortFailed,   // the line could not be sent
  LinesFailed,  // the port refused to move RTS or DTR for the reset
  Aborted,      // the user's abort request came before the exchange
};

struct IspResult {
  IspStatus status = IspStatus::Ok;
  uint32_t code = 0;     // Refused: the return code
  std::string command;   // the line sent last ("C 1024 268436224 1024", "?", "12000")
  std::string awaited;   // TimedOut, Garbled: the answer expected ("0", "OK", "Synchronized")
  std::string received;  // Garbled: what came instead (as far as it came)

  explicit operator bool() const { return status == IspStatus::Ok; }
  // The boot loader refused for the chip's code read protection (CODE_READ_PROTECTION_ENABLED).
  bool RefusedForProtection() const;
};

// The boot loader's name of a return code ("SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION");
// null for a code it does not have.
const char* ReturnCodeName(uint32_t code);
// "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION (9)", or "return code 42" for an unknown one.
std::string DescribeReturnCode(uint32_t code);

// The return codes a caller looks at by value.
constexpr uint32_t kCmdSuccess = 0;
constexpr uint32_t kSectorNotBlank = 8;
constexpr uint32_t kCompareError = 10;
constexpr uint32_t kCodeReadProtectionEnabled = 19;

inline bool IspResult::RefusedForProtection() const {
  return status == IspStatus::Refused && code == kCodeReadProtectionEnabled;
}

}  // namespace korvane
