// The .bin file of a write job: opened once for reading, sized, read in order, closed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "job/outcome.h"

namespace korvane {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for binary reading, without waiting for anything: a FIFO or a device
// opens at once and is then refused by MeasureFileSize. Other programs may read the file
// meanwhile but not change it (on Windows); null when it cannot be opened.
FileHandle OpenImageFile(const std::string& path);

// Seeks to the end, takes the position as the size and seeks back to the start; fails
// for anything but a regular file.
std::optional<uint64_t> MeasureFileSize(std::FILE* file);

// What tells one version of a file from another: the file's identity (device and
// inode where the system has them), its size and its modification time.
struct FileStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedSeconds = 0;
  int64_t modifiedNanoseconds = 0;
  bool operator==(const FileStamp& other) const;
  bool operator!=(const FileStamp& other) const { return !(*this == other); }
};
// The stamp of an open file, or of what a path names now; none when it cannot be read.
std::optional<FileStamp> StampOf(std::FILE* file);
std::optional<FileStamp> StampOf(const std::string& path);

// A file opened the job's way, for reading from its start.
struct OpenedFile {
  FileHandle file;
  uint64_t size = 0;
  FileStamp stamp;     // the version opened: only this version may be deleted
  std::string reason;  // why it failed, as the system said it, if it did
};
// Opens the file at path without waiting (only a regular file), measures it and stamps
// it: Success, or what stopped it (cannot be opened, cannot be measured, larger than
// maxSize bytes).
JobOutcome OpenStamped(const std::string& path, uint64_t maxSize, OpenedFile* out);

// A whole file, read once, with the stamp of the version that was read.
struct LoadedFile {
  std::vector<uint8_t> bytes;
  FileStamp stamp;
  uint64_t size = 0;   // as measured, also when it was too large to read
  std::string reason;  // why it failed, as the system said it, if it did
};
// Reads the file at path the job's way (opened without waiting, only a regular file,
// measured before it is read): Success, or what stopped it (cannot be opened, cannot be
// read, larger than maxSize bytes).
JobOutcome LoadFile(const std::string& path, uint64_t maxSize, LoadedFile* out);

// Deletes the file at path when it still is exactly the version stamped (the same file,
// size and time): Success when it was deleted, else DeleteFailed. A file replaced, grown
// or rewritten meanwhile is the user's newer work and stays.
JobOutcome DeleteIfUnchanged(const std::string& path, const FileStamp& written);

}  // namespace korvane
