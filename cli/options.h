// Command-line options of korvane-cli.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench/serial_numbers.h"
#include "image/image_reader.h"
#include "job/write_bin_file.h"

namespace korvane::cli {

using bench::SerialField;

// The rates the boot loader's baud command takes, for the transfer after the handshake.
inline constexpr uint32_t kTransferRates[] = {9600, 19200, 38400, 57600, 115200};

// The rates the monitor takes: those every system's serial driver offers.
inline constexpr uint32_t kMonitorRates[] = {1200,  2400,  4800,   9600,  19200,
                                             38400, 57600, 115200, 230400};
constexpr uint32_t kDefaultMonitorBaud = 115200;

struct Options {
  std::string port;  // the first port given
  std::string file;
  bool deleteAfterWrite = false;
  bool watch = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  uint32_t transferBaud = kTransferBaud;  // as the window
  bool fixChecksum = false;               // write the image with the right vector checksum
  bool allowCrp = false;                  // write an image that sets code read protection
  bool verify = false;                    // compare each block in flash with what was sent
  bool monitor = false;                   // after the write, a terminal on the port
  uint32_t monitorBaud = kDefaultMonitorBaud;
  bool noWrite = false;                      // only the monitor, after a reset into the program
  bool listPorts = false;                    // list the serial ports present
  int retries = 0;                           // how often a board that failed is tried again
  std::optional<ImageFormat> format{};       // --format: FILE read as this, whatever its name
  bool verbose = false;                      // a trace of the dialogue on stderr
  ResetWiring reset = ResetWiring::Default;  // --reset: how the lines reach the board
  AfterWrite after = AfterWrite::Reset;      // --after; go by default with --reset none
  bool noLowLatency = false;                 // --no-low-latency: the adapter's latency as it is
  bool info = false;                         // --info: tell what the chip is
  bool eraseAll = false;                     // --erase-all: every sector, then FILE if given
  std::string readTo{};                      // --read FILE: the flash read into FILE
  uint32_t readStart = kBootRomWindow;       // --range START:LENGTH of --read
  uint32_t readLength = 0;                   // 0: up to the end of the chip's flash
  std::vector<std::string> ports{};          // every port given, in order: one board each
  std::vector<const Part*> parts{};          // --part: the parts the chip may be; empty: every part
  bool listParts = false;                    // list the parts korvane-cli writes
  std::string listFamily{};                  // --list-parts FAMILY: only those families
  ResetTiming timing{};                      // --reset-time, --isp-time
  std::string logTo{};                       // --log FILE: a record of every board and attempt
  std::optional<SerialField> serial{};       // --serial ADDR:FORMAT
  std::string serialFile{};                  // --serial-file FILE: where the numbers come from
  std::optional<uint64_t> serialStart{};     // --serial-start N: creates --serial-file
  bool serialKeep = false;    // --serial-keep: a board the log knows keeps its number
  bool station = false;       // --station: board after board, round after round
  int stationRounds = 0;      // its rounds; 0: until the operator ends it
  std::string stationName{};  // --station-name NAME: the records' station (default: the host)
  bool stationUsb = false;    // a round begins when every port came back (usb)

  // The parts the chip may be: those --part names, else every part of the table.
  std::vector<const Part*> AllowedParts() const;
  // The largest flash of them: what an image may fill before the chip has told its part.
  uint32_t LargestFlash() const;
};

// The most --retry takes.
constexpr int kMaxRetries = 10;
// The longest --reset-time and --isp-time take.
constexpr uint32_t kMaxResetTimeMs = 5000;

struct ParsedOptions {
  Options options;
  std::string error;  // a one-line usage error; empty when the arguments are good
};

// Parses the arguments after the program name. Short options may be bundled ("-dw"),
// values may be attached ("-pCOM5", "--port=COM5"); "--" ends the options.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace korvane::cli
