// The program's entry: one copy per user. A later copy hands its image path
// to the running one and exits without a window; the first copy opens the
// main window.
#include <QApplication>
#include <QDir>
#include <string>
#include <vector>

#include "app/Dialogs.h"
#include "app/DriveLink.h"
#include "app/Main.h"
#include "app/SingleInstance.h"
#include "app/StartupRules.h"

int main(int argc, char** argv) {
  using namespace kelvara;
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  QApplication::setApplicationName("Kelvara");
  const CommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));

  SingleInstance instance;
  if (instance.HandOff(HandoffMessage(line.image, QDir::currentPath().toStdString()))) return 0;
  // Without the listener the program still works, only as a lone copy.
  instance.Listen();

  // A process-wide setting, so here rather than in the window.
  RaisePriority();

  const std::string folder = SettingsStore::ProgramFolder();
  DriveSession session(CreateFloppyDriver(line.virtualDrive));
  SessionDriveLink drive(session);
  QtDialogs dialogs;
  TFMain window(dialogs, SettingsStore(SettingsStore::DefaultIniPath(folder), folder), drive);
  dialogs.SetOwner(&window);
  window.show();
  window.FormShow(line.image, &instance);
  return app.exec();
}
