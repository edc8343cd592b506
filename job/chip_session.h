// A session with the chip: the one way every chip operation (the write, --info,
// --erase-all, --read) reaches the chip. It owns the ISP link, opens it (the port set
// up, the chip reset into its boot loader and synchronised, its echo off, the transfer
// rate, the part checked), carries out what follows the operation (AfterWrite) and takes
// the user's abort request between steps; everything it does is told to one observer.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/abort_flag.h"
#include "common/parts.h"
#include "isp/progress.h"
#include "job/outcome.h"
#include "serial/isp_link.h"
#include "serial/reset_sequence.h"

namespace korvane {

constexpr uint32_t kHandshakeBaud = 9600;
constexpr uint32_t kTransferBaud = 57600;

// The steps of an operation, as it reaches them.
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

// What follows the operation.
enum class AfterWrite {
  Reset,  // reset the chip into its program through the lines (IntoProgramSequence)
  Go,     // "G 0 T": the boot ROM's start-up, which starts a program with a valid vector checksum
  Stay,   // leave it in its boot loader
};

// The plain settings of a session: the rate after the handshake (one the boot loader's
// baud command takes), how the lines reach the board, and what follows.
struct SessionSettings {
  uint32_t transferBaud = kTransferBaud;
  ResetWiring wiring = ResetWiring::Default;
  AfterWrite after = AfterWrite::Reset;
  // The parts the session takes (by what J answers); empty: the LPC1114FN28/102 alone.
  std::vector<const Part*> parts;
  ResetTiming timing;  // how long reset is held and the ISP pin kept after it
  // After J, K and N too: the boot code version and the unique ID, for a record of the
  // board. Without it the dialogue has no command beyond what the operation needs.
  bool identify = false;
};

// Who is told what a session does, and where it reads the abort request; each part may
// be left empty. Sessions with observers of their own may run side by side, one per port.
struct SessionObserver {
  std::function<void(const JobStep&)> step;  // each step as it begins
  // Every line of the dialogue and every change of the modem lines (IspLink::trace).
  std::function<void(const std::string&)> trace;
  ProgressCallback progress;         // before each block of a write or a read (0 to 99)
  const AbortFlag* abort = nullptr;  // read between steps and blocks; null: none
};

class ChipSession {
 public:
  ChipSession(PortOpener open, SessionSettings settings, SessionObserver observer);
  ChipSession(const ChipSession&) = delete;
  ChipSession& operator=(const ChipSession&) = delete;

  // Opens the port and the session: Success with the chip's boot loader at the transfer
  // rate, echo off, and its part one the settings take (part()); else the outcome with
  // its details. An abort asked for meanwhile ends it as Aborted.
  JobResult Open();
  // After the whole flash was erased: the chip reset into its boot loader again
  // (JobPhase::ResetAgain first), where it reads its code read protection anew.
  JobResult Reopen();
  // What follows, as the settings say. Under CRP1 and CRP2 the chip refuses G until its
  // next reset: that ends the session as done, with startRefusedByProtection.
  JobResult Finish();
  // Releases the port (before a file is deleted, say); the destructor does it too.
  void Close() { link_.Close(); }

  bool AbortAsked() const { return korvane::AbortAsked(observer_.abort); }
  // Tells the observer, and times the step (PhaseTimes) until the next one.
  void Step(const JobStep& step);
  // A compare of --verify begins (true) or ends (false): timed apart from the copies.
  void Comparing(bool comparing);
  void Progress(int32_t percent) const;
  IspLink& link() { return link_; }
  const SessionObserver& observer() const { return observer_; }
  uint32_t partId() const { return partId_; }
  // The chip's part, once the session is open.
  const Part& part() const { return *part_; }
  // The chip as far as it told of itself: none until the session is open.
  const std::optional<ChipIdentity>& identity() const { return identity_; }
  // The time spent so far on each part of the operation.
  PhaseTimes times() const;

 private:
  using Clock = std::chrono::steady_clock;
  // Where the time from now on counts (null: nowhere).
  void CountInto(double PhaseTimes::*bucket);
  // K and N, for SessionSettings::identify.
  JobResult Identify();
  JobResult Handshake();
  // The result of a failure, with the port's own account of it where it gave one.
  JobResult WithPortReason(JobResult result) const;

  PortOpener open_;
  SessionSettings settings_;
  SessionObserver observer_;
  IspLink link_;
  uint32_t partId_ = 0;
  const Part* part_ = &kLpc1114;
  std::optional<ChipIdentity> identity_;
  PhaseTimes times_;
  double PhaseTimes::*counting_ = nullptr;
  double PhaseTimes::*beforeCompare_ = nullptr;
  Clock::time_point since_;
};

// A failure of the chip's dialogue, with the exchange that failed; an exchange that
// never happened for the abort request makes it Aborted.
JobResult Failed(JobOutcome outcome, const IspResult& isp);

// Opens a session, runs the operation on it and finishes it: how every chip operation
// runs. The operation's own result decides unless it succeeded; whichever it is carries
// the session's times and the chip's identity.
JobResult RunOnChip(const PortOpener& open, const SessionSettings& settings,
                    const SessionObserver& observer,
                    const std::function<JobResult(ChipSession&)>& operation);

// The part identification line as a decimal number: leading white space, an optional
// sign, digits up to the first non-digit; no digits give 0; wraps modulo 2^32.
int32_t ParsePartId(const char* line);

}  // namespace korvane
