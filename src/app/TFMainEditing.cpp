// The main window's inspecting and editing of the image on the disk map: the
// click that fills the panels, the context menu and its commands, the hex
// panel's buttons, the base-template switch and the comment memo. What each
// decides is in TrackEditing; here the window asks, shows and repaints.
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QMenu>

#include "app/TFMain.h"
#include "app/TSecAd.h"
#include "widgets/DiskMap.h"
#include "widgets/TSSHex.h"

namespace kelvara {

namespace {

// The context menu as data: the drive entries at the top and the bottom,
// between them the address entry and the submenu of image operations.
struct ContextRow {
  int number;
  const char* caption;
  bool inSubmenu = false;
  bool separatorAfter = false;
};

const ContextRow kContextRows[] = {
    {1, "Считать сектор"},
    {2, "Считать RAW дорожки"},
    {3, "Считать сектора дорожки"},
    {4, "Сканировать дорожку", false, true},
    {23, "Редактировать адрес сектора"},
    {22, "Установить базовым трэком", true, true},
    {8, "Убрать дорожку", true},
    {9, "Добавить дорожку", true, true},
    {10, "Убрать сектор", true},
    {11, "Добавить сектор", true, true},
    {12, "Данные секторов -> RAW", true},
    {13, "RAW -> заголовки секторов", true, true},
    {14, "Очистить дорожку", true},
    {15, "Очистить данные сектора", true},
    {16, "Очистить данные секторов", true},
    {17, "Очистить заголовок сектора", true},
    {18, "Очистить заголовки секторов", true},
    {19, "Очистить Log дорожки", true},
    {5, "Записать сектор"},
    {6, "Записать дорожку"},
    {7, "Формат дорожки"},
};

// The entries that act; the drive entries and the other clearing entries
// are there and do nothing.
const std::pair<int, void (TFMain::*)()> kContextHandlers[] = {
    {8, &TFMain::z8Click},   {9, &TFMain::z9Click},   {10, &TFMain::z10Click},
    {11, &TFMain::z11Click}, {12, &TFMain::z12Click}, {14, &TFMain::z14Click},
    {22, &TFMain::z22Click}, {23, &TFMain::z23Click},
};

QString ContextName(int number) {
  return QString("z%1").arg(number);
}

void KeepPlaceWhenHidden(QWidget* w) {
  QSizePolicy policy = w->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  w->setSizePolicy(policy);
}

}  // namespace

void TFMain::BuildEditing() {
  pm1 = new QMenu(this);
  pm1->setObjectName("pm1");
  QMenu* images = nullptr;
  for (const ContextRow& row : kContextRows) {
    if (row.inSubmenu && !images) {
      images = pm1->addMenu("Операци с образом");
      pm1->addSeparator();
    }
    QMenu* target = row.inSubmenu ? images : pm1;
    QAction* a = target->addAction(row.caption);
    a->setObjectName(ContextName(row.number));
    if (row.separatorAfter) target->addSeparator();
  }
  for (const auto& [number, handler] : kContextHandlers)
    connect(ContextItem(number), &QAction::triggered, this, handler);
  for (int z = 1; z < static_cast<int>(menuState_.size()); ++z) {
    if (QAction* a = ContextItem(z)) a->setVisible(menuState_[static_cast<size_t>(z)].visible);
  }

  zxd->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(zxd, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    zxdContextPopup(pos);
    pm1->popup(zxd->viewport()->mapToGlobal(pos));
  });
  // A click on the cell that is already current changes nothing for the
  // selection, yet shows the cell afresh.
  connect(zxd, &QAbstractItemView::clicked, this, &TFMain::zxdClick);

  trp1 = new QFrame;
  trp1->setObjectName("trp1");
  trp1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  mml1 = new QLabel(trp1);
  mml1->setObjectName("mml1");
  mml1->setFont(l1->font());
  auto* ownerLayout = new QHBoxLayout(trp1);
  ownerLayout->setContentsMargins(6, 0, 6, 0);
  ownerLayout->addWidget(mml1);
  trp1->hide();
  auto* header = static_cast<QHBoxLayout*>(l1->parentWidget()->layout());
  header->insertWidget(header->count() - 1, trp1);
  KeepPlaceWhenHidden(gb1);

  secad = new TSecAd(this);
  connect(s1, &TSSHex::byteChanged, this, &TFMain::s1ByteChange);
  connect(pnb[0], &QPushButton::clicked, this, &TFMain::pnb1Click);
  connect(pnb[1], &QPushButton::clicked, this, &TFMain::pnb2Click);
  connect(Item("N21"), &QAction::triggered, this, &TFMain::N21Click);
  lb1->installEventFilter(this);
}

QAction* TFMain::ContextItem(int number) const {
  return pm1->findChild<QAction*>(ContextName(number));
}

void TFMain::zxdClick() {
  pnb[0]->setEnabled(false);
  pc1->setCurrentIndex(0);
  ShowCellView(CurrentCellView());
}

CellView TFMain::CurrentCellView() {
  const QModelIndex cell = zxd->currentIndex();
  const int column = cell.isValid() ? cell.column() : 0;
  const int row = cell.isValid() ? cell.row() : 0;
  ReadTrdosCatalog(*disk_, CatalogSnapshot);
  return DescribeCell(*disk_, CatalogSnapshot, column, row, settings_.SetSectorSizeFromHead);
}

void TFMain::ShowCellView(const CellView& v) {
  l2->setText(QString::fromStdString(v.track));
  l1->setText(QString::fromStdString(v.sector));
  if (v.owner != Visibility::Keep) {
    mml1->setText(QString::fromStdString(v.ownerText));
    trp1->setVisible(v.owner == Visibility::Shown);
  }
  if (v.info != Visibility::Keep) gb1->setVisible(v.info == Visibility::Shown);
  for (int i = 0; i < v.fieldCount; ++i)
    an[static_cast<size_t>(i)]->setText(QString::fromStdString(v.fields[static_cast<size_t>(i)]));
  if (v.hex == HexChange::Replace) s1->SetBytes(v.hexBytes);
  if (v.hex != HexChange::Keep) {
    s1->SetReadOnly(!v.hexEditable);
    pnb[1]->setEnabled(v.hexButtons);
    pnb[2]->setEnabled(v.hexButtons);
  }
  if (v.logChanged) {
    Lzx1->clear();
    for (const std::string& line : v.log)
      Lzx1->addItem(QString::fromStdString(line));
  }
}

void TFMain::zxdContextPopup(const QPoint& pos) {
  const QModelIndex cell = zxd->indexAt(pos);
  if (cell.isValid() && cell.column() <= kSlotCount) {
    SelCol = cell.column();
    SelTrack = cell.row();
    if (zxd->currentIndex() != cell) zxd->setCurrentIndex(cell);
    const auto [track, sector] = HeaderTexts(*disk_, SelCol, SelTrack);
    l2->setText(QString::fromStdString(track));
    l1->setText(QString::fromStdString(sector));
  } else {
    SelCol = SelTrack = -1;
  }
  PrepareContextMenu(*disk_, SelCol, SelTrack, menuState_, drive_.DriveValid());
  for (int z = 1; z < static_cast<int>(menuState_.size()); ++z) {
    QAction* a = ContextItem(z);
    if (!a) continue;
    a->setEnabled(menuState_[static_cast<size_t>(z)].enabled);
    a->setVisible(menuState_[static_cast<size_t>(z)].visible);
  }
}

void TFMain::RefreshAfterEdit() {
  zxd->viewport()->update();
  zxdClick();
}

void TFMain::z8Click() {
  SetTrackPresent(*disk_, SelTrack, false);
  NoteImage(ImageEvent::MapEdited);
  RefreshAfterEdit();
}

void TFMain::z9Click() {
  SetTrackPresent(*disk_, SelTrack, true);
  NoteImage(ImageEvent::MapEdited);
  RefreshAfterEdit();
}

void TFMain::z10Click() {
  if (!RemoveSectorCommand(*disk_, SelCol, SelTrack, dialogs_)) return;
  NoteImage(ImageEvent::MapEdited);
  // The panels show the sector that moved into the cell, so that the hex
  // panel's bytes can no longer be taken for it.
  RefreshAfterEdit();
  Lzx1->clear();
}

void TFMain::z11Click() {
  if (!AddSectorCommand(*disk_, SelCol, SelTrack)) return;
  NoteImage(ImageEvent::MapEdited);
  RefreshAfterEdit();
}

void TFMain::z12Click() {
  SectorsToRawCommand(*disk_);
  NoteImage(ImageEvent::MapEdited);
  RefreshAfterEdit();
}

void TFMain::z14Click() {
  if (!ClearTrackCommand(*disk_, SelCol, SelTrack, dialogs_)) return;
  NoteImage(ImageEvent::MapEdited);
  RefreshAfterEdit();
}

void TFMain::z22Click() {
  const BaseTrackOutcome r = SetBaseTrackCommand(*disk_, SelTrack);
  if (r.switchCaption.empty()) return;
  NoteImage(ImageEvent::MapEdited);
  QAction* n21 = Item("N21");
  n21->setText(QString::fromStdString(r.switchCaption));
  // The check mark follows a template turned on here, so that the switch
  // does not offer to turn on what is already on.
  if (r.templateOn) {
    baseTemplateChecked_ = true;
    n21->setChecked(true);
  }
}

void TFMain::z23Click() {
  if (SelCol < 1 || SelCol > kSlotCount || SelTrack < 0 || SelTrack >= kTrackCount) return;
  TSectorRec& slot = disk_->GetTrack(static_cast<uint8_t>(SelTrack))
                         .SectorHeader(static_cast<uint8_t>(SelCol - 1));
  secad->Fill(slot);
  dialogs_.RunDialog(*secad);
  if (!secad->AcceptFlag()) return;
  secad->Store(slot);
  NoteImage(ImageEvent::MapEdited);
  RefreshAfterEdit();
}

void TFMain::N21Click() {
  // The action toggles its own mark before this runs; the rule decides.
  const bool wasUsed = disk_->UseBaseTemplate;
  baseTemplateChecked_ = BaseTemplateSwitch(*disk_, baseTemplateChecked_);
  if (disk_->UseBaseTemplate != wasUsed) NoteImage(ImageEvent::MapEdited);
  Item("N21")->setChecked(baseTemplateChecked_);
}

void TFMain::s1ByteChange() {
  if (!s1->IsReadOnly()) pnb[0]->setEnabled(true);
}

void TFMain::pnb1Click() {
  const QModelIndex cell = zxd->currentIndex();
  if (!cell.isValid()) return;
  const AcceptOutcome r =
      AcceptPanelBytes(*disk_, cell.column(), cell.row(), s1->Bytes(), dialogs_);
  if (r == AcceptOutcome::Declined) return;
  if (r == AcceptOutcome::Stored) {
    s1->ClearEditMarks();
    NoteImage(ImageEvent::MapEdited);
  }
  pnb[0]->setEnabled(false);
}

void TFMain::StorePanelEdits() {
  const QModelIndex cell = zxd->currentIndex();
  if (cell.isValid() && StorePanelBytes(*disk_, cell.column(), cell.row(), s1->Bytes())) {
    s1->ClearEditMarks();
    NoteImage(ImageEvent::MapEdited);
  }
  pnb[0]->setEnabled(false);
}

void TFMain::pnb2Click() {
  // The dialog opens in the folder images are saved to, without changing it.
  const FileDialogSpec spec{
      kSectorFileTitle,      kSectorFileFilter, 1, StartFolder(settings_.Directory_2), {},
      {kSectorFileExtension}};
  int filterIndex = 1;
  std::string path;
  if (!dialogs_.SaveFile(spec, filterIndex, path)) return;
  SaveSectorFile(path, s1->Bytes(), dialogs_);
}

void TFMain::lb1Exit() {
  if (StoreComment(*disk_, lb1->toPlainText().toStdString())) NoteImage(ImageEvent::CommentEdited);
  for (const char* name : {"tlb1", "tlb2"}) {
    if (QAction* a = findChild<QAction*>(name)) a->setEnabled(false);
  }
}

bool TFMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lb1 && event->type() == QEvent::FocusOut) lb1Exit();
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace kelvara
