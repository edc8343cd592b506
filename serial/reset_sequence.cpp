#include "serial/reset_sequence.h"

namespace korvane {

ResetSequence IntoBootLoaderSequence(const ResetTiming& timing) {
  return {
      {BoardSignal::IspEntry, true, 0},
      {BoardSignal::Reset, true, timing.resetMs},
      {BoardSignal::Reset, false, timing.ispMs},
      {BoardSignal::IspEntry, false, 0},
  };
}

ResetSequence IntoProgramSequence(const ResetTiming& timing) {
  return {
      {BoardSignal::IspEntry, false, 0},
      {BoardSignal::Reset, true, timing.resetMs},
      {BoardSignal::Reset, false, 0},
  };
}

namespace {

struct WiringName {
  ResetWiring wiring;
  const char* name;
};
constexpr WiringName kWiringNames[] = {
    {ResetWiring::Default, "default"},   {ResetWiring::Swapped, "swapped"},
    {ResetWiring::Inverted, "inverted"}, {ResetWiring::SwappedInverted, "swapped-inverted"},
    {ResetWiring::None, "none"},
};

}  // namespace

bool SwapsLines(ResetWiring wiring) {
  return wiring == ResetWiring::Swapped || wiring == ResetWiring::SwappedInverted;
}

bool InvertsLines(ResetWiring wiring) {
  return wiring == ResetWiring::Inverted || wiring == ResetWiring::SwappedInverted;
}

const char* ResetWiringName(ResetWiring wiring) {
  for (const WiringName& each : kWiringNames) {
    if (each.wiring == wiring) return each.name;
  }
  return "";
}

std::optional<ResetWiring> ResetWiringNamed(const std::string& name) {
  for (const WiringName& each : kWiringNames) {
    if (name == each.name) return each.wiring;
  }
  return std::nullopt;
}

std::optional<LineChange> LineChangeFor(BoardSignal signal, bool active, ResetWiring wiring) {
  if (wiring == ResetWiring::None) return std::nullopt;
  const bool rts = (signal == BoardSignal::IspEntry) != SwapsLines(wiring);
  const bool on = active != InvertsLines(wiring);
  if (rts) return on ? LineChange::SetRts : LineChange::ClearRts;
  return on ? LineChange::SetDtr : LineChange::ClearDtr;
}

std::string DescribeStep(const ResetStep& step, ResetWiring wiring) {
  const std::string pin = step.signal == BoardSignal::IspEntry ? "ISP entry" : "reset";
  std::string text = pin + (step.active ? " active" : " released");
  if (const std::optional<LineChange> change = LineChangeFor(step.signal, step.active, wiring)) {
    const bool rts = *change == LineChange::SetRts || *change == LineChange::ClearRts;
    const bool on = *change == LineChange::SetRts || *change == LineChange::SetDtr;
    text = std::string(rts ? "RTS" : "DTR") + (on ? " on: " : " off: ") + text;
  }
  if (step.waitAfterMs > 0) text += ", then " + std::to_string(step.waitAfterMs) + " ms";
  return text;
}

}  // namespace korvane
