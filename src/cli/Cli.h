// kelvara-cli: the core's commands for batch work. Each command registers
// itself on the CLI11 application; RunCli parses and runs one.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "model/ZXDisk.h"
#include "session/Settings.h"

namespace CLI {
class App;
}

namespace kelvara::cli {

// What every command shares: output streams, the exit status it sets, and
// the settings file (read without writing back) for defaults.
struct Context {
  std::ostream& out;
  std::ostream& err;
  int status = 0;
  std::optional<TSettings> settings;  // read when a command first asks

  // The settings; the file is read on the first call.
  TSettings& Settings();

  // Reports a failure: the reason on stderr, exit status 1.
  void Fail(const std::string& reason);
  // Loads an image file of any type, the project file included; on failure
  // reports it and returns nullptr.
  std::unique_ptr<TZX_Disk> LoadImage(const std::string& path);
  // The folder files are extracted into, created with its parents when
  // missing; on failure reports it and returns false.
  bool MakeFolder(const std::string& folder);
};

// Exit status: 0 on success, 1 on a failure (reason on stderr), 2 on bad usage.
// The drive commands (read, write, drive-cat) use 2 for a run that finished
// with some sectors not done, and 1 for bad usage, as for any refusal.
inline constexpr int kExitPartly = 2;
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// Registration of each command group (one per source file).
void RegisterImageCommands(CLI::App& app, Context& ctx);  // info, convert
void RegisterBatchCommands(CLI::App& app, Context& ctx);  // verify, diff
void RegisterDriveCommands(CLI::App& app, Context& ctx);  // read, write, drive-cat
void RegisterFileCommands(CLI::App& app, Context& ctx);   // cat, extract, new, screen
void RegisterTrdosCommands(CLI::App& app, Context& ctx);  // add, rm, rename, compact
void RegisterMapCommands(CLI::App& app, Context& ctx);    // map
void RegisterDemoCommands(CLI::App& app, Context& ctx);   // demo

}  // namespace kelvara::cli
