#include "sim/boot_loader.h"

#include "isp/image_checks.h"

#include "isp/uu_encode.h"

#include <algorithm>
#include <iterator>
#include <cstring>
#include <sstream>

namespace korvane::sim {

namespace {

constexpr size_t kMaxLineLength = 256;
constexpr size_t kUuLineBytes = 45;
constexpr int kLinesPerGroup = 20;
constexpr uint32_t kBaudRates[] = {9600, 19200, 38400, 57600, 115200};

// What a byte sent at the wrong rate turns into at the receiver.
constexpr uint8_t kGarbledByte = 0xFF;

// While the boot loader runs, the first bytes of flash read as the boot ROM's own
// vectors: a pattern here that no image is likely to hold.
uint8_t BootRomByte(uint32_t address) {
  return static_cast<uint8_t>(address * 7u + 0x5Au);
}

uint32_t DecodeUuChar(char c) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(c)) - 0x20u) & 0x3Fu;
}

}  // namespace

bool DecodeUuLine(const std::string& line, std::vector<uint8_t>* out) {
  if (line.empty()) return false;
  uint32_t count = DecodeUuChar(line[0]);
  size_t groups = (count + 2) / 3;
  if (line.size() < 1 + 4 * groups) return false;
  for (size_t g = 0; g < groups; ++g) {
    uint32_t value = 0;
    for (size_t k = 0; k < 4; ++k) value = (value << 6) | DecodeUuChar(line[1 + 4 * g + k]);
    for (size_t k = 0; k < 3 && 3 * g + k < count; ++k) {
      out->push_back(static_cast<uint8_t>(value >> (16 - 8 * k)));
    }
  }
  return true;
}

namespace {

uint32_t SectorMask(uint32_t first, uint32_t last) {
  return ((2u << last) - 1u) & ~((1u << first) - 1u);
}

}  // namespace

bool BootLoader::InRam(uint32_t address, uint32_t count) const {
  const uint32_t base = map().ramBase, size = map().ramSize;
  return address >= base && count <= size && address - base <= size - count;
}

bool BootLoader::InFlash(uint32_t address, uint32_t count) const {
  return count <= map().flashSize && address <= map().flashSize - count;
}

BootLoader::BootLoader(VirtualClock& clock, ChipConfig config)
    : clock_(clock),
      config_(std::move(config)),
      flash_(config_.part->map.flashSize, 0xFF),
      ram_(config_.part->map.ramSize) {
  std::copy_n(config_.flash.begin(), std::min<size_t>(config_.flash.size(), flash_.size()),
              flash_.begin());
  // RAM holds leftovers from earlier use after power-up; a fixed pattern keeps runs repeatable.
  uint32_t seed = 0x2545F491u;
  for (uint8_t& byte : ram_) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(seed >> 24);
  }
  // Without lines to the board, the user has held the ISP button through a reset.
  ispPinActive_ = config_.wiring == ResetWiring::None;
  Boot();
  ispPinActive_ = false;
}

bool BootLoader::HasValidUserCode(const uint8_t* image, size_t size) {
  if (size < 32) return false;
  uint32_t sum = 0;
  for (size_t word = 0; word < 8; ++word) {
    uint32_t value = 0;
    for (size_t k = 0; k < 4; ++k) value |= static_cast<uint32_t>(image[4 * word + k]) << (8 * k);
    sum += value;
  }
  return sum == 0;
}

void BootLoader::Boot() {
  rebootPending_ = false;
  echo_ = true;
  unlocked_ = false;
  prepared_ = 0;
  baud_ = 0;
  pendingBaud_ = 0;
  stopBits_ = 1;
  line_.clear();
  lastWasCr_ = false;
  // The boot code reads the protection word, then samples the ISP entry pin (not under
  // CRP3 and NO_ISP); without it, it starts a valid user program.
  crp_ = CrpLevelOf(flash_.data(), flash_.size());
  const bool pinSampled = crp_ != CrpLevel::Crp3 && crp_ != CrpLevel::NoIsp;
  if (!(ispPinActive_ && pinSampled) && HasValidUserCode(flash_.data(), flash_.size())) {
    StartProgram();
  } else {
    mode_ = Mode::AwaitSync;
  }
}

void BootLoader::SetReset(bool active) {
  if (active == resetActive_) return;
  resetActive_ = active;
  if (active) {
    mode_ = Mode::Reset;
    ++resets_;
    DropPendingOutput(clock_.Now());
  } else {
    Boot();
  }
}

void BootLoader::SetIspPin(bool active) {
  ispPinActive_ = active;
}

void BootLoader::SetHostLine(bool rts, bool on) {
  if (config_.wiring == ResetWiring::None) return;
  const bool active = on != InvertsLines(config_.wiring);
  if (rts != SwapsLines(config_.wiring)) {
    SetIspPin(active);
  } else {
    SetReset(active);
  }
}

void BootLoader::StartProgram() {
  mode_ = Mode::UserProgram;
  ++programStarts_;
  talks_ = 0;
  nextTalkAt_ = clock_.Now() + Milliseconds(config_.programTalkMs);
}

void BootLoader::RunProgram(Nanoseconds until) {
  if (mode_ != Mode::UserProgram || config_.programTalkMs == 0) return;
  while (nextTalkAt_ <= until) {
    const std::string line = "tick " + std::to_string(++talks_) + "\r\n";
    for (const char byte : line) {
      const Nanoseconds start = std::max(nextTalkAt_, txFreeAt_);
      txFreeAt_ = start + (config_.wireTime ? ByteTime(config_.programBaud, 1) : 0);
      output_.push_back({static_cast<uint8_t>(byte), txFreeAt_, config_.programBaud});
    }
    nextTalkAt_ += Milliseconds(config_.programTalkMs);
  }
}

void BootLoader::DropPendingOutput(Nanoseconds now) {
  while (!output_.empty() && output_.back().at > now) output_.pop_back();
  txFreeAt_ = std::min(txFreeAt_, now);
}

void BootLoader::Receive(uint8_t byte, uint32_t senderBaud, Nanoseconds arrival) {
  if (!config_.present || mode_ == Mode::Reset) return;
  if (rebootPending_) {
    // The boot ROM's start-up after a G into its window; what comes meanwhile (the LF
    // behind the G line) meets the boot loader waiting for "?".
    Boot();
  }
  if (mode_ == Mode::UserProgram) {
    if (!config_.programEcho) return;
    const Nanoseconds start = std::max(arrival, txFreeAt_);
    txFreeAt_ = start + (config_.wireTime ? ByteTime(config_.programBaud, 1) : 0);
    output_.push_back(
        {senderBaud == config_.programBaud ? byte : kGarbledByte, txFreeAt_, config_.programBaud});
    return;
  }
  if (mode_ == Mode::AwaitSync) {
    // Automatic baud detection measures the "?" character; anything else is ignored.
    if (byte != '?') return;
    const Rule* rule = MatchRule("?");
    if (rule && rule->action == Rule::Action::Silence) return;
    baud_ = senderBaud;
    Response response;
    response.lines.push_back(rule && rule->action == Rule::Action::Reply ? rule->text
                                                                         : "Synchronized");
    mode_ = Mode::AwaitSyncWord;
    Respond(response, rule, arrival);
    return;
  }
  const bool byteEcho = EchoesByByte();
  if (pendingBaud_ != 0) {
    // The new rate applies once the "0" answer has gone out at the old one; the LF
    // behind a CR that ended the baud command was on its way at the old rate already.
    const bool trailingLf = byte == '\n' && lastWasCr_ && senderBaud == baud_;
    baud_ = pendingBaud_;
    pendingBaud_ = 0;
    if (trailingLf) {
      lastWasCr_ = false;
      return;
    }
  }
  if (senderBaud != baud_) byte = kGarbledByte;
  // A line ends at CR or LF; the LF of a CR LF then ends nothing more.
  const bool lfAfterCr = byte == '\n' && lastWasCr_;
  lastWasCr_ = byte == '\r';
  if (byteEcho && echo_ && !lfAfterCr) {
    // Each byte goes back as it comes; the line's end goes back as CR LF before the line
    // is carried out (so "A 0" is echoed whole, and the answer follows the echo). An
    // empty line of the command handler is not echoed.
    if (byte != '\r' && byte != '\n') {
      EchoByte(byte, arrival, baud_);
    } else if (!line_.empty() || mode_ != Mode::Command) {
      EchoByte('\r', arrival, baud_);
      EchoByte('\n', arrival, baud_);
    }
  }
  if (lfAfterCr) return;
  if (byte == '\r' || byte == '\n') {
    std::string line = line_;
    line_.clear();
    HandleLine(line, arrival);
    return;
  }
  if (line_.size() < kMaxLineLength) line_ += static_cast<char>(byte);
}

const Rule* BootLoader::MatchRule(const std::string& on) {
  // Only the kinds of event that a rule acts on are counted, so the counts stay as few
  // as the rules, whatever words the host sends.
  if (std::none_of(config_.rules.begin(), config_.rules.end(),
                   [&](const Rule& rule) { return rule.on == on; })) {
    return nullptr;
  }
  int count = ++events_[on];
  for (const Rule& rule : config_.rules) {
    if (rule.on == on && (rule.occurrence == 0 || rule.occurrence == count)) return &rule;
  }
  return nullptr;
}

bool BootLoader::EchoesByByte() const {
  return std::none_of(config_.rules.begin(), config_.rules.end(), [](const Rule& rule) {
    return rule.action == Rule::Action::Silence || rule.action == Rule::Action::NoEcho ||
           rule.action == Rule::Action::Echo || rule.action == Rule::Action::Garble ||
           rule.action == Rule::Action::Delay;
  });
}

void BootLoader::EchoByte(uint8_t byte, Nanoseconds at, uint32_t baud) {
  const Nanoseconds byteTime = config_.wireTime ? ByteTime(baud, stopBits_) : 0;
  txFreeAt_ = std::max(at, txFreeAt_) + byteTime;
  output_.push_back({byte, txFreeAt_, baud});
}

void BootLoader::Send(const std::string& line, Nanoseconds at, bool garble) {
  Nanoseconds byteTime = config_.wireTime ? ByteTime(baud_, stopBits_) : 0;
  std::string bytes = line + "\r\n";
  for (char c : bytes) {
    Nanoseconds start = std::max(at, txFreeAt_);
    txFreeAt_ = start + byteTime;
    output_.push_back({garble ? kGarbledByte : static_cast<uint8_t>(c), txFreeAt_, baud_});
  }
}

void BootLoader::Respond(const Response& response, const Rule* rule, Nanoseconds at) {
  bool garble = rule && rule->action == Rule::Action::Garble;
  if (rule && rule->action == Rule::Action::Delay) at += Milliseconds(rule->ms);
  bool echo = !(rule && rule->action == Rule::Action::NoEcho);
  for (const std::string& line : response.echo) {
    if (echo) Send(rule && rule->action == Rule::Action::Echo ? rule->text : line, at, garble);
  }
  for (const std::string& line : response.lines) Send(line, at + response.after, garble);
}

BootLoader::Response BootLoader::Code(int code) const {
  Response response;
  response.lines.push_back(std::to_string(code));
  return response;
}

void BootLoader::HandleLine(const std::string& line, Nanoseconds at) {
  std::string key;
  switch (mode_) {
    case Mode::AwaitSyncWord:
      key = "Synchronized";
      break;
    case Mode::AwaitFrequency:
      key = "frequency";
      break;
    case Mode::WriteData:
      key = groupLines_ == kLinesPerGroup || group_.size() >= transferRemaining_ ? "checksum"
                                                                                 : "data";
      break;
    case Mode::Command:
      // The command handler ignores an empty line: no echo, no answer.
      if (line.empty()) return;
      key = line.substr(0, line.find(' '));
      break;
    default:
      break;
  }
  const Rule* rule = key.empty() ? nullptr : MatchRule(key);
  if (rule && rule->action == Rule::Action::Silence) return;

  Response response;
  if (echo_ && !EchoesByByte()) response.echo.push_back(line);
  if (rule && rule->action == Rule::Action::Reply) {
    response.lines.push_back(rule->text);
    if (mode_ == Mode::WriteData) {
      // An answer other than OK to a checksum asks for the group again.
      group_.clear();
      groupLines_ = 0;
      groupValid_ = true;
    } else if (mode_ != Mode::Command) {
      mode_ = Mode::AwaitSync;
    }
    Respond(response, rule, at);
    return;
  }

  switch (mode_) {
    case Mode::AwaitSyncWord:
      if (line != "Synchronized") {
        // Synchronisation not confirmed: wait for the "?" again, without an answer.
        mode_ = Mode::AwaitSync;
        return;
      }
      response.lines.push_back("OK");
      mode_ = Mode::AwaitFrequency;
      break;
    case Mode::AwaitFrequency:
      response.lines.push_back("OK");
      mode_ = Mode::Command;
      break;
    case Mode::Command: {
      // The echo follows the setting the line arrived under, also for "A 0" itself.
      Response result = Execute(line);
      result.echo = response.echo;
      response = result;
      break;
    }
    case Mode::WriteData:
      HandleWriteData(line, response);
      break;
    case Mode::ReadData:
      HandleReadReply(line, response);
      break;
    default:
      return;
  }
  Respond(response, rule, at);
}

const std::vector<BootLoader::Command>& BootLoader::Commands() {
  static const std::vector<Command> kCommands = {
      {"U", &BootLoader::Unlock},         {"B", &BootLoader::SetBaudRate},
      {"A", &BootLoader::SetEcho},        {"W", &BootLoader::WriteToRam},
      {"R", &BootLoader::ReadMemory},     {"P", &BootLoader::PrepareSectors},
      {"C", &BootLoader::CopyRamToFlash}, {"G", &BootLoader::Go},
      {"E", &BootLoader::EraseSectors},   {"I", &BootLoader::BlankCheckSectors},
      {"J", &BootLoader::ReadPartId},     {"K", &BootLoader::ReadBootCodeVersion},
      {"M", &BootLoader::Compare},        {"N", &BootLoader::ReadUid},
  };
  return kCommands;
}

bool BootLoader::KnowsCommand(const std::string& name) {
  for (const Command& command : Commands()) {
    if (name == command.name) return true;
  }
  return false;
}

BootLoader::Response BootLoader::Execute(const std::string& line) {
  std::istringstream words(line);
  std::string name, word;
  words >> name;
  std::vector<std::string> params;
  while (words >> word) params.push_back(word);
  for (const Command& command : Commands()) {
    if (name != command.name) continue;
    if (!CrpAllows(name, params)) return Code(CODE_READ_PROTECTION_ENABLED);
    return (this->*command.handler)(params);
  }
  return Code(INVALID_COMMAND);
}

namespace {

// The parameters as decimal numbers, exactly count of them; false otherwise.
bool Numbers(const std::vector<std::string>& params, size_t count, std::vector<uint32_t>* args) {
  if (params.size() != count) return false;
  for (const std::string& word : params) {
    if (word.empty() || word.size() > 10 ||
        word.find_first_not_of("0123456789") != std::string::npos)
      return false;
    const uint64_t value = std::stoull(word);
    if (value > 0xFFFFFFFFu) return false;
    args->push_back(static_cast<uint32_t>(value));
  }
  return true;
}

}  // namespace

bool BootLoader::CrpAllows(const std::string& name, const std::vector<std::string>& params) const {
  std::vector<uint32_t> args;
  switch (crp_) {
    case CrpLevel::None:
    case CrpLevel::Crp3:   // these keep the boot loader from starting by the pin; once it
    case CrpLevel::NoIsp:  // runs (no valid program), the manual limits no command
      return true;
    case CrpLevel::Crp1:
      if (name == "R" || name == "M" || name == "G" || name == "I") return false;
      // Unreadable parameters are the command's own error to give.
      if (name == "W") return !Numbers(params, 2, &args) || args[0] >= map().ramBuffer;
      if (name == "C") return !Numbers(params, 3, &args) || args[0] >= map().SectorSize(0);
      if (name == "E")
        return !Numbers(params, 2, &args) || args[0] != 0 || args[1] == map().Sectors() - 1;
      return true;
    case CrpLevel::Crp2:
      if (name == "E")
        return Numbers(params, 2, &args) && args[0] == 0 && args[1] == map().Sectors() - 1;
      return name == "U" || name == "A" || name == "B" || name == "P" || name == "J" ||
             name == "K" || name == "N";
  }
  return true;
}

BootLoader::Response BootLoader::Unlock(const std::vector<std::string>& params) {
  std::vector<uint32_t> args;
  if (!Numbers(params, 1, &args)) return Code(PARAM_ERROR);
  if (args[0] != kUnlockCode) return Code(INVALID_CODE);
  unlocked_ = true;
  return Code(CMD_SUCCESS);
}

BootLoader::Response BootLoader::SetBaudRate(const std::vector<std::string>& params) {
  std::vector<uint32_t> args;
  if (!Numbers(params, 2, &args)) return Code(PARAM_ERROR);
  if (std::find(std::begin(kBaudRates), std::end(kBaudRates), args[0]) == std::end(kBaudRates)) {
    return Code(INVALID_BAUD_RATE);
  }
  if (args[1] != 1 && args[1] != 2) return Code(INVALID_STOP_BIT);
  pendingBaud_ = args[0];
  return Code(CMD_SUCCESS);
}

BootLoader::Response BootLoader::SetEcho(const std::vector<std::string>& params) {
  std::vector<uint32_t> args;
  if (!Numbers(params, 1, &args) || args[0] > 1) return Code(PARAM_ERROR);
  echo_ = args[0] == 1;
  return Code(CMD_SUCCESS);
}

BootLoader::Response BootLoader::ReadPartId(const std::vector<std::string>& params) {
  if (!params.empty()) return Code(PARAM_ERROR);
  Response response = Code(CMD_SUCCESS);
  response.lines.push_back(std::to_string(config_.partId));
  return response;
}

BootLoader::Response BootLoader::ReadBootCodeVersion(const std::vector<std::string>& params) {
  if (!params.empty()) return Code(PARAM_ERROR);
  // The two bytes of the version, each as a decimal line, byte 0 first: "to be
  // interpreted as <byte1(Major)>.<byte0(Minor)>" (UM10360 Table 584, UM10800 Table 325,
  // UM10237 Table 618): a boot code 7.1 answers 1, then 7.
  Response response = Code(CMD_SUCCESS);
  response.lines.push_back(std::to_string(config_.bootCodeMinor));
  response.lines.push_back(std::to_string(config_.bootCodeMajor));
  return response;
}

BootLoader::Response BootLoader::ReadUid(const std::vector<std::string>& params) {
  if (!params.empty()) return Code(PARAM_ERROR);
  // Four 32-bit words of the unique serial number, in decimal, the lowest address first.
  Response response = Code(CMD_SUCCESS);
  for (uint32_t word : config_.uid) response.lines.push_back(std::to_string(word));
  return response;
}

// P, E and I take a start and an end sector.
bool BootLoader::SectorRange(const std::vector<std::string>& params, uint32_t* first,
                             uint32_t* last, Response* error) const {
  std::vector<uint32_t> args;
  if (!Numbers(params, 2, &args)) {
    *error = Code(PARAM_ERROR);
    return false;
  }
  // The manual asks for an end sector not below the start sector; which code a
  // reversed pair gets is not stated, so it is treated as an invalid sector.
  if (args[0] >= map().Sectors() || args[1] >= map().Sectors() || args[1] < args[0]) {
    *error = Code(INVALID_SECTOR);
    return false;
  }
  *first = args[0];
  *last = args[1];
  return true;
}

BootLoader::Response BootLoader::PrepareSectors(const std::vector<std::string>& params) {
  uint32_t first = 0, last = 0;
  Response error;
  if (!SectorRange(params, &first, &last, &error)) return error;
  prepared_ |= SectorMask(first, last);
  return Code(CMD_SUCCESS);
}

BootLoader::Response BootLoader::EraseSectors(const std::vector<std::string>& params) {
  uint32_t first = 0, last = 0;
  Response error;
  if (!SectorRange(params, &first, &last, &error)) return error;
  const uint32_t mask = SectorMask(first, last);
  if (!unlocked_) return Code(CMD_LOCKED);
  if ((prepared_ & mask) != mask) return Code(SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION);
  std::fill(flash_.begin() + static_cast<std::ptrdiff_t>(map().SectorStart(first)),
            flash_.begin() + static_cast<std::ptrdiff_t>(map().SectorStart(last + 1)), 0xFF);
  prepared_ = 0;  // every erase or copy protects the sectors again
  Response response = Code(CMD_SUCCESS);
  response.after = kEraseTime;
  return response;
}

BootLoader::Response BootLoader::BlankCheckSectors(const std::vector<std::string>& params) {
  uint32_t first = 0, last = 0;
  Response error;
  if (!SectorRange(params, &first, &last, &error)) return error;
  // Sector 0 never reads blank while the boot loader runs: its first 512 bytes read as
  // the boot ROM.
  for (uint32_t address = map().SectorStart(first); address < map().SectorStart(last + 1);
       address += 4) {
    uint32_t word = 0;
    for (uint32_t k = 0; k < 4; ++k)
      word |= static_cast<uint32_t>(MemoryByte(address + k)) << (8 * k);
    if (word != 0xFFFFFFFFu) {
      // The manual's answer: the code, the offset of the first word that is not blank,
      // and that word's contents.
      Response response = Code(SECTOR_NOT_BLANK);
      response.lines.push_back(std::to_string(address));
      response.lines.push_back(std::to_string(word));
      return response;
    }
  }
  return Code(CMD_SUCCESS);
}

BootLoader::Response BootLoader::WriteToRam(const std::vector<std::string>& params) {
  return StartTransfer(params, Mode::WriteData);
}

BootLoader::Response BootLoader::ReadMemory(const std::vector<std::string>& params) {
  return StartTransfer(params, Mode::ReadData);
}

BootLoader::Response BootLoader::StartTransfer(const std::vector<std::string>& params, Mode mode) {
  std::vector<uint32_t> args;
  if (!Numbers(params, 2, &args)) return Code(PARAM_ERROR);
  const uint32_t address = args[0], count = args[1];
  if (address % 4 != 0) return Code(ADDR_ERROR);
  if (count % 4 != 0 || count == 0) return Code(COUNT_ERROR);
  const bool mapped = InRam(address, count) || (mode == Mode::ReadData && InFlash(address, count));
  if (!mapped) return Code(ADDR_NOT_MAPPED);
  const uint32_t last = address + count - 1;
  const uint32_t top = map().ramBase + map().ramSize;
  if (mode == Mode::WriteData && ((address <= map().ispRamLast && last >= map().ispRamFirst) ||
                                  last >= top - kBootLoaderTop)) {
    // The manual reserves this RAM for the ISP commands and the boot loader's stack and
    // does not say what a write into it does: the write is carried out and counted, for
    // the tests.
    ++bootLoaderRamWrites_;
  }
  transferAddress_ = address;
  transferRemaining_ = count;
  group_.clear();
  groupLines_ = 0;
  groupValid_ = true;
  Response response = Code(CMD_SUCCESS);
  mode_ = mode;
  if (mode == Mode::ReadData) SendReadGroup(response);
  return response;
}

BootLoader::Response BootLoader::Compare(const std::vector<std::string>& params) {
  std::vector<uint32_t> args;
  if (!Numbers(params, 3, &args)) return Code(PARAM_ERROR);
  const uint32_t first = args[0], second = args[1], count = args[2];
  if (first % 4 != 0) return Code(ADDR_ERROR);
  if (second % 4 != 0) return Code(ADDR_ERROR);
  if (count % 4 != 0) return Code(COUNT_ERROR);
  const auto mapped = [this, count](uint32_t address) {
    return InRam(address, count) || InFlash(address, count);
  };
  if (!mapped(first) || !mapped(second)) return Code(ADDR_NOT_MAPPED);
  for (uint32_t i = 0; i < count; ++i) {
    if (MemoryByte(first + i) != MemoryByte(second + i)) {
      // The manual's answer: the code, then the offset of the first mismatch.
      Response response = Code(COMPARE_ERROR);
      response.lines.push_back(std::to_string(i));
      return response;
    }
  }
  return Code(CMD_SUCCESS);
}

BootLoader::Response BootLoader::CopyRamToFlash(const std::vector<std::string>& params) {
  std::vector<uint32_t> args;
  if (!Numbers(params, 3, &args)) return Code(PARAM_ERROR);
  const uint32_t flashAddress = args[0], ramAddress = args[1], count = args[2];
  const auto& sizes = map().copySizes;
  if (flashAddress % sizes[0] != 0) return Code(DST_ADDR_ERROR);
  if (ramAddress % 4 != 0) return Code(SRC_ADDR_ERROR);
  if (std::find(std::begin(sizes), std::end(sizes), count) == std::end(sizes))
    return Code(COUNT_ERROR);
  if (!InFlash(flashAddress, count)) return Code(DST_ADDR_NOT_MAPPED);
  if (!InRam(ramAddress, count)) return Code(SRC_ADDR_NOT_MAPPED);
  if (!unlocked_) return Code(CMD_LOCKED);
  const uint32_t mask =
      SectorMask(map().SectorOf(flashAddress), map().SectorOf(flashAddress + count - 1));
  if ((prepared_ & mask) != mask) return Code(SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION);
  // Programming can only clear bits of flash.
  for (uint32_t i = 0; i < count; ++i)
    flash_[flashAddress + i] &= ram_[ramAddress - map().ramBase + i];
  prepared_ = 0;
  Response response = Code(CMD_SUCCESS);
  response.after = kProgramTimePer256 * (count / 256);
  return response;
}

BootLoader::Response BootLoader::Go(const std::vector<std::string>& params) {
  // G <address> <mode>: the mode is T (Thumb), the only one a Cortex-M0 runs.
  if (params.size() != 2 || params[1] != "T") return Code(PARAM_ERROR);
  std::vector<uint32_t> args;
  if (!Numbers({params[0]}, 1, &args)) return Code(PARAM_ERROR);
  const uint32_t address = args[0];
  if (!unlocked_) return Code(CMD_LOCKED);
  if (address % 4 != 0) return Code(ADDR_ERROR);
  if (!InFlash(address, 4) && !InRam(address, 4)) return Code(ADDR_NOT_MAPPED);
  // The answer goes out, then the boot loader hands the chip to the code and says no more.
  if (address < map().bootRomWindow) {
    // Below 0x200 the boot ROM is mapped: its start-up runs as after a reset, with the
    // ISP pin released. It starts a program whose vector checksum is valid; otherwise
    // the boot loader begins again, waiting for "?".
    if (HasValidUserCode(flash_.data(), flash_.size())) {
      StartProgram();
    } else {
      rebootPending_ = true;
    }
    return Code(CMD_SUCCESS);
  }
  StartProgram();
  return Code(CMD_SUCCESS);
}

void BootLoader::HandleWriteData(const std::string& line, Response& response) {
  bool expectChecksum = groupLines_ == kLinesPerGroup || group_.size() >= transferRemaining_;
  if (!expectChecksum) {
    std::vector<uint8_t> bytes;
    if (!DecodeUuLine(line, &bytes)) groupValid_ = false;
    size_t room = transferRemaining_ - group_.size();
    if (bytes.size() > room) {
      groupValid_ = false;
      bytes.resize(room);
    }
    group_.insert(group_.end(), bytes.begin(), bytes.end());
    ++groupLines_;
    return;
  }
  uint32_t sum = 0;
  for (uint8_t byte : group_) sum += byte;
  bool numeric = !line.empty() && line.size() <= 10 &&
                 line.find_first_not_of("0123456789") == std::string::npos;
  if (groupValid_ && numeric && std::stoull(line) == sum) {
    std::memcpy(ram_.data() + (transferAddress_ - map().ramBase), group_.data(), group_.size());
    transferAddress_ += static_cast<uint32_t>(group_.size());
    transferRemaining_ -= static_cast<uint32_t>(group_.size());
    response.lines.push_back("OK");
    if (transferRemaining_ == 0) mode_ = Mode::Command;
  } else {
    response.lines.push_back("RESEND");
  }
  group_.clear();
  groupLines_ = 0;
  groupValid_ = true;
}

uint8_t BootLoader::MemoryByte(uint32_t address) const {
  if (address >= map().ramBase) return ram_[address - map().ramBase];
  return address < map().bootRomWindow ? BootRomByte(address) : flash_[address];
}

void BootLoader::SendReadGroup(Response& response) {
  uint32_t sum = 0;
  uint32_t offset = 0;
  for (int lines = 0; lines < kLinesPerGroup && offset < transferRemaining_; ++lines) {
    size_t n = std::min<size_t>(kUuLineBytes, transferRemaining_ - offset);
    uint8_t bytes[kUuLineBytes];
    for (size_t i = 0; i < n; ++i)
      bytes[i] = MemoryByte(transferAddress_ + offset + static_cast<uint32_t>(i));
    char line[kUuLineBytes * 2];
    UuEncodeLine(line, bytes, n);
    response.lines.push_back(line);
    for (size_t i = 0; i < n; ++i) sum += bytes[i];
    offset += static_cast<uint32_t>(n);
  }
  // A "read" rule that garbles spoils the group's checksum, as a byte lost on the way does.
  const Rule* rule = MatchRule("read");
  if (rule && rule->action == Rule::Action::Garble) ++sum;
  response.lines.push_back(std::to_string(sum));
  readGroupBytes_ = offset;
}

void BootLoader::HandleReadReply(const std::string& line, Response& response) {
  if (line == "OK") {
    transferAddress_ += readGroupBytes_;
    transferRemaining_ -= readGroupBytes_;
    if (transferRemaining_ == 0) {
      mode_ = Mode::Command;
      return;
    }
  } else if (line != "RESEND") {
    mode_ = Mode::Command;
    return;
  }
  SendReadGroup(response);
}

}  // namespace korvane::sim
