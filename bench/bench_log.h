// The record of a production bench (--log FILE): one line per board and attempt, JSON
// Lines, or CSV with a header line for a FILE whose name ends in ".csv". Every line is
// added in one write under a lock on FILE, so that the boards of one run and several
// korvane-cli on one bench never mix their lines.
#pragma once

#include <array>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bench/lock_waits.h"
#include "common/safe_files.h"
#include "job/outcome.h"

namespace korvane::bench {

// One board's attempt as the record keeps it. Fields the attempt did not reach (the part
// before J, the unique ID of boot code without N) stay empty: null in JSON, an empty cell
// in CSV.
struct BoardRecord {
  std::chrono::system_clock::time_point time;  // when the attempt began
  std::string host;
  std::string operation;  // "write", "info", "erase", "read"
  std::string port;       // as given ("sim1" for the first of several simulated boards)
  std::string device;
  std::string adapter;  // "0403:6001 A50285BI": USB vendor:product and serial number
  std::optional<ChipIdentity> chip;
  std::string station;  // --station-name, else the host's name
  std::string version;  // korvane-cli's
  std::string file;
  std::string fileSha256;   // of the image as read from file: the same for every board
  std::string imageSha256;  // of the image as written, its serial number included
  std::optional<uint64_t> imageBytes;
  std::optional<uint64_t> serial;
  std::string serialState;  // "written", "spent", "given_back"
  uint32_t baud = 0;
  bool verify = false;
  int attempt = 1;
  JobResult result;
  double seconds = 0;
};

// The fields in their order: the CSV header's names, and the JSON keys.
extern const std::vector<const char*> kRecordFields;

// A chip's unique ID as the record writes it: 32 hex digits, the words in the order N
// gives them.
std::string UidText(const std::array<uint32_t, 4>& uid);

// "2026-12-11T08:09:52.123Z".
std::string IsoTimeUtc(std::chrono::system_clock::time_point time);

// The record's values by field, as text (strings unquoted), null fields left out.
std::map<std::string, std::string> RecordValues(const BoardRecord& record);
// One line, with its line end.
std::string RecordJson(const BoardRecord& record);
std::string RecordCsv(const BoardRecord& record);
std::string RecordCsvHeader();

// A line of the log read back: field name to value (a JSON string unquoted, a CSV cell
// as it stands); false for a line that is no record.
bool ParseJsonRecord(const std::string& line, std::map<std::string, std::string>* fields);
bool ParseCsvLine(const std::string& line, std::vector<std::string>* cells);

class BenchLog {
 public:
  // Opens FILE for adding records (created when missing) and reads what it holds: the
  // usage error when FILE is one of others (the numbers' file, the image) or holds
  // something else than this format's records (CSV for a name ending in .csv, else JSON
  // Lines); empty when it can be used.
  std::string Open(const std::string& path, const std::vector<std::string>& others,
                   LockWaits* waits, const AbortFlag* abort);
  bool IsOpen() const { return file_.IsOpen(); }
  bool csv() const { return csv_; }
  // Adds the record whole, or not at all; false with *error when it was not written.
  bool Append(const BoardRecord& record, const AbortFlag* abort, std::string* error);
  // Reads the log for the serial number each unique ID's last written board got, into
  // *kept: empty, or the usage error.
  std::string KeptSerials(const AbortFlag* abort, std::map<std::string, uint64_t>* kept);

 private:
  std::mutex mutex_;  // the boards of one run share the file
  SharedFile file_;
  bool csv_ = false;
  LockWaits* waits_ = nullptr;
};

}  // namespace korvane::bench
