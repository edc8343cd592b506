// The FILE korvane-cli writes: read once, before any port is opened, turned into the
// flash image and checked for what it would do to the chip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/options.h"
#include "image/image_reader.h"
#include "isp/write_plan.h"
#include "job/image_file.h"

namespace korvane::cli {

// The largest file korvane-cli reads: a full flash image in Intel HEX or an ELF with
// its symbols stays far below this.
constexpr uint64_t kMaxInputFileSize = uint64_t{64} << 20;

// The file, read once and turned into the flash image that is checked and written.
struct Input {
  LoadedFile file;
  ImageReadResult read;
  WritePlan plan;  // worked out after the checks, which may change the image
};

// Reads FILE the job's way (without waiting on a FIFO, only a regular file, measured
// before it is read) and converts it: kSuccess, or the exit code with the message told.
// A raw image keeps the window's checks and messages for its size; a file that is no
// image (its name and content tell no format) is a usage error. The image must fit a
// flash of flashSize bytes (the largest of the parts the chip may be).
int ReadInput(const std::string& path, const std::optional<ImageFormat>& format, uint32_t flashSize,
              Input* input, Console& console);

// What the image would do to the chip, told before the port is opened: false when it
// must not be written (it sets code read protection without --allow-crp, or
// --fix-checksum was asked for an image without a vector table). With --fix-checksum,
// the image that is written gets the right vector checksum. An image without data in
// sector 0 leaves the chip's vector table and protection word alone: nothing to check.
bool CheckImage(const Options& options, Input& input, Console& console);

// What the flash must hold after the plan was carried out on a chip whose flash was
// `before`: the erased sectors 0xFF but for the image's data, every other byte as it was.
std::vector<uint8_t> FlashAfter(const std::vector<uint8_t>& before, const Input& input);

// How many bytes of the image are data (a HEX or ELF file's gaps are none).
size_t DataBytes(const Input& input);

}  // namespace korvane::cli
