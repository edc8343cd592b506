#include "job/outcome.h"

#include <cstdio>

#include "job/messages.h"

namespace korvane {

bool JobResult::MayHaveReachedFlash(uint32_t from, uint32_t length) const {
  const uint64_t end = uint64_t{from} + length;
  for (const FlashCopy& copy : flash.copies) {
    if (copy.address < end && from < uint64_t{copy.address} + copy.size) return true;
  }
  return false;
}

std::string VerifyFailedMessage(uint32_t address) {
  char text[96];
  std::snprintf(text, sizeof text, "verify failed: the flash differs from the image at 0x%08X",
                static_cast<unsigned>(address));
  return text;
}

std::string MessageOf(const JobResult& result) {
  switch (result.outcome) {
    case JobOutcome::Success:
      return std::string();
    case JobOutcome::FileOpenFailed:
      return messages::kFileOpenFailed;
    case JobOutcome::FileReadFailed:
      return messages::kFileReadFailed;
    case JobOutcome::FileEmpty:
      return messages::kFileEmpty;
    case JobOutcome::FileTooLarge:
      return messages::kFileTooLarge;
    case JobOutcome::PortOpenFailed:
      return messages::kPortOpenFailed;
    case JobOutcome::CommunicationError:
      return messages::kCommunicationError;
    case JobOutcome::IspEntryFailed:
      return messages::kIspEntryFailed;
    case JobOutcome::BaudChangeFailed:
      return messages::kBaudChangeFailed;
    case JobOutcome::WrongChip:
      return messages::kWrongChip;
    case JobOutcome::EraseFailed:
      return messages::kEraseFailed;
    case JobOutcome::Aborted:
      return messages::kWriteAborted;
    case JobOutcome::WriteFailed:
      return messages::kWriteFailed;
    case JobOutcome::VerifyFailed:
      return VerifyFailedMessage(result.address.value_or(0));
    case JobOutcome::IspLeaveFailed:
      return messages::kIspLeaveFailed;
    case JobOutcome::DeleteFailed:
      return messages::kDeleteFailed;
    case JobOutcome::ReadFailed:          // the window never reads
    case JobOutcome::SerialNumberFailed:  // nor writes serial numbers
      return messages::kCommunicationError;
  }
  return messages::kCommunicationError;
}

const char* OutcomeName(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::Success:
      return "success";
    case JobOutcome::FileOpenFailed:
      return "file_open_failed";
    case JobOutcome::FileReadFailed:
      return "file_read_failed";
    case JobOutcome::FileEmpty:
      return "file_empty";
    case JobOutcome::FileTooLarge:
      return "file_too_large";
    case JobOutcome::PortOpenFailed:
      return "port_open_failed";
    case JobOutcome::CommunicationError:
      return "communication_error";
    case JobOutcome::IspEntryFailed:
      return "isp_entry_failed";
    case JobOutcome::BaudChangeFailed:
      return "baud_change_failed";
    case JobOutcome::WrongChip:
      return "wrong_chip";
    case JobOutcome::EraseFailed:
      return "erase_failed";
    case JobOutcome::Aborted:
      return "aborted";
    case JobOutcome::WriteFailed:
      return "write_failed";
    case JobOutcome::VerifyFailed:
      return "verify_failed";
    case JobOutcome::IspLeaveFailed:
      return "isp_leave_failed";
    case JobOutcome::DeleteFailed:
      return "delete_failed";
    case JobOutcome::ReadFailed:
      return "read_failed";
    case JobOutcome::SerialNumberFailed:
      return "serial_number_failed";
  }
  return "unknown";
}

}  // namespace korvane
