// A model of the LPC1114FN28/102 UART ISP boot loader, as the chip maker's user
// manual describes it: reset and ISP-pin sensing, "?" synchronisation with automatic
// baud detection, echo, the commands U B A W R P C G E I J K M N with their return codes
// and parameter checks, UU-encoded data with checksum groups, and 32 KiB of flash whose
// bits a copy can only clear. A fault script changes its answers for tests.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "common/parts.h"
#include "isp/image_checks.h"
#include "serial/reset_sequence.h"
#include "sim/virtual_clock.h"

namespace korvane::sim {

enum ReturnCode : int {
  CMD_SUCCESS = 0,
  INVALID_COMMAND = 1,
  SRC_ADDR_ERROR = 2,
  DST_ADDR_ERROR = 3,
  SRC_ADDR_NOT_MAPPED = 4,
  DST_ADDR_NOT_MAPPED = 5,
  COUNT_ERROR = 6,
  INVALID_SECTOR = 7,
  SECTOR_NOT_BLANK = 8,
  SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION = 9,
  COMPARE_ERROR = 10,
  BUSY = 11,
  PARAM_ERROR = 12,
  ADDR_ERROR = 13,
  ADDR_NOT_MAPPED = 14,
  CMD_LOCKED = 15,
  INVALID_CODE = 16,
  INVALID_BAUD_RATE = 17,
  INVALID_STOP_BIT = 18,
  CODE_READ_PROTECTION_ENABLED = 19,
};

constexpr uint32_t kUnlockCode = 23130;
constexpr uint32_t kLpc1114PartId = kLpc1114.ids[0];
// Flash timing from the data sheet: an erase takes 100 ms, programming 1 ms per 256 bytes.
constexpr Nanoseconds kEraseTime = Milliseconds(100);
constexpr Nanoseconds kProgramTimePer256 = Milliseconds(1);

// One entry of a fault script: what the chip does differently, and when.
struct Rule {
  enum class Action {
    Reply,    // answer with `text` instead of carrying the command out
    Silence,  // neither echo nor answer, nor carry the command out
    NoEcho,   // carry the command out but leave its echo away
    Echo,     // echo `text` in place of the line received
    Delay,    // hold the whole answer back by `ms`
    Garble,   // corrupt every byte of the answer
  };
  // What the rule acts on: a command letter ("U", "B", "W", ...), "?" (the
  // synchronisation character), "Synchronized", "frequency", "data" (an encoded line of
  // W; silenced, it is lost), "checksum", or "read" (a group of R's answer; Garble
  // gives it a wrong checksum).
  std::string on;
  Action action = Action::Reply;
  std::string text;
  uint32_t ms = 0;
  int occurrence = 0;  // acts on the nth event of its kind only (1-based); 0: on every one

  static Rule ReplyWith(std::string on, std::string text, int occurrence = 0) {
    return {std::move(on), Action::Reply, std::move(text), 0, occurrence};
  }
  static Rule Silent(std::string on, int occurrence = 0) {
    return {std::move(on), Action::Silence, {}, 0, occurrence};
  }
  static Rule Without(Action action, std::string on, int occurrence = 0) {
    return {std::move(on), action, {}, 0, occurrence};
  }
  static Rule EchoAs(std::string on, std::string text, int occurrence = 0) {
    return {std::move(on), Action::Echo, std::move(text), 0, occurrence};
  }
  static Rule DelayBy(std::string on, uint32_t ms, int occurrence = 0) {
    return {std::move(on), Action::Delay, {}, ms, occurrence};
  }
};

// Decodes one UU-encoded line into out; false when the line is shorter than its length
// character says.
bool DecodeUuLine(const std::string& line, std::vector<uint8_t>* out);

struct ChipConfig {
  uint32_t partId = kLpc1114PartId;
  bool present = true;  // false: nothing on the line answers
  std::vector<Rule> rules;
  bool wireTime = true;  // the chip's bytes take 10 bit times each on the wire
  // A program that answers on the serial line by sending back every byte it receives,
  // at programBaud (bytes at another rate arrive garbled), as a board's firmware does.
  bool programEcho = false;
  uint32_t programBaud = 115200;
  // What the flash holds at power-up from address 0 (at most the part's flash); the
  // rest is erased.
  std::vector<uint8_t> flash{};
  // How the host's RTS and DTR reach the chip's ISP entry and reset pins. With None
  // they reach nothing, and the chip starts in its boot loader, as when the user holds
  // the ISP button while pressing reset.
  ResetWiring wiring = ResetWiring::Default;
  // A program that keeps talking: it sends "tick N" and CR LF every programTalkMs
  // milliseconds, at programBaud, from its start on; 0: it says nothing by itself.
  uint32_t programTalkMs = 0;
  // The boot code version that K reports (major, minor).
  uint32_t bootCodeMajor = 7;
  uint32_t bootCodeMinor = 1;
  // The unique serial number that N reports, four words, the lowest address first.
  std::array<uint32_t, 4> uid{{0x0A1B2C3Du, 0x4E5F6071u, 0x8293A4B5u, 0xC6D7E8F9u}};
  // The part modelled: its flash, sectors and RAM, which every command's ranges follow.
  // J answers partId (set it to the part's own ID when choosing another part).
  const Part* part = &kLpc1114;
};

class BootLoader {
 public:
  enum class Mode {
    Reset,           // held in reset
    UserProgram,     // running the program in flash
    AwaitSync,       // boot loader waiting for "?"
    AwaitSyncWord,   // waiting for "Synchronized"
    AwaitFrequency,  // waiting for the crystal frequency
    Command,         // ISP command handler
    WriteData,       // receiving the data of a W command
    ReadData,        // sending the data of an R command
  };

  struct TimedByte {
    uint8_t value;
    Nanoseconds at;     // when the byte has fully arrived at the other end
    uint32_t baudRate;  // the rate it was sent at
  };

  explicit BootLoader(VirtualClock& clock, ChipConfig config = {});

  ChipConfig& config() { return config_; }

  // The pins themselves: active or released.
  void SetReset(bool active);
  void SetIspPin(bool active);
  bool ispPinActive() const { return ispPinActive_; }
  // A host line (RTS, or else DTR) on or off, reaching the pins as the board's wiring
  // (ChipConfig::wiring) takes it.
  void SetHostLine(bool rts, bool on);
  // A byte from the host, sent at senderBaud, fully arrived at `arrival`.
  void Receive(uint8_t byte, uint32_t senderBaud, Nanoseconds arrival);
  // Bytes on their way to the host, oldest first.
  std::deque<TimedByte>& output() { return output_; }
  // Lets the program run up to `until`: a talking program queues the lines it sends
  // by then. The port calls it before it looks for the chip's bytes.
  void RunProgram(Nanoseconds until);
  // Drops what has not yet been sent (a reset stops the UART).
  void DropPendingOutput(Nanoseconds now);

  Mode mode() const { return mode_; }
  uint32_t baudRate() const { return baud_; }
  bool echo() const { return echo_; }
  int resets() const { return resets_; }
  // How many kinds of event the rules' counts keep (memory that must stay bounded).
  size_t countedEventKinds() const { return events_.size(); }
  int programStarts() const { return programStarts_; }
  // How many W commands wrote into the boot loader's own RAM (kBootLoaderRamFirst to
  // kBootLoaderRamLast): a clean transfer has none.
  int bootLoaderRamWrites() const { return bootLoaderRamWrites_; }
  const std::vector<uint8_t>& flash() const { return flash_; }
  std::vector<uint8_t>& flash() { return flash_; }
  const std::vector<uint8_t>& ram() const { return ram_; }
  const MemoryMap& map() const { return config_.part->map; }
  // The code read protection the chip read at its last reset.
  CrpLevel crpLevel() const { return crp_; }

  // True when the vector table holds a valid checksum: the first eight words add up to 0.
  static bool HasValidUserCode(const uint8_t* image, size_t size);
  // Whether the boot loader knows the command: "J", "W", ... (upper case, as it takes
  // them; anything else it answers INVALID_COMMAND).
  static bool KnowsCommand(const std::string& name);

 private:
  struct Response {
    std::vector<std::string> echo;
    std::vector<std::string> lines;
    Nanoseconds after = 0;  // time the operation takes before the answer
  };
  using Handler = Response (BootLoader::*)(const std::vector<std::string>& params);
  struct Command {
    const char* name;
    Handler handler;
  };
  // One handler per command letter of the boot loader.
  static const std::vector<Command>& Commands();

  void Boot();
  void StartProgram();  // the chip runs the program in flash from now on
  // Whether the code read protection read at the last reset lets the command run.
  bool CrpAllows(const std::string& name, const std::vector<std::string>& params) const;
  void HandleLine(const std::string& line, Nanoseconds at);
  const Rule* MatchRule(const std::string& on);
  void Respond(const Response& response, const Rule* rule, Nanoseconds at);
  void Send(const std::string& line, Nanoseconds at, bool garble);
  // Whether the echo goes out byte by byte as the bytes arrive, as the chip's does: unless
  // a rule acts on the echo or the answer's timing, which it does line by line.
  bool EchoesByByte() const;
  void EchoByte(uint8_t byte, Nanoseconds at, uint32_t baud);
  Response Execute(const std::string& line);
  // The commands, one handler each, with the command line's parameters.
  Response Unlock(const std::vector<std::string>& params);
  Response SetBaudRate(const std::vector<std::string>& params);
  Response SetEcho(const std::vector<std::string>& params);
  Response WriteToRam(const std::vector<std::string>& params);
  Response ReadMemory(const std::vector<std::string>& params);
  Response PrepareSectors(const std::vector<std::string>& params);
  Response CopyRamToFlash(const std::vector<std::string>& params);
  Response Go(const std::vector<std::string>& params);
  Response EraseSectors(const std::vector<std::string>& params);
  Response BlankCheckSectors(const std::vector<std::string>& params);
  Response ReadPartId(const std::vector<std::string>& params);
  Response ReadBootCodeVersion(const std::vector<std::string>& params);
  Response Compare(const std::vector<std::string>& params);
  Response ReadUid(const std::vector<std::string>& params);
  Response StartTransfer(const std::vector<std::string>& params, Mode mode);
  bool SectorRange(const std::vector<std::string>& params, uint32_t* first, uint32_t* last,
                   Response* error) const;
  Response Code(int code) const;
  void HandleWriteData(const std::string& line, Response& response);
  // A byte as the boot loader's commands see it: RAM, flash, or below 512 the boot ROM.
  uint8_t MemoryByte(uint32_t address) const;
  bool InRam(uint32_t address, uint32_t count) const;
  bool InFlash(uint32_t address, uint32_t count) const;
  void SendReadGroup(Response& response);
  void HandleReadReply(const std::string& line, Response& response);

  VirtualClock& clock_;
  ChipConfig config_;
  Mode mode_ = Mode::Reset;
  bool resetActive_ = false;
  bool ispPinActive_ = false;
  bool echo_ = true;
  bool unlocked_ = false;
  uint32_t prepared_ = 0;  // bit per sector
  uint32_t baud_ = 0;
  uint32_t pendingBaud_ = 0;
  bool rebootPending_ = false;
  CrpLevel crp_ = CrpLevel::None;  // read from the flash at each reset  // a G into the boot ROM:
                                   // its start-up runs at the next byte
  int stopBits_ = 1;
  std::string line_;
  bool lastWasCr_ = false;
  std::deque<TimedByte> output_;
  Nanoseconds txFreeAt_ = 0;
  Nanoseconds nextTalkAt_ = 0;  // when a talking program sends its next line
  uint32_t talks_ = 0;          // the lines it has sent since its start
  std::map<std::string, int> events_;
  int resets_ = 0;
  int programStarts_ = 0;
  int bootLoaderRamWrites_ = 0;

  // Transfer state of W and R.
  uint32_t transferAddress_ = 0;
  uint32_t transferRemaining_ = 0;
  std::vector<uint8_t> group_;
  int groupLines_ = 0;
  bool groupValid_ = true;
  uint32_t readGroupBytes_ = 0;

  std::vector<uint8_t> flash_;  // the part's flash
  std::vector<uint8_t> ram_;    // the part's RAM from its base
};

}  // namespace korvane::sim
