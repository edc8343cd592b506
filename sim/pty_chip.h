// The simulated chip on a real pseudo-terminal, in real time (Linux): the boot-loader
// model answers whatever a program writes to the pty's slave side, and learns the
// modem lines (RTS, DTR) from datagrams, since a pty has none. korvane-sim runs it.
#pragma once

#include <signal.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/boot_loader.h"
#include "sim/virtual_clock.h"

namespace korvane::sim {

// The boot loader's state in a few words, for people reading korvane-sim's output.
const char* ModeName(BootLoader::Mode mode);

// The numeric rate of a termios speed constant; 0 for B0 and unknown constants.
uint32_t BaudOfSpeed(unsigned long speed);

class PtyChip {
 public:
  explicit PtyChip(ChipConfig config);
  ~PtyChip();  // closes the pty, removes the link and the lines socket
  PtyChip(const PtyChip&) = delete;
  PtyChip& operator=(const PtyChip&) = delete;

  // Opens the pty pair with the slave in raw mode, points the symbolic link `link` at
  // the slave (replacing an earlier link, never another kind of file) and binds the
  // datagram socket `linesSocket`. False, with `error` set, on any failure.
  bool Open(const std::string& link, const std::string& linesSocket, std::string* error);
  const std::string& devicePath() const { return slavePath_; }

  enum class End { Stopped, ProgramStarted, TimedOut, Failed };
  struct ServeOptions {
    bool exitAfterRestart = false;  // end once the chip has been reset into a started program
    double timeoutSeconds = 0;      // end after this long; 0: no limit
    std::FILE* log = nullptr;       // line changes, modes and host commands; null: quiet
    // Every line both ways and every line change, each with its CLOCK_MONOTONIC time
    // in seconds: "T RTS 1", "T > W 268435968 1024", "T < 0"; null: none.
    std::FILE* wireLog = nullptr;
    std::string dumpPath;  // the flash is written here after each restart; empty: not
    const volatile std::sig_atomic_t* stop = nullptr;  // set by a signal handler
    const sigset_t* waitMask = nullptr;  // signal mask while waiting (stop signals unblocked)
    // A USB serial adapter between chip and host, as an FTDI chip is: bytes for the host
    // wait until this many ms have passed since the first of them or 62 are waiting;
    // 1 ms once the host asks for low latency (LOWLAT 1 on the lines socket). 0: none.
    uint32_t adapterLatencyMs = 0;
  };
  // Serves the chip until *stop is set or an end of ServeOptions comes; `error` tells
  // why it failed.
  End Serve(const ServeOptions& options, std::string* error);

  const BootLoader& loader() const { return loader_; }
  // Writes the 32 KiB of flash into `path` (a regular file, replaced as a whole, or a new
  // one); false, with *problem told, on failure.
  bool DumpFlash(const std::string& path, std::string* problem) const;

 private:
  void SyncClock();
  void Log(const ServeOptions& options, const std::string& text);
  void LogModeChange(const ServeOptions& options);
  bool HostLine(uint32_t* baud, int* stopBits) const;
  bool ReadLines(const ServeOptions& options, std::string* error);
  bool ReadHostBytes(const ServeOptions& options, std::string* error);
  void SendDueBytes(const ServeOptions& options);
  // Passes due bytes on to the host, through the adapter's buffer when there is one.
  void HoldOrSend(const ServeOptions& options, const std::string& due);
  Nanoseconds AdapterDeadline(const ServeOptions& options) const;
  void WriteToHost(const std::string& bytes);
  void WireLog(const ServeOptions& options, Nanoseconds monotonic, const std::string& text);
  Nanoseconds Monotonic(Nanoseconds simulated) const { return startMonotonic_ + simulated; }

  std::chrono::steady_clock::time_point start_;
  Nanoseconds startMonotonic_ = 0;  // start_ on CLOCK_MONOTONIC (steady_clock on Linux)
  std::string chipLine_;            // the chip's line going out, for the wire log
  VirtualClock clock_;
  BootLoader loader_;
  int master_ = -1;
  int slave_ = -1;  // held open so the master never sees a hang-up between host sessions
  int lines_ = -1;
  std::string slavePath_;
  std::string link_;
  std::string linesPath_;
  Nanoseconds rxFreeAt_ = 0;                         // when the host's last byte has fully arrived
  std::string hostLine_;                             // the host's line being received, for the log
  static constexpr size_t kAdapterPacketBytes = 62;  // the data of one USB packet
  std::string adapterBuffer_;                        // bytes the adapter holds back
  Nanoseconds adapterSince_ = 0;                     // when the first of them came
  bool lowLatency_ = false;                          // the host asked for low latency
  Nanoseconds lastSentAt_ = 0;                       // when bytes last went to the host
  BootLoader::Mode loggedMode_;
};

}  // namespace korvane::sim
