// The program's entry: one copy per user. A later copy hands its image path
// to the running one and exits without a window; the first copy opens the
// main window.
#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Dialogs.h"
#include "app/QtTranslations.h"
#include "app/SingleInstance.h"
#include "app/TFMain.h"
#include "drive/DriveSession.h"
#include "drive/flux/FluxFloppy.h"
#include "session/StartupRules.h"

int main(int argc, char** argv) {
  using namespace kelvara;
  // Answered before any window or display connection.
  const CommandLine asked = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (asked.version || asked.help) {
    std::fputs(asked.version ? kVersionText : kUsageText, stdout);
    if (asked.version) std::fputs("\n", stdout);
    return 0;
  }
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  QApplication::setApplicationName("Kelvara");
  InstallQtTranslations(app);
  const CommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  std::error_code noFolder;
  const std::string folder = std::filesystem::current_path(noFolder).string();

  SingleInstance instance;
  if (instance.HandOff(HandoffMessage(line.image, folder))) return 0;
  // Without the listener the program still works, only as a lone copy.
  instance.Listen();

  // A process-wide setting, so here rather than in the window.
  RaisePriority();

  const std::string programFolder = SettingsStore::ProgramFolder();
  const std::string iniPath = SettingsStore::DefaultIniPath(programFolder);
  // The command line's drive, else the one the settings choose (and choose
  // again when the settings dialog changes them).
  TSettings settings;
  SettingsStore(iniPath, programFolder).Load(settings, false);
  std::unique_ptr<FloppyDriver> driver;
  const bool commandLineFlux = !line.flux.empty() || !line.fluxSim.empty();
  const bool followSettings = !commandLineFlux && line.virtualDrive.empty();
  std::string warning;
  if (commandLineFlux) {
    flux::FluxDriveOptions options;
    // A bad value is said and left out; the drive then opens as it can.
    flux::FluxOptionsFromSettings(settings, options, warning);
    options.device = line.flux;
    options.simulatedImage = line.fluxSim;
    driver = flux::CreateFluxFloppy(std::move(options));
  } else if (followSettings) {
    driver = BackendFromSettings(settings, warning);
  } else {
    driver = CreateFloppyDriver(line.virtualDrive);
  }
  if (!warning.empty()) std::fprintf(stderr, "%s\n", warning.c_str());
  DriveSession session(std::move(driver));
  if (followSettings) session.FollowSettings(settings);
  QtDialogs dialogs;
  TFMain window(dialogs, SettingsStore(iniPath, programFolder), session);
  dialogs.SetOwner(&window);
  window.show();
  window.FormShow(AbsolutePath(line.image, folder), &instance);
  return app.exec();
}
