// The .bin file of a write job: opened once for reading, sized, read in order, closed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace korvane {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for binary reading. Other programs may read it meanwhile but not change
// it (on Windows); null when it cannot be opened.
FileHandle OpenImageFile(const std::string& path);

// Seeks to the end, takes the position as the size and seeks back to the start; fails
// for anything but a regular file.
std::optional<uint64_t> MeasureFileSize(std::FILE* file);

}  // namespace korvane
