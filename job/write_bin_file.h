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
#include "job/chip_session.h"
#include "job/outcome.h"
#include "serial/isp_link.h"

namespace korvane {

// Writes the file at path through COM port `portNumber`: how it ended, with its
// details (MessageOf gives the window's text). The file is deleted only after a fully
// successful write, and only when deleteAfterWrite is set.
JobResult WriteBinFile(const std::string& path, int portNumber, bool deleteAfterWrite,
                       const ProgressCallback& progress, const AbortFlag* abort = nullptr);

// What a write takes beyond its session: a compare of each block after its copy, and
// for korvane-cli --erase-all FILE every sector erased first, then the chip reset into
// its boot loader again before the write (the way back from code read protection).
// Bytes of a board's own that replace the image's at their address in the board's copy
// of the image (korvane-cli --serial: its serial number).
struct BoardBytes {
  uint32_t address = 0;
  std::vector<uint8_t> bytes;
};

// What a write takes beyond its session: a compare of each block after its copy, and
// for korvane-cli --erase-all FILE every sector erased first, then the chip reset into
// its boot loader again before the write (the way back from code read protection).
struct WriteSettings {
  ProgramOptions program;
  bool eraseAllFirst = false;
  // WriteImage only: asked once the session is open and the chip known (its identity),
  // before anything is erased, for the board's own bytes, which must lie within the
  // image. A result other than Success ends the write there, the flash untouched.
  std::function<JobResult(const ChipIdentity& chip, BoardBytes* own)> boardBytes;
};

// Everything a chip operation takes besides its port: the session's settings, its
// observer, and for a write what it writes.
struct JobOptions {
  SessionSettings session;
  SessionObserver observer;
  WriteSettings write;
};

// The same job through a port that openPort supplies (a device path, the simulated
// chip); the progress is the observer's.
JobResult WriteBinFile(const std::string& path, const PortOpener& openPort, bool deleteAfterWrite,
                       const JobOptions& options = {});

// The same job for an image already in memory (1 to 32768 bytes from address 0):
// korvane-cli reads, converts and checks its file once before any port is opened. No
// file is involved. The plan says which sectors are erased and which blocks are sent
// (PlanWrite); every block must lie within the image.
JobResult WriteImage(const std::vector<uint8_t>& image, const WritePlan& plan,
                     const PortOpener& openPort, const JobOptions& options = {});

// The write itself on an open session: the erases, the blocks as the plan has them.
JobResult WriteBlocks(ChipSession& session, const BlockReader& read, const WritePlan& plan,
                      const WriteSettings& settings);

}  // namespace korvane
