// The files korvane-cli and korvane-sim read and write besides the image: only regular
// files (or a name to be created), opened without ever waiting on a FIFO or a device,
// and written whole into a unique temporary file beside their place before it replaces
// them, so that a failure leaves nothing half written and nothing else is touched.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/abort_flag.h"

namespace korvane {

// Why a file could not be used; the texts for the user are the caller's, in its
// language.
struct FileProblem {
  enum class Kind {
    None,
    NotRegular,     // a FIFO, a device, a socket: `node` tells which
    Folder,         // a folder
    BrokenLink,     // a symbolic link whose target does not exist or cannot be resolved
    ReadOnly,       // a regular file the user may not write
    CannotCheck,    // the system could not tell what the path is
    CannotCreate,   // no file can be made beside it (folder missing or not writable, ...)
    CannotWrite,    // writing the data failed (disk full, ...)
    CannotReplace,  // the finished file could not take the place of the old one
    CannotOpen,     // a file to read could not be opened
    CannotRead,     // reading it failed
    TooLarge,       // larger than the reader takes
  };
  enum class Node { Fifo, CharacterDevice, BlockDevice, Socket, Other };
  Kind kind = Kind::None;
  Node node = Node::Other;
  std::string path;    // the path the problem is with (the target of a link, its folder)
  std::string reason;  // the system's reason, where it gave one
  explicit operator bool() const { return kind != Kind::None; }
};

// A file written whole: Prepare before the work that makes its content (so that a
// place that cannot take it is told at once), Commit when the content is there. The
// temporary file is removed on every way out but a successful Commit.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks path: it names nothing yet, or a regular file the user may write (a symbolic
  // link is followed, and its target is what is replaced); then creates the temporary
  // file beside the target, exclusively and under a name of its own.
  FileProblem Prepare(const std::string& path);
  // Writes the bytes into the temporary file and renames it over the target (the
  // folder flushed after it). A file that was there keeps its mode (and, for root, its
  // owner); a new one gets the mode a new file gets. With replace false the target must
  // not exist: one that has appeared meanwhile is left alone (CannotReplace).
  FileProblem Commit(const std::string& bytes, bool replace = true);

  // What is replaced: the path, or the file a link at the path leads to.
  const std::string& target() const { return target_; }
  // The temporary file while it exists; empty before Prepare and after the end.
  const std::string& temporary() const { return temporary_; }

 private:
  void Discard();

  std::string target_;
  std::string temporary_;
  bool existed_ = false;
  uint32_t mode_ = 0;
  uint32_t owner_ = 0;
  uint32_t group_ = 0;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Reads a whole regular file, opened without waiting: at most maxSize bytes, else
// TooLarge.
FileProblem ReadRegularFile(const std::string& path, uint64_t maxSize, std::vector<uint8_t>* bytes);

// Opens a file to be written from its start as the work goes on (a log): a regular file
// or a new one, opened without waiting; null with *problem told otherwise.
std::FILE* OpenStreamForWriting(const std::string& path, FileProblem* problem);

// How a wait for a shared file's lock ended.
struct LockWait {
  enum class End { Locked, Aborted, TimedOut, Failed };
  End end = End::Locked;
  int error = 0;  // Failed: the system's error number
  explicit operator bool() const { return end == End::Locked; }
};

// A small file that processes and threads share by taking turns under an advisory lock
// on the whole file: a record every board appends to, the file of serial numbers. A
// regular file (or, when asked, a new one), opened without waiting.
class SharedFile {
 public:
  SharedFile() = default;
  ~SharedFile() { Close(); }
  SharedFile(const SharedFile&) = delete;
  SharedFile& operator=(const SharedFile&) = delete;

  // create: a missing file is made (mode as for any new file); else it must exist.
  FileProblem Open(const std::string& path, bool create);
  bool IsOpen() const;
  void Close();
  // The exclusive lock, tried until it comes, the abort request is set or timeoutMs
  // have passed. Once locked, the path must still name the file that is locked: a file
  // replaced meanwhile (by another korvane-cli's ReplaceWhole, an editor, a restore) is
  // opened anew and locked instead, so that the lock always guards what the path names.
  // Held until Unlock (or Close).
  LockWait Lock(int timeoutMs, const AbortFlag* abort);
  void Unlock();
  // Under the lock: the whole file (its first `most` bytes at most); the whole file replaced by
  // text (written into a new file beside it, flushed to the disk, renamed over it and the folder
  // flushed: a crash or a full disk leaves the old content or the new, never a mix); text added at
  // its end in one write and flushed to the disk, the file cut back to its old size when the write
  // fails, so that it holds the text whole or not at all.
  FileProblem ReadAll(std::string* text, size_t most = SIZE_MAX);
  FileProblem ReplaceWhole(const std::string& text);
  FileProblem Append(const std::string& text);
  // The file's size now, in bytes; false when the system cannot tell.
  bool Size(uint64_t* size) const;
  // Under the lock: the file's last byte; false for an empty file or one that cannot be
  // read.
  bool LastByte(char* byte);
  const std::string& path() const { return path_; }

 private:
  // Whether path_ still names the open file.
  bool StillAtPath() const;

  std::string path_;
  bool create_ = false;
#ifdef _WIN32
  // Windows replaces no file that any program holds open, so the lock is taken on a file
  // of its own beside it (PATH.lock, never replaced), and the file itself is opened only
  // while the lock is held.
  void* handle_ = nullptr;
  void* lock_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Makes a new file at path holding text, written and flushed whole before it appears
// there; a path that names something already is left alone (CannotReplace, with the
// system's "file exists").
FileProblem CreateWhole(const std::string& path, const std::string& text);

// For the platforms' SharedFile::Lock: whether a wait for a lock the file's holder keeps
// is over, the abort request set or the time up (*wait says which).
bool LockWaitOver(std::chrono::steady_clock::time_point until, const AbortFlag* abort,
                  LockWait* wait);

// Whether two paths name the same existing file (links followed).
bool SameFile(const std::string& a, const std::string& b);

// The system's text for an error number, safe from any thread.
std::string SystemErrorText(int error);

// The problem in English, for korvane-sim and the logs: "is a FIFO, not a regular file".
std::string DescribeInEnglish(const FileProblem& problem);

}  // namespace korvane
