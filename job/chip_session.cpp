#include "job/chip_session.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/hex.h"
#include "isp/isp_commands.h"

namespace korvane {

JobResult Failed(JobOutcome outcome, const IspResult& isp) {
  // An exchange that never happened for the user's abort ends the operation as aborted,
  // whatever it was part of.
  JobResult result(isp.status == IspStatus::Aborted ? JobOutcome::Aborted : outcome);
  result.isp = isp;
  return result;
}

int32_t ParsePartId(const char* line) {
  const char* p = line;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

ChipSession::ChipSession(PortOpener open, SessionSettings settings, SessionObserver observer)
    : open_(std::move(open)), settings_(settings), observer_(std::move(observer)) {
  link_.trace = observer_.trace;
  link_.wiring = settings_.wiring;
  link_.abort = observer_.abort;
  link_.timing = settings_.timing;
  if (settings_.parts.empty()) settings_.parts = {&kLpc1114};
}

void ChipSession::CountInto(double PhaseTimes::*bucket) {
  const Clock::time_point now = Clock::now();
  if (counting_ != nullptr)
    times_.*counting_ += std::chrono::duration<double>(now - since_).count();
  counting_ = bucket;
  since_ = now;
}

PhaseTimes ChipSession::times() const {
  PhaseTimes times = times_;
  if (counting_ != nullptr)
    times.*counting_ += std::chrono::duration<double>(Clock::now() - since_).count();
  return times;
}

void ChipSession::Step(const JobStep& step) {
  switch (step.phase) {
    case JobPhase::Reset:
    case JobPhase::Handshake:
    case JobPhase::ResetAgain:
      CountInto(&PhaseTimes::handshake);
      break;
    case JobPhase::Erase:
      CountInto(&PhaseTimes::erase);
      break;
    case JobPhase::Transfer:
      CountInto(&PhaseTimes::write);
      break;
    case JobPhase::Restart:
      CountInto(nullptr);
      break;
  }
  if (observer_.step) observer_.step(step);
}

void ChipSession::Comparing(bool comparing) {
  if (comparing) {
    beforeCompare_ = counting_;
    CountInto(&PhaseTimes::verify);
  } else {
    CountInto(beforeCompare_);
  }
}

void ChipSession::Progress(int32_t percent) const {
  if (observer_.progress) observer_.progress(percent);
}

JobResult ChipSession::WithPortReason(JobResult result) const {
  if (!result.Succeeded() && result.systemError.empty() && link_.port)
    result.systemError = link_.port->LastSystemError();
  return result;
}

JobResult ChipSession::Open() {
  CountInto(&PhaseTimes::handshake);
  if (!link_.IsOpen()) link_.port = open_();
  if (!link_.IsOpen()) return JobOutcome::PortOpenFailed;
  link_.settings = MakeLineSettings(kHandshakeBaud);
  if (!link_.port->ApplySettings(link_.settings) || !link_.port->SetTimeouts(kIspTimeouts))
    return WithPortReason(JobOutcome::CommunicationError);
  const std::string note = link_.port->OpenNote();
  if (!note.empty()) Trace(link_, note);
  return WithPortReason(Handshake());
}

JobResult ChipSession::Reopen() {
  Step({JobPhase::ResetAgain});
  link_.settings = MakeLineSettings(kHandshakeBaud);
  if (!link_.port->ApplySettings(link_.settings))
    return WithPortReason(JobOutcome::CommunicationError);
  return WithPortReason(Handshake());
}

JobResult ChipSession::Handshake() {
  int attempts = 0;
  IspResult isp = EnterIspMode(link_, [&](int attempt) {
    attempts = attempt;
    Step({JobPhase::Reset, attempt});
  });
  // An abort during the last attempt ends it as aborted too.
  if (isp.status != IspStatus::Aborted && AbortAsked()) return JobOutcome::Aborted;
  if (!isp) {
    JobResult failed = Failed(JobOutcome::IspEntryFailed, isp);
    failed.attempts = attempts;
    return failed;
  }
  Step({JobPhase::Handshake});
  isp = EchoOff(link_);
  if (AbortAsked()) return JobOutcome::Aborted;
  if (!isp) return Failed(JobOutcome::IspEntryFailed, isp);
  const uint32_t transferBaud = settings_.transferBaud;
  if (!(isp = SetIspBaudRate(link_, static_cast<int>(transferBaud), 1)) ||
      !link_.ApplyBaudRate(transferBaud)) {
    JobResult failed = Failed(JobOutcome::BaudChangeFailed, isp);
    failed.transferBaud = transferBaud;
    return failed;
  }
  if (AbortAsked()) return JobOutcome::Aborted;
  char line[kLineBufferSize];
  if (!(isp = ReadPartId(link_, line, sizeof line))) {
    JobResult failed = Failed(JobOutcome::WrongChip, isp);
    failed.transferBaud = settings_.transferBaud;  // the rate J went unanswered at
    return failed;
  }
  const auto id = static_cast<uint32_t>(ParsePartId(line));
  Trace(link_, "part ID " + Hex(id));
  // The row the settings take for that ID (the packages of one die answer alike).
  const auto taken = std::find_if(settings_.parts.begin(), settings_.parts.end(),
                                  [id](const Part* part) { return part->HasId(id); });
  const Part* part = taken != settings_.parts.end() ? *taken : nullptr;
  if (part == nullptr) {
    // Not a part the session takes: what it is (if the table knows it) and what was.
    JobResult failed = Failed(JobOutcome::WrongChip, isp);
    // Named only when one row has the ID: the packages of a die answer alike.
    failed.foundPart = PartsWithId(id).size() == 1 ? PartWithId(id) : nullptr;
    failed.expectedParts = settings_.parts;
    const size_t digits = std::strspn(line, "0123456789");
    if (digits > 0 && line[digits] == '\0') {
      failed.partId = id;
    } else {
      failed.partIdLine = line;
    }
    return failed;
  }
  partId_ = id;
  part_ = part;
  if (AbortAsked()) return JobOutcome::Aborted;
  ChipIdentity identity;
  identity.partId = id;
  identity.part = part;
  identity_ = identity;
  if (settings_.identify) return Identify();
  return JobOutcome::Success;
}

JobResult ChipSession::Identify() {
  // Boot code that does not know a command refuses it (INVALID_COMMAND): the field stays
  // empty. Anything else is a boot loader that stopped answering.
  unsigned major = 0, minor = 0;
  IspResult isp = ReadBootCodeVersion(link_, &major, &minor);
  if (isp) {
    identity_->bootCode = std::array<unsigned, 2>{major, minor};
  } else if (isp.status != IspStatus::Refused) {
    return Failed(JobOutcome::IspEntryFailed, isp);
  }
  if (AbortAsked()) return JobOutcome::Aborted;
  uint32_t uid[4] = {};
  isp = ReadUid(link_, uid);
  if (isp) {
    identity_->uid = std::array<uint32_t, 4>{uid[0], uid[1], uid[2], uid[3]};
  } else if (isp.status != IspStatus::Refused) {
    return Failed(JobOutcome::IspEntryFailed, isp);
  }
  if (AbortAsked()) return JobOutcome::Aborted;
  return JobOutcome::Success;
}

JobResult ChipSession::Finish() {
  IspResult isp;
  switch (settings_.after) {
    case AfterWrite::Reset:
      Step({JobPhase::Restart});
      if (!LeaveIspMode(link_)) return WithPortReason(JobOutcome::IspLeaveFailed);
      break;
    case AfterWrite::Go:
      Step({JobPhase::Restart});
      // G needs the unlock; it answers before it starts the program.
      if (!(isp = UnlockFlash(link_)) || !(isp = Go(link_, 0))) {
        if (isp.RefusedForProtection()) {
          // The protection read at the last reset holds until the next one.
          JobResult done;
          done.startRefusedByProtection = true;
          return done;
        }
        return WithPortReason(Failed(JobOutcome::IspLeaveFailed, isp));
      }
      break;
    case AfterWrite::Stay:
      break;
  }
  return JobOutcome::Success;
}

JobResult RunOnChip(const PortOpener& open, const SessionSettings& settings,
                    const SessionObserver& observer,
                    const std::function<JobResult(ChipSession&)>& operation) {
  ChipSession session(open, settings, observer);
  JobResult result = session.Open();
  if (result.Succeeded()) result = operation(session);
  // What reached the flash stays told when what follows fails.
  JobResult::FlashWork flash = std::move(result.flash);
  if (result.Succeeded()) result = session.Finish();
  result.times = session.times();
  result.chip = session.identity();
  result.flash = std::move(flash);
  return result;
}

}  // namespace korvane
