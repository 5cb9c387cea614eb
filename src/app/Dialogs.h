// How the desktop program asks the user: the Prompt port with Qt dialogs,
// plus the few dialogs that only windows need (image file dialogs, the disk
// name, running a modal window, the beep). Windows take a Dialogs&, so tests
// answer every question from a script.
#pragma once

#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/Prompt.h"
#include "session/PendingLoads.h"

namespace kelvara {

// A file dialog's set-up. `filter` is "Name|patterns|Name|patterns";
// `filterIndex` is 1-based; `extensions` gives the default extension for
// each filter entry (the last one repeats for later entries).
struct FileDialogSpec {
  std::string title;
  std::string filter;
  int filterIndex = 1;
  std::string folder;
  std::string fileName;
  std::vector<std::string> extensions;
};

class Dialogs : public Prompt {
 public:
  // The open dialog; false when cancelled.
  virtual bool OpenFile(const FileDialogSpec& spec, std::string& path) = 0;
  // The save dialog; the chosen filter index comes back in filterIndex.
  virtual bool SaveFile(const FileDialogSpec& spec, int& filterIndex, std::string& path) = 0;
  // The disk name of a new TR-DOS disk: only an Ok button, so whatever the
  // edit holds when the dialog closes is the name.
  virtual std::string AskDiskName() = 0;
  // Shows a window modally; its result code.
  virtual int RunDialog(QDialog& dialog) = 0;
  virtual void Beep() = 0;
};

// The Qt dialogs, owned by the main window once it exists.
class QtDialogs : public Dialogs {
 public:
  void SetOwner(QWidget* owner) { owner_ = owner; }

  Answer AskYesNo(const std::string& caption, const std::string& text) override;
  Answer AskYesNoCancel(const std::string& caption, const std::string& text) override;
  bool AskText(const std::string& caption, const std::string& label, std::string& value,
               int maxLength) override;
  bool PickFolder(const std::string& caption, std::string& folder) override;
  bool PickOpenFiles(const std::string& caption, const std::string& filter,
                     const std::string& folder, std::vector<std::string>& files) override;
  bool PickSaveFile(const std::string& caption, const std::string& filter,
                    const std::string& folder, std::string& file) override;
  void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override;

  bool OpenFile(const FileDialogSpec& spec, std::string& path) override;
  bool SaveFile(const FileDialogSpec& spec, int& filterIndex, std::string& path) override;
  std::string AskDiskName() override;
  int RunDialog(QDialog& dialog) override;
  void Beep() override;

 private:
  QWidget* owner_ = nullptr;
};

// The dialogs of the main window and of every window it opens, each call
// counted as a modal window for as long as it is open: the image is not
// replaced meanwhile (PendingLoads). `lastClosed` runs when the last of them
// closed with files waiting for loading.
class CountedDialogs : public Dialogs {
 public:
  CountedDialogs(Dialogs& inner, PendingLoads& loads, std::function<void()> lastClosed)
      : inner_(inner), loads_(loads), lastClosed_(std::move(lastClosed)) {}

  Answer AskYesNo(const std::string& caption, const std::string& text) override;
  Answer AskYesNoCancel(const std::string& caption, const std::string& text) override;
  bool AskText(const std::string& caption, const std::string& label, std::string& value,
               int maxLength) override;
  bool PickFolder(const std::string& caption, std::string& folder) override;
  bool PickOpenFiles(const std::string& caption, const std::string& filter,
                     const std::string& folder, std::vector<std::string>& files) override;
  bool PickSaveFile(const std::string& caption, const std::string& filter,
                    const std::string& folder, std::string& file) override;
  void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override;

  bool OpenFile(const FileDialogSpec& spec, std::string& path) override;
  bool SaveFile(const FileDialogSpec& spec, int& filterIndex, std::string& path) override;
  std::string AskDiskName() override;
  int RunDialog(QDialog& dialog) override;
  void Beep() override { inner_.Beep(); }

 private:
  // Runs `show` as one open modal window.
  template <class Show>
  auto Counted(Show&& show);

  Dialogs& inner_;
  PendingLoads& loads_;
  std::function<void()> lastClosed_;
};

// Fixes a dialog's size: `designed` widened as far as its caption needs.
void FixSizeForCaption(QDialog& dialog, QSize designed);

// "Name|patterns|..." as Qt name filters ("Name (patterns)").
QStringList QtNameFilters(const std::string& filter);

// The file dialogs as built, for the tests that check their set-up. The save
// dialog's default extension follows the chosen type.
std::unique_ptr<QFileDialog> MakeOpenDialog(QWidget* owner, const FileDialogSpec& spec);
std::unique_ptr<QFileDialog> MakeSaveDialog(QWidget* owner, const FileDialogSpec& spec);

// The name dialog of a new TR-DOS disk ("Имя диска!").
class DiskNameDialog : public QDialog {
  Q_OBJECT
 public:
  explicit DiskNameDialog(QWidget* owner);
  QLineEdit* edit;
};

}  // namespace kelvara
