#include "bench/bench_log.h"

#include <cstdio>
#include <sstream>

#include "bench/serial_numbers.h"
#include "common/hex.h"

namespace korvane::bench {

const std::vector<const char*> kRecordFields = {
    "time",
    "host",
    "station",
    "version",
    "operation",
    "port",
    "device",
    "adapter",
    "part",
    "part_id",
    "boot_code",
    "uid",
    "file",
    "file_sha256",
    "image_sha256",
    "image_bytes",
    "serial",
    "serial_state",
    "baud",
    "verify",
    "attempt",
    "result",
    "command",
    "return_code",
    "return_code_name",
    "seconds",
    "handshake_seconds",
    "erase_seconds",
    "write_seconds",
    "verify_seconds",
    "read_seconds",
};

namespace {

// The fields whose values are numbers or true/false in JSON; the rest are strings.
bool IsNumberField(const std::string& name) {
  return name == "image_bytes" || name == "serial" || name == "baud" || name == "verify" ||
         name == "attempt" || name == "return_code" || name == "seconds" ||
         (name.size() > 8 && name.compare(name.size() - 8, 8, "_seconds") == 0);
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds < 0 ? 0.0 : seconds);
  return text;
}

// The length of the UTF-8 sequence at text[at], or 0 when none begins there (a stray
// continuation byte, an overlong form, a surrogate, past U+10FFFF, cut short).
size_t Utf8Length(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  uint32_t point = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07u;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0u) != 0x80u) return 0;
    point = (point << 6) | (byte(at + i) & 0x3Fu);
  }
  if ((length == 3 && point < 0x800) || (length == 4 && point < 0x10000) || point > 0x10FFFF ||
      (point >= 0xD800 && point <= 0xDFFF))
    return 0;
  return length;
}

// A JSON string, always valid UTF-8: a byte that is not part of a UTF-8 sequence (a file
// name in another encoding) is written as the character of the same number, \u0080 to
// \u00FF, so that the name can be recovered byte for byte.
std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (size_t at = 0; at < text.size();) {
    const char c = text[at];
    const auto byte = static_cast<unsigned char>(c);
    const size_t length = Utf8Length(text, at);
    if (length > 1) {
      quoted.append(text, at, length);
      at += length;
      continue;
    }
    ++at;
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (c == '\t') {
      quoted += "\\t";
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// A CSV cell. One that a spreadsheet would take for a formula (=, +, -, @, a tab or a
// carriage return first) gets an apostrophe before it, the common guard.
std::string CsvCell(const std::string& text) {
  std::string cell = text;
  if (!cell.empty() && std::string("=+-@\t\r").find(cell[0]) != std::string::npos)
    cell = "'" + cell;
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string quoted = "\"";
  for (const char c : cell) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

bool EndsWithCsv(const std::string& path) {
  if (path.size() < 4) return false;
  std::string end = path.substr(path.size() - 4);
  for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return end == ".csv";
}

}  // namespace

std::string UidText(const std::array<uint32_t, 4>& uid) {
  std::string text;
  for (const uint32_t word : uid) text += Hex(word).substr(2);
  return text;
}

std::string IsoTimeUtc(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
  int64_t days = ms / 86400000;
  int64_t rest = ms % 86400000;
  if (rest < 0) {
    rest += 86400000;
    --days;
  }
  // Days since 1970-01-01 to a civil date (proleptic Gregorian).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(rest / 3600000),
                static_cast<long long>(rest / 60000 % 60), static_cast<long long>(rest / 1000 % 60),
                static_cast<long long>(rest % 1000));
  return text;
}

std::map<std::string, std::string> RecordValues(const BoardRecord& record) {
  std::map<std::string, std::string> values;
  values["time"] = IsoTimeUtc(record.time);
  values["host"] = record.host;
  if (!record.station.empty()) values["station"] = record.station;
  if (!record.version.empty()) values["version"] = record.version;
  values["operation"] = record.operation;
  values["port"] = record.port;
  values["device"] = record.device;
  values["adapter"] = record.adapter;
  const JobResult& result = record.result;
  if (record.chip && record.chip->part) {
    values["part"] = record.chip->part->name;
    values["part_id"] = Hex(record.chip->partId);
    if (record.chip->bootCode) {
      values["boot_code"] = std::to_string((*record.chip->bootCode)[0]) + "." +
                            std::to_string((*record.chip->bootCode)[1]);
    }
    if (record.chip->uid) values["uid"] = UidText(*record.chip->uid);
  } else if (result.partId) {
    // A chip the run does not take: its ID as read.
    values["part_id"] = Hex(*result.partId);
    if (result.foundPart) values["part"] = result.foundPart->name;
  }
  if (!record.file.empty()) values["file"] = record.file;
  if (!record.fileSha256.empty()) values["file_sha256"] = record.fileSha256;
  if (!record.imageSha256.empty()) values["image_sha256"] = record.imageSha256;
  if (record.imageBytes) values["image_bytes"] = std::to_string(*record.imageBytes);
  if (record.serial) values["serial"] = std::to_string(*record.serial);
  if (!record.serialState.empty()) values["serial_state"] = record.serialState;
  values["baud"] = std::to_string(record.baud);
  values["verify"] = record.verify ? "true" : "false";
  values["attempt"] = std::to_string(record.attempt);
  values["result"] = result.Succeeded()          ? "ok"
                     : result.NoAnswerToPartId() ? "no_answer"
                                                 : OutcomeName(result.outcome);
  if (!result.Succeeded() && !result.isp.command.empty()) values["command"] = result.isp.command;
  if (!result.Succeeded() && result.isp.status == IspStatus::Refused) {
    values["return_code"] = std::to_string(result.isp.code);
    if (const char* name = ReturnCodeName(result.isp.code)) values["return_code_name"] = name;
  }
  values["seconds"] = Seconds(record.seconds);
  values["handshake_seconds"] = Seconds(result.times.handshake);
  values["erase_seconds"] = Seconds(result.times.erase);
  // A read spends its transfer reading.
  const bool read = record.operation == "read";
  values["write_seconds"] = Seconds(read ? 0 : result.times.write);
  values["verify_seconds"] = Seconds(result.times.verify);
  values["read_seconds"] = Seconds(read ? result.times.write : 0);
  return values;
}

std::string RecordJson(const BoardRecord& record) {
  const std::map<std::string, std::string> values = RecordValues(record);
  std::string line = "{";
  for (const char* field : kRecordFields) {
    const auto value = values.find(field);
    line += (line.size() > 1 ? "," : "") + JsonString(field) + ":";
    if (value == values.end()) {
      line += "null";
    } else {
      line += IsNumberField(field) ? value->second : JsonString(value->second);
    }
  }
  return line + "}\n";
}

std::string RecordCsvHeader() {
  std::string line;
  for (const char* field : kRecordFields) line += (line.empty() ? "" : ",") + std::string(field);
  return line + "\n";
}

std::string RecordCsv(const BoardRecord& record) {
  const std::map<std::string, std::string> values = RecordValues(record);
  std::string line;
  bool first = true;
  for (const char* field : kRecordFields) {
    const auto value = values.find(field);
    line += (first ? "" : ",") + (value == values.end() ? "" : CsvCell(value->second));
    first = false;
  }
  return line + "\n";
}

bool ParseJsonRecord(const std::string& line, std::map<std::string, std::string>* fields) {
  // The records' own shape: one flat object of strings, numbers, true, false and null.
  fields->clear();
  size_t at = 0;
  const auto space = [&] {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
  };
  const auto string = [&](std::string* out) {
    if (at >= line.size() || line[at] != '"') return false;
    for (++at; at < line.size(); ++at) {
      char c = line[at];
      if (c == '"') {
        ++at;
        return true;
      }
      if (c == '\\') {
        if (++at >= line.size()) return false;
        c = line[at];
        if (c == 'n')
          c = '\n';
        else if (c == 'r')
          c = '\r';
        else if (c == 't')
          c = '\t';
        else if (c == 'u') {
          if (at + 4 >= line.size()) return false;
          const std::string digits = line.substr(at + 1, 4);
          if (digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
          c = static_cast<char>(std::stoi(digits, nullptr, 16));
          at += 4;
        }
      }
      *out += c;
    }
    return false;
  };
  space();
  if (at >= line.size() || line[at++] != '{') return false;
  for (;;) {
    space();
    std::string key, value;
    if (!string(&key)) return false;
    space();
    if (at >= line.size() || line[at++] != ':') return false;
    space();
    if (at < line.size() && line[at] == '"') {
      if (!string(&value)) return false;
      (*fields)[key] = value;
    } else {
      const size_t end = line.find_first_of(",}", at);
      if (end == std::string::npos) return false;
      value = line.substr(at, end - at);
      while (!value.empty() && value.back() == ' ') value.pop_back();
      if (value != "null") (*fields)[key] = value;
      at = end;
    }
    space();
    if (at >= line.size()) return false;
    if (line[at] == '}') return true;
    if (line[at++] != ',') return false;
  }
}

bool ParseCsvLine(const std::string& line, std::vector<std::string>* cells) {
  cells->assign(1, "");
  bool quoted = false;
  for (size_t at = 0; at < line.size(); ++at) {
    const char c = line[at];
    if (quoted) {
      if (c == '"' && at + 1 < line.size() && line[at + 1] == '"') {
        cells->back() += '"';
        ++at;
      } else if (c == '"') {
        quoted = false;
      } else {
        cells->back() += c;
      }
    } else if (c == '"' && cells->back().empty()) {
      quoted = true;
    } else if (c == ',') {
      cells->emplace_back();
    } else if (c != '\r') {
      cells->back() += c;
    }
  }
  return !quoted;
}

namespace {

// More than any record line: what is read of a log to see its first line.
constexpr size_t kFirstLineMost = 64 * 1024;

// Whether text, a log's content, is in the format its name says: empty; for CSV,
// Korvane's header first; for JSON Lines, a record first. The first line decides.
std::string FormatProblem(const std::string& text, bool csv) {
  if (text.empty()) return "";
  const std::string first = text.substr(0, text.find('\n'));
  std::string header = RecordCsvHeader();
  header.pop_back();
  const std::string line =
      !first.empty() && first.back() == '\r' ? first.substr(0, first.size() - 1) : first;
  std::map<std::string, std::string> fields;
  if (csv) {
    if (line == header) return "";
    if (line.rfind("time,host,", 0) == 0)
      return "its header is not this korvane-cli's: its columns are other fields (a log of "
             "another version); name a new log";
    return "it is not a CSV log of korvane-cli (its first line is not the header " +
           header.substr(0, 30) + "...)";
  }
  if (ParseJsonRecord(line, &fields) && fields.count("time") != 0) return "";
  return "it is not a JSON Lines log of korvane-cli (its first line is not a record); a "
         "name ending in .csv makes a CSV log";
}

}  // namespace

std::string BenchLog::Open(const std::string& path, const std::vector<std::string>& others,
                           LockWaits* waits, const AbortFlag* abort) {
  waits_ = waits;
  csv_ = EndsWithCsv(path);
  for (const std::string& other : others) {
    if (!other.empty() && (other == path || SameFile(other, path)))
      return "--log " + path + ": that is " + other + ", which the run reads; name another file";
  }
  const FileProblem problem = file_.Open(path, true);
  if (problem) return "--log: " + DescribeInEnglish(problem);
  const LockWait wait = waits_->Wait(file_, abort);
  if (!wait) return "--log: " + LockWaitProblem(path, wait);
  // Its first line tells its format: the start of the file is enough.
  std::string text;
  const FileProblem failed = file_.ReadAll(&text, kFirstLineMost);
  file_.Unlock();
  if (failed) return "--log: " + DescribeInEnglish(failed);
  const std::string mismatch = FormatProblem(text, csv_);
  if (!mismatch.empty()) return "--log " + path + ": " + mismatch;
  return "";
}

bool BenchLog::Append(const BoardRecord& record, const AbortFlag* abort, std::string* error) {
  std::lock_guard<std::mutex> held(mutex_);
  const LockWait wait = waits_->Wait(file_, abort, true);
  if (!wait) {
    *error =
        LockWaitProblem(file_.path(), wait) + "; the record of " + record.port + " was not written";
    return false;
  }
  std::string line = csv_ ? RecordCsv(record) : RecordJson(record);
  uint64_t size = 0;
  char last = '\n';
  if (file_.Size(&size) && size == 0) {
    // The header once, at the start of an empty file.
    if (csv_) line = RecordCsvHeader() + line;
  } else if (file_.LastByte(&last) && last != '\n') {
    // A line another program left without its end: the record starts a line of its own.
    line = "\n" + line;
  }
  const FileProblem problem = file_.Append(line);
  file_.Unlock();
  if (problem) {
    *error = DescribeInEnglish(problem) + "; the record of " + record.port + " was not written";
    return false;
  }
  return true;
}

std::string BenchLog::KeptSerials(const AbortFlag* abort, std::map<std::string, uint64_t>* kept) {
  std::string text;
  {
    std::lock_guard<std::mutex> held(mutex_);
    const LockWait wait = waits_->Wait(file_, abort);
    if (!wait) return "--log: " + LockWaitProblem(file_.path(), wait);
    const FileProblem failed = file_.ReadAll(&text);
    file_.Unlock();
    if (failed) return "--log: " + DescribeInEnglish(failed);
  }
  kept->clear();
  std::istringstream lines(text);
  std::string line;
  std::vector<std::string> header;
  while (std::getline(lines, line)) {
    std::map<std::string, std::string> fields;
    if (csv_) {
      std::vector<std::string> cells;
      if (!ParseCsvLine(line, &cells)) continue;
      if (header.empty() || (!cells.empty() && cells[0] == "time")) {
        header = cells;
        continue;
      }
      for (size_t i = 0; i < cells.size() && i < header.size(); ++i)
        if (!cells[i].empty()) fields[header[i]] = cells[i];
    } else if (!ParseJsonRecord(line, &fields)) {
      continue;
    }
    const auto serial = fields.find("serial");
    const bool written = fields["result"] == "ok" || fields["serial_state"] == "written";
    if (fields["operation"] == "write" && written && !fields["uid"].empty() &&
        serial != fields.end() && !serial->second.empty() && serial->second.size() <= 19 &&
        serial->second.find_first_not_of("0123456789") == std::string::npos) {
      (*kept)[fields["uid"]] = std::stoull(serial->second);
    }
  }
  return "";
}

}  // namespace korvane::bench
