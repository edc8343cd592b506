// What korvane-cli keeps for a production bench, around the chip operations it runs: the
// record of each board and attempt (--log) and each board's serial number (--serial,
// taken from --serial-file when its write begins and given back when it ends unwritten).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/bench_log.h"
#include "cli/board_port.h"
#include "cli/input.h"
#include "cli/options.h"
#include "cli/serial_numbers.h"
#include "job/write_bin_file.h"

namespace korvane::cli {

// One attempt of one board, as the bench follows it.
struct BoardAttempt {
  BoardAttempt() = default;
  // The board behind a port, named as given.
  BoardAttempt(std::string name, const BoardPort& board)
      : port(std::move(name)), device(board.Device()), adapter(board.Adapter()) {}

  std::string port;     // as given (several simulated boards: "sim1", "sim2", ...)
  std::string device;   // what it stands for
  std::string adapter;  // its USB adapter, where the system tells
  int attempt = 1;
  std::chrono::system_clock::time_point began;
  std::chrono::steady_clock::time_point steadyBegan;
  std::optional<uint64_t> serial;  // the number written into its image
  bool serialFromFile = false;     // taken from --serial-file (not kept from the log)
  std::vector<uint8_t> image;      // the board's own image, once its number is in

  // A new attempt, number `attempt`, beginning now.
  void Begin(int number);
};

class Bench {
 public:
  // Before any port is opened: opens the log and the file of numbers (checking that its
  // next number fits the field). Empty, or the usage error.
  std::string Open(const Options& options);
  // The image the boards get, read from FILE, before any port is opened: the serial
  // number's field checked against it and the largest flash the chip may have, and room
  // made for it in the image. Empty, or the usage error.
  std::string UseImage(const std::string& file, Input* input);
  bool Logging() const { return log_.IsOpen(); }
  bool Numbering() const { return field_.has_value(); }
  const std::optional<SerialField>& field() const { return field_; }

  // The options of one attempt: with --log the session asks for K and N too; with
  // --serial the write puts the board's number into its own copy of the image.
  JobOptions ForAttempt(const JobOptions& job, BoardAttempt* attempt);
  // After the attempt of an operation ("write", "info", "erase", "read"): the board's
  // number given back unless it was written, the record added. Empty, or a message for
  // the console (the record or the number could not be kept).
  std::string Ended(const BoardAttempt& attempt, const JobResult& result,
                    const std::string& operation);
  // The image the board got: its own, or the one image of the run.
  const std::vector<uint8_t>& ImageOf(const BoardAttempt& attempt) const;

 private:
  const Options* options_ = nullptr;
  BenchLog log_;
  SerialPool pool_;
  std::optional<SerialField> field_;
  std::string host_;
  const std::vector<uint8_t>* image_ = nullptr;
  std::string imageSha256_;
  std::string file_;  // the file the image was read from
};

}  // namespace korvane::cli
