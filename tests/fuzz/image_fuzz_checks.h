// The checks both image reader fuzz targets make: a reader's result against the plain
// reference's, and ReadImage's choice by content. A failed check aborts, which libFuzzer
// reports with the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/image_reader.h"

namespace korvane::fuzz {

inline void Check(bool condition) {
  if (!condition) std::abort();
}

inline bool IsOneLineAscii(const std::string& text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// The reader's result (error, image) for data: a flash image of 1 to kFlashSize bytes or
// a one-line ASCII message, accepted exactly when the reference accepted, with its image.
inline void CheckReader(const std::string& error, const std::vector<uint8_t>& image,
                        bool referenceAccepted, const std::vector<uint8_t>& referenceImage) {
  if (error.empty()) {
    Check(!image.empty() && image.size() <= kFlashSize);
  } else {
    Check(image.empty() && IsOneLineAscii(error));
  }
  Check(referenceAccepted == error.empty());
  Check(!referenceAccepted || image == referenceImage);
}

// ReadImage for a name without a known extension: refused as no image, or a flash image
// of 1 to kFlashSize bytes (with a data flag per byte) or a one-line ASCII message; and when it
// chose `format`, the same result as that reader's (error, image).
inline void CheckChoice(const uint8_t* data, size_t size, ImageFormat format,
                        const std::string& error, const std::vector<uint8_t>& image) {
  const ImageReadResult chosen = ReadImage("image", data, size);
  if (chosen.unrecognised) {
    Check(chosen.image.empty() && !chosen.error.empty() && IsOneLineAscii(chosen.error));
  } else if (chosen.format == ImageFormat::Raw) {
    Check(false);  // a name without an extension is never read as raw bytes
  } else if (chosen.error.empty()) {
    Check(chosen.hasData.size() == chosen.image.size());
    Check(!chosen.image.empty() && chosen.image.size() <= kFlashSize);
  } else {
    Check(IsOneLineAscii(chosen.error));
  }
  if (chosen.format == format) Check(chosen.error == error && chosen.image == image);
}

}  // namespace korvane::fuzz
