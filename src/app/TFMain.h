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
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "app/Dialogs.h"
#include "drive/DriveSession.h"
#include "filesystems/Trdos.h"
#include "formats/ImageFiles.h"
#include "model/ZXDisk.h"
#include "session/ImageChanges.h"
#include "session/PendingLoads.h"
#include "session/Settings.h"
#include "session/TrackEditing.h"

namespace kelvara {

class DiskMap;
class OperationHost;
class SingleInstance;
class T_Prog;
class T_cCat;
class T_ZXCAT;
class TFmScr;
class Tfmset;
class TrdosCatalog;
class TSecAd;
class TSSHex;

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
  // The image holds work that no file has; the caption shows "*".
  bool Modified() const { return changes_.Modified(); }
  // A menu item or menu by its component name ("N31", "N2", ...).
  QAction* Item(const QString& name) const;
  QString StatusPanel(int i) const { return sb[static_cast<size_t>(i)]->text(); }

  // Loads an image and finishes the load as every caller does: the comment,
  // the map and the comment page on success; an empty image and the error
  // box on failure.
  bool LoadAndFinish(const std::string& path);
  // Before the image is replaced or emptied: "Сохранить изменения?" when
  // it holds unsaved work, "Да" saving through "Сохранить образ". True when
  // the command may go on.
  bool MaySaveChanges();

  // Menu handlers.
  void N1Click();         // "Образ" opens: enabling
  void N2Click();         // "Диск" opens: enabling
  void TRDOS1Click();     // "Создать образ" -> "TR-DOS диска"
  void CPMProfi1Click();  // "Создать образ" -> "CP/M диска (Profi)"
  void N4Click();         // "Загрузить" (project file; the item is hidden)
  void N6Click();         // "Сохранить" (project file; the item is hidden)
  void N31Click();        // "Загрузить образ"
  void N32Click();        // "Сохранить образ"
  bool SaveImageAs();     // its work: true when a file was written
  void N12Click();        // "Очистить образ"
  // "Просмотреть ZX каталог": the catalog window on the image, editable; when
  // it closes after a change, the raw tracks follow the sector data.
  void N26Click();
  // The catalog window, read-only, on track 0 as a drive read it (the bytes
  // of sectors 1 upward): for "Считать ZX каталог". A track that holds no
  // TR-DOS catalog gets the core's message and opens nothing.
  void ShowDriveCatalog(std::span<const uint8_t> track0);
  // "Просмотреть CP/M каталог": the CP/M window, not modal, when track 0
  // holds 5 or 6 sectors; otherwise the refusal.
  void CPM1Click();
  void N20Click();  // "Выход"
  void N29Click();  // "Настройки программы"
  void N8Click();   // "Сканирование дорожек"
  void N9Click();   // "Чтение секторов по  меткам"
  void N17Click();  // "Сканирование и чтение диска"
  void N14Click();  // "Форматировать диск"
  void N15Click();  // "Записать диск"
  void N33Click();  // "Форматировать и записать"
  void N10Click();  // "Считать ZX каталог"
  void N22Click();  // "Сбросить FDD контроллер"
  // A "Диск" command by its operation mode: the checks, the question before
  // a write, the progress window with the run, the map and panels after it.
  void StartDriveOperation(int mode);
  // The map and its panels (TFMainEditing.cpp). The current cell changed (a
  // click, an arrow key, a right click): the header, the information group,
  // the owner panel, the hex panel and the LOG list show it.
  void zxdClick();
  // A right click at a point of the map's viewport: the cell there becomes
  // the current cell and SelCol/SelTrack, and the context menu's entries are
  // enabled and shown for it (the menu itself is popped up by the caller).
  void zxdContextPopup(const QPoint& pos);
  void z8Click();   // "Убрать дорожку"
  void z9Click();   // "Добавить дорожку"
  void z10Click();  // "Убрать сектор"
  void z11Click();  // "Добавить сектор"
  void z12Click();  // "Данные секторов -> RAW"
  void z14Click();  // "Очистить дорожку"
  void z22Click();  // "Установить базовым трэком"
  void z23Click();  // "Редактировать адрес сектора"
  void N21Click();  // "Использовать базовый шаблон для всех дорожек"
  void s1ByteChange();
  void pnb1Click();  // "Принять" under the hex panel
  // The hex panel's edits into the image without the question, as "Да" to
  // "Сохранить изменения?" takes them.
  void StorePanelEdits();
  void pnb2Click();  // "Сохранить" under the hex panel
  void lb1Exit();    // the comment memo lost the focus
  // An entry of the map's context menu by number: z1 .. z23.
  QAction* ContextItem(int number) const;
  // Files dropped at a point of the window: one file on the disk map loads,
  // anything else beeps. True when a file was taken.
  bool WMDropFiles(const QPoint& at, const QStringList& files);
  // A running copy was handed messages: come to the front and load each path.
  void HandoffArrived();
  // Loads the files that wait, in turn, unless a modal window is open; each
  // after the question about unsaved work.
  void LoadWaitingFiles();

  DiskMap* zxd = nullptr;
  QLabel* l1 = nullptr;               // "Сектор -" value
  QLabel* l2 = nullptr;               // "Дорожка -" value
  TSSHex* s1 = nullptr;               // hexadecimal panel
  std::array<QPushButton*, 3> pnb{};  // "Принять", "Сохранить", "Загрузить" under s1
  QGroupBox* gb1 = nullptr;
  std::array<QLabel*, 6> an{};  // an1 .. an6 of gb1
  QFrame* trp1 = nullptr;       // owner panel
  QLabel* mml1 = nullptr;       // the file that owns the clicked sector
  QMenu* pm1 = nullptr;         // the map's context menu
  TSecAd* secad = nullptr;      // "Заголовок"
  // The cell of the last right click; -1 when it was outside the cells.
  int SelCol = -1;
  int SelTrack = -1;
  QTabWidget* pc1 = nullptr;
  QListWidget* Lzx1 = nullptr;    // LOG
  QPlainTextEdit* lb1 = nullptr;  // disk comment
  QToolBar* toolb1 = nullptr;
  std::array<QLabel*, 3> sb{};  // status bar panels
  Tfmset* fmset = nullptr;
  TFmScr* fmscr = nullptr;   // the viewer, shared by the catalog windows
  T_ZXCAT* zxcat = nullptr;  // "Каталог диска TR-DOS"
  T_Prog* prog = nullptr;    // the progress window of the drive operations
  T_cCat* cCat = nullptr;    // "Каталог диска CP/M"
  // The catalog that sector owners are looked up in, taken from the image
  // at every click so that it names the files of the image shown.
  TTrdosCatalog CatalogSnapshot;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  QWidget* BuildMapPanel();
  QWidget* BuildRightPanel();
  QWidget* BuildBottomPanel();
  void BuildStatusBar();
  // The context menu, the owner panel, the address dialog and the wiring of
  // the map, the hex panel and the memo (TFMainEditing.cpp).
  void BuildEditing();
  // The progress window, the drive operations' host and the wiring of the
  // "Диск" and "Контроллер" commands (TFMainDrive.cpp).
  void BuildDrive();
  void ShowCellView(const CellView& view);
  // The header, the information group and the hex panel emptied, once the
  // image was replaced or emptied.
  void ResetPanels();
  // What happened to the image; the caption follows the modified state.
  void NoteImage(ImageEvent event);
  // The folder a file dialog opens in when `remembered` is empty.
  std::string StartFolder(const std::string& remembered) const;
  // What the panels show for the map's current cell.
  CellView CurrentCellView();
  // After a command changed the image at the current cell: the map
  // repainted, the panels filled afresh.
  void RefreshAfterEdit();
  // Runs the driver and drive opening (or the re-opening after the settings
  // dialog) and shows what it reports.
  void OpenDrive(bool reopen);
  bool FinishLoad(const LoadResult& result);
  // The memo filled afresh with the image's comment.
  void ShowComment();
  void AddLogLine(const std::string& line, bool select);
  void BringToFront();

  // Files handed over or dropped while a modal window is open wait here.
  PendingLoads loads_;
  // Every window of the program asks through these, so that each question,
  // message and modal window counts as open in loads_.
  CountedDialogs dialogs_;
  SettingsStore store_;
  DriveLink& drive_;
  // LOG list, header values and message boxes for the drive operations.
  std::unique_ptr<OperationHost> windowHost_;
  // A drive operation is running; a close request meanwhile stops it and
  // closes the window after it.
  bool driveRunning_ = false;
  bool closeAfterRun_ = false;
  std::unique_ptr<TZX_Disk> disk_;
  TSettings settings_;
  // The catalog window's core, kept for the run so that its "show deleted"
  // mark persists between openings.
  std::unique_ptr<TrdosCatalog> zxCore_;
  std::string imageFileName_;
  // The full path of the image last loaded or saved, for the dialogs' start.
  std::string imagePath_;
  ImageChanges changes_;
  int saveFilterIndex_ = 1;
  SingleInstance* instance_ = nullptr;
  ContextMenuState menuState_ = InitialContextMenuState();
  // The template switch starts checked although the template is off.
  bool baseTemplateChecked_ = true;
};

}  // namespace kelvara
