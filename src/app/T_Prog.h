// The progress window of the drive operations: the track being worked on, a
// progress bar and "Отмена". It opens modally, starts the operation 100 ms
// after it is on screen and closes by itself whatever the outcome.
//
// The operation runs on this thread, as every driver call of the program
// does; it hands control back between driver calls (ProcessEvents), which
// is when the window repaints, the map follows and "Отмена" is taken.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>

#include "drive/OperationHost.h"

namespace kelvara {

class T_Prog : public QDialog, public OperationHost {
  Q_OBJECT
 public:
  using Operation = std::function<void(OperationHost&)>;

  // LOG lines and message boxes go through the main window's host.
  T_Prog(QWidget* owner, OperationHost& mainWindow);

  // The caption, the progress bar's maximum and the operation of the next
  // showing.
  void Prepare(const std::string& caption, int progressMax, Operation operation);

  // The operation of the last showing ran: the window was not closed (Esc,
  // its close box) before its start.
  bool Ran() const { return ran_; }

  void FormShow();
  void t1Timer();
  void bb1Click();  // "Отмена"

  QLabel* lbTrack = nullptr;  // the value after "Дорожка -"
  QProgressBar* VrPb = nullptr;
  QPushButton* bb1 = nullptr;
  QTimer* t1 = nullptr;

  // OperationHost
  void ClearLog() override { mainWindow_.ClearLog(); }
  void AddLog(const std::string& line, bool select) override { mainWindow_.AddLog(line, select); }
  void SetTrackLabel(const std::string& text) override;
  void SetProgress(int position, int maximum) override;
  void ProcessEvents() override;
  bool CancelRequested() override { return cancelRequested_; }
  void ShowMessage(const std::string& caption, const std::string& text) override {
    mainWindow_.ShowMessage(caption, text);
  }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  // Esc and the close box: "Отмена" while the operation runs, so that the
  // window never goes before the operation has ended.
  void reject() override;

 private:
  OperationHost& mainWindow_;
  Operation operation_;
  int progressMax_ = 0;
  bool cancelRequested_ = false;
  bool running_ = false;
  bool ran_ = false;
};

}  // namespace kelvara
