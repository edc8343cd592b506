#include "bench/serial_numbers.h"

#include <algorithm>
#include <sstream>

#include <sys/stat.h>

#include "common/hex.h"
#include "common/parts.h"

namespace korvane::bench {

namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// A number in decimal, or hexadecimal after 0x; false for anything else or more than
// 64 bits.
bool ParseNumber(const std::string& text, uint64_t* value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > (hex ? 16u : 20u) ||
      digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
    return false;
  uint64_t result = 0;
  for (const char c : digits) {
    const uint64_t digit = c <= '9' ? uint64_t(c - '0') : uint64_t((c | 0x20) - 'a' + 10);
    const uint64_t base = hex ? 16 : 10;
    if (result > (UINT64_MAX - digit) / base) return false;
    result = result * base + digit;
  }
  *value = result;
  return true;
}

// The code read protection word's bytes.
constexpr uint32_t kCrpWord = 0x2FC;
// The vector table: entries 0 to 7, the checksum among them.
constexpr uint32_t kVectorTableEnd = 32;

}  // namespace

uint32_t SerialField::Width() const {
  return kind == Kind::U32Le || kind == Kind::U32Be ? 4 : digits;
}

uint64_t SerialField::Largest() const {
  switch (kind) {
    case Kind::U32Le:
    case Kind::U32Be:
      return 0xFFFFFFFFu;
    case Kind::Decimal: {
      uint64_t largest = 1;
      for (unsigned i = 0; i < digits && i < 19; ++i) largest *= 10;
      return digits >= 20 ? UINT64_MAX : largest - 1;
    }
    case Kind::Hex:
      return digits >= 16 ? UINT64_MAX : (uint64_t{1} << (4 * digits)) - 1;
  }
  return 0;
}

std::string SerialField::FormatName() const {
  switch (kind) {
    case Kind::U32Le:
      return "u32le";
    case Kind::U32Be:
      return "u32be";
    case Kind::Decimal:
      return "dec:" + std::to_string(digits);
    case Kind::Hex:
      return "hex:" + std::to_string(digits);
  }
  return "";
}

std::vector<uint8_t> SerialField::Bytes(uint64_t number) const {
  std::vector<uint8_t> bytes(Width());
  switch (kind) {
    case Kind::U32Le:
      for (int i = 0; i < 4; ++i) bytes[size_t(i)] = static_cast<uint8_t>(number >> (8 * i));
      break;
    case Kind::U32Be:
      for (int i = 0; i < 4; ++i) bytes[size_t(3 - i)] = static_cast<uint8_t>(number >> (8 * i));
      break;
    case Kind::Decimal:
    case Kind::Hex: {
      const uint64_t base = kind == Kind::Decimal ? 10 : 16;
      for (size_t i = bytes.size(); i-- > 0; number /= base)
        bytes[i] = static_cast<uint8_t>("0123456789ABCDEF"[number % base]);
      break;
    }
  }
  return bytes;
}

std::string ParseSerialField(const std::string& text, SerialField* field) {
  const std::string usage =
      "--serial takes ADDR:FORMAT (FORMAT u32le, u32be, dec:N or hex:N; such as 0x7FF0:u32le), "
      "not \"" +
      text + "\"";
  const size_t colon = text.find(':');
  uint64_t address = 0;
  if (colon == std::string::npos || !ParseNumber(text.substr(0, colon), &address) ||
      address > 0xFFFFFFFFu)
    return usage;
  const std::string format = text.substr(colon + 1);
  SerialField parsed;
  parsed.address = static_cast<uint32_t>(address);
  if (format == "u32le" || format == "u32be") {
    parsed.kind = format == "u32le" ? SerialField::Kind::U32Le : SerialField::Kind::U32Be;
  } else if (format.rfind("dec:", 0) == 0 || format.rfind("hex:", 0) == 0) {
    parsed.kind = format[0] == 'd' ? SerialField::Kind::Decimal : SerialField::Kind::Hex;
    const unsigned most = parsed.kind == SerialField::Kind::Decimal ? 20 : 16;
    uint64_t digits = 0;
    const std::string count = format.substr(4);
    if (count.find_first_not_of("0123456789") != std::string::npos ||
        !ParseNumber(count, &digits) || digits < 1 || digits > most) {
      return "--serial " + text + ": " + format.substr(0, 3) + ":N takes N from 1 to " +
             std::to_string(most) + " digits";
    }
    parsed.digits = static_cast<unsigned>(digits);
  } else {
    return usage;
  }
  *field = parsed;
  return "";
}

std::string SerialFieldProblem(const SerialField& field, const std::vector<uint8_t>& image,
                               const std::vector<bool>& hasData, uint32_t flashSize) {
  const uint64_t begin = field.address, end = begin + field.Width();
  const std::string where = "--serial " + Hex(field.address, 0) + ":" + field.FormatName() + ": ";
  if (end > flashSize) {
    return where + "the field (" + std::to_string(field.Width()) +
           " bytes) must lie within the flash (0 to " + Hex(flashSize - 1, 0) + ")";
  }
  if (field.Width() == 4 && field.address % 4 != 0 &&
      (field.kind == SerialField::Kind::U32Le || field.kind == SerialField::Kind::U32Be)) {
    return where + "a 32-bit number goes at an address that is a multiple of 4";
  }
  if (begin < kVectorTableEnd) {
    return where +
           "the field overlaps the vector table (0x0 to 0x1F), which the chip checks "
           "before it starts the program";
  }
  if (begin < kCrpWord + 4 && end > kCrpWord) {
    return where + "the field overlaps the code read protection word (0x2FC to 0x2FF)";
  }
  // (Within the flash, so within size_t.)
  for (size_t at = static_cast<size_t>(begin); at < end && at < image.size(); ++at) {
    if (hasData[at] && image[at] != 0xFF) {
      return where + "the field overlaps the image's own bytes at " +
             Hex(static_cast<uint32_t>(at), 0) +
             " (a serial number goes where the image leaves 0xFF)";
    }
  }
  return "";
}

void MakeRoomForSerial(const SerialField& field, std::vector<uint8_t>* image,
                       std::vector<bool>* hasData) {
  const size_t end = size_t{field.address} + field.Width();
  if (image->size() < end) {
    image->resize(end, 0xFF);
    hasData->resize(end, false);
  }
  std::fill(hasData->begin() + static_cast<std::ptrdiff_t>(field.address),
            hasData->begin() + static_cast<std::ptrdiff_t>(end), true);
}

SerialState NewSerialState(uint64_t start) {
  SerialState state;
  state.start = state.next = start;
  state.comments = {
      "# korvane-cli serial numbers: the number the file was started at, the next number",
      "# never taken, and each number a board took and gave back (it cannot be on a board)"};
  return state;
}

std::string SerialStateText(const SerialState& state) {
  std::string text = state.byteOrderMark ? "\xEF\xBB\xBF" : "";
  for (const std::string& comment : state.comments) text += comment + "\n";
  text += "start " + std::to_string(state.start) + "\nnext " + std::to_string(state.next) + "\n";
  for (const uint64_t number : state.givenBack) text += "back " + std::to_string(number) + "\n";
  return text;
}

bool ParseSerialState(const std::string& text, SerialState* state, std::string* error) {
  SerialState parsed;
  std::string body = text;
  if (body.rfind("\xEF\xBB\xBF", 0) == 0) {
    parsed.byteOrderMark = true;
    body.erase(0, 3);
  }
  if (!body.empty() && body.back() != '\n') {
    *error = "its last line has no line end (a write that stopped short?): " +
             body.substr(body.find_last_of('\n') + 1);
    return false;
  }
  bool start = false, next = false;
  std::istringstream lines(body);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = "line " + std::to_string(number) + " (" + line + ")";
    if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') {
      parsed.comments.push_back(line);
      continue;
    }
    const size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    uint64_t value = 0;
    if (space == std::string::npos || (key != "start" && key != "next" && key != "back") ||
        line.find_first_not_of("0123456789", space + 1) != std::string::npos) {
      *error = where + " is not \"start N\", \"next N\" or \"back N\"";
      return false;
    }
    if (!ParseNumber(line.substr(space + 1), &value)) {
      *error = where + ": the number is past 2^64 - 1 or missing";
      return false;
    }
    if ((key == "start" && start) || (key == "next" && next)) {
      *error = where + ": a second \"" + key + "\" line";
      return false;
    }
    if (key == "start") {
      parsed.start = value;
      start = true;
    } else if (key == "next") {
      parsed.next = value;
      next = true;
    } else if (!parsed.givenBack.insert(value).second) {
      *error = where + ": the number is given back twice";
      return false;
    }
  }
  if (!next) {
    *error = "it has no \"next N\" line";
    return false;
  }
  if (!start) parsed.start = parsed.next;
  if (parsed.start > parsed.next) {
    *error = "start (" + std::to_string(parsed.start) + ") is after next (" +
             std::to_string(parsed.next) + ")";
    return false;
  }
  for (const uint64_t back : parsed.givenBack) {
    if (back < parsed.start || back >= parsed.next) {
      *error = "a number given back (" + std::to_string(back) +
               ") was never taken from it (start " + std::to_string(parsed.start) + ", next " +
               std::to_string(parsed.next) + ")";
      return false;
    }
  }
  *state = parsed;
  return true;
}

template <typename Change>
bool SerialPool::Update(const AbortFlag* abort, bool finishing, std::string* error, Change change) {
  std::lock_guard<std::mutex> held(mutex_);
  const LockWait wait = waits_->Wait(file_, abort, finishing);
  if (!wait) {
    *error = LockWaitProblem(path_, wait);
    return false;
  }
  std::string text;
  SerialState state;
  FileProblem problem = file_.ReadAll(&text);
  bool done = !problem;
  if (!done) {
    *error = DescribeInEnglish(problem);
  } else if (!ParseSerialState(text, &state, error)) {
    *error = path_ + ": " + *error;
    done = false;
  } else if (change(state)) {
    problem = file_.ReplaceWhole(SerialStateText(state));
    if (problem) {
      *error = DescribeInEnglish(problem) + " (" + path_ + " is as it was)";
      done = false;
    }
  }
  file_.Unlock();
  return done;
}

std::string SerialPool::Open(const std::string& path, std::optional<uint64_t> start,
                             LockWaits* waits, const AbortFlag* abort, SerialState* found) {
  const std::string where = "--serial-file " + path + ": ";
  path_ = path;
  waits_ = waits;
  createAt_.reset();
  const FileProblem problem = file_.Open(path, false);
  if (problem) {
    const bool missing = problem.kind == FileProblem::Kind::CannotOpen && !Exists(path);
    if (missing && start) {
      // Made once every check has passed (Create).
      createAt_ = start;
      if (found != nullptr) *found = NewSerialState(*start);
      return "";
    }
    return "--serial-file: " + DescribeInEnglish(problem) +
           (missing ? " (--serial-start N creates it)" : "");
  }
  const LockWait wait = waits_->Wait(file_, abort);
  if (!wait) return where + LockWaitProblem(path, wait);
  std::string text, error;
  SerialState state;
  const FileProblem failed = file_.ReadAll(&text);
  file_.Unlock();
  if (failed) return "--serial-file: " + DescribeInEnglish(failed);
  if (text.empty()) {
    return where +
           "the file is empty; a file of numbers holds at least \"next N\" (a missing file is "
           "made by --serial-start N; an emptied one is not started again, so that no number "
           "is handed out twice)";
  }
  if (!ParseSerialState(text, &state, &error)) return where + error;
  if (start && state.start != *start) {
    return "--serial-start " + std::to_string(*start) + ": " + path + " was started at " +
           std::to_string(state.start) + " and goes on from " + std::to_string(state.NextTaken()) +
           "; leave out --serial-start to go on from it";
  }
  if (found != nullptr) *found = state;
  return "";
}

std::string SerialPool::Create(const AbortFlag* abort) {
  if (!createAt_) return "";
  const uint64_t start = *createAt_;
  const FileProblem made = CreateWhole(path_, SerialStateText(NewSerialState(start)));
  if (made && Exists(path_)) {
    // Another korvane-cli made it first: it is taken as any file that exists.
    SerialState state;
    return Open(path_, start, waits_, abort, &state);
  }
  if (made) return "--serial-file: " + DescribeInEnglish(made);
  createAt_.reset();
  const FileProblem problem = file_.Open(path_, false);
  return problem ? "--serial-file: " + DescribeInEnglish(problem) : "";
}

bool SerialPool::Take(uint64_t largest, const AbortFlag* abort, uint64_t* number,
                      std::string* error, const std::set<uint64_t>& reserved) {
  bool fits = true;
  const bool done = Update(abort, false, error, [&](SerialState& state) {
    // A number reserved for another board is never handed out: passed over, and out of
    // the numbers given back.
    while (reserved.count(state.NextTaken()) != 0 && state.NextTaken() < UINT64_MAX) {
      if (state.givenBack.erase(state.NextTaken()) == 0) ++state.next;
    }
    const uint64_t taken = state.NextTaken();
    // The last number of 64 bits is never handed out: next could not go beyond it.
    if (taken > largest || taken == UINT64_MAX) {
      fits = false;
      *error = "the next serial number, " + std::to_string(taken) +
               ", does not fit the field (at most " + std::to_string(largest) + ")";
      return false;
    }
    if (state.givenBack.erase(taken) == 0) state.next = taken + 1;
    *number = taken;
    return true;
  });
  return done && fits;
}

bool SerialPool::Keep(uint64_t number, const AbortFlag* abort, std::string* error) {
  bool fits = true;
  const bool done = Update(abort, false, error, [&](SerialState& state) {
    if (number == UINT64_MAX) {
      fits = false;
      *error = "the number kept for the board, " + std::to_string(number) + ", is the last one";
      return false;
    }
    bool changed = state.givenBack.erase(number) > 0;
    if (number >= state.next) {
      state.next = number + 1;
      changed = true;
    }
    return changed;
  });
  return done && fits;
}

bool SerialPool::GiveBack(uint64_t number, const AbortFlag* abort, std::string* error) {
  return Update(abort, true, error, [&](SerialState& state) {
    // Not from this file's range (a kept number from another file, say): nothing to do.
    if (number < state.start || number >= state.next) return false;
    return state.givenBack.insert(number).second;
  });
}

}  // namespace korvane::bench
