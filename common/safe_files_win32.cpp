#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/safe_files.h"

namespace korvane {

namespace {

FileProblem Problem(FileProblem::Kind kind, const std::string& path, DWORD error = 0) {
  FileProblem problem;
  problem.kind = kind;
  problem.path = path;
  if (error != 0) {
    char text[512] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, static_cast<DWORD>(sizeof text), nullptr);
    problem.reason = std::string(text, length);
    while (!problem.reason.empty() &&
           (problem.reason.back() == '\n' || problem.reason.back() == '\r' ||
            problem.reason.back() == '.'))
      problem.reason.pop_back();
    if (problem.reason.empty()) problem.reason = "error " + std::to_string(error);
  }
  return problem;
}

// The folder part of path, up to its last "\", "/" or ":"; walked by characters, since
// a double-byte character's second byte may be "\".
std::string FolderOf(const std::string& path) {
  size_t end = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (IsDBCSLeadByte(byte)) {
      ++i;
      continue;
    }
    if (byte == '\\' || byte == '/' || byte == ':') end = i;
  }
  if (end == std::string::npos) return ".";
  return path.substr(0, end + (path[end] == ':' ? 1 : 0));
}

// What an existing path is, opened without access to its data (a COM port or a pipe is
// not opened for reading or writing, so nothing moves): None for a regular file.
FileProblem WhatIsThere(const std::string& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Problem(FileProblem::Kind::Folder, path);
  HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return Problem(FileProblem::Kind::CannotCheck, path, GetLastError());
  const DWORD type = GetFileType(handle);
  CloseHandle(handle);
  if (type == FILE_TYPE_DISK) return {};
  FileProblem problem = Problem(FileProblem::Kind::NotRegular, path);
  problem.node = type == FILE_TYPE_PIPE   ? FileProblem::Node::Fifo
                 : type == FILE_TYPE_CHAR ? FileProblem::Node::CharacterDevice
                                          : FileProblem::Node::Other;
  return problem;
}

}  // namespace

std::string SystemErrorText(int error) {
  char buffer[256] = {};
  if (strerror_s(buffer, sizeof buffer, error) != 0) return "error " + std::to_string(error);
  return buffer;
}

OutputFile::~OutputFile() {
  Discard();
}

void OutputFile::Discard() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  if (!temporary_.empty()) DeleteFileA(temporary_.c_str());
  temporary_.clear();
}

FileProblem OutputFile::Prepare(const std::string& path) {
  Discard();
  target_ = path;
  existed_ = false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // Absent, or its folder is: creating the temporary file tells which.
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      return Problem(FileProblem::Kind::CannotCheck, path, error);
  } else {
    FileProblem there = WhatIsThere(path, attributes);
    if (there) return there;
    if (attributes & FILE_ATTRIBUTE_READONLY) return Problem(FileProblem::Kind::ReadOnly, path);
    existed_ = true;
    mode_ = attributes;
  }
  // A name of its own beside the target, created only if it does not exist yet.
  static unsigned counter = 0;
  for (int tries = 0; tries < 100; ++tries) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".part-%lu-%lu",
                  static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(GetTickCount()) + ++counter);
    const std::string name = target_ + suffix;
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      handle_ = handle;
      temporary_ = name;
      return {};
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
      return Problem(FileProblem::Kind::CannotCreate, FolderOf(target_), error);
  }
  return Problem(FileProblem::Kind::CannotCreate, FolderOf(target_), ERROR_FILE_EXISTS);
}

FileProblem OutputFile::Commit(const std::string& bytes, bool replace) {
  if (handle_ == nullptr)
    return Problem(FileProblem::Kind::CannotCreate, FolderOf(target_), ERROR_INVALID_HANDLE);
  HANDLE handle = static_cast<HANDLE>(handle_);
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      const DWORD error = GetLastError();
      Discard();
      return Problem(FileProblem::Kind::CannotWrite, target_, error);
    }
    done += written;
  }
  const BOOL flushed = FlushFileBuffers(handle);
  const DWORD flushError = GetLastError();
  CloseHandle(handle);
  handle_ = nullptr;
  if (!flushed) {
    Discard();
    return Problem(FileProblem::Kind::CannotWrite, target_, flushError);
  }
  const DWORD attributes = GetFileAttributesA(target_.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    FileProblem there = WhatIsThere(target_, attributes);
    if (there) {
      Discard();
      return there;
    }
  }
  // Another program replacing or reading the target at this moment makes Windows refuse
  // for a moment: tried again, a bounded number of times.
  for (int tries = 0;; ++tries) {
    if (MoveFileExA(temporary_.c_str(), target_.c_str(),
                    (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH))
      break;
    const DWORD error = GetLastError();
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
      Discard();
      return Problem(FileProblem::Kind::CannotReplace, target_, error);
    }
    if (tries < 50 && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)) {
      Sleep(10);
      continue;
    }
    Discard();
    return Problem(FileProblem::Kind::CannotReplace, target_, error);
  }
  if (existed_) SetFileAttributesA(target_.c_str(), mode_);
  temporary_.clear();
  return {};
}

namespace {

// The volume and the file's index: what tells one file from another.
bool FileIdentity(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
  return GetFileInformationByHandle(handle, info) != 0;
}

bool IdentityOfPath(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = FileIdentity(handle, info);
  CloseHandle(handle);
  return known;
}

bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first = {}, second = {};
  return IdentityOfPath(a, &first) && IdentityOfPath(b, &second) && SameIdentity(first, second);
}

FileProblem ReadRegularFile(const std::string& path, uint64_t maxSize,
                            std::vector<uint8_t>* bytes) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return Problem(FileProblem::Kind::CannotOpen, path, GetLastError());
  FileProblem there = WhatIsThere(path, attributes);
  if (there) return there;
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return Problem(FileProblem::Kind::CannotOpen, path, GetLastError());
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle, &size)) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    return Problem(FileProblem::Kind::CannotCheck, path, error);
  }
  if (static_cast<uint64_t>(size.QuadPart) > maxSize) {
    CloseHandle(handle);
    return Problem(FileProblem::Kind::TooLarge, path);
  }
  bytes->assign(static_cast<size_t>(size.QuadPart), 0);
  size_t done = 0;
  while (done < bytes->size()) {
    DWORD got = 0;
    if (!ReadFile(handle, bytes->data() + done, static_cast<DWORD>(bytes->size() - done), &got,
                  nullptr)) {
      const DWORD error = GetLastError();
      CloseHandle(handle);
      return Problem(FileProblem::Kind::CannotRead, path, error);
    }
    if (got == 0) break;
    done += got;
  }
  bytes->resize(done);
  CloseHandle(handle);
  return {};
}

std::FILE* OpenStreamForWriting(const std::string& path, FileProblem* problem) {
  *problem = {};
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    *problem = WhatIsThere(path, attributes);
    if (*problem) return nullptr;
  }
  std::FILE* stream = std::fopen(path.c_str(), "w");
  if (stream == nullptr) *problem = Problem(FileProblem::Kind::CannotOpen, path, GetLastError());
  return stream;
}

namespace {

HANDLE OpenShared(const std::string& path, bool create) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

FileProblem SharedFile::Open(const std::string& path, bool create) {
  Close();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    const FileProblem problem = WhatIsThere(path, attributes);
    if (problem) return problem;
  }
  HANDLE data = OpenShared(path, create);
  if (data == INVALID_HANDLE_VALUE)
    return Problem(FileProblem::Kind::CannotOpen, path, GetLastError());
  CloseHandle(data);
  const std::string lockPath = path + ".lock";
  HANDLE lock = OpenShared(lockPath, true);
  if (lock == INVALID_HANDLE_VALUE)
    return Problem(FileProblem::Kind::CannotOpen, lockPath, GetLastError());
  lock_ = lock;
  path_ = path;
  create_ = create;
  return {};
}

bool SharedFile::IsOpen() const {
  return lock_ != nullptr;
}

void SharedFile::Close() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  if (lock_ != nullptr) CloseHandle(static_cast<HANDLE>(lock_));  // the lock goes with it
  lock_ = nullptr;
}

bool SharedFile::StillAtPath() const {
  return true;  // the file is opened anew under each lock
}

LockWait SharedFile::Lock(int timeoutMs, const AbortFlag* abort) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  LockWait wait;
  for (;;) {
    if (lock_ == nullptr) {
      wait.end = LockWait::End::Failed;
      wait.error = ERROR_INVALID_HANDLE;
      return wait;
    }
    OVERLAPPED whole = {};
    if (LockFileEx(static_cast<HANDLE>(lock_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                   0, MAXDWORD, MAXDWORD, &whole)) {
      // The file the path names now, whatever replaced it meanwhile.
      HANDLE data = OpenShared(path_, create_);
      if (data != INVALID_HANDLE_VALUE) {
        handle_ = data;
        return wait;
      }
      wait.end = LockWait::End::Failed;
      wait.error = static_cast<int>(GetLastError());
      OVERLAPPED unlock = {};
      UnlockFileEx(static_cast<HANDLE>(lock_), 0, MAXDWORD, MAXDWORD, &unlock);
      return wait;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
      wait.end = LockWait::End::Failed;
      wait.error = static_cast<int>(error);
      return wait;
    }
    if (LockWaitOver(until, abort, &wait)) return wait;
    Sleep(5);
  }
}

void SharedFile::Unlock() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  OVERLAPPED whole = {};
  if (lock_ != nullptr) UnlockFileEx(static_cast<HANDLE>(lock_), 0, MAXDWORD, MAXDWORD, &whole);
}

FileProblem SharedFile::ReadAll(std::string* text, size_t most) {
  text->clear();
  HANDLE handle = static_cast<HANDLE>(handle_);
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(handle, start, nullptr, FILE_BEGIN))
    return Problem(FileProblem::Kind::CannotRead, path_, GetLastError());
  char buffer[4096];
  while (text->size() < most) {
    DWORD got = 0;
    if (!ReadFile(handle, buffer, sizeof buffer, &got, nullptr))
      return Problem(FileProblem::Kind::CannotRead, path_, GetLastError());
    if (got == 0) return {};
    text->append(buffer, got);
  }
  return {};
}

namespace {

bool WriteWhole(HANDLE handle, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    DWORD wrote = 0;
    const auto chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
    if (!WriteFile(handle, text.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
    done += wrote;
  }
  return true;
}

}  // namespace

FileProblem SharedFile::ReplaceWhole(const std::string& text) {
  // Closed first: Windows renames nothing over a file that is open. The lock, on a file
  // of its own, stays held.
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  OutputFile replacement;
  const FileProblem prepared = replacement.Prepare(path_);
  if (prepared) return prepared;
  return replacement.Commit(text);
}

bool SharedFile::Size(uint64_t* size) const {
  LARGE_INTEGER length = {};
  if (!GetFileSizeEx(static_cast<HANDLE>(handle_), &length)) return false;
  *size = static_cast<uint64_t>(length.QuadPart);
  return true;
}

bool SharedFile::LastByte(char* byte) {
  HANDLE handle = static_cast<HANDLE>(handle_);
  LARGE_INTEGER back = {};
  back.QuadPart = -1;
  DWORD got = 0;
  return SetFilePointerEx(handle, back, nullptr, FILE_END) &&
         ReadFile(handle, byte, 1, &got, nullptr) && got == 1;
}

FileProblem SharedFile::Append(const std::string& text) {
  HANDLE handle = static_cast<HANDLE>(handle_);
  LARGE_INTEGER none = {}, end = {};
  if (!SetFilePointerEx(handle, none, &end, FILE_END))
    return Problem(FileProblem::Kind::CannotWrite, path_, GetLastError());
  if (!WriteWhole(handle, text) || !FlushFileBuffers(handle)) {
    const DWORD error = GetLastError();
    // What went in of it goes again: the file holds whole texts only.
    if (SetFilePointerEx(handle, end, nullptr, FILE_BEGIN)) SetEndOfFile(handle);
    return Problem(FileProblem::Kind::CannotWrite, path_, error);
  }
  return {};
}

}  // namespace korvane
