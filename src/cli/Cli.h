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

  // Reports a failure: the reason on stderr, exit status 1 (kExitRefused).
  void Fail(const std::string& reason);
  // Loads an image file of any type, the project file included; on failure
  // reports it and returns nullptr.
  std::unique_ptr<TZX_Disk> LoadImage(const std::string& path);
  // The folder files are extracted into, created with its parents when
  // missing; on failure reports it and returns false.
  bool MakeFolder(const std::string& folder);
};

// The exit status of every command, one convention: 0 all done; 1 refused
// or nothing done, bad usage included (the reason on stderr); 2 partly done,
// or done with findings (verify: damage; diff: differences).
inline constexpr int kExitDone = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitPartly = 2;
// The status of work on `total` items of which `done` were done: nothing
// done (none to do included) is 1.
int ExitStatusOf(size_t done, size_t total);
// The table of --help and the manual page.
extern const char* const kExitStatusHelp;
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
