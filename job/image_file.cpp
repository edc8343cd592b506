#include "job/image_file.h"

#ifdef _WIN32
#include <share.h>
#else
#include <sys/stat.h>
#endif

namespace korvane {

FileHandle OpenImageFile(const std::string& path) {
#ifdef _WIN32
  return FileHandle(_fsopen(path.c_str(), "rb", _SH_DENYWR));
#else
  return FileHandle(std::fopen(path.c_str(), "rb"));
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

}  // namespace korvane
