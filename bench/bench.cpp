#include "bench/bench.h"

#include <algorithm>
#include <set>

#include "common/hex.h"
#include "common/host_name.h"
#include "common/sha256.h"

namespace korvane::bench {

void BoardAttempt::Begin(int number) {
  attempt = number;
  began = std::chrono::system_clock::now();
  steadyBegan = std::chrono::steady_clock::now();
  serial.reset();
  serialFromFile = false;
  serialState.clear();
  image.clear();
  recorded = true;
}

std::string SerialOnlySectorNote(const SerialField& field, const std::vector<bool>& hasData,
                                 const MemoryMap& map) {
  const uint32_t end = field.address + field.Width();
  if (end > map.flashSize) return "";
  const unsigned sector = map.SectorOf(field.address);
  const uint32_t first = map.SectorStart(sector);
  const uint32_t last = map.SectorStart(map.SectorOf(end - 1) + 1);
  for (uint32_t at = first; at < last && at < hasData.size(); ++at) {
    if (hasData[at] && (at < field.address || at >= end)) return "";
  }
  return "sector " + std::to_string(sector) + " (" + Hex(first, 4) + "\u2013" + Hex(last - 1, 4) +
         ") is erased for the serial number; the image does not use it";
}

namespace {

// The note for the parts the chip may be: each layout's own, where they differ.
std::string SerialOnlySectorNotes(const SerialField& field, const std::vector<bool>& hasData,
                                  const std::vector<const MemoryMap*>& maps) {
  std::vector<std::string> notes;
  for (const MemoryMap* map : maps) {
    const std::string note = SerialOnlySectorNote(field, hasData, *map);
    if (!note.empty() && std::find(notes.begin(), notes.end(), note) == notes.end())
      notes.push_back(note);
  }
  std::string text;
  for (const std::string& note : notes)
    text += (text.empty() ? "" : "; or, on other parts, ") + note;
  return text;
}

}  // namespace

std::string Bench::Open(const BenchSettings& settings) {
  settings_ = settings;
  host_ = HostName();
  if (settings_.station.empty()) settings_.station = host_;
  const AbortFlag* abort = settings.abort;
  if (settings.serial) {
    const SerialField& field = *settings.serial;
    SerialState state;
    const std::string problem =
        pool_.Open(settings.serialFile, settings.serialStart, &waits_, abort, &state);
    if (!problem.empty()) return problem;
    if (state.NextTaken() > field.Largest()) {
      return "--serial " + field.FormatName() + ": the next number in " + settings.serialFile +
             ", " + std::to_string(state.NextTaken()) + ", does not fit the field (at most " +
             std::to_string(field.Largest()) + ")";
    }
    field_ = field;
  }
  if (!settings.logTo.empty()) {
    const std::string problem =
        log_.Open(settings.logTo, {settings.serialFile, settings.imageFile}, &waits_, abort);
    if (!problem.empty()) return problem;
    if (settings.serialKeep) {
      const std::string unread = log_.KeptSerials(abort, &kept_);
      if (!unread.empty()) return unread;
    }
  }
  return "";
}

std::string Bench::UseImage(const std::string& file, std::vector<uint8_t>* image,
                            std::vector<bool>* hasData, std::string* note) {
  // The image as read, before any board's number: the same for every board of a build.
  const std::string fileSha256 = Logging() ? Sha256Hex(image->data(), image->size()) : "";
  if (field_) {
    const std::string problem =
        SerialFieldProblem(*field_, *image, *hasData, settings_.largestFlash);
    if (!problem.empty()) return problem;
    if (note != nullptr) {
      const std::vector<const MemoryMap*> maps =
          settings_.maps.empty() ? std::vector<const MemoryMap*>{&kLpc1114Map} : settings_.maps;
      *note = SerialOnlySectorNotes(*field_, *hasData, maps);
    }
    MakeRoomForSerial(*field_, image, hasData);
    const std::string created = pool_.Create(settings_.abort);
    if (!created.empty()) return created;
  }
  file_ = file;
  fileSha256_ = fileSha256;
  // With room made for a number the image differs from the file's; else it is the same.
  imageSha256_ = field_ && Logging() ? Sha256Hex(image->data(), image->size()) : fileSha256;
  image_ = image;
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
  const AbortFlag* abort = job.observer.abort;
  own.write.boardBytes = [this, attempt, abort](const ChipIdentity& chip, BoardBytes* bytes) {
    return NumberFor(chip, abort, attempt, bytes);
  };
  return own;
}

JobResult Bench::NumberFor(const ChipIdentity& chip, const AbortFlag* abort, BoardAttempt* attempt,
                           BoardBytes* bytes) {
  JobResult failed(JobOutcome::SerialNumberFailed);
  failed.file = settings_.serialFile;
  if (chip.part != nullptr &&
      field_->address + uint64_t{field_->Width()} > chip.part->map.flashSize) {
    failed.systemError = "the field (" + Hex(field_->address, 0) + " to " +
                         Hex(field_->address + field_->Width() - 1, 0) + ") lies beyond the " +
                         std::string(chip.part->name) + "'s flash (0 to " +
                         Hex(chip.part->map.flashSize - 1, 0) + "); no number was taken";
    return failed;
  }
  uint64_t number = 0;
  std::optional<uint64_t> known;
  if (settings_.serialKeep && chip.uid) {
    std::lock_guard<std::mutex> held(keptMutex_);
    const auto found = kept_.find(UidText(*chip.uid));
    if (found != kept_.end()) known = found->second;
  }
  if (attempt->carried) {
    number = *attempt->carried;
    attempt->serialFromFile = attempt->carriedFromFile;
  } else if (known) {
    // The board's own number: it must fit, and no other board may get it.
    if (*known > field_->Largest()) {
      failed.file = settings_.logTo;
      failed.systemError = "the number " + settings_.logTo + " keeps for this board (" +
                           UidText(*chip.uid) + "), " + std::to_string(*known) +
                           ", does not fit the field (at most " +
                           std::to_string(field_->Largest()) + ")";
      return failed;
    }
    if (!pool_.Keep(*known, abort, &failed.systemError)) return failed;
    number = *known;
    attempt->serialFromFile = false;
  } else {
    std::set<uint64_t> reserved;
    {
      std::lock_guard<std::mutex> held(keptMutex_);
      for (const auto& entry : kept_) reserved.insert(entry.second);
    }
    if (!pool_.Take(field_->Largest(), abort, &number, &failed.systemError, reserved))
      return failed;
    attempt->serialFromFile = true;
  }
  attempt->serial = number;
  bytes->address = field_->address;
  bytes->bytes = field_->Bytes(number);
  attempt->image = *image_;
  std::copy(bytes->bytes.begin(), bytes->bytes.end(),
            attempt->image.begin() + static_cast<std::ptrdiff_t>(bytes->address));
  return JobOutcome::Success;
}

std::string Bench::Ended(BoardAttempt& attempt, const JobResult& result,
                         const std::string& operation) {
  std::string messages;
  const AbortFlag* abort = settings_.abort;
  attempt.carried.reset();
  if (attempt.serial) {
    const uint64_t number = *attempt.serial;
    const bool mayBeOnBoard = result.MayHaveReachedFlash(field_->address, field_->Width());
    if (result.ProgramInFlash()) {
      attempt.serialState = "written";
      if (result.chip && result.chip->uid) {
        std::lock_guard<std::mutex> held(keptMutex_);
        kept_[UidText(*result.chip->uid)] = number;
      }
    } else if (mayBeOnBoard) {
      // A copy of its block may have reached the flash: never handed to another board.
      attempt.serialState = "spent";
      attempt.carried = number;
      attempt.carriedFromFile = attempt.serialFromFile;
    } else if (!attempt.serialFromFile) {
      attempt.serialState = "kept";  // the board's own number, still its own
    } else {
      std::string error;
      if (pool_.GiveBack(number, abort, &error)) {
        attempt.serialState = "given_back";
      } else {
        attempt.serialState = "spent";
        messages += "korvane-cli: " + attempt.port + ": serial number " + std::to_string(number) +
                    " could not be given back to " + settings_.serialFile + " (it is not used " +
                    "again): " + error + "\n";
      }
    }
  }
  if (Logging()) {
    const std::string trouble = Record(attempt, result, operation, abort);
    if (!trouble.empty()) {
      attempt.recorded = false;
      messages += trouble;
    }
  }
  return messages;
}

std::string Bench::Record(const BoardAttempt& attempt, const JobResult& result,
                          const std::string& operation, const AbortFlag* abort) {
  BoardRecord record;
  record.time = attempt.began;
  record.host = host_;
  record.station = settings_.station;
  record.version = settings_.version;
  record.operation = operation;
  record.port = attempt.port;
  record.device = attempt.device;
  record.adapter = attempt.adapter;
  record.chip = result.chip;
  record.result = result;
  if (record.chip && record.chip->part && attempt.knownPart != nullptr &&
      attempt.knownPart->HasId(record.chip->partId))
    record.chip->part = attempt.knownPart;
  // A chip the run does not take, of a die several packages share: the board's own, where
  // it is known.
  if (record.result.foundPart == nullptr && record.result.partId && attempt.knownPart != nullptr &&
      attempt.knownPart->HasId(*record.result.partId))
    record.result.foundPart = attempt.knownPart;
  if (operation == "write") {
    record.file = file_;
    record.fileSha256 = fileSha256_;
    record.imageSha256 = attempt.image.empty()
                             ? imageSha256_
                             : Sha256Hex(attempt.image.data(), attempt.image.size());
    record.imageBytes = ImageOf(attempt).size();
    record.verify = settings_.verify;
  }
  record.serial = attempt.serial;
  record.serialState = attempt.serialState;
  record.baud = settings_.transferBaud;
  record.attempt = attempt.attempt;
  record.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - attempt.steadyBegan).count();
  std::string error;
  if (!log_.Append(record, abort, &error)) return "korvane-cli: --log: " + error + "\n";
  return "";
}

}  // namespace korvane::bench
