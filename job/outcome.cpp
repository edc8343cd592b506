#include "job/outcome.h"

#include <cstdio>

#include "job/messages.h"

namespace korvane {

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
    case JobOutcome::ReadFailed:
      return messages::kCommunicationError;  // the window never reads
  }
  return messages::kCommunicationError;
}

}  // namespace korvane
