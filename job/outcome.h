// How a write job ended, as a value with its details; each front end words it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/parts.h"
#include "isp/isp_result.h"
#include "isp/program_image.h"

namespace korvane {

enum class JobOutcome {
  Success,
  FileOpenFailed,  // the file cannot be opened
  FileReadFailed,  // its size cannot be measured, or it cannot be read
  FileEmpty,
  FileTooLarge,  // more than the 32768 bytes of flash
  PortOpenFailed,
  CommunicationError,  // the port refused its settings or time-outs
  IspEntryFailed,      // handshake or echo-off
  BaudChangeFailed,
  WrongChip,       // wrong or unreadable part identification
  EraseFailed,     // unlock, prepare or erase
  Aborted,         // the user stopped it
  WriteFailed,     // the transfer failed
  VerifyFailed,    // the flash differs from the image (korvane-cli --verify)
  IspLeaveFailed,  // the restart into the program failed
  DeleteFailed,    // the file could not be deleted after the write
  ReadFailed,      // reading the flash failed (korvane-cli --read, --info)
  // korvane-cli --serial: no serial number could be taken for the board (the numbers'
  // file cannot be read or written, or the next number no longer fits its field)
  SerialNumberFailed,
};

// Every outcome, in the order above, for tables that must cover them all.
inline constexpr JobOutcome kAllOutcomes[] = {
    JobOutcome::Success,
    JobOutcome::FileOpenFailed,
    JobOutcome::FileReadFailed,
    JobOutcome::FileEmpty,
    JobOutcome::FileTooLarge,
    JobOutcome::PortOpenFailed,
    JobOutcome::CommunicationError,
    JobOutcome::IspEntryFailed,
    JobOutcome::BaudChangeFailed,
    JobOutcome::WrongChip,
    JobOutcome::EraseFailed,
    JobOutcome::Aborted,
    JobOutcome::WriteFailed,
    JobOutcome::VerifyFailed,
    JobOutcome::IspLeaveFailed,
    JobOutcome::DeleteFailed,
    JobOutcome::ReadFailed,
    JobOutcome::SerialNumberFailed,
};

// How long an operation spent on each of its parts, in seconds of the steady clock: the
// port opened, the reset and the handshake (again after an erase of everything); the
// erases; the copies of the blocks; the compares of --verify.
struct PhaseTimes {
  double handshake = 0, erase = 0, write = 0, verify = 0;
};

// What a chip told of itself once its session was open: its part, and when the session
// asked for them (a record of each board), its boot code version (K) and unique ID (N,
// which older boot code does not know).
struct ChipIdentity {
  uint32_t partId = 0;
  const Part* part = nullptr;
  std::optional<std::array<unsigned, 2>> bootCode;
  std::optional<std::array<uint32_t, 4>> uid;
};

struct JobResult {
  JobOutcome outcome = JobOutcome::Success;
  // What the job knows of the failure, as far as it applies.
  std::string file;                 // the file's path (the file outcomes, DeleteFailed)
  uint64_t fileSize = 0;            // FileTooLarge, FileEmpty: the file's size in bytes
  std::string systemError;          // what the system said of the file or the port
  std::optional<uint32_t> partId;   // WrongChip: the part identification read
  std::string partIdLine;           // WrongChip: the answer, when it was no number
  IspResult isp;                    // the exchange with the boot loader that failed
  int attempts = 0;                 // IspEntryFailed: the handshakes tried
  std::optional<uint32_t> address;  // WriteFailed: the block's flash address;
                                    // VerifyFailed: the first address that differs
  uint32_t transferBaud = 0;        // BaudChangeFailed: the rate asked for
  bool flashErased = false;         // the whole flash was erased before the failure
  // WrongChip: the part the table names for the ID read (null: none), and the parts the
  // operation takes. FileTooLarge found after J: the chip's flash in bytes.
  const Part* foundPart = nullptr;
  std::vector<const Part*> expectedParts;
  uint32_t flashSize = 0;
  // Success of --info or --erase-all with G after it: the chip's code read protection
  // refused to start the program, as it does until the chip's next reset.
  bool startRefusedByProtection = false;
  // What the operation spent on each part, as far as it came; the chip, once its session
  // was open.
  PhaseTimes times;
  std::optional<ChipIdentity> chip;
  // A write: what it did to the chip's flash, kept whatever ended the operation.
  struct FlashWork {
    // Each block whose copy into flash reached it or may have, in the order sent.
    std::vector<FlashCopy> copies;
    // Every block of the plan copied and confirmed: the program is in flash even when
    // what followed failed (G unanswered, say).
    bool programCopied = false;
    // The sectors the plan erases on the chip that answered.
    unsigned sectorsErased = 0;
  } flash;

  JobResult(JobOutcome value = JobOutcome::Success) : outcome(value) {}
  bool Succeeded() const { return outcome == JobOutcome::Success; }
  // WrongChip only because J went unanswered after the rate changed: no chip was told
  // apart, the new rate is the likely cause.
  bool NoAnswerToPartId() const {
    return outcome == JobOutcome::WrongChip && !partId && partIdLine.empty() &&
           isp.status == IspStatus::TimedOut;
  }
  // Whether a copy of this write may have put any of the bytes from `from` to
  // from + length - 1 into flash.
  bool MayHaveReachedFlash(uint32_t from, uint32_t length) const;
  // The program is in flash: the write succeeded, or every block was copied and only
  // the start that follows failed.
  bool ProgramInFlash() const {
    return Succeeded() || (flash.programCopied && (outcome == JobOutcome::IspLeaveFailed ||
                                                   outcome == JobOutcome::DeleteFailed));
  }
};

// The outcome's name for a record: "success", "isp_entry_failed", ...
const char* OutcomeName(JobOutcome outcome);

// The window's message (Shift-JIS); the empty text for a success.
std::string MessageOf(const JobResult& result);

// The message of a verify that found the flash unequal to the image (ASCII, so also
// valid Shift-JIS).
std::string VerifyFailedMessage(uint32_t address);

}  // namespace korvane
