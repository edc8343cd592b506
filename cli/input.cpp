#include "cli/input.h"

#include <algorithm>
#include <optional>

#include "cli/cli_app.h"
#include "cli/outcome_texts.h"
#include "isp/image_checks.h"
#include "job/write_bin_file.h"

namespace korvane::cli {

// Reads FILE the job's way (without waiting on a FIFO, only a regular file, measured
// before it is read) and converts it: kSuccess, or the exit code with the message told.
// A raw image keeps the window's checks and messages for its size; a file that is no
// image (its name and content tell no format) is a usage error.
int ReadInput(const std::string& path, const std::optional<ImageFormat>& format, uint32_t flashSize,
              Input* input, Console& console) {
  JobOutcome failure = LoadFile(path, kMaxInputFileSize, &input->file);
  const std::optional<ImageFormat> named = format ? format : FormatOfName(path);
  if (failure == JobOutcome::FileTooLarge && named != ImageFormat::Raw) {
    // Not a raw image too large for the flash, which the job's message tells, but a file
    // beyond what korvane-cli reads at all.
    const std::string kind = named ? std::string(ImageFormatName(*named)) + " file" : "file";
    console.Err("korvane-cli: " + path + ": the " + kind + " is " +
                std::to_string(input->file.size) + " bytes, " +
                "larger than the 64 MiB korvane-cli reads (a full flash image in Intel HEX is "
                "about 90 KiB); not written.\n");
    return kFailed;
  }
  if (failure == JobOutcome::Success) {
    const std::vector<uint8_t>& bytes = input->file.bytes;
    input->read = ReadImage(path, bytes.data(), bytes.size(), format, flashSize);
    if (input->read.unrecognised) {
      console.Err("korvane-cli: " + path + ": " + input->read.error +
                  "; not written. --format bin|hex|elf reads it as that format.\n");
      return kUsage;
    }
    if (!input->read.error.empty()) {
      console.Err("korvane-cli: " + path + ": " + input->read.error + "\n");
      return kFailed;
    }
    const size_t size = input->read.image.size();
    if (size == 0) failure = JobOutcome::FileEmpty;
    if (size > flashSize) failure = JobOutcome::FileTooLarge;
  }
  if (failure == JobOutcome::Success) return kSuccess;
  JobResult result(failure);
  result.file = path;
  result.fileSize = input->file.size;
  result.systemError = input->file.reason;
  result.flashSize = flashSize;
  console.Err(FailureText(result, console.MessageLanguage(), {}));
  return kFailed;
}

// What the flash must hold after the plan was carried out on a chip whose flash was
// `before`: the erased sectors 0xFF but for the image's data, every other byte as it was.
std::vector<uint8_t> FlashAfter(const std::vector<uint8_t>& before, const Input& input) {
  std::vector<uint8_t> flash = before;
  for (const SectorRun& run : input.plan.sectors) {
    const auto from = static_cast<std::ptrdiff_t>(run.first * kSectorSize);
    const auto to = static_cast<std::ptrdiff_t>((run.last + 1) * kSectorSize);
    std::fill(
        flash.begin() + std::min<std::ptrdiff_t>(from, static_cast<std::ptrdiff_t>(flash.size())),
        flash.begin() + std::min<std::ptrdiff_t>(to, static_cast<std::ptrdiff_t>(flash.size())),
        uint8_t{0xFF});
  }
  const std::vector<uint8_t>& image = input.read.image;
  for (size_t i = 0; i < image.size() && i < flash.size(); ++i) {
    if (input.read.hasData[i]) flash[i] = image[i];
  }
  return flash;
}

size_t DataBytes(const Input& input) {
  return static_cast<size_t>(
      std::count(input.read.hasData.begin(), input.read.hasData.end(), true));
}

// What the image would do to the chip, told before the port is opened: false when it
// must not be written (it sets code read protection without --allow-crp, or
// --fix-checksum was asked for an image without a vector table). With --fix-checksum,
// the image that is written gets the right vector checksum. An image without data in
// sector 0 leaves the chip's vector table and protection word alone: nothing to check.
bool CheckImage(const Options& options, Input& input, Console& console) {
  std::vector<uint8_t>& image = input.read.image;
  std::vector<bool>& hasData = input.read.hasData;
  const size_t sector0 = std::min<size_t>(image.size(), kSectorSize);
  if (std::find(hasData.begin(), hasData.begin() + static_cast<std::ptrdiff_t>(sector0), true) ==
      hasData.begin() + static_cast<std::ptrdiff_t>(sector0)) {
    return true;
  }
  const CrpLevel crp = CrpLevelOf(image.data(), image.size());
  if (crp != CrpLevel::None) {
    const std::string what = std::string("the image sets code read protection ") + CrpName(crp) +
                             " (" + Hex(kCrpOffset) + " holds its value): " + CrpEffect(crp);
    if (!options.allowCrp) {
      console.Err("korvane-cli: " + what + ". Not written; --allow-crp writes it all the same.\n");
      return false;
    }
    console.Err("korvane-cli: warning: " + what + ".\n");
  }
  // The boot ROM sums entries 0 to 7; entries 0 to 6 must come from the image, or the
  // chip would start from whatever an erased sector holds (0xFFFFFFFF).
  const size_t entries = kVectorChecksumOffset;
  const bool hasVectors =
      image.size() >= kVectorTableBytes &&
      std::all_of(hasData.begin(), hasData.begin() + static_cast<std::ptrdiff_t>(entries),
                  [](bool has) { return has; });
  const std::optional<uint32_t> wanted = VectorChecksumFor(image.data(), image.size());
  if (!hasVectors || !wanted) {
    const std::string why =
        image.size() < kVectorTableBytes
            ? "the image has no vector table (it is shorter than its " +
                  std::to_string(kVectorTableBytes) + " bytes)"
            : "the image has data in sector 0 but no vector table (entries 0 to 6, " + Hex(0) +
                  " to " + Hex(static_cast<uint32_t>(entries - 1)) + ", are not all in it)";
    if (options.fixChecksum) {
      console.Err("korvane-cli: --fix-checksum: " + why +
                  ", so it has no vector table to give a checksum. Not written.\n");
      return false;
    }
    const auto first = std::find(hasData.begin(), hasData.end(), true) - hasData.begin();
    const std::string backup = first >= static_cast<std::ptrdiff_t>(kBootRomWindow)
                                   ? " (a --read backup starts at " + Hex(kBootRomWindow) +
                                         ", above the vector table, which no command reads back)"
                                   : "";
    console.Err("korvane-cli: warning: " + why +
                ": sector 0 is erased and what the image leaves out stays blank, so the chip's "
                "boot ROM will not start it and stays in its boot loader" +
                backup + ".\n");
    return true;
  }
  if (HasValidVectorChecksum(image.data(), image.size())) return true;
  if (options.fixChecksum) {
    FixVectorChecksum(0, image.data(), static_cast<uint32_t>(image.size()));
    for (uint32_t i = 0; i < 4; ++i) hasData[kVectorChecksumOffset + i] = true;
    console.Err("korvane-cli: writing the vector checksum " + Hex(*wanted) + " into entry 7 (" +
                Hex(kVectorChecksumOffset) + "); " + options.file + " stays as it is\n");
    return true;
  }
  console.Err(
      "korvane-cli: warning: the image's first eight vectors do not add up to 0, so the chip's "
      "boot ROM "
      "will not start it and stays in its boot loader. Put " +
      Hex(*wanted) + " (the two's complement of the sum of entries 0 to 6) into entry 7 at " +
      Hex(kVectorChecksumOffset) + " when building it, or write with --fix-checksum.\n");
  return true;
}

}  // namespace korvane::cli
