// How a write job ended, as a value; the message for the user is derived from it.
#pragma once

#include <cstdint>
#include <string>

namespace korvane {

enum class JobOutcome {
  Success,
  FileOpenFailed,      // the file cannot be opened
  FileReadFailed,      // its size cannot be measured, or it cannot be read
  FileEmpty,
  FileTooLarge,        // more than the 32768 bytes of flash
  PortOpenFailed,
  CommunicationError,  // the port refused its settings or time-outs
  IspEntryFailed,      // handshake or echo-off
  BaudChangeFailed,
  WrongChip,           // wrong or unreadable part identification
  EraseFailed,         // unlock, prepare or erase
  Aborted,             // the user stopped it
  WriteFailed,         // the transfer failed
  VerifyFailed,        // the flash differs from the image (korvane-cli --verify)
  IspLeaveFailed,      // the restart into the program failed
  DeleteFailed,        // the file could not be deleted after the write
};

struct JobResult {
  JobOutcome outcome = JobOutcome::Success;
  uint32_t mismatchAddress = 0;  // VerifyFailed: the first flash address that differs

  JobResult(JobOutcome value = JobOutcome::Success, uint32_t address = 0) : outcome(value), mismatchAddress(address) {}
  bool Succeeded() const { return outcome == JobOutcome::Success; }
};

// The message for the user (Shift-JIS); the empty text for a success.
std::string MessageOf(const JobResult& result);

// The message of a verify that found the flash unequal to the image (ASCII, so also
// valid Shift-JIS).
std::string VerifyFailedMessage(uint32_t address);

}  // namespace korvane
