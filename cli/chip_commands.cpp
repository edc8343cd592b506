#include "cli/chip_commands.h"

#include <cstdio>
#include <memory>
#include <string>

#include "cli/cli_app.h"
#include "cli/cli_support.h"
#include "cli/outcome_texts.h"
#include "cli/port_names.h"
#include "image/hex_writer.h"
#include "image/image_reader.h"
#include "isp/write_plan.h"
#include "job/chip_operations.h"
#include "job/image_file.h"
#include "job/isp_session.h"

namespace korvane::cli {

namespace {

std::string PartName(uint32_t id) {
  return IsLpc1114Part(id) ? " (LPC1114FN28/102)" : "";
}

std::string InfoText(const ChipInfo& info) {
  std::string text = "part ID:    " + Hex(info.partId) + PartName(info.partId) + "\n";
  text += "boot code:  " + std::to_string(info.bootCodeFirst) + "." +
          std::to_string(info.bootCodeSecond) + "\n";
  text += "unique ID:  ";
  if (info.uid) {
    for (size_t i = 0; i < info.uid->size(); ++i) text += (i ? " " : "") + Hex((*info.uid)[i]);
  } else {
    text += "not told (the boot code has no N command)";
  }
  text += "\n";
  for (size_t sector = 0; sector < info.sectorBlank.size(); ++sector) {
    char range[48];
    std::snprintf(range, sizeof range, "sector %zu (0x%04zX-0x%04zX): ", sector,
                  sector * kSectorSize, (sector + 1) * kSectorSize - 1);
    std::string state = !info.sectorBlank[sector]   ? "not told (code read protection)"
                        : *info.sectorBlank[sector] ? "blank"
                                                    : "in use";
    // Its first 512 bytes read as the boot ROM while the boot loader runs.
    if (sector == 0 && info.sectorBlank[sector])
      state += " (bytes 0 to 511 read as the boot ROM here)";
    text += range + state + "\n";
  }
  text +=
      info.readProtected
          ? "code read protection: reading is blocked (CRP1 or CRP2); korvane-cli --erase-all "
            "erases the "
            "whole flash and lifts it\n"
          : "code read protection: reading is allowed (none, or CRP3 and the like, which only keep "
            "the ISP pin from being sampled)\n";
  return text;
}

// The file --read writes: Intel HEX for .hex and .ihx, raw bytes otherwise; written
// beside its place and renamed over it once complete, so that a failure leaves no half
// a file.
bool WriteReadFile(const std::string& path, const std::vector<uint8_t>& bytes, uint32_t address,
                   Console& console) {
  const std::optional<ImageFormat> format = FormatOfName(path);
  const std::string text = format == ImageFormat::IntelHex
                               ? ToIntelHex(bytes.data(), bytes.size(), address)
                               : std::string(bytes.begin(), bytes.end());
  const std::string partial = path + ".part";
  std::FILE* file = std::fopen(partial.c_str(), "wb");
  bool written = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file) written = std::fclose(file) == 0 && written;
  if (written) written = std::rename(partial.c_str(), path.c_str()) == 0;
  if (!written) {
    std::remove(partial.c_str());
    console.Err("korvane-cli: " + path + ": cannot write the flash read into it\n");
  }
  return written;
}

}  // namespace

bool IsChipOperation(const Options& options) {
  return options.info || !options.readTo.empty() || (options.eraseAll && options.file.empty());
}

int RunChipOperation(const Options& options, Console& console, sim::SimulatedChip* chip) {
  const Language language = console.MessageLanguage();
  const auto cause = std::make_shared<std::string>();
  const PortOpener opener = OpenerFor(options.port, chip, cause, !options.noLowLatency);
  JobOptions job = JobOptionsOf(options);
  job.eraseAllFirst = false;
  const SteadyClock::time_point start = SteadyClock::now();
  StatusLine status(console);
  const bool drawn = ShowJobSteps(options, console, status, start, &job);
  TellHowToReset(options, console);

  JobResult result;
  ChipInfo info;
  std::vector<uint8_t> bytes;
  if (options.info) {
    result = ReadChipInfo(opener, job, &info);
  } else if (options.eraseAll) {
    result = EraseWholeFlash(opener, job);
  } else {
    const int blocks = static_cast<int>((options.readStart + options.readLength - 1) / kBlockSize -
                                        options.readStart / kBlockSize + 1);
    BlockBar bar(status, drawn, blocks, start);
    result = ReadFlash(opener, job, options.readStart, options.readLength, &bytes, bar.Progress());
    if (result.Succeeded()) bar.Full();
  }
  status.End();
  if (!result.Succeeded()) {
    console.Err(FailureText(result, language, {DeviceOf(options.port), *cause}));
    return result.outcome == JobOutcome::Aborted ? kAborted : kFailed;
  }
  if (options.info) {
    console.Out(InfoText(info));
  } else if (options.eraseAll) {
    console.Out("erased all " + std::to_string(kSectorCount) + " sectors in " +
                Format("%.2f", SecondsSince(start)) + " s\n");
  } else {
    if (!WriteReadFile(options.readTo, bytes, options.readStart, console)) return kFailed;
    console.Out("read " + std::to_string(bytes.size()) + " bytes from " + Hex(options.readStart) +
                " into " + options.readTo + " in " + Format("%.2f", SecondsSince(start)) + " s\n");
  }
  return kSuccess;
}

}  // namespace korvane::cli
