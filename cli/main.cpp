#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/console.h"

int main(int argc, char** argv) {
  korvane::cli::InstallInterruptHandler();
  korvane::cli::SystemConsole console;
  return korvane::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), console);
}
