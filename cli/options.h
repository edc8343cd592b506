// Command-line options of korvane-cli.
#pragma once

#include <string>
#include <vector>

namespace korvane::cli {

struct Options {
  std::string port;
  std::string file;
  bool deleteAfterWrite = false;
  bool watch = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

struct ParsedOptions {
  Options options;
  std::string error;  // a one-line usage error; empty when the arguments are good
};

// Parses the arguments after the program name. Short options may be bundled ("-dw"),
// values may be attached ("-pCOM5", "--port=COM5"); "--" ends the options.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace korvane::cli
