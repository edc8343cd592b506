#include "job/chip_operations.h"

#include <algorithm>
#include <cstddef>

#include "isp/isp_commands.h"
#include "isp/program_image.h"
#include "isp/write_plan.h"
#include "job/isp_session.h"

namespace korvane {

namespace {

// Opens the port and the session; the link is open on Success.
JobResult Open(IspLink& link, const PortOpener& openPort, const JobOptions& options,
               uint32_t* partId = nullptr) {
  link.port = openPort();
  if (!link.IsOpen()) return JobOutcome::PortOpenFailed;
  return OpenSession(link, options, partId);
}

bool RefusedForProtection(const IspResult& isp) {
  return isp.status == IspStatus::Refused && isp.code == kCodeReadProtectionEnabled;
}

// Ends a session that wrote nothing. Under CRP1 or CRP2 the chip refuses G until its
// next reset (it reads its protection only then): the operation is done all the same.
JobResult Finish(IspLink& link, const JobOptions& options) {
  JobResult result = FinishSession(link, options);
  if (result.outcome == JobOutcome::IspLeaveFailed && RefusedForProtection(result.isp)) {
    JobResult done;
    done.startRefusedByProtection = true;
    return done;
  }
  return result;
}

}  // namespace

JobResult ReadChipInfo(const PortOpener& openPort, const JobOptions& options, ChipInfo* info) {
  IspLink link;
  JobResult result = Open(link, openPort, options, &info->partId);
  if (!result.Succeeded()) return result;
  IspResult isp;
  if (!(isp = ReadBootCodeVersion(link, &info->bootCodeFirst, &info->bootCodeSecond))) {
    return Failed(JobOutcome::ReadFailed, isp);
  }
  uint32_t uid[4] = {};
  // Older boot code knows no N: INVALID_COMMAND is an answer here.
  if ((isp = ReadUid(link, uid))) {
    info->uid = std::array<uint32_t, 4>{uid[0], uid[1], uid[2], uid[3]};
  } else if (isp.status != IspStatus::Refused) {
    return Failed(JobOutcome::ReadFailed, isp);
  }
  info->sectorBlank.assign(kSectorCount, std::nullopt);
  for (unsigned sector = 0; sector < kSectorCount; ++sector) {
    if (AbortAsked(options.abort)) return JobOutcome::Aborted;
    bool blank = false;
    if ((isp = BlankCheckSectors(link, sector, sector, &blank))) {
      info->sectorBlank[sector] = blank;
    } else if (!RefusedForProtection(isp)) {
      return Failed(JobOutcome::ReadFailed, isp);
    }
  }
  // A read of one word above the boot ROM's window tells whether protection blocks reading.
  uint8_t word[4];
  isp = ReadMemory(link, kBootRomWindow, sizeof word, word);
  info->readProtected = RefusedForProtection(isp);
  if (!isp && !info->readProtected) return Failed(JobOutcome::ReadFailed, isp);
  return Finish(link, options);
}

JobResult EraseWholeFlash(const PortOpener& openPort, const JobOptions& options) {
  IspLink link;
  JobResult result = Open(link, openPort, options);
  if (!result.Succeeded()) return result;
  IspResult isp;
  if (options.phase) options.phase({JobPhase::Erase, 0, 0, kSectorCount - 1});
  if (!(isp = UnlockFlash(link)) || !(isp = PrepareAndErase(link, 0, kSectorCount - 1)))
    return Failed(JobOutcome::EraseFailed, isp);
  return Finish(link, options);
}

JobResult ReadFlash(const PortOpener& openPort, const JobOptions& options, uint32_t address,
                    uint32_t length, std::vector<uint8_t>* out, const ProgressCallback& progress) {
  IspLink link;
  JobResult result = Open(link, openPort, options);
  if (!result.Succeeded()) return result;
  // R takes whole words: the words that hold the range are read, the range kept.
  const uint32_t first = address & ~3u;
  const uint32_t end = (address + length + 3) & ~3u;
  std::vector<uint8_t> words(end - first);
  if (options.phase) options.phase({JobPhase::Transfer});
  for (uint32_t at = first; at < end;) {
    if (progress) progress(static_cast<int32_t>(uint64_t{at - first} * 100 / (end - first)));
    if (AbortAsked(options.abort)) return JobOutcome::Aborted;
    // Up to the next 1024-byte boundary at a time.
    const uint32_t count = std::min(end, (at / kBlockSize + 1) * kBlockSize) - at;
    IspResult isp = ReadMemory(link, at, count, words.data() + (at - first));
    if (!isp) {
      JobResult failed = Failed(JobOutcome::ReadFailed, isp);
      failed.address = at;
      return failed;
    }
    at += count;
  }
  const auto from = static_cast<std::ptrdiff_t>(address - first);
  out->assign(words.begin() + from, words.begin() + from + static_cast<std::ptrdiff_t>(length));
  return Finish(link, options);
}

}  // namespace korvane
