#include "job/isp_session.h"

#include <cstring>

#include "isp/isp_commands.h"

namespace korvane {

JobResult Failed(JobOutcome outcome, const IspResult& isp) {
  JobResult result(outcome);
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

bool IsLpc1114Part(uint32_t partId) {
  return partId == static_cast<uint32_t>(kPartIdLpc1114a) ||
         partId == static_cast<uint32_t>(kPartIdLpc1114b);
}

JobResult OpenSession(IspLink& link, const JobOptions& options, uint32_t* partId) {
  const auto step = [&options](JobStep now) {
    if (options.phase) options.phase(now);
  };
  link.trace = options.trace;
  link.wiring = options.wiring;
  link.abort = options.abort;
  const uint32_t transferBaud = options.transferBaud;
  link.settings = MakeLineSettings(kHandshakeBaud);
  if (!link.port->ApplySettings(link.settings)) return JobOutcome::CommunicationError;
  if (!link.port->SetTimeouts(kIspTimeouts)) return JobOutcome::CommunicationError;
  const std::string note = link.port->OpenNote();
  if (!note.empty()) Trace(link, note);
  int attempts = 0;
  IspResult isp = EnterIspMode(link, [&](int attempt) {
    attempts = attempt;
    step({JobPhase::Reset, attempt});
  });
  if (AbortAsked(options.abort)) return JobOutcome::Aborted;
  if (!isp) {
    JobResult failed = Failed(JobOutcome::IspEntryFailed, isp);
    failed.attempts = attempts;
    return failed;
  }
  step({JobPhase::Handshake});
  isp = EchoOff(link);
  if (AbortAsked(options.abort)) return JobOutcome::Aborted;
  if (!isp) return Failed(JobOutcome::IspEntryFailed, isp);
  if (!(isp = SetIspBaudRate(link, static_cast<int>(transferBaud), 1)) ||
      !link.ApplyBaudRate(transferBaud)) {
    JobResult failed = Failed(JobOutcome::BaudChangeFailed, isp);
    failed.transferBaud = transferBaud;
    return failed;
  }
  if (AbortAsked(options.abort)) return JobOutcome::Aborted;
  char line[kLineBufferSize];
  if (!(isp = ReadPartId(link, line, sizeof line))) return Failed(JobOutcome::WrongChip, isp);
  const int32_t id = ParsePartId(line);
  if (!IsLpc1114Part(static_cast<uint32_t>(id))) {
    JobResult failed = Failed(JobOutcome::WrongChip, isp);
    const size_t digits = std::strspn(line, "0123456789");
    if (digits > 0 && line[digits] == '\0') {
      failed.partId = static_cast<uint32_t>(id);
    } else {
      failed.partIdLine = line;
    }
    return failed;
  }
  if (partId) *partId = static_cast<uint32_t>(id);
  if (AbortAsked(options.abort)) return JobOutcome::Aborted;
  return JobOutcome::Success;
}

JobResult FinishSession(IspLink& link, const JobOptions& options) {
  IspResult isp;
  switch (options.after) {
    case AfterWrite::Reset:
      if (options.phase) options.phase({JobPhase::Restart});
      if (!LeaveIspMode(link)) return JobOutcome::IspLeaveFailed;
      break;
    case AfterWrite::Go:
      if (options.phase) options.phase({JobPhase::Restart});
      // G needs the unlock; it answers before it starts the program.
      if (!(isp = UnlockFlash(link)) || !(isp = Go(link, 0)))
        return Failed(JobOutcome::IspLeaveFailed, isp);
      break;
    case AfterWrite::Stay:
      break;
  }
  return JobOutcome::Success;
}

}  // namespace korvane
