// The catalog window "Каталог диска CP/M": the directory of a CP/M disk
// (Profi, +3DOS, CPC) and its space, with a context menu to view a file in
// hexadecimal or as text, save it to a PC file, and add, delete and rename
// files. The window is not modal: the main
// window stays usable while it is open, and the list follows the image only
// when the window is shown again (or opened again from the menu) or a show
// switch changes. The listing, the sizes, the collecting of a file and the
// save are the CpmCatalog core's; the window asks, shows and calls.
//
// The switches "Показать удаленные файлы" and "Показать скрытые файлы" start
// off and keep their marks for the run. The view, save and rename commands
// act on the first selected row, delete on every selected one after a
// question; add takes PC files and tape files (session/CpmFileCommands.h).
// Each change is written into the image at once and reported through
// `changed`. "Просмотр картинки" does nothing on a CP/M disk and stays
// disabled.
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <array>
#include <functional>
#include <vector>

#include "filesystems/CpmCatalog.h"
#include "session/CpmCatalogWindow.h"
#include "session/CpmFileCommands.h"

namespace kelvara {

class Dialogs;
class SettingsStore;
class TFmScr;
struct TSettings;

class T_cCat : public QDialog {
  Q_OBJECT
 public:
  // The save remembers its folder in settings.SCLDir, written through store
  // when given.
  T_cCat(Dialogs& dialogs, TFmScr& viewer, TZX_Disk& disk, TSettings& settings,
         SettingsStore* store, QWidget* owner = nullptr);

  // Shows the window without blocking its owner, read afresh from the image;
  // a window already open is read again and raised.
  void Present();
  // Reads the directory and fills the list and the description.
  void Fill();

  // The list's selected rows, in list order.
  std::vector<int> SelectedRows() const;
  // A context-menu item by its name (see the constructor).
  QAction* Item(const char* name) const;
  // The context menu opens: the file commands enabled with a selection.
  void pmPopup();

  void hex1Click();  // "Просмотр HEX"
  void txt1Click();  // "Просмотр текста"
  void N7Click();    // "Показать удаленные файлы"
  void N8Click();    // "Показать скрытые файлы"
  void sav1Click();  // "Сохранить как"
  void ren1Click();  // "Переименовать"
  void add1Click();  // "Добавить файл(ы)"
  void del1Click();  // "Удалить файл(ы)"

  QTreeWidget* lv = nullptr;    // the file list
  QGroupBox* gb = nullptr;      // "Описание диска"
  std::array<QLabel*, 4> dv{};  // its values: free, used, number of files, disc label
  QPushButton* bClose = nullptr;
  QMenu* pm = nullptr;  // the list's context menu
  // Called after a command changed the disk: the image holds unsaved work.
  std::function<void()> changed;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildMenu();
  // The row the file commands act on, or null with none selected.
  const CpmFileRow* FirstSelected() const;
  bool CollectSelected(std::vector<uint8_t>& bytes) const;
  void Apply(CpmEditOutcome outcome);

  Dialogs& dialogs_;
  TFmScr& viewer_;
  TZX_Disk& disk_;
  TSettings& settings_;
  SettingsStore* store_;
  CpmShowOptions show_;
  CpmCatalog cat_;
};

}  // namespace kelvara
