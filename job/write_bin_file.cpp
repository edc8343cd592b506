#include "job/write_bin_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "isp/isp_commands.h"
#include "isp/program_image.h"
#include "job/image_file.h"
#include "job/messages.h"
#include "serial/open_com_port.h"

namespace korvane {

namespace {

// The write's steps on an open session. An abort asked for before the erase stops it
// there, with the chip's flash untouched; once the erase has begun it takes effect
// before the next block.
JobResult WriteSteps(ChipSession& session, const BlockReader& read, const WritePlan& plan,
                     const WriteSettings& settings, bool* erasedAll,
                     std::vector<FlashCopy>* copies) {
  IspLink& link = session.link();
  const MemoryMap& map = session.part().map;
  // The image must fit the chip's own flash, which J told: checked before any erase.
  uint32_t extent = 0;
  for (const PlannedBlock& block : plan.blocks)
    extent = std::max(extent, block.address + block.length);
  if (extent > map.flashSize) {
    JobResult tooLarge(JobOutcome::FileTooLarge);
    tooLarge.fileSize = extent;
    tooLarge.flashSize = map.flashSize;
    return tooLarge;
  }
  IspResult isp;
  if (session.AbortAsked()) return JobOutcome::Aborted;
  if (!(isp = UnlockFlash(link))) return Failed(JobOutcome::EraseFailed, isp);
  if (session.AbortAsked()) return JobOutcome::Aborted;
  if (settings.eraseAllFirst) {
    // The whole flash erased, then a reset, after which the chip reads its protection
    // word anew: only then does a chip that was under CRP1 take a copy into sector 0.
    session.Step({JobPhase::Erase, 0, 0, map.Sectors() - 1});
    if (!(isp = PrepareAndErase(link, 0, map.Sectors() - 1)))
      return Failed(JobOutcome::EraseFailed, isp);
    *erasedAll = true;
    if (session.AbortAsked()) return JobOutcome::Aborted;
    const JobResult reopened = session.Reopen();
    if (!reopened.Succeeded()) return reopened;
    if (!(isp = UnlockFlash(link))) return Failed(JobOutcome::EraseFailed, isp);
  } else {
    // After the erase of everything, the plan's sectors are blank already.
    for (const SectorRun& run : plan.sectors) {
      session.Step({JobPhase::Erase, 0, run.first, run.last});
      if (!(isp = PrepareAndErase(link, run.first, run.last)))
        return Failed(JobOutcome::EraseFailed, isp);
    }
  }
  session.Step({JobPhase::Transfer});
  ProgramFailure failure;
  ProgramOptions program = settings.program;
  program.map = &map;
  program.onCompare = [&session](bool comparing) { session.Comparing(comparing); };
  program.onCopy = [copies](const FlashCopy& copy) { copies->push_back(copy); };
  if (!ProgramImage(link, read, plan, session.observer().progress, program, &failure)) {
    if (failure.mismatchAddress) {
      JobResult failed = Failed(JobOutcome::VerifyFailed, failure.isp);
      failed.address = failure.mismatchAddress;
      return failed;
    }
    if (session.AbortAsked()) return JobOutcome::Aborted;
    // A block the file no longer gives fails the write as the copy would.
    JobResult failed = Failed(JobOutcome::WriteFailed, failure.isp);
    failed.address = failure.blockAddress;
    return failed;
  }
  return JobOutcome::Success;
}

}  // namespace

JobResult WriteBlocks(ChipSession& session, const BlockReader& read, const WritePlan& plan,
                      const WriteSettings& settings) {
  bool erasedAll = false;
  std::vector<FlashCopy> copies;
  JobResult result = WriteSteps(session, read, plan, settings, &erasedAll, &copies);
  if (!result.Succeeded()) result.flashErased = erasedAll;
  result.flash.programCopied = result.Succeeded();
  result.flash.copies = std::move(copies);
  result.flash.sectorsErased =
      settings.eraseAllFirst ? session.part().map.Sectors() : SectorCount(plan);
  return result;
}

JobResult WriteBinFile(const std::string& path, const PortOpener& openPort, bool deleteAfterWrite,
                       const JobOptions& options) {
  // Declared before the session, so that the port is always closed before the file.
  OpenedFile opened;
  JobResult result = OpenStamped(path, kMaxImageSize, &opened);
  result.file = path;
  result.fileSize = opened.size;
  result.systemError = opened.reason;
  if (result.Succeeded() && opened.size == 0) result.outcome = JobOutcome::FileEmpty;
  if (!result.Succeeded()) return result;
  FileHandle& file = opened.file;

  // The blocks are read where the plan takes them from: the file stays open and
  // unchanged (on Windows no other program may write it meanwhile), so a file that
  // ends early fails at its short block.
  ChipSession session(openPort, options.session, options.observer);
  result = session.Open();
  if (result.Succeeded()) {
    result = WriteBlocks(session, FileBlockReader(file.get()),
                         PlanWrite(static_cast<uint32_t>(opened.size)), options.write);
  }
  if (result.Succeeded()) result = session.Finish();
  result.file = path;
  if (!result.Succeeded() || !deleteAfterWrite) return result;
  session.Close();
  file.reset();
  // The path must still name exactly the file that was written, unchanged.
  result.outcome = DeleteIfUnchanged(path, opened.stamp);
  return result;
}

JobResult WriteImage(const std::vector<uint8_t>& image, const WritePlan& plan,
                     const PortOpener& openPort, const JobOptions& options) {
  if (image.empty() || plan.Empty()) return JobOutcome::FileEmpty;
  for (const PlannedBlock& block : plan.blocks) {
    if (block.address > image.size() || block.length > image.size() - block.address)
      return JobOutcome::FileReadFailed;
  }
  // The board's own copy when it gets bytes of its own, else the image itself.
  std::vector<uint8_t> own;
  const std::vector<uint8_t>* written = &image;
  const BlockReader read = [&written](uint32_t address, uint8_t* block, uint32_t length) {
    std::copy(written->begin() + static_cast<std::ptrdiff_t>(address),
              written->begin() + static_cast<std::ptrdiff_t>(address + length), block);
    return true;
  };
  return RunOnChip(openPort, options.session, options.observer, [&](ChipSession& session) {
    if (options.write.boardBytes && session.identity()) {
      BoardBytes bytes;
      const JobResult asked = options.write.boardBytes(*session.identity(), &bytes);
      if (!asked.Succeeded()) return asked;
      if (bytes.address > image.size() || bytes.bytes.size() > image.size() - bytes.address)
        return JobResult(JobOutcome::FileReadFailed);
      own = image;
      std::copy(bytes.bytes.begin(), bytes.bytes.end(),
                own.begin() + static_cast<std::ptrdiff_t>(bytes.address));
      written = &own;
    }
    // The blocks and sectors of the chip that answered.
    return WriteBlocks(session, read, PlanAgain(plan, session.part().map), options.write);
  });
}

JobResult WriteBinFile(const std::string& path, int portNumber, bool deleteAfterWrite,
                       const ProgressCallback& progress, const AbortFlag* abort) {
  JobOptions options;
  options.observer.progress = progress;
  options.observer.abort = abort;
  return WriteBinFile(
      path, [portNumber] { return OpenComPort(portNumber); }, deleteAfterWrite, options);
}

}  // namespace korvane
