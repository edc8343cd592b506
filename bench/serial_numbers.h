// Serial numbers for a production bench: where a board's number goes in its image
// (--serial ADDR:FORMAT), and the file of numbers boards take them from
// (--serial-file), shared under a lock by every board and every korvane-cli on it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bench/lock_waits.h"
#include "common/abort_flag.h"
#include "common/safe_files.h"

namespace korvane::bench {

// Where and how a board's number is written into its image.
struct SerialField {
  enum class Kind { U32Le, U32Be, Decimal, Hex };
  uint32_t address = 0;
  Kind kind = Kind::U32Le;
  unsigned digits = 0;  // Decimal, Hex: the field's characters

  // The field's bytes.
  uint32_t Width() const;
  // The largest number the field holds.
  uint64_t Largest() const;
  // "u32le", "dec:8", ...
  std::string FormatName() const;
  // The number's bytes in the field (number <= Largest()).
  std::vector<uint8_t> Bytes(uint64_t number) const;
};

// "ADDR:FORMAT" (ADDR decimal or 0x hexadecimal; FORMAT u32le, u32be, dec:N or hex:N):
// stored in *field, or the usage error.
std::string ParseSerialField(const std::string& text, SerialField* field);

// Why the field cannot go into image (hasData per byte) on a flash of flashSize bytes:
// outside the flash, a u32 not on a word, over the vector table or the code read
// protection word, or over bytes of the image other than 0xFF. Empty when it can.
std::string SerialFieldProblem(const SerialField& field, const std::vector<uint8_t>& image,
                               const std::vector<bool>& hasData, uint32_t flashSize);

// The image grown (0xFF) to hold the field, the field's bytes marked as data, so that
// the plan of the write takes in its sector.
void MakeRoomForSerial(const SerialField& field, std::vector<uint8_t>* image,
                       std::vector<bool>* hasData);

// The state a file of serial numbers holds: the number it was started at, the next
// number never taken, and the numbers boards took and gave back; and what the file holds
// besides them (its comment lines, a UTF-8 byte-order mark), kept through every rewrite.
struct SerialState {
  uint64_t start = 0;
  uint64_t next = 0;
  std::set<uint64_t> givenBack;
  std::vector<std::string> comments;  // "# ..." and blank lines, in their order
  bool byteOrderMark = false;
  // The number the next board takes: the lowest given back, else next.
  uint64_t NextTaken() const { return givenBack.empty() ? next : *givenBack.begin(); }
};

// A new file's state, started at start, with the comment that says what the lines mean.
SerialState NewSerialState(uint64_t start);

// The file's text, and back; false (with *error) for a text that is not one: a line that
// is not "start N", "next N", "back N" or a comment, no next or two of them, two starts,
// a number given back twice, below start or at or after next, a last line without its
// line end, a number past 2^64 - 1.
std::string SerialStateText(const SerialState& state);
bool ParseSerialState(const std::string& text, SerialState* state, std::string* error);

// The file of numbers. Each take and each give-back holds the file's lock while it reads
// the file, changes it and writes it anew (a new file renamed over the old one), so that
// no number reaches two boards, from one korvane-cli or from several on one bench, and no
// crash or full disk leaves the file half written.
class SerialPool {
 public:
  // Opens the file and reads it (into *found, when given). It must exist, unless start
  // is given and it is missing: then nothing is created yet (Create does it, once every
  // check of the command has passed). A file that exists is taken with start only when it
  // was started at that number; an empty one is refused. The usage error, or empty.
  std::string Open(const std::string& path, std::optional<uint64_t> start, LockWaits* waits,
                   const AbortFlag* abort, SerialState* found = nullptr);
  // Makes the file Open found missing (nothing to do for one that exists): the usage
  // error, or empty. Made meanwhile by another korvane-cli, it is taken as Open takes it.
  std::string Create(const AbortFlag* abort);
  // The next number for a board, which must fit in `largest`, passing over the numbers
  // reserved for other boards (--serial-keep); false with *error when the file cannot be
  // used or the number would not fit.
  bool Take(uint64_t largest, const AbortFlag* abort, uint64_t* number, std::string* error,
            const std::set<uint64_t>& reserved = {});
  // A number a board keeps (--serial-keep): never handed to another board, so it leaves
  // the numbers given back, and next moves beyond it.
  bool Keep(uint64_t number, const AbortFlag* abort, std::string* error);
  // A number that cannot be on any board goes back to the file.
  bool GiveBack(uint64_t number, const AbortFlag* abort, std::string* error);
  const std::string& path() const { return path_; }

 private:
  // Under the lock: reads the state, lets change modify it (false: nothing to write)
  // and writes it anew. finishing: see LockWaits::Wait.
  template <typename Change>
  bool Update(const AbortFlag* abort, bool finishing, std::string* error, Change change);

  std::mutex mutex_;  // the boards of one run share the file and its lock
  SharedFile file_;
  std::string path_;
  std::optional<uint64_t> createAt_;  // Open found no file: made at this number by Create
  LockWaits* waits_ = nullptr;
};

}  // namespace korvane::bench
