// Dialogs answered from a script, for the window tests: every question and
// message goes through a FakePrompt; file dialogs, the disk name and modal
// windows take their answers from queues and hooks.
#pragma once

#include <QDir>
#include <QTemporaryDir>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>

#include "app/Dialogs.h"
#include "app/TFMain.h"
#include "drive/DriveSession.h"
#include "support/FakePrompt.h"

namespace kelvara::test {

class ScriptedDialogs : public Dialogs {
 public:
  FakePrompt prompt;
  std::deque<std::string> openFiles;  // answers of the open dialog; none = cancel
  std::deque<std::string> saveFiles;  // answers of the save dialog; none = cancel
  int chosenSaveFilter = 0;           // 0 = leave the index as offered
  std::vector<FileDialogSpec> shownSpecs;
  std::deque<std::string> diskNames;
  std::function<void(QDialog&)> onDialog;  // plays the user in a modal window
  int beeps = 0;

  Answer AskYesNo(const std::string& c, const std::string& t) override {
    return prompt.AskYesNo(c, t);
  }
  Answer AskYesNoCancel(const std::string& c, const std::string& t) override {
    return prompt.AskYesNoCancel(c, t);
  }
  bool AskText(const std::string& c, const std::string& l, std::string& v, int n) override {
    return prompt.AskText(c, l, v, n);
  }
  bool PickFolder(const std::string& c, std::string& f) override { return prompt.PickFolder(c, f); }
  bool PickOpenFiles(const std::string& c, const std::string& fl, const std::string& fo,
                     std::vector<std::string>& files) override {
    return prompt.PickOpenFiles(c, fl, fo, files);
  }
  bool PickSaveFile(const std::string& c, const std::string& fl, const std::string& fo,
                    std::string& file) override {
    return prompt.PickSaveFile(c, fl, fo, file);
  }
  void ShowMessage(const std::string& c, const std::string& t, MessageIcon i) override {
    prompt.ShowMessage(c, t, i);
  }

  bool OpenFile(const FileDialogSpec& spec, std::string& path) override {
    shownSpecs.push_back(spec);
    return Take(openFiles, path);
  }
  bool SaveFile(const FileDialogSpec& spec, int& filterIndex, std::string& path) override {
    shownSpecs.push_back(spec);
    if (chosenSaveFilter) filterIndex = chosenSaveFilter;
    return Take(saveFiles, path);
  }
  std::string AskDiskName() override {
    std::string name = "NEW DISK";
    Take(diskNames, name);
    return name;
  }
  int RunDialog(QDialog& dialog) override {
    dialog.show();
    if (onDialog) onDialog(dialog);
    dialog.hide();
    return dialog.result();
  }
  void Beep() override { ++beeps; }

 private:
  static bool Take(std::deque<std::string>& q, std::string& out) {
    if (q.empty()) return false;
    out = q.front();
    q.pop_front();
    return true;
  }
};

// A drive layer that reports what a test tells it to and counts openings.
class FakeDrive : public DriveLink {
 public:
  DriveOpenReport startup{{}, "  Driver version - 01000000 / FDC Type - ENHANCED", true};
  bool valid = true;
  int reopened = 0;
  int runs = 0;  // operations run
  int kept = 0;  // written disks kept

  DriveOpenReport OpenAtStartup(const TSettings&) override { return startup; }
  DriveOpenReport Reopen(const TSettings&) override {
    ++reopened;
    return {{}, {}, valid};
  }
  bool DriveValid() const override { return valid; }
  // No drive behind it: every operation stops at once.
  OperationResult Run(const DriveRunPlan&, TZX_Disk&, const TSettings&, OperationHost&) override {
    ++runs;
    return {};
  }
  bool CanKeepWrittenDisk(std::string&) override { return true; }
  bool KeepWrittenDisk(const TSettings&, std::string&) override { return ++kept, true; }
  bool ResetController(OperationHost&) override { return false; }
  DriveCatalogRead ReadCatalog(OperationHost&, const CatalogParse&) override { return {}; }
};

// A TRD file of `tracks` tracks of a byte pattern.
inline std::string WriteTrd(const QTemporaryDir& dir, const char* name, int tracks) {
  const std::string path = dir.filePath(name).toStdString();
  std::ofstream f(path, std::ios::binary);
  for (int i = 0; i < tracks * 4096; ++i)
    f.put(static_cast<char>(i * 7 + tracks));
  return path;
}

// A main window over the scripted dialogs and drive, its settings file in
// `dir`, shown and started without an image (handing over to `instance`).
inline std::unique_ptr<TFMain> ShownMainWindow(ScriptedDialogs& dialogs, const QTemporaryDir& dir,
                                               DriveLink& drive,
                                               SingleInstance* instance = nullptr) {
  auto w = std::make_unique<TFMain>(
      dialogs, SettingsStore(dir.filePath("Kelvara.ini").toStdString(), dir.path().toStdString()),
      drive);
  w->show();
  w->FormShow("", instance);
  return w;
}

// What the window tests hold: a temporary folder for the settings file, the
// scripted dialogs and drive, and the main window over them. A test's init()
// makes them afresh; its cleanup() closes the window first.
struct MainWindowFixture {
  std::unique_ptr<QTemporaryDir> dir;
  std::unique_ptr<ScriptedDialogs> dialogs;
  std::unique_ptr<FakeDrive> drive;
  std::unique_ptr<TFMain> w;

  void MakeFixture() {
    dir = std::make_unique<QTemporaryDir>();
    dialogs = std::make_unique<ScriptedDialogs>();
    drive = std::make_unique<FakeDrive>();
  }
  void ShowWindow(SingleInstance* instance = nullptr) {
    w = ShownMainWindow(*dialogs, *dir, *drive, instance);
  }
};

}  // namespace kelvara::test
