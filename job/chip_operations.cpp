#include "job/chip_operations.h"

#include <algorithm>
#include <cstddef>

#include "isp/isp_commands.h"
#include "isp/program_image.h"
#include "isp/write_plan.h"

namespace korvane {

JobResult ReadChipInfo(ChipSession& session, ChipInfo* info) {
  IspLink& link = session.link();
  info->partId = session.partId();
  info->part = &session.part();
  IspResult isp;
  // What the session asked already (SessionSettings::identify) is not asked again.
  const std::optional<ChipIdentity>& known = session.identity();
  if (known && known->bootCode) {
    info->bootCodeMajor = (*known->bootCode)[0];
    info->bootCodeMinor = (*known->bootCode)[1];
  } else if (!(isp = ReadBootCodeVersion(link, &info->bootCodeMajor, &info->bootCodeMinor))) {
    return Failed(JobOutcome::ReadFailed, isp);
  }
  uint32_t uid[4] = {};
  // Older boot code knows no N: INVALID_COMMAND is an answer here.
  if (known && known->uid) {
    info->uid = known->uid;
  } else if ((isp = ReadUid(link, uid))) {
    info->uid = std::array<uint32_t, 4>{uid[0], uid[1], uid[2], uid[3]};
  } else if (isp.status != IspStatus::Refused) {
    return Failed(JobOutcome::ReadFailed, isp);
  }
  const unsigned sectors = session.part().map.Sectors();
  info->sectorBlank.assign(sectors, std::nullopt);
  for (unsigned sector = 0; sector < sectors; ++sector) {
    if (session.AbortAsked()) return JobOutcome::Aborted;
    bool blank = false;
    if ((isp = BlankCheckSectors(link, sector, sector, &blank))) {
      info->sectorBlank[sector] = blank;
    } else if (!isp.RefusedForProtection()) {
      return Failed(JobOutcome::ReadFailed, isp);
    }
  }
  // A read of one word above the boot ROM's window tells whether protection blocks reading.
  uint8_t word[4];
  isp = ReadMemory(link, session.part().map.bootRomWindow, sizeof word, word);
  info->readProtected = isp.RefusedForProtection();
  if (!isp && !info->readProtected) return Failed(JobOutcome::ReadFailed, isp);
  return JobOutcome::Success;
}

JobResult EraseWholeFlash(ChipSession& session) {
  IspResult isp;
  const unsigned last = session.part().map.Sectors() - 1;
  session.Step({JobPhase::Erase, 0, 0, last});
  if (!(isp = UnlockFlash(session.link())) || !(isp = PrepareAndErase(session.link(), 0, last)))
    return Failed(JobOutcome::EraseFailed, isp);
  return JobOutcome::Success;
}

JobResult ReadFlash(ChipSession& session, uint32_t address, uint32_t length,
                    std::vector<uint8_t>* out) {
  // Without a length, up to the end of the chip's flash.
  const uint32_t flash = session.part().map.flashSize;
  if (length == 0) length = address < flash ? flash - address : 0;
  // R takes whole words: the words that hold the range are read, the range kept.
  const uint32_t first = address & ~3u;
  const uint32_t end = (address + length + 3) & ~3u;
  std::vector<uint8_t> words(end - first);
  session.Step({JobPhase::Transfer});
  for (uint32_t at = first; at < end;) {
    session.Progress(static_cast<int32_t>(uint64_t{at - first} * 100 / (end - first)));
    if (session.AbortAsked()) return JobOutcome::Aborted;
    // Up to the next block boundary at a time.
    const uint32_t block = session.part().map.blockSize;
    const uint32_t count = std::min(end, (at / block + 1) * block) - at;
    IspResult isp = ReadMemory(session.link(), at, count, words.data() + (at - first));
    if (!isp) {
      JobResult failed = Failed(JobOutcome::ReadFailed, isp);
      failed.address = at;
      return failed;
    }
    at += count;
  }
  const auto from = static_cast<std::ptrdiff_t>(address - first);
  out->assign(words.begin() + from, words.begin() + from + static_cast<std::ptrdiff_t>(length));
  return JobOutcome::Success;
}

}  // namespace korvane
