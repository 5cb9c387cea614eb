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

const char* const kExitStatusHelp =
    "Exit status, the same for every command:\n"
    "  0  all done: every file converted, extracted or added; every image clean (verify); the\n"
    "     images the same (diff); every sector read or written (read, write, drive-cat)\n"
    "  1  refused or nothing done: bad usage, an image that cannot be read or written, no file\n"
    "     converted or extracted, nothing read or written (the reason on stderr)\n"
    "  2  partly done: some files failed, were skipped by a question or are damaged (verify);\n"
    "     the images differ (diff); the run finished with bad, missing or unwritten sectors\n"
    "     (their count on the last line of stderr)";

int ExitStatusOf(size_t done, size_t total) {
  if (done == 0) return kExitRefused;
  return done < total ? kExitPartly : kExitDone;
}

void Context::Fail(const std::string& reason) {
  err << "kelvara-cli: " << reason << "\n";
  status = kExitRefused;
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
  app.footer(kExitStatusHelp);
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
    // --help and --version are "errors" with exit code 0; bad usage is a refusal.
    return app.exit(e, out, err) == 0 ? kExitDone : kExitRefused;
  }
  return ctx.status;
}

}  // namespace kelvara::cli
