// The main window: menus, the disk map, the hexadecimal panel, the
// information group, the LOG list, the disk comment and the status bar. It
// owns the one disk image of the run.
//
// Components keep their short names (zxd, Lzx1, lb1, s1, ...) and are public,
// as the map's and panels' commands reach them directly; handlers are named
// after the component and event.
#pragma once

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolBar>
#include <array>
#include <memory>
#include <string>

#include "app/Dialogs.h"
#include "app/DriveLink.h"
#include "app/Settings.h"
#include "filesystems/Trdos.h"
#include "formats/ImageFiles.h"
#include "model/ZXDisk.h"

namespace kelvara {

class DiskMap;
class SingleInstance;
class Tfmset;

class TFMain : public QMainWindow {
  Q_OBJECT
 public:
  TFMain(Dialogs& dialogs, SettingsStore store, DriveLink& drive, QWidget* parent = nullptr);
  ~TFMain() override;

  // The first showing: map columns, settings, driver and drive, the image
  // named on the command line (empty for none), then the hand-off listener
  // (null for none).
  void FormShow(const std::string& commandLineImage, SingleInstance* instance);

  TZX_Disk& Disk() { return *disk_; }
  TSettings& Settings() { return settings_; }
  const std::string& ImageFileName() const { return imageFileName_; }
  // A menu item or menu by its component name ("N31", "N2", ...).
  QAction* Item(const QString& name) const;
  QString StatusPanel(int i) const { return sb[static_cast<size_t>(i)]->text(); }

  // Loads an image and finishes the load as every caller does: the comment,
  // the map and the comment page on success; an empty image and the error
  // box on failure.
  bool LoadAndFinish(const std::string& path);

  // Menu handlers.
  void N1Click();         // "Образ" opens: enabling
  void N2Click();         // "Диск" opens: enabling
  void TRDOS1Click();     // "Создать образ" -> "TR-DOS диска"
  void CPMProfi1Click();  // "Создать образ" -> "CP/M диска (Profi)"
  void N4Click();         // "Загрузить" (project file; the item is hidden)
  void N6Click();         // "Сохранить" (project file; the item is hidden)
  void N31Click();        // "Загрузить образ"
  void N32Click();        // "Сохранить образ"
  void N12Click();        // "Очистить образ"
  void N20Click();        // "Выход"
  void N29Click();        // "Настройки программы"
  // The current cell changed: the header's track and sector values and the
  // track's log.
  void zxdClick();
  // Files dropped at a point of the window: one file on the disk map loads,
  // anything else beeps. True when a file was taken.
  bool WMDropFiles(const QPoint& at, const QStringList& files);
  // A running copy was handed messages: come to the front and load each path.
  void HandoffArrived();

  DiskMap* zxd = nullptr;
  QLabel* l1 = nullptr;          // "Сектор -" value
  QLabel* l2 = nullptr;          // "Дорожка -" value
  QPlainTextEdit* s1 = nullptr;  // hexadecimal panel
  std::array<QPushButton*, 3> pnb{};  // "Принять", "Сохранить", "Загрузить" under s1
  QGroupBox* gb1 = nullptr;
  std::array<QLabel*, 6> an{};  // an1 .. an6 of gb1
  QTabWidget* pc1 = nullptr;
  QListWidget* Lzx1 = nullptr;    // LOG
  QPlainTextEdit* lb1 = nullptr;  // disk comment
  QToolBar* toolb1 = nullptr;
  std::array<QLabel*, 3> sb{};  // status bar panels
  Tfmset* fmset = nullptr;
  // The catalog that sector owners are looked up in; only a project load
  // takes it.
  TTrdosCatalog CatalogSnapshot;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenus();
  QWidget* BuildMapPanel();
  QWidget* BuildRightPanel();
  QWidget* BuildBottomPanel();
  void BuildStatusBar();
  // Runs the driver and drive opening (or the re-opening after the settings
  // dialog) and shows what it reports.
  void OpenDrive(bool reopen);
  bool FinishLoad(const LoadResult& result);
  // The memo filled afresh with the image's comment.
  void ShowComment();
  void AddLogLine(const std::string& line, bool select);
  void BringToFront();

  Dialogs& dialogs_;
  SettingsStore store_;
  DriveLink& drive_;
  std::unique_ptr<TZX_Disk> disk_;
  TSettings settings_;
  std::string imageFileName_;
  int saveFilterIndex_ = 1;
  SingleInstance* instance_ = nullptr;
};

}  // namespace kelvara
