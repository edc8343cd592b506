#include "cli/board_display.h"

#include <algorithm>
#include <cstdio>

#include "cli/console.h"

namespace korvane::cli {

namespace {

constexpr int kBarWidth = 20;

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

std::string PhaseName(const BoardReport& report, bool verify) {
  if (!report.started) return "waiting";
  if (report.finished) return report.result.Succeeded() ? "done" : "failed";
  switch (report.phase) {
    case JobPhase::Reset: return "reset";
    case JobPhase::Handshake: return "handshake";
    case JobPhase::Erase: return "erase";
    case JobPhase::Transfer: return verify ? "writing, verifying" : "writing";
    case JobPhase::Restart: return "restart";
  }
  return "";
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// The job's message as the terminal shows it.
std::string MessageText(const JobResult& result) { return Cp932ToUtf8(MessageOf(result)); }

}  // namespace

std::string BoardLine(const BoardReport& report, size_t portWidth, bool verify) {
  const int percent = std::clamp(report.percent, 0, 100);
  const int filled = percent * kBarWidth / 100;
  char tail[16];
  std::snprintf(tail, sizeof tail, "] %3d%%  ", percent);
  std::string line = Padded(report.port, portWidth) + "  [" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(kBarWidth - filled), '-') + tail + PhaseName(report, verify);
  if (report.attempt > 1) line += " (attempt " + std::to_string(report.attempt) + ")";
  if (report.finished) {
    line += " " + Seconds(report.seconds);
    if (!report.result.Succeeded()) line += ": " + MessageText(report.result);
  }
  return line;
}

std::string FinishedLine(const BoardReport& report, int attempts) {
  std::string line = report.port + ": " + (report.result.Succeeded() ? "ok" : "failed") + " in " + Seconds(report.seconds);
  if (attempts > 1) line += " (attempt " + std::to_string(report.attempt) + " of " + std::to_string(attempts) + ")";
  if (!report.result.Succeeded()) line += ": " + MessageText(report.result);
  return line + "\n";
}

std::string SummaryTable(const std::vector<BoardReport>& reports) {
  size_t portWidth = 4;
  for (const BoardReport& report : reports) portWidth = std::max(portWidth, report.port.size());
  std::string table = Padded("port", portWidth) + "  " + Padded("time", 9) + "  result\n";
  size_t ok = 0;
  std::string failedPorts;
  for (const BoardReport& report : reports) {
    std::string result = report.result.Succeeded() ? "ok" : MessageText(report.result);
    if (report.attempt > 1) result += " (" + std::to_string(report.attempt) + " attempts)";
    table += Padded(report.port, portWidth) + "  " + Padded(Seconds(report.seconds), 9) + "  " + result + "\n";
    if (report.result.Succeeded()) {
      ++ok;
    } else {
      failedPorts += (failedPorts.empty() ? "" : " ") + report.port;
    }
  }
  table += std::to_string(reports.size()) + " boards: " + std::to_string(ok) + " ok";
  if (ok < reports.size()) {
    table += ", " + std::to_string(reports.size() - ok) + " not written: " + failedPorts;
  }
  return table + "\n";
}

BoardTable::BoardTable(std::vector<BoardReport> initial, bool verify) : reports_(std::move(initial)), verify_(verify) {
  for (const BoardReport& report : reports_) portWidth_ = std::max(portWidth_, report.port.size());
}

std::string BoardTable::Update(size_t board, const BoardReport& report) {
  reports_[board] = report;
  return Draw();
}

std::string BoardTable::Draw() {
  std::string text;
  // Back to the first board's line, then every line anew, each cleared first.
  if (drawn_) text += "\x1b[" + std::to_string(reports_.size()) + "A";
  for (const BoardReport& each : reports_) text += "\r\x1b[2K" + BoardLine(each, portWidth_, verify_) + "\n";
  drawn_ = true;
  return text;
}

}  // namespace korvane::cli
