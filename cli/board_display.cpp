#include "cli/board_display.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "cli/console.h"

namespace korvane::cli {

namespace {

constexpr int kBarWidth = 20;

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

bool Aborted(const BoardReport& report) {
  return report.finished && report.result.outcome == JobOutcome::Aborted;
}

// How a finished job ended, in a word.
const char* EndName(const BoardReport& report) {
  if (report.result.Succeeded()) return "done";
  return Aborted(report) ? "aborted" : "failed";
}

std::string PhaseName(const BoardReport& report, bool verify) {
  if (!report.started) return "waiting";
  if (report.finished) return EndName(report);
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
    if (!report.result.Succeeded() && !Aborted(report)) line += ": " + MessageText(report.result);
  }
  return line;
}

std::string FinishedLine(const BoardReport& report, int attempts) {
  const std::string end = report.result.Succeeded() ? "ok" : EndName(report);
  std::string line = report.port + ": " + end + " in " + Seconds(report.seconds);
  if (attempts > 1) line += " (attempt " + std::to_string(report.attempt) + " of " + std::to_string(attempts) + ")";
  if (!report.result.Succeeded() && !Aborted(report)) line += ": " + MessageText(report.result);
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

BoardTable::BoardTable(std::vector<BoardReport> initial, bool verify, int rows)
    : reports_(std::move(initial)), verify_(verify) {
  for (const BoardReport& report : reports_) portWidth_ = std::max(portWidth_, report.port.size());
  // The lines must fit above the cursor's line: a redraw that scrolls cannot go back up.
  const size_t room = rows > 1 ? static_cast<size_t>(rows - 1) : 1;
  if (rows > 0 && reports_.size() > room) boardLines_ = room - 1;
  else boardLines_ = reports_.size();
}

std::string BoardTable::Update(size_t board, const BoardReport& report) {
  reports_[board] = report;
  return Draw();
}

std::string BoardTable::CountLine() const {
  size_t waiting = 0, working = 0, done = 0, failed = 0, aborted = 0;
  for (const BoardReport& report : reports_) {
    if (!report.started) ++waiting;
    else if (!report.finished) ++working;
    else if (report.result.Succeeded()) ++done;
    else if (Aborted(report)) ++aborted;
    else ++failed;
  }
  std::string line = std::to_string(reports_.size()) + " boards:";
  const char* separator = " ";
  for (const auto& [count, name] : {std::pair<size_t, const char*>{waiting, "waiting"},
                                    {working, "writing"},
                                    {done, "done"},
                                    {failed, "failed"},
                                    {aborted, "aborted"}}) {
    if (count == 0) continue;
    line += separator + std::to_string(count) + " " + name;
    separator = ", ";
  }
  return line;
}

std::string BoardTable::Draw() {
  std::vector<std::string> lines;
  if (boardLines_ == reports_.size()) {
    for (const BoardReport& each : reports_) lines.push_back(BoardLine(each, portWidth_, verify_));
  } else {
    // More boards than the terminal has rows: the counts, then the boards at work (the
    // finished ones are in the table at the end), as many as fit; the same number of
    // lines each time, so that the next redraw finds the first one.
    lines.push_back(CountLine());
    for (const BoardReport& each : reports_) {
      if (lines.size() > boardLines_) break;
      if (each.started && !each.finished) lines.push_back(BoardLine(each, portWidth_, verify_));
    }
    lines.resize(boardLines_ + 1);
  }
  std::string text;
  // Back to the first line, then every line anew, each cleared first.
  if (drawnLines_ > 0) text += "\x1b[" + std::to_string(drawnLines_) + "A";
  for (const std::string& line : lines) text += "\r\x1b[2K" + line + "\n";
  drawnLines_ = lines.size();
  return text;
}

}  // namespace korvane::cli
