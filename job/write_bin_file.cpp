#include "job/write_bin_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "isp/isp_commands.h"
#include "isp/program_image.h"
#include "job/image_file.h"
#include "job/messages.h"
#include "serial/open_com_port.h"

namespace korvane {

int32_t ParsePartId(const char* line) {
  const char* p = line;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

namespace {

// The job's steps up to the restart of the chip. The port is left for the caller to
// close, before the file. An abort asked for before the erase stops the job there, with
// the chip's flash untouched; once the erase has begun it takes effect before the next
// block.
JobResult RunJob(const BlockReader& read, const WritePlan& plan, IspLink& link,
                 const ProgressCallback& progress, const JobOptions& options) {
  const auto phase = [&options](JobPhase now) {
    if (options.phase) options.phase(now);
  };
  const uint32_t transferBaud = options.transferBaud;
  link.settings = MakeLineSettings(kHandshakeBaud);
  if (!link.port->ApplySettings(link.settings)) return JobOutcome::CommunicationError;
  if (!link.port->SetTimeouts(kIspTimeouts)) return JobOutcome::CommunicationError;
  phase(JobPhase::Reset);
  if (!EnterIspMode(link) || AbortRequested) {
    return AbortRequested ? JobOutcome::Aborted : JobOutcome::IspEntryFailed;
  }
  phase(JobPhase::Handshake);
  if (!EchoOff(link)) return AbortRequested ? JobOutcome::Aborted : JobOutcome::IspEntryFailed;
  if (AbortRequested) return JobOutcome::Aborted;
  if (!SetIspBaudRate(link, static_cast<int>(transferBaud), 1) || !link.ApplyBaudRate(transferBaud)) {
    return JobOutcome::BaudChangeFailed;
  }
  if (AbortRequested) return JobOutcome::Aborted;
  char partId[kLineBufferSize];
  if (!ReadPartId(link, partId, sizeof partId)) return JobOutcome::WrongChip;
  const int32_t id = ParsePartId(partId);
  if (id != kPartIdLpc1114a && id != kPartIdLpc1114b) return JobOutcome::WrongChip;
  if (AbortRequested) return JobOutcome::Aborted;
  if (!UnlockFlash(link)) return JobOutcome::EraseFailed;
  if (AbortRequested) return JobOutcome::Aborted;
  phase(JobPhase::Erase);
  for (const SectorRun& run : plan.sectors) {
    if (!PrepareSectors(link, run.first, run.last) || !EraseSectors(link, run.first, run.last)) {
      return JobOutcome::EraseFailed;
    }
  }
  phase(JobPhase::Transfer);
  std::optional<uint32_t> mismatch;
  if (!ProgramImage(link, read, plan, progress, options.program, &mismatch)) {
    if (mismatch) return {JobOutcome::VerifyFailed, *mismatch};
    return AbortRequested ? JobOutcome::Aborted : JobOutcome::WriteFailed;
  }
  phase(JobPhase::Restart);
  if (!LeaveIspMode(link)) return JobOutcome::IspLeaveFailed;
  return JobOutcome::Success;
}

}  // namespace

std::string WriteBinFile(const std::string& path, const PortOpener& openPort, bool deleteAfterWrite,
                         const ProgressCallback& progress, const JobOptions& options) {
  // Declared before the link, so that the port is always closed before the file.
  OpenedFile opened;
  const JobOutcome outcome = OpenStamped(path, kMaxImageSize, &opened);
  if (outcome != JobOutcome::Success) return MessageOf(outcome);
  if (opened.size == 0) return messages::kFileEmpty;
  FileHandle& file = opened.file;

  IspLink link;
  link.port = openPort();
  if (!link.IsOpen()) return messages::kPortOpenFailed;
  // The blocks are read where the plan takes them from: the file stays open and
  // unchanged (on Windows no other program may write it meanwhile), so a file that
  // ends early fails at its short block.
  const JobResult result =
      RunJob(FileBlockReader(file.get()), PlanWrite(static_cast<uint32_t>(opened.size)), link,
             progress, options);
  if (!result.Succeeded()) return MessageOf(result);
  link.Close();
  file.reset();
  // The path must still name exactly the file that was written, unchanged.
  return deleteAfterWrite ? MessageOf(DeleteIfUnchanged(path, opened.stamp)) : std::string();
}

JobResult WriteImage(const std::vector<uint8_t>& image, const WritePlan& plan,
                     const PortOpener& openPort, const ProgressCallback& progress,
                     const JobOptions& options) {
  if (image.empty() || plan.Empty()) return JobOutcome::FileEmpty;
  if (image.size() > kMaxImageSize) return JobOutcome::FileTooLarge;
  for (const PlannedBlock& block : plan.blocks) {
    if (block.address > image.size() || block.length > image.size() - block.address)
      return JobOutcome::FileReadFailed;
  }
  IspLink link;
  link.port = openPort();
  if (!link.IsOpen()) return JobOutcome::PortOpenFailed;
  const BlockReader read = [&image](uint32_t address, uint8_t* block, uint32_t length) {
    std::copy(image.begin() + static_cast<std::ptrdiff_t>(address),
              image.begin() + static_cast<std::ptrdiff_t>(address + length), block);
    return true;
  };
  return RunJob(read, plan, link, progress, options);
}

std::string WriteBinFile(const std::string& path, int portNumber, bool deleteAfterWrite,
                         const ProgressCallback& progress) {
  return WriteBinFile(
      path, [portNumber] { return OpenComPort(portNumber); }, deleteAfterWrite, progress);
}

}  // namespace korvane
