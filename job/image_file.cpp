#include "job/image_file.h"

#include "common/safe_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <share.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace korvane {

FileHandle OpenImageFile(const std::string& path) {
#ifdef _WIN32
  return FileHandle(_fsopen(path.c_str(), "rb", _SH_DENYWR));
#else
  // Non-blocking, so that a FIFO without a writer does not hold the job; the flag is
  // cleared again for a regular file (where it changes nothing anyway).
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
  return FileHandle(file);
#endif
}

std::optional<uint64_t> MeasureFileSize(std::FILE* file) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return std::nullopt;
  long long size = _ftelli64(file);
  if (size < 0 || _fseeki64(file, 0, SEEK_SET) != 0) return std::nullopt;
#else
  // Only a regular file has a size to measure (a folder opens for reading here).
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  if (fseeko(file, 0, SEEK_END) != 0) return std::nullopt;
  off_t size = ftello(file);
  if (size < 0 || fseeko(file, 0, SEEK_SET) != 0) return std::nullopt;
#endif
  return static_cast<uint64_t>(size);
}

bool FileStamp::operator==(const FileStamp& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modifiedSeconds == other.modifiedSeconds &&
         modifiedNanoseconds == other.modifiedNanoseconds;
}

namespace {

#ifdef _WIN32
// Windows has no inode here (st_ino is 0), and st_dev means other things for an open
// file and for a path; the open file cannot be changed or renamed while the job holds
// it, so size and time tell the versions apart.
using StatRecord = struct _stat64;
FileStamp StampFrom(const StatRecord& info) {
  FileStamp stamp;
  stamp.size = static_cast<uint64_t>(info.st_size);
  stamp.modifiedSeconds = static_cast<int64_t>(info.st_mtime);
  return stamp;
}
#else
using StatRecord = struct stat;
FileStamp StampFrom(const StatRecord& info) {
  FileStamp stamp;
  stamp.device = static_cast<uint64_t>(info.st_dev);
  stamp.inode = static_cast<uint64_t>(info.st_ino);
  stamp.size = static_cast<uint64_t>(info.st_size);
#ifdef __APPLE__
  stamp.modifiedSeconds = static_cast<int64_t>(info.st_mtimespec.tv_sec);
  stamp.modifiedNanoseconds = static_cast<int64_t>(info.st_mtimespec.tv_nsec);
#else
  stamp.modifiedSeconds = static_cast<int64_t>(info.st_mtim.tv_sec);
  stamp.modifiedNanoseconds = static_cast<int64_t>(info.st_mtim.tv_nsec);
#endif
  return stamp;
}
#endif

}  // namespace

std::optional<FileStamp> StampOf(std::FILE* file) {
  StatRecord info{};
#ifdef _WIN32
  if (_fstat64(_fileno(file), &info) != 0) return std::nullopt;
#else
  if (fstat(fileno(file), &info) != 0) return std::nullopt;
#endif
  return StampFrom(info);
}

std::optional<FileStamp> StampOf(const std::string& path) {
  StatRecord info{};
#ifdef _WIN32
  if (_stat64(path.c_str(), &info) != 0) return std::nullopt;
#else
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
#endif
  return StampFrom(info);
}

JobOutcome OpenStamped(const std::string& path, uint64_t maxSize, OpenedFile* out) {
  out->file = OpenImageFile(path);
  if (!out->file) {
    out->reason = SystemErrorText(errno);
    return JobOutcome::FileOpenFailed;
  }
  const std::optional<uint64_t> size = MeasureFileSize(out->file.get());
  if (!size) {
    out->reason = "not a regular file";
    return JobOutcome::FileReadFailed;
  }
  out->size = *size;
  if (*size > maxSize) return JobOutcome::FileTooLarge;
  const std::optional<FileStamp> stamp = StampOf(out->file.get());
  if (!stamp) return JobOutcome::FileReadFailed;
  out->stamp = *stamp;
  return JobOutcome::Success;
}

JobOutcome LoadFile(const std::string& path, uint64_t maxSize, LoadedFile* out) {
  OpenedFile opened;
  const JobOutcome outcome = OpenStamped(path, maxSize, &opened);
  out->size = opened.size;
  out->reason = opened.reason;
  if (outcome != JobOutcome::Success) return outcome;
  out->bytes.resize(static_cast<size_t>(opened.size));
  if (std::fread(out->bytes.data(), 1, out->bytes.size(), opened.file.get()) != out->bytes.size()) {
    out->reason = SystemErrorText(errno);
    return JobOutcome::FileReadFailed;
  }
  out->stamp = opened.stamp;
  return JobOutcome::Success;
}

JobOutcome DeleteIfUnchanged(const std::string& path, const FileStamp& written) {
  const std::optional<FileStamp> now = StampOf(path);
  if (!now || *now != written || std::remove(path.c_str()) != 0) return JobOutcome::DeleteFailed;
  return JobOutcome::Success;
}

}  // namespace korvane
