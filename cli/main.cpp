#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/console.h"
#include "common/standard_streams.h"

int main(int argc, char** argv) {
  korvane::SecureStandardStreams();
  korvane::cli::InstallInterruptHandler();
  korvane::cli::SystemConsole console;
  return korvane::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), console);
}
