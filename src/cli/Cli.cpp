#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <filesystem>
#include <iostream>
#include <string_view>

#include "formats/ImageFiles.h"

namespace kelvara::cli {

namespace {

struct CommandGroup {
  std::array<std::string_view, 4> names;  // the group's commands
  void (*add)(CLI::App&, Context&);
};

// Every group in the order --help lists them.
constexpr CommandGroup kCommandGroups[] = {
    {{"info", "convert"}, RegisterImageCommands},
    {{"verify", "diff"}, RegisterBatchCommands},
    {{"map"}, RegisterMapCommands},
    {{"read", "write", "drive-cat"}, RegisterDriveCommands},
    {{"cat", "extract", "new", "screen"}, RegisterFileCommands},
    {{"add", "rm", "rename", "compact"}, RegisterTrdosCommands},
    {{"demo"}, RegisterDemoCommands},
};

}  // namespace

void Context::Fail(const std::string& reason) {
  err << "kelvara-cli: " << reason << "\n";
  status = 1;
}

bool Context::MakeFolder(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!ec) return true;
  Fail(folder + ": " + ec.message());
  return false;
}

TSettings& Context::Settings() {
  if (!settings) {
    settings.emplace();
    const std::string folder = SettingsStore::ProgramFolder();
    SettingsStore(SettingsStore::DefaultIniPath(folder), folder).Load(*settings, false);
  }
  return *settings;
}

std::unique_ptr<TZX_Disk> Context::LoadImage(const std::string& path) {
  auto disk = std::make_unique<TZX_Disk>();
  const LoadResult r = LoadImageFile(*disk, path, ImageTypes::WithProject);
  if (r.ok) return disk;
  Fail(path + ": " + r.errorText);
  return nullptr;
}

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Context ctx{out, err, 0, {}};
  CLI::App app{"Kelvara: ZX Spectrum floppy disks and their image files.", "kelvara-cli"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "kelvara-cli 0.1.0");
  app.footer(
      "Exit status:\n"
      "  0 on success, 1 on a failure (the reason on stderr), 2 on bad usage.\n"
      "  The drive commands read, write (and write --format-only) and drive-cat: 0 when every\n"
      "  sector was done; 2 when the run finished with bad, missing or unwritten sectors (their\n"
      "  count on the last line of stderr); 1 when nothing was done or the command was refused,\n"
      "  bad usage included.");
  // Building a command's options costs more than many a command's work:
  // only the group of the command named is built, none for --version, and
  // all of them for help, errors and names not in the table.
  const std::string_view first = argc > 1 ? argv[1] : "";
  const CommandGroup* named = nullptr;
  for (const CommandGroup& g : kCommandGroups) {
    if (std::ranges::find(g.names, first) != g.names.end()) named = &g;
  }
  if (named) {
    named->add(app, ctx);
  } else if (first != "--version") {
    for (const CommandGroup& g : kCommandGroups)
      g.add(app, ctx);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version are "errors" with exit code 0.
    const int code = app.exit(e, out, err);
    if (code == 0) return 0;
    // A drive command keeps 2 for a run that did part of its work.
    return named && named->add == RegisterDriveCommands ? 1 : 2;
  }
  return ctx.status;
}

}  // namespace kelvara::cli
