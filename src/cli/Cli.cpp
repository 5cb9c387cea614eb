#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>

#include "formats/ImageFiles.h"

namespace kelvara::cli {

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

std::unique_ptr<TZX_Disk> Context::LoadImage(const std::string& path) {
  auto disk = std::make_unique<TZX_Disk>();
  const LoadResult r = LoadImageFile(*disk, path, ImageTypes::WithProject);
  if (r.ok) return disk;
  Fail(path + ": " + r.errorText);
  return nullptr;
}

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Context ctx{out, err, 0, {}};
  const std::string folder = SettingsStore::ProgramFolder();
  SettingsStore(SettingsStore::DefaultIniPath(folder), folder).Load(ctx.settings, false);

  CLI::App app{"Kelvara: ZX Spectrum floppy disks and their image files.", "kelvara-cli"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "kelvara-cli 0.1.0");
  RegisterImageCommands(app, ctx);
  RegisterMapCommands(app, ctx);
  RegisterDriveCommands(app, ctx);
  RegisterFileCommands(app, ctx);
  RegisterTrdosCommands(app, ctx);
  RegisterDemoCommands(app, ctx);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version are "errors" with exit code 0.
    const int code = app.exit(e, out, err);
    return code == 0 ? 0 : 2;
  }
  return ctx.status;
}

}  // namespace kelvara::cli
