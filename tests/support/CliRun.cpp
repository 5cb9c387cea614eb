#include "support/CliRun.h"

#include <sstream>

#include "cli/Cli.h"

namespace kelvara::test {

CliRun RunCliArgs(std::vector<std::string> args) {
  args.insert(args.begin(), "kelvara-cli");
  std::vector<const char*> argv;
  for (const std::string& a : args)
    argv.push_back(a.c_str());
  std::ostringstream out, err;
  const int status = cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err);
  return {status, out.str(), err.str()};
}

}  // namespace kelvara::test
