#include "app/T_cCat.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/Dialogs.h"
#include "app/TFmScr.h"
#include "session/Settings.h"
#include "widgets/CatalogParts.h"

namespace kelvara {

namespace {

// The context menu as data, in its order; an empty name is a separator, a
// row without a handler an item that has no work on a CP/M disk.
struct MenuRow {
  const char* name;
  const char* caption;
  void (T_cCat::*handler)();
};

const MenuRow kMenuRows[] = {
    {"pic1", "Просмотр картинки", nullptr},
    {"hex1", "Просмотр HEX", &T_cCat::hex1Click},
    {"txt1", "Просмотр текста", &T_cCat::txt1Click},
    {"", "", nullptr},
    {"N7", "Показать удаленные файлы", &T_cCat::N7Click},
    {"N8", "Показать скрытые файлы", &T_cCat::N8Click},
    {"", "", nullptr},
    {"ren1", "Переименовать", &T_cCat::ren1Click},
    {"add1", "Добавить файл(ы)", &T_cCat::add1Click},
    {"del1", "Удалить файл(ы)", &T_cCat::del1Click},
    {"sav1", "Сохранить как", &T_cCat::sav1Click},
};

// Enabled only while a row is selected.
const char* const kFileItems[] = {"hex1", "txt1", "sav1", "ren1", "del1"};

constexpr int kColumnWidths[] = {100, 44, 70, 44, 36, 90};

}  // namespace

T_cCat::T_cCat(Dialogs& dialogs, TFmScr& viewer, TZX_Disk& disk, TSettings& settings,
               SettingsStore* store, QWidget* owner)
    : QDialog(owner),
      dialogs_(dialogs),
      viewer_(viewer),
      disk_(disk),
      settings_(settings),
      store_(store) {
  setObjectName("cCat");
  setWindowTitle("Каталог диска CP/M");
  setModal(false);

  QStringList headers;
  for (const char* column : kCpmListColumns)
    headers << column;
  lv = NewCatalogList(this, headers, kColumnWidths);
  // Names are padded with spaces as stored: a fixed pitch keeps them aligned.
  lv->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  lv->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lv, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    pmPopup();
    pm->popup(lv->viewport()->mapToGlobal(at));
  });

  QStringList labels;
  for (const auto& v : DescribeCpmDisk(CpmCatalog{}))
    labels << QString::fromStdString(v.first);
  gb = NewDescriptionPanel(this, labels, dv, 70);
  gb->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);

  bClose = LayOutCatalogWindow(this, lv, gb);
  connect(bClose, &QPushButton::clicked, this, &QDialog::close);
  BuildMenu();
  resize(660, 420);
}

void T_cCat::BuildMenu() {
  pm = new QMenu(this);
  pm->setObjectName("pm");
  for (const MenuRow& row : kMenuRows) {
    if (!*row.name) {
      pm->addSeparator();
      continue;
    }
    QAction* a = pm->addAction(row.caption);
    a->setObjectName(row.name);
    if (row.handler) {
      connect(a, &QAction::triggered, this, row.handler);
    } else {
      a->setEnabled(false);
    }
  }
  Item("N7")->setCheckable(true);
  Item("N8")->setCheckable(true);
}

QAction* T_cCat::Item(const char* name) const {
  return pm->findChild<QAction*>(name);
}

void T_cCat::Present() {
  if (isVisible()) Fill();
  show();
  raise();
  activateWindow();
}

void T_cCat::showEvent(QShowEvent* event) {
  Fill();
  lv->setFocus();
  QDialog::showEvent(event);
}

void T_cCat::Fill() {
  cat_ = ReadCpmCatalog(disk_, show_);
  const std::string separator = SystemDecimalSeparator();
  lv->clear();
  QList<QTreeWidgetItem*> items;
  for (const CpmFileRow& row : cat_.rows) {
    QStringList cells;
    for (const std::string& cell : CpmListCells(row, separator))
      cells << QString::fromStdString(cell);
    auto* item = new QTreeWidgetItem(cells);
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    items << item;
  }
  lv->addTopLevelItems(items);
  if (!items.isEmpty()) lv->setCurrentItem(items.front(), 0, QItemSelectionModel::NoUpdate);
  const auto values = DescribeCpmDisk(cat_);
  for (size_t i = 0; i < dv.size(); ++i)
    dv[i]->setText(QString::fromStdString(values[i].second));
}

std::vector<int> T_cCat::SelectedRows() const {
  std::vector<int> rows;
  for (int i = 0; i < lv->topLevelItemCount(); ++i) {
    if (lv->topLevelItem(i)->isSelected()) rows.push_back(i);
  }
  return rows;
}

void T_cCat::pmPopup() {
  const bool selected = FirstSelected() != nullptr;
  for (const char* name : kFileItems)
    Item(name)->setEnabled(selected);
  Item("N7")->setChecked(show_.deleted);
  Item("N8")->setChecked(show_.hidden);
}

const CpmFileRow* T_cCat::FirstSelected() const {
  const std::vector<int> rows = SelectedRows();
  if (rows.empty() || static_cast<size_t>(rows[0]) >= cat_.rows.size()) return nullptr;
  return &cat_.rows[static_cast<size_t>(rows[0])];
}

bool T_cCat::CollectSelected(std::vector<uint8_t>& bytes) const {
  const CpmFileRow* row = FirstSelected();
  return row && CollectCpmFile(disk_, row->key, row->user, bytes);
}

void T_cCat::hex1Click() {
  std::vector<uint8_t> bytes;
  if (!CollectSelected(bytes)) return;
  // The system's fixed-pitch font; it stays for later hexadecimal views.
  viewer_.SetHexFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  viewer_.ShowHex(bytes);
}

void T_cCat::txt1Click() {
  std::vector<uint8_t> bytes;
  if (!CollectSelected(bytes)) return;
  viewer_.ShowText(bytes);
}

void T_cCat::N7Click() {
  show_.deleted = !show_.deleted;
  Item("N7")->setChecked(show_.deleted);
  Fill();
}

void T_cCat::N8Click() {
  show_.hidden = !show_.hidden;
  Item("N8")->setChecked(show_.hidden);
  Fill();
}

void T_cCat::sav1Click() {
  const CpmFileRow* row = FirstSelected();
  if (!row) return;
  std::string folder = settings_.SCLDir;
  if (SaveCpmFileAs(disk_, *row, dialogs_, folder) != CpmSaveOutcome::Saved) return;
  settings_.SCLDir = folder;
  if (store_) store_->WriteFolder("SCLDir", folder);
}

}  // namespace kelvara

namespace kelvara {

void T_cCat::Apply(CpmEditOutcome outcome) {
  if (outcome != CpmEditOutcome::Changed) return;
  if (changed) changed();
  Fill();
}

void T_cCat::ren1Click() {
  const CpmFileRow* row = FirstSelected();
  if (!row) return;
  const CpmFileRow chosen = *row;
  Apply(RenameCpmRow(disk_, dialogs_, chosen));
}

void T_cCat::add1Click() {
  std::string folder = settings_.SCLDir;
  const CpmEditOutcome outcome = AddCpmFilesAsked(disk_, dialogs_, folder);
  if (outcome != CpmEditOutcome::Cancelled && folder != settings_.SCLDir) {
    settings_.SCLDir = folder;
    if (store_) store_->WriteFolder("SCLDir", folder);
  }
  Apply(outcome);
}

void T_cCat::del1Click() {
  std::vector<CpmFileRow> rows;
  for (int i : SelectedRows()) {
    if (static_cast<size_t>(i) < cat_.rows.size())
      rows.push_back(cat_.rows[static_cast<size_t>(i)]);
  }
  Apply(DeleteCpmRows(disk_, dialogs_, rows));
}

}  // namespace kelvara
