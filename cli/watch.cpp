#include "cli/watch.h"

#include <optional>
#include <string>

#include "cli/cli_app.h"
#include "cli/write_command.h"
#include "common/watched_file.h"
#include "job/image_file.h"

namespace korvane::cli {

int Watch(const Options& options, Console& console, const Boards& boards, Bench& bench) {
  console.Err("korvane-cli: watching " + options.file + " (Ctrl-C stops)\n");
  std::string seenPath;  // what the previous look found, if anything
  std::optional<FileStamp> seenStamp;
  for (;;) {
    // The same test as the window's watcher: a folder of that name does not count. For
    // a pattern, the first match is the file written (and deleted).
    const std::string found = FindWatchedFile(options.file);
    const std::optional<FileStamp> stamp = found.empty() ? std::nullopt : StampOf(found);
    if (stamp && seenStamp && found == seenPath && *stamp == *seenStamp) {
      Options once = options;
      once.file = found;
      int code = WriteOnce(once, console, boards, bench);
      if (code != kSuccess) return code;
      seenStamp.reset();
    } else {
      seenPath = found;
      seenStamp = stamp;
    }
    for (uint32_t waited = 0; waited < kWatchIntervalMs && !Interrupted.Requested();
         waited += 100) {
      console.Sleep(100);
    }
    if (Interrupted.Requested()) {
      console.Err("korvane-cli: stopped watching\n");
      return kSuccess;
    }
  }
}

}  // namespace korvane::cli
