#include "job/write_bin_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "isp/isp_commands.h"
#include "isp/program_image.h"
#include "job/image_file.h"
#include "job/isp_session.h"
#include "job/messages.h"
#include "serial/open_com_port.h"

namespace korvane {

namespace {

// The job's steps up to the restart of the chip. The port is left for the caller to
// close, before the file. An abort asked for before the erase stops the job there, with
// the chip's flash untouched; once the erase has begun it takes effect before the next
// block.
JobResult RunSteps(const BlockReader& read, const WritePlan& plan, IspLink& link,
                   const ProgressCallback& progress, const JobOptions& options, bool* erasedAll) {
  const auto step = [&options](JobStep now) {
    if (options.phase) options.phase(now);
  };
  JobResult opened = OpenSession(link, options);
  if (!opened.Succeeded()) return opened;
  IspResult isp;
  if (AbortAsked(options.abort)) return JobOutcome::Aborted;
  if (!(isp = UnlockFlash(link))) return Failed(JobOutcome::EraseFailed, isp);
  if (AbortAsked(options.abort)) return JobOutcome::Aborted;
  if (options.eraseAllFirst) {
    // The whole flash erased, then a reset, after which the chip reads its protection
    // word anew: only then does a chip that was under CRP1 take a copy into sector 0.
    step({JobPhase::Erase, 0, 0, kSectorCount - 1});
    if (!(isp = PrepareAndErase(link, 0, kSectorCount - 1)))
      return Failed(JobOutcome::EraseFailed, isp);
    *erasedAll = true;
    if (AbortAsked(options.abort)) return JobOutcome::Aborted;
    step({JobPhase::ResetAgain});
    opened = OpenSession(link, options);
    if (!opened.Succeeded()) return opened;
    if (!(isp = UnlockFlash(link))) return Failed(JobOutcome::EraseFailed, isp);
  }
  // After the erase of everything, the plan's sectors are blank already.
  if (!options.eraseAllFirst) {
    for (const SectorRun& run : plan.sectors) {
      step({JobPhase::Erase, 0, run.first, run.last});
      if (!(isp = PrepareAndErase(link, run.first, run.last)))
        return Failed(JobOutcome::EraseFailed, isp);
    }
  }
  step({JobPhase::Transfer});
  ProgramFailure failure;
  if (!ProgramImage(link, read, plan, progress, options.program, &failure)) {
    if (failure.mismatchAddress) {
      JobResult failed = Failed(JobOutcome::VerifyFailed, failure.isp);
      failed.address = failure.mismatchAddress;
      return failed;
    }
    if (AbortAsked(options.abort)) return JobOutcome::Aborted;
    // A block the file no longer gives fails the write as the copy would.
    JobResult failed = Failed(JobOutcome::WriteFailed, failure.isp);
    failed.address = failure.blockAddress;
    return failed;
  }
  return FinishSession(link, options);
}

// The steps, and on a failure whether the whole flash was erased before it.
JobResult RunJob(const BlockReader& read, const WritePlan& plan, IspLink& link,
                 const ProgressCallback& progress, const JobOptions& options) {
  bool erasedAll = false;
  JobResult result = RunSteps(read, plan, link, progress, options, &erasedAll);
  if (!result.Succeeded()) result.flashErased = erasedAll;
  return result;
}

}  // namespace

JobResult WriteBinFile(const std::string& path, const PortOpener& openPort, bool deleteAfterWrite,
                       const ProgressCallback& progress, const JobOptions& options) {
  // Declared before the link, so that the port is always closed before the file.
  OpenedFile opened;
  JobResult result = OpenStamped(path, kMaxImageSize, &opened);
  result.file = path;
  result.fileSize = opened.size;
  result.systemError = opened.reason;
  if (result.Succeeded() && opened.size == 0) result.outcome = JobOutcome::FileEmpty;
  if (!result.Succeeded()) return result;
  FileHandle& file = opened.file;

  IspLink link;
  link.port = openPort();
  if (!link.IsOpen()) return JobOutcome::PortOpenFailed;
  // The blocks are read where the plan takes them from: the file stays open and
  // unchanged (on Windows no other program may write it meanwhile), so a file that
  // ends early fails at its short block.
  result = RunJob(FileBlockReader(file.get()), PlanWrite(static_cast<uint32_t>(opened.size)), link,
                  progress, options);
  result.file = path;
  if (!result.Succeeded() || !deleteAfterWrite) return result;
  link.Close();
  file.reset();
  // The path must still name exactly the file that was written, unchanged.
  result.outcome = DeleteIfUnchanged(path, opened.stamp);
  return result;
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

JobResult WriteBinFile(const std::string& path, int portNumber, bool deleteAfterWrite,
                       const ProgressCallback& progress, const AbortFlag* abort) {
  JobOptions options;
  options.abort = abort;
  return WriteBinFile(
      path, [portNumber] { return OpenComPort(portNumber); }, deleteAfterWrite, progress, options);
}

}  // namespace korvane
