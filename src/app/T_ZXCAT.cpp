#include "app/T_ZXCAT.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QVBoxLayout>

#include "app/Dialogs.h"
#include "app/TFLed.h"
#include "app/TFmScr.h"
#include "widgets/CatalogParts.h"

namespace kelvara {

namespace {

// The context menu as data, in its order; an empty name is a separator.
struct MenuRow {
  const char* name;
  const char* caption;
  void (T_ZXCAT::*handler)();
};

const MenuRow kMenuRows[] = {
    {"scr1", "Просмотр экрана", &T_ZXCAT::scr1Click},
    {"hex1", "Просмотр HEX", &T_ZXCAT::hex1Click},
    {"", "", nullptr},
    {"N5", "Уплотнить", &T_ZXCAT::N5Click},
    {"N6", "Сменить имя диска", &T_ZXCAT::N6Click},
    {"N7", "Показать удаленные файлы", &T_ZXCAT::N7Click},
    {"", "", nullptr},
    {"Hob", "Сохранить hob", &T_ZXCAT::HobClick},
    {"scl1", "Сохранить scl", &T_ZXCAT::scl1Click},
    {"", "", nullptr},
    {"N9", "Редактировать заголовок", &T_ZXCAT::N9Click},
    {"N10", "Восстановить файл", &T_ZXCAT::N10Click},
    {"N3", "Добавить файл(ы)", &T_ZXCAT::N3Click},
    {"N4", "Удалить файл(ы)", &T_ZXCAT::N4Click},
};

// The column widths of the list, in pixels.
constexpr int kColumnWidths[] = {78, 40, 48, 52, 56, 44, 40};

}  // namespace

T_ZXCAT::T_ZXCAT(Dialogs& dialogs, TFmScr& viewer, QWidget* owner)
    : QDialog(owner), dialogs_(dialogs), viewer_(viewer) {
  setObjectName("ZXCAT");
  setWindowTitle("Каталог диска TR-DOS");

  QStringList headers;
  for (const char* column : kTrdosListColumns)
    headers << column;
  lv = NewCatalogList(this, headers, kColumnWidths);
  QFont mono("Liberation Mono");
  mono.setStyleHint(QFont::Monospace);
  lv->setFont(mono);
  lv->installEventFilter(this);
  lv->viewport()->installEventFilter(this);
  lv->viewport()->setAcceptDrops(true);
  connect(lv, &QTreeWidget::itemDoubleClicked, this, [this] { ViewSelected(); });
  connect(lv, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    pmPopup();
    pm->popup(lv->viewport()->mapToGlobal(at));
  });

  QStringList labels;
  for (const LabelledValue& v : DescribeTrdosDisk(TTrdosCatalog{}))
    labels << QString::fromStdString(v.label);
  gb = NewDescriptionPanel(this, labels, dv, 90);
  static_cast<QGridLayout*>(gb->layout())->setRowStretch(static_cast<int>(dv.size()), 1);

  bClose = LayOutCatalogWindow(this, lv, gb);
  connect(bClose, &QPushButton::clicked, this, &QDialog::accept);
  BuildMenu();
  led = new TFLed(this);
  resize(660, 400);
}

void T_ZXCAT::BuildMenu() {
  pm = new QMenu(this);
  pm->setObjectName("pm");
  for (const MenuRow& row : kMenuRows) {
    if (!row.handler) {
      pm->addSeparator();
      continue;
    }
    QAction* a = pm->addAction(row.caption);
    a->setObjectName(row.name);
    connect(a, &QAction::triggered, this, row.handler);
  }
  Item("N7")->setCheckable(true);
}

QAction* T_ZXCAT::Item(const char* name) const {
  return pm->findChild<QAction*>(name);
}

void T_ZXCAT::Execute(TrdosCatalog& core) {
  Open(core);
  lv->setFocus();
  dialogs_.RunDialog(*this);
  core_ = nullptr;
}

void T_ZXCAT::Open(TrdosCatalog& core) {
  core_ = &core;
  // A drive's catalog is only looked at: no menu on its list.
  lv->setContextMenuPolicy(core.Editable() ? Qt::CustomContextMenu : Qt::NoContextMenu);
  Item("N7")->setChecked(core.ShowDeleted());
  FillDescription();
  FillList();
}

void T_ZXCAT::FillDescription() {
  const std::vector<LabelledValue> values = core_->Description();
  for (size_t i = 0; i < dv.size() && i < values.size(); ++i)
    dv[i]->setText(QString::fromStdString(values[i].value));
}

void T_ZXCAT::FillList() {
  lv->clear();
  QList<QTreeWidgetItem*> items;
  for (const TrdosListRow& row : core_->Rows()) {
    QStringList cells;
    for (const std::string& cell : row.cells)
      cells << QString::fromStdString(cell);
    items << new QTreeWidgetItem(cells);
  }
  lv->addTopLevelItems(items);
  if (!items.isEmpty()) lv->setCurrentItem(items.front(), 0, QItemSelectionModel::NoUpdate);
}

std::vector<int> T_ZXCAT::SelectedRows() const {
  std::vector<int> rows;
  for (int i = 0; i < lv->topLevelItemCount(); ++i) {
    if (lv->topLevelItem(i)->isSelected()) rows.push_back(i);
  }
  return rows;
}

void T_ZXCAT::pmPopup() {
  if (!core_) return;
  const TrdosMenuState m = core_->MenuState(SelectedRows());
  const std::pair<const char*, bool> enabled[] = {
      {"scr1", m.viewScreen}, {"hex1", m.viewHex},   {"N5", m.compact},   {"N6", m.renameDisk},
      {"N7", m.showDeleted},  {"Hob", m.saveHobeta}, {"scl1", m.saveScl}, {"N9", m.editEntry},
      {"N10", m.restore},     {"N3", m.add},         {"N4", m.remove},
  };
  for (const auto& [name, on] : enabled)
    Item(name)->setEnabled(on);
}

void T_ZXCAT::Apply(const CatalogOutcome& outcome) {
  NoteChange();
  switch (outcome.refresh) {
    case Refresh::None:
      break;
    case Refresh::All:
      FillDescription();
      FillList();
      break;
    case Refresh::List:
      FillList();
      break;
  }
}

void T_ZXCAT::NoteChange() {
  if (core_ && core_->Modified() && changed) changed();
}

void T_ZXCAT::scr1Click() {
  const std::vector<int> rows = SelectedRows();
  std::vector<uint8_t> bytes;
  if (rows.size() != 1 || !core_->ScreenBytes(rows[0], bytes)) return;
  viewer_.ShowScreen(bytes);
}

void T_ZXCAT::hex1Click() {
  const std::vector<int> rows = SelectedRows();
  std::vector<uint8_t> bytes;
  if (rows.size() != 1 || !core_->FileBytes(rows[0], bytes)) return;
  viewer_.ShowHex(bytes);
}

void T_ZXCAT::ViewSelected() {
  if (!core_ || !core_->Editable()) return;
  const TrdosMenuState m = core_->MenuState(SelectedRows());
  if (m.viewScreen) {
    scr1Click();
  } else if (m.viewHex) {
    hex1Click();
  }
}

void T_ZXCAT::N5Click() {
  Apply(core_->Compact());
}

void T_ZXCAT::N6Click() {
  const CatalogOutcome r = core_->RenameDisk();
  NoteChange();
  if (r.refresh != Refresh::None) FillDescription();
}

void T_ZXCAT::N7Click() {
  core_->ToggleShowDeleted();
  Item("N7")->setChecked(core_->ShowDeleted());
  FillList();
}

void T_ZXCAT::HobClick() {
  const CatalogOutcome r = core_->ExportHobeta(SelectedRows());
  if (!r.logLine.empty() && log) log(r.logLine);
}

void T_ZXCAT::scl1Click() {
  const CatalogOutcome r = core_->ExportScl(SelectedRows());
  if (!r.logLine.empty() && log) log(r.logLine);
}

void T_ZXCAT::N9Click() {
  const std::vector<int> rows = SelectedRows();
  if (rows.size() != 1) return;
  const int entry = core_->EntryOfRow(rows[0]);
  if (entry < 0) return;
  led->Fill(TrdosEntryFieldsOf(core_->Catalog().Entries[static_cast<size_t>(entry)]));
  dialogs_.RunDialog(*led);
  if (!led->AcceptFlag()) return;
  Apply(core_->EditEntry(rows[0], led->Fields()));
}

void T_ZXCAT::N10Click() {
  const std::vector<int> rows = SelectedRows();
  if (rows.size() != 1) return;
  Apply(core_->RestoreFile(rows[0]));
}

void T_ZXCAT::N3Click() {
  Apply(core_->AddFiles());
}

void T_ZXCAT::N4Click() {
  Apply(core_->DeleteFiles(SelectedRows()));
}

bool T_ZXCAT::DropFiles(const QStringList& paths) {
  if (!core_ || !core_->Editable() || paths.isEmpty()) return false;
  std::vector<std::string> files;
  for (const QString& p : paths)
    files.push_back(p.toStdString());
  Apply(core_->AddFilesFrom(files));
  return true;
}

bool T_ZXCAT::eventFilter(QObject* watched, QEvent* event) {
  const bool editable = core_ && core_->Editable();
  if (watched == lv && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      ViewSelected();
      return true;
    }
    if (key == Qt::Key_Delete) {
      // Rows of deleted files alone offer nothing to delete.
      if (editable && core_->MenuState(SelectedRows()).remove) N4Click();
      return true;
    }
  }
  if (watched == lv->viewport()) {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        if (editable && drag->mimeData()->hasUrls()) {
          drag->acceptProposedAction();
        } else {
          drag->ignore();
        }
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        QStringList paths;
        for (const QUrl& url : drop->mimeData()->urls()) {
          if (url.isLocalFile()) paths << url.toLocalFile();
        }
        if (DropFiles(paths)) drop->acceptProposedAction();
        return true;
      }
      default:
        break;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace kelvara
