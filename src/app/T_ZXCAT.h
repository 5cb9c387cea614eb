// The catalog window "Каталог диска TR-DOS": the file list and the disk
// description of a TR-DOS volume, and in editable mode a context menu with
// the file commands. Every rule (which items are enabled, what a command
// does, the questions it asks) is the TrdosCatalog core's; the window asks,
// shows and calls.
//
// Opening: the owner opens the core first and then calls Execute.
//   - On the image: core.OpenFromImage() -> editable; after Execute, when
//     core.Modified() is set, the owner rebuilds the raw tracks
//     ("Данные секторов -> RAW").
//   - From a drive: core.OpenFromDrive(track0) with the bytes of track 0 as
//     read (sectors 1 upward) -> read-only: the list has no context menu,
//     Delete and drops do nothing, Enter does nothing. TFMain::ShowDriveCatalog
//     does both steps.
// The list: several rows selectable; arrows move, Enter (or a double click)
// views the file (as a screen when it is 6912 bytes long, otherwise in hex),
// Delete deletes the selected files when the menu would offer it. Hobeta, SCL and tape files
// dropped onto the list are imported as by "Добавить файл(ы)".
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStringList>
#include <QTreeWidget>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "session/TrdosCatalog.h"

namespace kelvara {

class Dialogs;
class TFLed;
class TFmScr;

class T_ZXCAT : public QDialog {
  Q_OBJECT
 public:
  T_ZXCAT(Dialogs& dialogs, TFmScr& viewer, QWidget* owner = nullptr);

  // Fills the window from an opened core and shows it modally; returns when
  // it closes. The core must outlive the call.
  void Execute(TrdosCatalog& core);
  // The same filling without showing, for a window already on the screen
  // (and for tests): clears nothing in the core.
  void Open(TrdosCatalog& core);

  // The list's selected rows, in list order.
  std::vector<int> SelectedRows() const;
  // A context-menu item by its name (see the constructor).
  QAction* Item(const char* name) const;
  // The context menu opens: every item enabled as the core decides.
  void pmPopup();

  // The commands.
  void scr1Click();  // "Просмотр экрана"
  void hex1Click();  // "Просмотр HEX"
  void N5Click();    // "Уплотнить"
  void N6Click();    // "Сменить имя диска"
  void N7Click();    // "Показать удаленные файлы"
  void HobClick();   // "Сохранить hob"
  void scl1Click();  // "Сохранить scl"
  void N9Click();    // "Редактировать заголовок"
  void N10Click();   // "Восстановить файл"
  void N3Click();    // "Добавить файл(ы)"
  void N4Click();    // "Удалить файл(ы)"
  // Enter on the list or a double click: the view the menu would offer.
  void ViewSelected();
  // Files dropped onto the list; true when they were taken (editable mode).
  bool DropFiles(const QStringList& paths);

  QTreeWidget* lv = nullptr;    // the file list
  QGroupBox* gb = nullptr;      // "Описание диска"
  std::array<QLabel*, 7> dv{};  // its values, in the panel's order
  QPushButton* bClose = nullptr;
  QMenu* pm = nullptr;  // the list's context menu
  TFLed* led = nullptr;
  // Called after each command that left the core modified, while the window
  // is still open: the image holds unsaved work from that moment on.
  std::function<void()> changed;
  // Where an export's files went, for the main window's LOG list.
  std::function<void(const std::string&)> log;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenu();
  void FillDescription();
  void FillList();
  void Apply(const CatalogOutcome& outcome);
  void NoteChange();

  Dialogs& dialogs_;
  TFmScr& viewer_;
  TrdosCatalog* core_ = nullptr;
};

}  // namespace kelvara
