// The main window's drive commands: the reading and writing runs in the
// progress window, the controller reset and the TR-DOS catalog read straight
// from the drive. What each decides is in the drive layer; here the window
// asks, hosts the run and shows the outcome.
#include <QApplication>
#include <QMenu>
#include <QTimer>

#include "app/TFMain.h"
#include "app/T_Prog.h"
#include "widgets/DiskMap.h"

namespace kelvara {

namespace {

// The main window's side of a drive operation: the LOG list, the header
// values and the "Ошибка!" boxes it owns. The progress window adds the track
// label, the progress bar and "Отмена"; the two commands that run without it
// use this host alone.
class MainWindowHost final : public OperationHost {
 public:
  MainWindowHost(TFMain& window, Dialogs& dialogs) : w_(window), dialogs_(dialogs) {}

  void ClearLog() override {
    w_.Lzx1->clear();
    w_.pc1->setCurrentIndex(0);
  }
  // The list follows the newest line while the run goes on, selected or
  // not; once the run is over the user scrolls where they like.
  void AddLog(const std::string& line, bool select) override {
    w_.Lzx1->addItem(QString::fromStdString(line));
    QListWidgetItem* newest = w_.Lzx1->item(w_.Lzx1->count() - 1);
    if (select) w_.Lzx1->setCurrentItem(newest);
    w_.Lzx1->scrollToItem(newest);
  }
  // The catalog read starts with both header values at "0".
  void SetTrackLabel(const std::string& text) override {
    w_.l2->setText(QString::fromStdString(text));
    w_.l1->setText(QString::fromStdString(text));
  }
  void SetProgress(int, int) override {}
  void ProcessEvents() override {}
  bool CancelRequested() override { return false; }
  void ShowMessage(const std::string& caption, const std::string& text) override {
    dialogs_.ShowMessage(caption, text, MessageIcon::Error);
  }

 private:
  TFMain& w_;
  Dialogs& dialogs_;
};

}  // namespace

void TFMain::BuildDrive() {
  windowHost_ = std::make_unique<MainWindowHost>(*this, dialogs_);
  prog = new T_Prog(this, *windowHost_);
  const std::pair<const char*, void (TFMain::*)()> handlers[] = {
      {"N8", &TFMain::N8Click},   {"N9", &TFMain::N9Click},   {"N17", &TFMain::N17Click},
      {"N14", &TFMain::N14Click}, {"N15", &TFMain::N15Click}, {"N33", &TFMain::N33Click},
      {"N10", &TFMain::N10Click}, {"N22", &TFMain::N22Click},
  };
  for (const auto& [name, handler] : handlers)
    connect(Item(name), &QAction::triggered, this, handler);
}

void TFMain::N8Click() {
  StartDriveOperation(kModeScan);
}

void TFMain::N9Click() {
  StartDriveOperation(kModeRead);
}

void TFMain::N17Click() {
  StartDriveOperation(kModeScan | kModeRead);
}

void TFMain::N14Click() {
  StartDriveOperation(kModeFormat);
}

void TFMain::N15Click() {
  StartDriveOperation(kModeWrite);
}

void TFMain::N33Click() {
  StartDriveOperation(kModeFormat | kModeWrite);
}

void TFMain::StartDriveOperation(int mode) {
  const DriveRunPlan plan = kelvara::StartDriveOperation(mode, *disk_, settings_);
  for (const std::string& m : plan.messages)
    dialogs_.ShowMessage(kErrorCaption, m, MessageIcon::Error);
  if (!plan.start) return;
  if (plan.asksFirst) {
    std::string error;
    if (!drive_.CanKeepWrittenDisk(error)) {
      dialogs_.ShowMessage(kErrorCaption, error, MessageIcon::Error);
      return;
    }
    if (dialogs_.AskYesNo(kOverwriteCaption, kOverwriteQuestion) != Answer::Yes) return;
  }
  zxd->ScrollToTopAndRepaint();
  OperationResult result;
  prog->Prepare(plan.caption, plan.progressMax, [this, &plan, &result](OperationHost& host) {
    result = drive_.Run(plan, *disk_, settings_, host);
  });
  driveRunning_ = true;
  dialogs_.RunDialog(*prog);
  driveRunning_ = false;
  const DriveRunAftermath after = AfterDriveRun(mode, prog->Ran(), plan.asksFirst, result);
  if (after.imageChanged) NoteImage(ImageEvent::DriveRead);
  if (after.keepWrittenDisk) {
    std::string error;
    if (!drive_.KeepWrittenDisk(settings_, error))
      dialogs_.ShowMessage(kErrorCaption, error, MessageIcon::Error);
  }
  zxd->viewport()->update();
  // The panels show the current cell as the run left it; the LOG keeps the
  // run's lines.
  CellView view = CurrentCellView();
  view.logChanged = false;
  ShowCellView(view);
  if (closeAfterRun_) {
    closeAfterRun_ = false;
    QTimer::singleShot(0, this, &QWidget::close);
  }
}

void TFMain::N22Click() {
  drive_.ResetController(*windowHost_);
}

void TFMain::N10Click() {
  // The read keeps the track's bytes; the catalog window opens on them,
  // read-only, once they hold a TR-DOS catalog.
  std::vector<uint8_t> track0;
  const DriveCatalogRead read =
      drive_.ReadCatalog(*windowHost_, [&track0](std::span<const uint8_t> block) {
        TTrdosCatalog catalog;
        track0.assign(block.begin(), block.end());
        return ParseTrdosCatalog(block, catalog);
      });
  if (read.ok) ShowDriveCatalog(track0);
}

}  // namespace kelvara
