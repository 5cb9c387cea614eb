// kelvara-cli run in process, from the argument parser down, with its output
// and exit status captured.
#pragma once

#include <string>
#include <vector>

namespace kelvara::test {

struct CliRun {
  int status;
  std::string out, err;
};

// The arguments after the program name.
CliRun RunCliArgs(std::vector<std::string> args);

}  // namespace kelvara::test
