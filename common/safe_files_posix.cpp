#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/safe_files.h"

namespace korvane {

namespace {

FileProblem Problem(FileProblem::Kind kind, const std::string& path, int error = 0) {
  FileProblem problem;
  problem.kind = kind;
  problem.path = path;
  if (error != 0) problem.reason = SystemErrorText(error);
  return problem;
}

// What a path names that is neither a regular file nor absent, as a problem.
FileProblem NotRegular(const std::string& path, mode_t mode) {
  if (S_ISDIR(mode)) return Problem(FileProblem::Kind::Folder, path);
  FileProblem problem = Problem(FileProblem::Kind::NotRegular, path);
  problem.node = S_ISFIFO(mode)   ? FileProblem::Node::Fifo
                 : S_ISCHR(mode)  ? FileProblem::Node::CharacterDevice
                 : S_ISBLK(mode)  ? FileProblem::Node::BlockDevice
                 : S_ISSOCK(mode) ? FileProblem::Node::Socket
                                  : FileProblem::Node::Other;
  return problem;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The mode a new file gets: 0666 less the umask. The umask is read once (reading it
// means setting it) and does not change while korvane runs.
mode_t NewFileMode() {
  static const mode_t mode = [] {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

// Whether two stat results are of one file.
bool SameNode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool WriteAll(int fd, const char* data, size_t size, int* error) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

std::string SystemErrorText(int error) {
  char buffer[256] = {};
  // The GNU strerror_r returns its text (maybe not in the buffer); the XSI one fills the
  // buffer and returns 0.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  return strerror_r(error, buffer, sizeof buffer);
#else
  if (strerror_r(error, buffer, sizeof buffer) != 0) return "error " + std::to_string(error);
  return buffer;
#endif
}

OutputFile::~OutputFile() {
  Discard();
}

void OutputFile::Discard() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}

FileProblem OutputFile::Prepare(const std::string& path) {
  Discard();
  target_ = path;
  existed_ = false;
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) return Problem(FileProblem::Kind::CannotCheck, path, errno);
  } else {
    if (S_ISLNK(info.st_mode)) {
      char resolved[PATH_MAX];
      if (realpath(path.c_str(), resolved) == nullptr)
        return Problem(FileProblem::Kind::BrokenLink, path, errno);
      target_ = resolved;
      if (stat(target_.c_str(), &info) != 0)
        return Problem(FileProblem::Kind::BrokenLink, path, errno);
    }
    if (!S_ISREG(info.st_mode)) return NotRegular(target_, info.st_mode);
    if (access(target_.c_str(), W_OK) != 0) {
      return Problem(FileProblem::Kind::ReadOnly, target_, errno);
    }
    existed_ = true;
    mode_ = info.st_mode & 07777;
    owner_ = info.st_uid;
    group_ = info.st_gid;
  }
  // A name of its own beside the target, so that the rename never crosses file systems
  // and no other file (an earlier leftover, another run's) is ever opened.
  std::string name = target_ + ".part-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) return Problem(FileProblem::Kind::CannotCreate, FolderOf(target_), errno);
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  fd_ = fd;
  temporary_ = name;
  return {};
}

FileProblem OutputFile::Commit(const std::string& bytes, bool replace) {
  if (fd_ < 0) return Problem(FileProblem::Kind::CannotCreate, FolderOf(target_), EBADF);
  int error = 0;
  if (!WriteAll(fd_, bytes.data(), bytes.size(), &error) || fsync(fd_) != 0) {
    if (error == 0) error = errno;
    Discard();
    return Problem(FileProblem::Kind::CannotWrite, target_, error);
  }
  fchmod(fd_, existed_ ? mode_ : NewFileMode());
  // Root keeps the file's owner; anyone else cannot give a file away.
  if (existed_ && geteuid() == 0 && fchown(fd_, owner_, group_) != 0) {
    // The file then belongs to root, as it would after root rewrote it in place.
  }
  error = close(fd_) == 0 ? 0 : errno;
  fd_ = -1;
  if (error != 0) {
    Discard();
    return Problem(FileProblem::Kind::CannotWrite, target_, error);
  }
  // What is at the target now must still be a regular file, or nothing.
  struct stat info {};
  if (lstat(target_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    Discard();
    return S_ISLNK(info.st_mode) ? Problem(FileProblem::Kind::NotRegular, target_)
                                 : NotRegular(target_, info.st_mode);
  }
  // Without replace, a hard link: it appears only where nothing is, so whoever comes
  // first makes the file (the temporary name then goes).
  if ((replace ? rename(temporary_.c_str(), target_.c_str())
               : link(temporary_.c_str(), target_.c_str())) != 0) {
    error = errno;
    Discard();
    return Problem(FileProblem::Kind::CannotReplace, target_, error);
  }
  if (!replace) unlink(temporary_.c_str());
  temporary_.clear();
  // The rename itself reaches the disk with its folder.
  const int folder = open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return {};
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && SameNode(first, second);
}

FileProblem ReadRegularFile(const std::string& path, uint64_t maxSize,
                            std::vector<uint8_t>* bytes) {
  // Looked at before it is opened: opening a serial device would move its lines.
  struct stat before {};
  if (stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode))
    return NotRegular(path, before.st_mode);
  // Non-blocking, so that a FIFO without a writer does not hold the program.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Problem(FileProblem::Kind::CannotOpen, path, errno);
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    const int error = errno;
    close(fd);
    return Problem(FileProblem::Kind::CannotCheck, path, error);
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    return NotRegular(path, info.st_mode);
  }
  if (static_cast<uint64_t>(info.st_size) > maxSize) {
    close(fd);
    return Problem(FileProblem::Kind::TooLarge, path);
  }
  bytes->assign(static_cast<size_t>(info.st_size), 0);
  size_t done = 0;
  while (done < bytes->size()) {
    const ssize_t got = read(fd, bytes->data() + done, bytes->size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      const int error = got < 0 ? errno : 0;
      close(fd);
      if (got == 0) break;  // it shrank meanwhile: what is there
      return Problem(FileProblem::Kind::CannotRead, path, error);
    }
    done += static_cast<size_t>(got);
  }
  bytes->resize(done);
  close(fd);
  return {};
}

std::FILE* OpenStreamForWriting(const std::string& path, FileProblem* problem) {
  *problem = {};
  // Looked at before it is opened: opening a serial device would move its lines.
  struct stat before {};
  if (stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode)) {
    *problem = NotRegular(path, before.st_mode);
    return nullptr;
  }
  // Opened without truncating or waiting; only once it is known to be a regular file
  // is it emptied.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EISDIR) {
      *problem = Problem(FileProblem::Kind::Folder, path);
    } else {
      struct stat info {};
      *problem = stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)
                     ? NotRegular(path, info.st_mode)
                     : Problem(FileProblem::Kind::CannotOpen, path, errno);
    }
    return nullptr;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *problem = NotRegular(path, info.st_mode);
    close(fd);
    return nullptr;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (ftruncate(fd, 0) != 0) {
    *problem = Problem(FileProblem::Kind::CannotWrite, path, errno);
    close(fd);
    return nullptr;
  }
  std::FILE* stream = fdopen(fd, "w");
  if (stream == nullptr) {
    *problem = Problem(FileProblem::Kind::CannotOpen, path, errno);
    close(fd);
  }
  return stream;
}

FileProblem SharedFile::Open(const std::string& path, bool create) {
  Close();
  struct stat before {};
  if (stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode))
    return NotRegular(path, before.st_mode);
  const int fd =
      open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
  if (fd < 0) {
    const int error = errno;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
      return NotRegular(path, info.st_mode);
    return Problem(FileProblem::Kind::CannotOpen, path, error);
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return NotRegular(path, info.st_mode);
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  fd_ = fd;
  path_ = path;
  create_ = create;
  return {};
}

bool SharedFile::IsOpen() const {
  return fd_ >= 0;
}

void SharedFile::Close() {
  if (fd_ >= 0) close(fd_);  // the lock goes with it
  fd_ = -1;
}

bool SharedFile::StillAtPath() const {
  struct stat open {
  }, named{};
  return fstat(fd_, &open) == 0 && stat(path_.c_str(), &named) == 0 && SameNode(open, named);
}

LockWait SharedFile::Lock(int timeoutMs, const AbortFlag* abort) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  LockWait wait;
  for (;;) {
    if (fd_ < 0) {
      wait.end = LockWait::End::Failed;
      wait.error = EBADF;
      return wait;
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      if (StillAtPath()) return wait;
      // Replaced while it was waited for: the file the path names now is the one.
      flock(fd_, LOCK_UN);
      const std::string path = path_;
      if (Open(path, create_)) {
        wait.end = LockWait::End::Failed;
        wait.error = errno != 0 ? errno : ENOENT;
        return wait;
      }
      continue;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      wait.end = LockWait::End::Failed;
      wait.error = errno;
      return wait;
    }
    if (LockWaitOver(until, abort, &wait)) return wait;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void SharedFile::Unlock() {
  if (fd_ >= 0) flock(fd_, LOCK_UN);
}

FileProblem SharedFile::ReadAll(std::string* text, size_t most) {
  text->clear();
  char buffer[4096];
  for (off_t at = 0; text->size() < most;) {
    const ssize_t got = pread(fd_, buffer, sizeof buffer, at);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Problem(FileProblem::Kind::CannotRead, path_, errno);
    }
    if (got == 0) return {};
    text->append(buffer, static_cast<size_t>(got));
    at += got;
  }
  return {};
}

FileProblem SharedFile::ReplaceWhole(const std::string& text) {
  // The lock stays on the old file until Unlock: whoever waits for it finds the path
  // naming the new one, and opens that.
  OutputFile replacement;
  const FileProblem prepared = replacement.Prepare(path_);
  if (prepared) return prepared;
  return replacement.Commit(text);
}

bool SharedFile::Size(uint64_t* size) const {
  struct stat info {};
  if (fstat(fd_, &info) != 0) return false;
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool SharedFile::LastByte(char* byte) {
  uint64_t size = 0;
  return Size(&size) && size > 0 && pread(fd_, byte, 1, static_cast<off_t>(size - 1)) == 1;
}

FileProblem SharedFile::Append(const std::string& text) {
  int error = 0;
  // At the end as it is now, under the lock: one write, so a reader never sees half.
  const off_t end = lseek(fd_, 0, SEEK_END);
  if (end < 0) return Problem(FileProblem::Kind::CannotWrite, path_, errno);
  if (!WriteAll(fd_, text.data(), text.size(), &error) || fdatasync(fd_) != 0) {
    if (error == 0) error = errno;
    // What went in of it goes again: the file holds whole texts only.
    if (ftruncate(fd_, end) == 0) fdatasync(fd_);
    return Problem(FileProblem::Kind::CannotWrite, path_, error);
  }
  return {};
}

}  // namespace korvane
