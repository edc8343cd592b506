#include "cli/board_display.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "cli/outcome_texts.h"
#include "cli/progress_bar.h"

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
BoardWord EndWord(const BoardReport& report) {
  if (report.result.Succeeded()) return BoardWord::Done;
  return Aborted(report) ? BoardWord::Aborted : BoardWord::Failed;
}

BoardWord PhaseWord(const BoardReport& report, bool verify) {
  if (!report.started) return BoardWord::Waiting;
  if (report.finished) return EndWord(report);
  switch (report.phase) {
    case JobPhase::Reset:
    case JobPhase::ResetAgain:
      return BoardWord::Reset;
    case JobPhase::Handshake:
      return BoardWord::Handshake;
    case JobPhase::Erase:
      return BoardWord::Erase;
    case JobPhase::Transfer:
      return verify ? BoardWord::WritingVerifying : BoardWord::Writing;
    case JobPhase::Restart:
      return BoardWord::Restart;
  }
  return BoardWord::Waiting;
}

std::string Padded(const std::string& text, size_t width) {
  const size_t columns = TerminalColumns(text);
  return columns >= width ? text : text + std::string(width - columns, ' ');
}

}  // namespace

std::string BoardLine(const BoardReport& report, size_t portWidth, bool verify, Language language) {
  const int percent = std::clamp(report.percent, 0, 100);
  const int filled = percent * kBarWidth / 100;
  char tail[16];
  std::snprintf(tail, sizeof tail, "] %3d%%  ", percent);
  std::string line = Padded(report.port, portWidth) + "  [" +
                     std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(kBarWidth - filled), '-') + tail +
                     BoardWordText(PhaseWord(report, verify), language);
  if (report.attempt > 1)
    line += Fill(WordsOf(language).attemptNth, {std::to_string(report.attempt)});
  if (report.finished) {
    line += " " + Seconds(report.seconds);
    if (!report.result.Succeeded() && !Aborted(report))
      line += ": " + ShortText(report.result, language);
  }
  return line;
}

std::string FinishedLine(const BoardReport& report, int attempts, Language language) {
  const Words& words = WordsOf(language);
  const std::string end =
      report.result.Succeeded() ? words.ok : BoardWordText(EndWord(report), language);
  std::string line = Fill(words.finished, {report.port, end, Seconds(report.seconds)});
  if (attempts > 1)
    line += Fill(words.attemptOf, {std::to_string(report.attempt), std::to_string(attempts)});
  if (!report.result.Succeeded() && !Aborted(report))
    line += ": " + ShortText(report.result, language);
  return line + "\n";
}

std::string SummaryTable(const std::vector<BoardReport>& reports, Language language,
                         const std::vector<std::optional<uint64_t>>& serials) {
  const Words& words = WordsOf(language);
  size_t portWidth = TerminalColumns(words.portHeader);
  for (const BoardReport& report : reports)
    portWidth = std::max(portWidth, TerminalColumns(report.port));
  // The serial numbers' column, when any board took one.
  size_t serialWidth = 0;
  for (const std::optional<uint64_t>& serial : serials) {
    if (serial) {
      serialWidth = std::max(
          {serialWidth, TerminalColumns(words.serialHeader), std::to_string(*serial).size()});
    }
  }
  const auto serialCell = [&](size_t board) -> std::string {
    if (serialWidth == 0) return "";
    const bool has = board < serials.size() && serials[board];
    return Padded(has ? std::to_string(*serials[board]) : "-", serialWidth) + "  ";
  };
  std::string table = Padded(words.portHeader, portWidth) + "  " + Padded(words.time, 9) + "  " +
                      (serialWidth ? Padded(words.serialHeader, serialWidth) + "  " : "") +
                      words.result + "\n";
  size_t ok = 0;
  std::string failedPorts;
  for (size_t board = 0; board < reports.size(); ++board) {
    const BoardReport& report = reports[board];
    std::string result = report.result.Succeeded() ? words.ok : ShortText(report.result, language);
    if (report.attempt > 1) result += Fill(words.attemptsTaken, {std::to_string(report.attempt)});
    table += Padded(report.port, portWidth) + "  " + Padded(Seconds(report.seconds), 9) + "  " +
             serialCell(board) + result + "\n";
    if (report.result.Succeeded()) {
      ++ok;
    } else {
      failedPorts += (failedPorts.empty() ? "" : " ") + report.port;
    }
  }
  table += Fill(words.summaryOk, {std::to_string(reports.size()), std::to_string(ok)});
  if (ok < reports.size())
    table += Fill(words.summaryNot, {std::to_string(reports.size() - ok), failedPorts});
  return table + "\n";
}

BoardTable::BoardTable(std::vector<BoardReport> initial, bool verify, int rows, Language language)
    : reports_(std::move(initial)), verify_(verify), language_(language) {
  for (const BoardReport& report : reports_)
    portWidth_ = std::max(portWidth_, TerminalColumns(report.port));
  // The lines must fit above the cursor's line: a redraw that scrolls cannot go back up.
  const size_t room = rows > 1 ? static_cast<size_t>(rows - 1) : 1;
  if (rows > 0 && reports_.size() > room) {
    boardLines_ = room - 1;
  } else {
    boardLines_ = reports_.size();
  }
}

std::string BoardTable::Update(size_t board, const BoardReport& report) {
  reports_[board] = report;
  return Draw();
}

std::string BoardTable::CountLine() const {
  size_t counts[10] = {};
  for (const BoardReport& report : reports_) {
    BoardWord word = PhaseWord(report, false);
    if (report.started && !report.finished)
      word = BoardWord::Writing;  // every step of a job at work
    ++counts[static_cast<size_t>(word)];
  }
  std::string line = Fill(WordsOf(language_).boards, {std::to_string(reports_.size())});
  const char* separator = " ";
  for (const BoardWord word : {BoardWord::Waiting, BoardWord::Writing, BoardWord::Done,
                               BoardWord::Failed, BoardWord::Aborted}) {
    const size_t count = counts[static_cast<size_t>(word)];
    if (count == 0) continue;
    line += separator + std::to_string(count) + " " + BoardWordText(word, language_);
    separator = ", ";
  }
  return line;
}

std::string BoardTable::Draw() {
  std::vector<std::string> lines;
  if (boardLines_ == reports_.size()) {
    for (const BoardReport& each : reports_)
      lines.push_back(BoardLine(each, portWidth_, verify_, language_));
  } else {
    // More boards than the terminal has rows: the counts, then the boards at work (the
    // finished ones are in the table at the end), as many as fit; the same number of
    // lines each time, so that the next redraw finds the first one.
    lines.push_back(CountLine());
    for (const BoardReport& each : reports_) {
      if (lines.size() > boardLines_) break;
      if (each.started && !each.finished)
        lines.push_back(BoardLine(each, portWidth_, verify_, language_));
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
