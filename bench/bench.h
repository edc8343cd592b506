// What the production bench keeps around the chip operations it runs: the record of each
// board and attempt (--log) and each board's serial number (--serial, taken from
// --serial-file once the chip is known, and given back only when the write's copies show
// that it cannot be on the board).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_log.h"
#include "bench/lock_waits.h"
#include "bench/serial_numbers.h"
#include "common/abort_flag.h"
#include "job/write_bin_file.h"

namespace korvane::bench {

// What the bench is asked to keep.
struct BenchSettings {
  std::string logTo;                    // the log; empty: none
  std::optional<SerialField> serial;    // where each board's number goes; none: no numbers
  std::string serialFile;               // where the numbers come from
  std::optional<uint64_t> serialStart;  // a missing serialFile is started at this number
  bool serialKeep = false;              // a board the log knows keeps its number
  std::string imageFile;                // FILE, which the log must not be
  bool verify = false;                  // the records' verify field
  uint32_t transferBaud = 0;            // the records' baud field
  uint32_t largestFlash = 0;            // the largest flash the chip may have
  std::vector<const MemoryMap*> maps;   // the memory of each part the chip may be
  std::string station;                  // the records' station field
  std::string version;                  // the records' version field
  const AbortFlag* abort = nullptr;     // the user's request to stop (Ctrl-C)
};

// One attempt of one board, as the bench follows it.
struct BoardAttempt {
  BoardAttempt() = default;
  BoardAttempt(std::string name, std::string deviceName, std::string usbAdapter)
      : port(std::move(name)), device(std::move(deviceName)), adapter(std::move(usbAdapter)) {}

  std::string port;     // as given (several simulated boards: "sim1", "sim2", ...)
  std::string device;   // what it stands for
  std::string adapter;  // its USB adapter, where the system tells
  // The package the board is known to be (a simulated one), which its chip's ID, shared
  // by the packages of a die, does not tell; null: as the chip tells.
  const Part* knownPart = nullptr;
  int attempt = 1;
  std::chrono::system_clock::time_point began;
  std::chrono::steady_clock::time_point steadyBegan;
  std::optional<uint64_t> serial;  // the number written into its image
  bool serialFromFile = false;     // taken from --serial-file (not kept from the log)
  std::string serialState;         // what became of it: "written", "spent", ...
  std::vector<uint8_t> image;      // the board's own image, once its number is in
  bool recorded = true;            // its record, when there is a log, was written
  // A number an attempt spent without writing the board: the retry of the same board
  // writes it again instead of spending another.
  std::optional<uint64_t> carried;
  bool carriedFromFile = false;

  // A new attempt, number `attempt`, beginning now.
  void Begin(int number);
};

class Bench {
 public:
  // Before any port is opened: opens the log and the file of numbers (checking that its
  // next number fits the field). Empty, or the usage error.
  std::string Open(const BenchSettings& settings);
  // The image the boards get, read from FILE, before any port is opened: the serial
  // number's field checked against it and the largest flash the chip may have, and room
  // made for it in the image; then, every check passed, a numbers' file that
  // --serial-start starts is made. Empty, or the usage error; *note (when given) tells a
  // sector that is erased only for the serial number.
  std::string UseImage(const std::string& file, std::vector<uint8_t>* image,
                       std::vector<bool>* hasData, std::string* note = nullptr);
  // The same image, now at another place (moved into the caller's input).
  void Rebind(const std::vector<uint8_t>* image) { image_ = image; }
  bool Logging() const { return log_.IsOpen(); }
  bool Numbering() const { return field_.has_value(); }
  const std::optional<SerialField>& field() const { return field_; }
  // A new run (a write, a station's round): the lock waits' bound counts again.
  void NewRun() { waits_.NewRun(); }

  // The options of one attempt: with --log the session asks for K and N too; with
  // --serial the write asks the bench for the board's number once the chip is known.
  JobOptions ForAttempt(const JobOptions& job, BoardAttempt* attempt);
  // After the attempt of an operation ("write", "info", "erase", "read"): what became
  // of the board's number (given back only when no copy may have put a byte of it into
  // flash), the record added. Empty, or a message for the console (the record or the
  // number could not be kept).
  std::string Ended(BoardAttempt& attempt, const JobResult& result, const std::string& operation);
  // The image the board got: its own, or the one image of the run.
  const std::vector<uint8_t>& ImageOf(const BoardAttempt& attempt) const;

 private:
  // The board's number, once its chip is known: the attempt before's, the one the log
  // keeps for its unique ID, or the next from the file.
  JobResult NumberFor(const ChipIdentity& chip, const AbortFlag* abort, BoardAttempt* attempt,
                      BoardBytes* bytes);
  std::string Record(const BoardAttempt& attempt, const JobResult& result,
                     const std::string& operation, const AbortFlag* abort);

  BenchSettings settings_;
  LockWaits waits_;
  BenchLog log_;
  SerialPool pool_;
  std::optional<SerialField> field_;
  std::string host_;
  const std::vector<uint8_t>* image_ = nullptr;
  std::string imageSha256_;
  std::string fileSha256_;
  std::string file_;  // the file the image was read from
  std::mutex keptMutex_;
  std::map<std::string, uint64_t> kept_;  // --serial-keep: unique ID to number
};

// "sector 7 (0x7000–0x7FFF) is erased for the serial number; the image does not use
// it" when the field lies in a sector of the map where the image has no other data;
// empty otherwise (or when the field is not within the map's flash).
std::string SerialOnlySectorNote(const SerialField& field, const std::vector<bool>& hasData,
                                 const MemoryMap& map);

}  // namespace korvane::bench
