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

#include "common/abort_flag.h"
#include "common/safe_files.h"

namespace korvane::cli {

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
// number never taken, and the numbers boards took and gave back.
struct SerialState {
  uint64_t start = 0;
  uint64_t next = 0;
  std::set<uint64_t> givenBack;
  // The number the next board takes: the lowest given back, else next.
  uint64_t NextTaken() const { return givenBack.empty() ? next : *givenBack.begin(); }
};

// The file's text, and back; false (with *error) for a text that is not one.
std::string SerialStateText(const SerialState& state);
bool ParseSerialState(const std::string& text, SerialState* state, std::string* error);

// The file of numbers. Each take and each give-back holds the file's lock while it reads
// the file, changes it and writes it back, so that no number reaches two boards, from
// one korvane-cli or from several on one bench.
class SerialPool {
 public:
  // Opens the file and reads it (into *found, when given): it must exist unless start is
  // given, which creates it (a file that exists already is taken when it was started at
  // the same number). The usage error, or empty.
  std::string Open(const std::string& path, std::optional<uint64_t> start,
                   SerialState* found = nullptr);
  // The next number for a board, which must fit in `largest`; false with *error when
  // the file cannot be used or the number would not fit.
  bool Take(uint64_t largest, const AbortFlag* abort, uint64_t* number, std::string* error);
  // A board that was not written gives its number back.
  bool GiveBack(uint64_t number, std::string* error);
  const std::string& path() const { return file_.path(); }

 private:
  // Under the lock: reads the state, lets change modify it (false: nothing to write)
  // and writes it back.
  template <typename Change>
  bool Update(const AbortFlag* abort, std::string* error, Change change);

  std::mutex mutex_;  // the boards of one run share the file and its lock
  SharedFile file_;
};

// The longest the lock of a shared file is waited for.
constexpr int kSharedFileLockMs = 10000;

}  // namespace korvane::cli
