#include "cli/cli_support.h"

#include <cstdio>

#include "korvane_version.h"

#include "cli/outcome_texts.h"
#include "cli/port_names.h"
#include "cli/progress_bar.h"

namespace korvane::cli {

double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

size_t StatusLine::Columns() {
  const int columns = console_.ErrColumns();
  return columns > 0 ? static_cast<size_t>(columns) : 0;
}

void StatusLine::Show(const std::string& whole) {
  // Within the terminal's width, its last column left free: a line that wraps would
  // scroll at each redraw.
  const size_t width = Columns();
  const std::string text = width > 1 ? FitColumns(whole, width - 1) : whole;
  const size_t columns = TerminalColumns(text);
  console_.Err("\r" + text + std::string(shown_ > columns ? shown_ - columns : 0, ' '));
  shown_ = columns;
  drawn_ = true;
}

void StatusLine::End() {
  if (drawn_) console_.Err("\n");
  drawn_ = false;
  shown_ = 0;
}

ProgressCallback BlockBar::Progress() {
  return [this](int32_t percent) {
    if (drawn_) {
      status_.Show(
          RenderProgressBar(percent, started_, blocks_, SecondsSince(start_), status_.Columns()));
    }
    ++started_;
  };
}

void BlockBar::Full() {
  if (drawn_) {
    status_.Show(RenderProgressBar(100, blocks_, blocks_, SecondsSince(start_), status_.Columns()));
  }
}

std::function<void(const std::string&)> TraceTo(Console& console, SteadyClock::time_point start) {
  return [&console, start](const std::string& line) {
    console.Err(Format("[%8.3f] ", SecondsSince(start)) + Printable(line) + "\n");
  };
}

bool ShowJobSteps(const Options& options, Console& console, StatusLine& status, JobOptions* job) {
  const bool drawn = !options.quiet && !options.verbose && console.ErrIsTerminal();
  const bool byHand = options.reset == ResetWiring::None;
  if (drawn || byHand) {
    job->observer.step = [&status, &console, drawn, byHand,
                          language = console.MessageLanguage()](const JobStep& step) {
      // Without lines the user resets the board again, as for the first handshake.
      if (byHand && step.phase == JobPhase::ResetAgain) {
        status.End();
        console.Err("korvane-cli: " + std::string(WordsOf(language).holdButtonAgain) + "\n");
        return;
      }
      const std::string text = drawn ? StepText(step, language) : "";
      if (!text.empty()) status.Show(text);
    };
  }
  return drawn;
}

void TellHowToReset(const Options& options, Console& console) {
  if (options.reset != ResetWiring::None) return;
  console.Err("korvane-cli: " + std::string(WordsOf(console.MessageLanguage()).holdButton) + "\n");
}

JobOptions JobOptionsOf(const Options& options, Console& console, SteadyClock::time_point start) {
  JobOptions job;
  job.session.transferBaud = options.transferBaud;
  job.session.wiring = options.reset;
  job.session.after = options.after;
  job.session.parts = options.AllowedParts();
  job.session.timing = options.timing;
  job.write.program.verify = options.verify;
  job.write.eraseAllFirst = options.eraseAll && !options.file.empty();
  job.observer.abort = &Interrupted;
  if (options.verbose) job.observer.trace = TraceTo(console, start);
  return job;
}

bench::BenchSettings BenchSettingsOf(const Options& options) {
  bench::BenchSettings settings;
  settings.logTo = options.logTo;
  settings.serial = options.serial;
  settings.serialFile = options.serialFile;
  settings.serialStart = options.serialStart;
  settings.serialKeep = options.serialKeep;
  settings.imageFile = options.file;
  settings.verify = options.verify;
  settings.transferBaud = options.transferBaud;
  settings.largestFlash = options.LargestFlash();
  for (const Part* part : options.AllowedParts()) settings.maps.push_back(&part->map);
  settings.station = options.stationName;
  settings.version = KORVANE_VERSION;
  settings.abort = &Interrupted;
  return settings;
}

}  // namespace korvane::cli
