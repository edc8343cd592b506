#include "cli/bench.h"

#include <algorithm>

#include "common/host_name.h"
#include "common/sha256.h"

namespace korvane::cli {

void BoardAttempt::Begin(int number) {
  attempt = number;
  began = std::chrono::system_clock::now();
  steadyBegan = std::chrono::steady_clock::now();
  serial.reset();
  serialFromFile = false;
  image.clear();
}

std::string Bench::Open(const Options& options) {
  options_ = &options;
  host_ = HostName();
  if (!options.logTo.empty()) {
    const std::string problem = log_.Open(options.logTo);
    if (!problem.empty()) return problem;
  }
  if (options.serial) {
    const SerialField& field = *options.serial;
    SerialState state;
    const std::string problem = pool_.Open(options.serialFile, options.serialStart, &state);
    if (!problem.empty()) return problem;
    if (state.NextTaken() > field.Largest()) {
      return "--serial " + field.FormatName() + ": the next number in " + options.serialFile +
             ", " + std::to_string(state.NextTaken()) + ", does not fit the field (at most " +
             std::to_string(field.Largest()) + ")";
    }
    field_ = field;
  }
  return "";
}

std::string Bench::UseImage(const std::string& file, Input* input) {
  file_ = file;
  if (field_) {
    const std::string problem = SerialFieldProblem(*field_, input->read.image, input->read.hasData,
                                                   options_->LargestFlash());
    if (!problem.empty()) return problem;
    MakeRoomForSerial(*field_, &input->read.image, &input->read.hasData);
  }
  image_ = &input->read.image;
  imageSha256_ = Logging() ? Sha256Hex(image_->data(), image_->size()) : "";
  return "";
}

const std::vector<uint8_t>& Bench::ImageOf(const BoardAttempt& attempt) const {
  static const std::vector<uint8_t> kNone;
  if (!attempt.image.empty()) return attempt.image;
  return image_ != nullptr ? *image_ : kNone;
}

JobOptions Bench::ForAttempt(const JobOptions& job, BoardAttempt* attempt) {
  JobOptions own = job;
  if (Logging()) own.session.identify = true;
  if (!Numbering()) return own;
  own.write.personalize = [this, attempt](const ChipSession& session,
                                          std::vector<uint8_t>* image) -> JobResult {
    JobResult failed(JobOutcome::SerialNumberFailed);
    failed.file = options_->serialFile;
    uint64_t number = 0;
    bool kept = false;
    // A board the log knows keeps its number (--serial-keep), when its boot code tells
    // its unique ID.
    const std::optional<ChipIdentity>& chip = session.identity();
    if (options_->serialKeep && chip && chip->uid) {
      std::string error;
      const std::optional<uint64_t> known = log_.SerialOfUid(UidText(*chip->uid), &error);
      if (!error.empty()) {
        failed.file = options_->logTo;
        failed.systemError = error;
        return failed;
      }
      if (known && *known <= field_->Largest()) {
        number = *known;
        kept = true;
      }
    }
    if (!kept) {
      if (!pool_.Take(field_->Largest(), session.observer().abort, &number, &failed.systemError))
        return failed;
      attempt->serialFromFile = true;
    }
    attempt->serial = number;
    const std::vector<uint8_t> bytes = field_->Bytes(number);
    std::copy(bytes.begin(), bytes.end(),
              image->begin() + static_cast<std::ptrdiff_t>(field_->address));
    attempt->image = *image;
    return JobOutcome::Success;
  };
  return own;
}

std::string Bench::Ended(const BoardAttempt& attempt, const JobResult& result,
                         const std::string& operation) {
  std::string messages;
  std::string error;
  if (attempt.serial && attempt.serialFromFile && !result.Succeeded() &&
      !pool_.GiveBack(*attempt.serial, &error)) {
    messages += "korvane-cli: " + attempt.port + ": serial number " +
                std::to_string(*attempt.serial) + " could not be given back to " +
                options_->serialFile + ": " + error + "\n";
  }
  if (!Logging()) return messages;
  BoardRecord record;
  record.time = attempt.began;
  record.host = host_;
  record.operation = operation;
  record.port = attempt.port;
  record.device = attempt.device;
  record.adapter = attempt.adapter;
  record.chip = result.chip;
  if (operation == "write") {
    record.file = file_;
    record.imageSha256 = attempt.image.empty()
                             ? imageSha256_
                             : Sha256Hex(attempt.image.data(), attempt.image.size());
    record.imageBytes = ImageOf(attempt).size();
    record.verify = options_->verify;
  }
  record.serial = attempt.serial;
  record.baud = options_->transferBaud;
  record.attempt = attempt.attempt;
  record.result = result;
  record.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - attempt.steadyBegan).count();
  if (!log_.Append(record, &error)) messages += "korvane-cli: --log: " + error + "\n";
  return messages;
}

}  // namespace korvane::cli
