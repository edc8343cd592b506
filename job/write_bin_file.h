// One complete write of a .bin file into an LPC1114FN28/102.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/abort_flag.h"
#include "isp/progress.h"
#include "isp/program_image.h"
#include "isp/write_plan.h"
#include "job/outcome.h"
#include "serial/isp_link.h"

namespace korvane {

constexpr uint32_t kHandshakeBaud = 9600;
constexpr uint32_t kTransferBaud = 57600;
constexpr int32_t kPartIdLpc1114a = 0x0A40902B;
constexpr int32_t kPartIdLpc1114b = 0x1A40902B;

// Writes the file at path through COM port `portNumber`: how it ended, with its
// details (MessageOf gives the window's text). The file is deleted only after a fully
// successful write, and only when deleteAfterWrite is set.
JobResult WriteBinFile(const std::string& path, int portNumber, bool deleteAfterWrite,
                       const ProgressCallback& progress, const AbortFlag* abort = nullptr);

// The steps of a job, as it reaches them.
enum class JobPhase {
  Reset,
  Handshake,
  Erase,
  // The whole flash is erased: the chip is reset into its boot loader again, where it
  // reads its code read protection anew (by hand with ResetWiring::None).
  ResetAgain,
  Transfer,
  Restart
};

// A step as it begins: Reset once for each handshake attempt (1 to kHandshakeAttempts),
// Erase with the sectors of each run.
struct JobStep {
  JobPhase phase = JobPhase::Reset;
  int attempt = 0;                           // Reset
  unsigned firstSector = 0, lastSector = 0;  // Erase
};

// What the job does with the chip once the image is written.
enum class AfterWrite {
  Reset,  // reset it into the program through the lines (IntoProgramSequence)
  Go,     // "G 0 T": the boot ROM's start-up, which starts a program with a valid vector checksum
  Stay,   // leave it in its boot loader
};

// How korvane-cli can change a job: the rate of the transfer after the handshake (one
// the boot loader's baud command takes), how the blocks are sent, and who is told of
// each step. Jobs with their own options may run side by side, one per port.
struct JobOptions {
  uint32_t transferBaud = kTransferBaud;
  ProgramOptions program;  // a compare of each block after its copy
  std::function<void(const JobStep&)> phase;
  ResetWiring wiring = ResetWiring::Default;  // how the lines reach the board
  AfterWrite after = AfterWrite::Reset;
  // Every sector erased first, then the chip reset into its boot loader again before
  // the write (korvane-cli --erase-all FILE): the way back from code read protection.
  bool eraseAllFirst = false;
  // The job's abort request, read between its steps and blocks; null: it runs to its end.
  const AbortFlag* abort = nullptr;
  // Told of every line of the dialogue and every change of the modem lines (IspLink::trace).
  std::function<void(const std::string&)> trace;
};

// The same job through a port that openPort supplies (a device path, the simulated chip).
JobResult WriteBinFile(const std::string& path, const PortOpener& openPort, bool deleteAfterWrite,
                       const ProgressCallback& progress, const JobOptions& options = {});

// The same job for an image already in memory (1 to 32768 bytes from address 0):
// korvane-cli reads, converts and checks its file once before any port is opened. No
// file is involved. The plan says which sectors are erased and which blocks are sent
// (PlanWrite); every block must lie within the image.
JobResult WriteImage(const std::vector<uint8_t>& image, const WritePlan& plan,
                     const PortOpener& openPort, const ProgressCallback& progress,
                     const JobOptions& options = {});

}  // namespace korvane
