#include "app/TFMain.h"

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "app/SingleInstance.h"
#include "app/TFmScr.h"
#include "app/T_Prog.h"
#include "app/T_ZXCAT.h"
#include "app/T_cCat.h"
#include "app/Tfmset.h"
#include "filesystems/CpmCatalog.h"
#include "session/MainCommands.h"
#include "session/SetupRules.h"
#include "session/StartupRules.h"
#include "session/TrdosCatalog.h"
#include "widgets/DiskMap.h"
#include "widgets/TSSHex.h"

namespace kelvara {

namespace {

enum ItemFlag : unsigned { kHidden = 1, kSeparatorAfter = 2, kChecked = 4, kDisabled = 8 };

// The menu bar as data: a Menu row opens a menu of the bar, a Submenu row a
// submenu of that menu until its EndSubmenu row; Item rows go into whatever
// is open.
struct MenuRow {
  enum Kind { Menu, Submenu, EndSubmenu, Item } kind;
  const char* name;
  const char* caption;
  unsigned flags = 0;
};

const MenuRow kMenuRows[] = {
    {MenuRow::Menu, "N1", "Образ"},
    {MenuRow::Submenu, "N5", "Создать образ"},
    {MenuRow::Item, "TRDOS1", "TR-DOS диска"},
    {MenuRow::Item, "CPMProfi1", "CP/M диска (Profi)"},
    {MenuRow::EndSubmenu, "", ""},
    {MenuRow::Item, "N4", "Загрузить", kHidden},
    {MenuRow::Item, "N31", "Загрузить образ", kSeparatorAfter},
    {MenuRow::Submenu, "N19", "Шаблон дорожек", kDisabled},
    {MenuRow::Item, "N23", "Редактировать базовый шаблон"},
    {MenuRow::Item, "N21", "Использовать базовый шаблон для всех дорожек", kChecked},
    {MenuRow::EndSubmenu, "", ""},
    {MenuRow::Item, "N26", "Просмотреть ZX каталог"},
    {MenuRow::Item, "CPM1", "Просмотреть CP/M каталог", kSeparatorAfter},
    {MenuRow::Item, "N12", "Очистить образ"},
    {MenuRow::Item, "N6", "Сохранить", kHidden},
    {MenuRow::Item, "N32", "Сохранить образ", kSeparatorAfter},
    {MenuRow::Item, "N20", "Выход"},
    {MenuRow::Menu, "N2", "Диск"},
    {MenuRow::Item, "N7", "Полное чтение диска", kHidden},
    {MenuRow::Item, "RAW1", "Чтение сырых данных", kHidden},
    {MenuRow::Item, "N8", "Сканирование дорожек"},
    {MenuRow::Item, "N9", "Чтение секторов по  меткам"},
    {MenuRow::Item, "N17", "Сканирование и чтение диска"},
    {MenuRow::Item, "N27", "Перечитать сбойные сектора", kHidden | kSeparatorAfter},
    {MenuRow::Item, "N14", "Форматировать диск"},
    {MenuRow::Item, "N15", "Записать диск"},
    {MenuRow::Item, "N33", "Форматировать и записать", kSeparatorAfter},
    {MenuRow::Item, "N10", "Считать ZX каталог"},
    {MenuRow::Menu, "N3", "Контроллер"},
    {MenuRow::Item, "N22", "Сбросить FDD контроллер"},
    {MenuRow::Menu, "N28", "Настройки"},
    {MenuRow::Item, "N29", "Настройки программы"},
};

// The "Диск" commands and the rule each follows.
const std::pair<const char*, DiskCommand> kDiskItems[] = {
    {"N7", DiskCommand::FullRead},     {"RAW1", DiskCommand::RawRead},
    {"N8", DiskCommand::Scan},         {"N9", DiskCommand::ReadByIds},
    {"N17", DiskCommand::ScanAndRead}, {"N27", DiskCommand::RereadBad},
    {"N14", DiskCommand::Format},      {"N15", DiskCommand::Write},
    {"N33", DiskCommand::FormatWrite}, {"N10", DiskCommand::ReadCatalog},
};

// Enabled only for an image with tracks.
const char* const kImageItems[] = {"N32", "N26", "CPM1", "N12"};

QFont SansFont(int pointSize) {
  QFont f("Liberation Sans");
  f.setPointSize(pointSize);
  return f;
}

QLabel* HeaderLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont f("Liberation Sans");
  f.setPixelSize(19);
  label->setFont(f);
  return label;
}

}  // namespace

TFMain::TFMain(Dialogs& dialogs, SettingsStore store, DriveLink& drive, QWidget* parent)
    : QMainWindow(parent),
      dialogs_(dialogs, loads_, [this] { QTimer::singleShot(0, this, &TFMain::LoadWaitingFiles); }),
      store_(std::move(store)),
      drive_(drive),
      disk_(std::make_unique<TZX_Disk>()) {
  setWindowTitle("Kelvara[*]");
  setFont(SansFont(8));
  setAcceptDrops(true);
  BuildMenus();

  toolb1 = addToolBar("toolb1");
  toolb1->setObjectName("toolb1");
  toolb1->setFixedHeight(45);
  QAction* tb5 = toolb1->addAction("Карта диска");
  tb5->setObjectName("tb5");
  tb5->setCheckable(true);
  toolb1->hide();
  toolb1->toggleViewAction()->setVisible(false);  // hidden for the whole run

  auto* pn1 = new QWidget(this);
  pn1->setObjectName("pn1");
  pn1->setMinimumSize(901, 450);
  auto* left = new QSplitter(Qt::Vertical, pn1);
  left->setHandleWidth(3);
  left->addWidget(BuildMapPanel());
  left->addWidget(BuildBottomPanel());
  left->setStretchFactor(0, 1);
  left->setStretchFactor(1, 0);
  left->setCollapsible(0, false);
  auto* split = new QSplitter(Qt::Horizontal, pn1);
  split->setHandleWidth(5);
  split->addWidget(left);
  split->addWidget(BuildRightPanel());
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 0);
  split->setCollapsible(0, false);
  auto* layout = new QVBoxLayout(pn1);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(split);
  setCentralWidget(pn1);
  BuildStatusBar();
  BuildEditing();
  BuildDrive();

  fmset = new Tfmset(dialogs_, this);
  fmscr = new TFmScr(dialogs_, this);
  zxcat = new T_ZXCAT(dialogs_, *fmscr, this);
  zxcat->changed = [this] { NoteImage(ImageEvent::CatalogChanged); };
  zxcat->log = [this](const std::string& line) { AddLogLine(line, true); };
  cCat = new T_cCat(dialogs_, *fmscr, *disk_, settings_, &store_, this);
  // A CP/M change is written into the sectors at once: the raw tracks
  // follow, as when the TR-DOS window closes after a change.
  cCat->changed = [this] {
    SectorsToRawCommand(*disk_);
    NoteImage(ImageEvent::CatalogChanged);
    RefreshAfterEdit();
  };
  zxCore_ = std::make_unique<TrdosCatalog>(*disk_, dialogs_, settings_, &store_);
  resize(kMainWindowWidth, kMainWindowHeight);
  setMinimumWidth(kMainWindowMinimumWidth);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    // The frame is not known before the first showing; the title bar's
    // height stands for it.
    const int title = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const QRect room = screen->availableGeometry();
    const MainWindowPlacement place =
        PlaceMainWindow(room.width(), room.height(), 2 * 4, title + 2 * 4);
    setMinimumWidth(place.minimumWidth);
    if (place.maximized) {
      // The size it is restored to: within the room, frame and all.
      resize(place.width, place.height);
      move(room.topLeft());
      setWindowState(Qt::WindowMaximized);
    } else {
      move(room.center() - rect().center());
    }
  }
  const int bottom = 140;
  left->setSizes({height() - bottom, bottom});
  split->setSizes({width() - 550, 550});
}

TFMain::~TFMain() {
  // Child widgets outlive the members; the map draws the image, so it goes
  // while the image is still there, and the memo no longer hands its lines
  // to it.
  lb1->removeEventFilter(this);
  delete zxd;
}

void TFMain::BuildMenus() {
  QMenu* menu = nullptr;
  QMenu* target = nullptr;
  for (const MenuRow& row : kMenuRows) {
    switch (row.kind) {
      case MenuRow::Menu:
        menu = target = menuBar()->addMenu(row.caption);
        menu->menuAction()->setObjectName(row.name);
        break;
      case MenuRow::Submenu:
        target = menu->addMenu(row.caption);
        target->menuAction()->setObjectName(row.name);
        target->menuAction()->setEnabled(!(row.flags & kDisabled));
        break;
      case MenuRow::EndSubmenu:
        target = menu;
        break;
      case MenuRow::Item: {
        QAction* a = target->addAction(row.caption);
        a->setObjectName(row.name);
        a->setVisible(!(row.flags & kHidden));
        if (row.flags & kChecked) {
          a->setCheckable(true);
          a->setChecked(true);
        }
        if (row.flags & kSeparatorAfter) target->addSeparator();
        break;
      }
    }
  }
  const auto on = [this](const char* name, void (TFMain::*handler)()) {
    connect(Item(name), &QAction::triggered, this, handler);
  };
  on("TRDOS1", &TFMain::TRDOS1Click);
  on("CPMProfi1", &TFMain::CPMProfi1Click);
  on("N4", &TFMain::N4Click);
  on("N6", &TFMain::N6Click);
  on("N31", &TFMain::N31Click);
  on("N32", &TFMain::N32Click);
  on("N12", &TFMain::N12Click);
  on("N26", &TFMain::N26Click);
  on("CPM1", &TFMain::CPM1Click);
  on("N20", &TFMain::N20Click);
  on("N29", &TFMain::N29Click);
  const auto opening = [this](const char* name, void (TFMain::*handler)()) {
    connect(Item(name)->menu(), &QMenu::aboutToShow, this, handler);
  };
  opening("N1", &TFMain::N1Click);
  opening("N2", &TFMain::N2Click);
}

QAction* TFMain::Item(const QString& name) const {
  return menuBar()->findChild<QAction*>(name);
}

QWidget* TFMain::BuildMapPanel() {
  auto* pn2 = new QWidget;
  pn2->setObjectName("pn2");
  auto* pnTS = new QWidget(pn2);
  pnTS->setObjectName("pnTS");
  pnTS->setFixedHeight(34);
  auto* header = new QHBoxLayout(pnTS);
  header->setContentsMargins(8, 0, 8, 0);
  l2 = HeaderLabel("", pnTS);
  l1 = HeaderLabel("", pnTS);
  l2->setMinimumWidth(60);
  l1->setMinimumWidth(60);
  header->addWidget(HeaderLabel("Дорожка -", pnTS));
  header->addWidget(l2);
  header->addSpacing(24);
  header->addWidget(HeaderLabel("Сектор -", pnTS));
  header->addWidget(l1);
  header->addStretch();

  zxd = new DiskMap(*disk_, pn2);
  zxd->setObjectName("zxd");
  zxd->setAcceptDrops(false);
  connect(zxd->selectionModel(), &QItemSelectionModel::currentChanged, this, &TFMain::zxdClick);

  auto* layout = new QVBoxLayout(pn2);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(pnTS);
  layout->addWidget(zxd);
  return pn2;
}

QWidget* TFMain::BuildRightPanel() {
  auto* panel6 = new QWidget;
  panel6->setObjectName("Panel6");
  panel6->setMinimumWidth(550);
  panel6->setMaximumWidth(600);
  s1 = new TSSHex(panel6);
  s1->setObjectName("s1");
  s1->setAcceptDrops(false);
  // The hex panel's bitmap font in the original look; a monospace face here.
  QFont mono("Liberation Mono");
  mono.setStyleHint(QFont::Monospace);
  mono.setPointSize(9);
  s1->setFont(mono);
  auto* strip = new QHBoxLayout;
  const char* captions[] = {"Принять", "Сохранить", "Загрузить"};
  for (size_t i = 0; i < pnb.size(); ++i) {
    pnb[i] = new QPushButton(captions[i], panel6);
    pnb[i]->setObjectName(QString("pnb%1").arg(i + 1));
    pnb[i]->setEnabled(false);
    strip->addWidget(pnb[i]);
  }
  strip->addStretch();
  auto* layout = new QVBoxLayout(panel6);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(s1);
  layout->addLayout(strip);
  return panel6;
}

QWidget* TFMain::BuildBottomPanel() {
  auto* panel2 = new QWidget;
  panel2->setObjectName("Panel2");
  panel2->setMinimumHeight(140);

  gb1 = new QGroupBox(panel2);
  gb1->setObjectName("gb1");
  gb1->setFixedWidth(113);
  auto* info = new QGridLayout(gb1);
  info->setContentsMargins(4, 4, 4, 4);
  info->setVerticalSpacing(1);
  const char* names[] = {"Track -", "Side -", "Sector -", "Size -", "CRC -"};
  for (size_t i = 0; i < an.size(); ++i) {
    an[i] = new QLabel(gb1);
    an[i]->setObjectName(QString("an%1").arg(i + 1));
    if (i < 5) {
      info->addWidget(new QLabel(names[i], gb1), static_cast<int>(i), 0);
      info->addWidget(an[i], static_cast<int>(i), 1);
    } else {
      info->addWidget(an[i], static_cast<int>(i), 0, 1, 2);
    }
  }

  pc1 = new QTabWidget(panel2);
  pc1->setObjectName("pc1");
  pc1->setTabPosition(QTabWidget::South);
  Lzx1 = new QListWidget;
  Lzx1->setObjectName("Lzx1");
  Lzx1->setAcceptDrops(false);
  QFont logFont("Liberation Mono");
  logFont.setStyleHint(QFont::Monospace);
  logFont.setBold(true);
  Lzx1->setFont(logFont);
  // Navy on the scroll-bar grey, 16 pixels a line.
  Lzx1->setStyleSheet(
      "QListWidget { background: #C8C8C8; color: #000080; }"
      "QListWidget::item { height: 16px; }");
  pc1->addTab(Lzx1, "LOG");

  auto* comments = new QWidget;
  auto* tools = new QToolBar(comments);
  tools->setOrientation(Qt::Vertical);
  QAction* tlb1 = tools->addAction("Принять");
  tlb1->setObjectName("tlb1");
  tlb1->setEnabled(false);
  tools->addAction("Отменить")->setObjectName("tlb2");
  lb1 = new QPlainTextEdit(comments);
  lb1->setObjectName("lb1");
  lb1->setAcceptDrops(false);
  auto* commentLayout = new QHBoxLayout(comments);
  commentLayout->setContentsMargins(0, 0, 0, 0);
  commentLayout->addWidget(tools);
  commentLayout->addWidget(lb1);
  pc1->addTab(comments, "Комментарии к диску");

  auto* layout = new QHBoxLayout(panel2);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(gb1);
  layout->addWidget(pc1);
  return panel2;
}

void TFMain::BuildStatusBar() {
  statusBar()->setFixedHeight(38);
  const int widths[] = {260, 600, 150};
  for (size_t i = 0; i < sb.size(); ++i) {
    sb[i] = new QLabel(statusBar());
    sb[i]->setObjectName(QString("sb%1").arg(i));
    // At least the designed widths; the last panel takes the rest, so that
    // a long information text is not cut off.
    sb[i]->setMinimumWidth(widths[i]);
    sb[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusBar()->addWidget(sb[i], i + 1 == sb.size() ? 1 : 0);
  }
}

void TFMain::FormShow(const std::string& commandLineImage, SingleInstance* instance) {
  zxd->SetColumnCount(kMapColumns);
  // The grid always has a current cell, so the map's first focus moves
  // nothing and shows no cell by itself.
  zxd->selectionModel()->setCurrentIndex(zxd->model()->index(0, 0), QItemSelectionModel::NoUpdate);
  toolb1->findChild<QAction*>("tb5")->setChecked(true);
  store_.Load(settings_);
  OpenDrive(false);
  if (!commandLineImage.empty()) LoadAndFinish(commandLineImage);
  instance_ = instance;
  if (instance_) {
    connect(instance_, &SingleInstance::messagesWaiting, this, &TFMain::HandoffArrived);
    HandoffArrived();
  }
}

void TFMain::OpenDrive(bool reopen) {
  const DriveOpenReport r = reopen ? drive_.Reopen(settings_) : drive_.OpenAtStartup(settings_);
  for (const std::string& m : r.messages)
    dialogs_.ShowMessage("Ошибка!", m, MessageIcon::Error);
  if (!r.panel0.empty()) sb[0]->setText(QString::fromStdString(r.panel0));
  Item("N2")->setEnabled(r.diskMenuEnabled);
}

void TFMain::N1Click() {
  const bool enabled = ImageCommandsEnabled(*disk_);
  for (const char* name : kImageItems)
    Item(name)->setEnabled(enabled);
}

void TFMain::N2Click() {
  const bool valid = drive_.DriveValid();
  const int tracks = disk_->CountTracks();
  for (const auto& [name, command] : kDiskItems)
    Item(name)->setEnabled(DiskCommandEnabled(command, valid, tracks));
}

void TFMain::AddLogLine(const std::string& line, bool select) {
  Lzx1->addItem(QString::fromStdString(line));
  if (select) {
    Lzx1->setCurrentRow(Lzx1->count() - 1);
    Lzx1->scrollToItem(Lzx1->item(Lzx1->count() - 1));
  }
}

void TFMain::ShowComment() {
  lb1->clear();
  for (const std::string& line : disk_->Comment)
    lb1->appendPlainText(QString::fromStdString(line));
}

bool TFMain::LoadAndFinish(const std::string& path) {
  const LoadResult r = OpenImage(*disk_, path, imageFileName_);
  if (r.ok) imagePath_ = path;
  return FinishLoad(r);
}

void TFMain::NoteImage(ImageEvent event) {
  changes_.Note(event, imageFileName_);
  setWindowTitle(QString::fromStdString(changes_.Caption()));
  setWindowModified(changes_.Modified());
  // The CP/M window stays open beside the map: it follows the image, or
  // goes when the image is no CP/M disk any more.
  if (cCat->isVisible() && event != ImageEvent::Saved && event != ImageEvent::CommentEdited) {
    if (IsCpmImage(*disk_)) {
      cCat->Fill();
    } else {
      cCat->hide();
    }
  }
}

void TFMain::ResetPanels() {
  pnb[0]->setEnabled(false);
  ShowCellView(EmptyCellView());
}

std::string TFMain::StartFolder(const std::string& remembered) const {
  return DialogStartFolder(remembered, store_.DefaultFolder(), imagePath_,
                           QDir::homePath().toStdString());
}

bool TFMain::MaySaveChanges() {
  // The memo hands its lines to the image only when it loses the focus.
  if (lb1->hasFocus()) lb1Exit();
  // "Принять" enabled: the hex panel holds edits not yet in the image.
  std::function<void()> storePending;
  if (pnb[0]->isEnabled()) storePending = [this] { StorePanelEdits(); };
  return MayDiscardChanges(
      changes_, dialogs_, [this] { return SaveImageAs(); }, storePending);
}

bool TFMain::FinishLoad(const LoadResult& r) {
  if (!r.logLine.empty()) {
    Lzx1->clear();
    AddLogLine(r.logLine, false);
  }
  sb[1]->setText(QString::fromStdString(r.statusPanel1));
  sb[2]->setText(QString::fromStdString(r.statusPanel2));
  // Nothing of the image before stays in the panels: the current cell of a
  // loaded image may leave parts of them as they were.
  ResetPanels();
  if (!r.ok) {
    disk_->ClearImage();
    NoteImage(ImageEvent::LoadFailed);
    lb1->clear();
    zxd->viewport()->update();
    dialogs_.ShowMessage("Ошибка!", r.errorText, MessageIcon::Error);
    return false;
  }
  NoteImage(ImageEvent::Loaded);
  ShowComment();
  zxd->ScrollToTopAndRepaint();
  zxdClick();
  pc1->setCurrentIndex(1);
  return true;
}

void TFMain::N31Click() {
  if (!MaySaveChanges()) return;
  const FileDialogSpec spec{kOpenImageTitle,
                            kOpenImageFilter,
                            kOpenImageFilterIndex,
                            StartFolder(settings_.Directory_1),
                            {},
                            {}};
  std::string path;
  if (!dialogs_.OpenFile(spec, path)) return;
  const std::optional<LoadResult> r =
      OpenChosenImage(*disk_, path, settings_, store_, imageFileName_);
  if (!r) return;
  if (r->ok) imagePath_ = path;
  FinishLoad(*r);
}

void TFMain::TRDOS1Click() {
  if (!MaySaveChanges()) return;
  CreateTrdosDisk(*disk_, dialogs_.AskDiskName());
  NoteImage(ImageEvent::Created);
  // The status bar no longer names the file of the image before.
  sb[1]->clear();
  sb[2]->clear();
  ResetPanels();
  zxd->ResetToTopLeft();
}

void TFMain::CPMProfi1Click() {
  if (!MaySaveChanges()) return;
  CreateCpmDisk(*disk_);
  NoteImage(ImageEvent::Created);
  sb[1]->clear();
  sb[2]->clear();
  ResetPanels();
  zxd->ResetToTopLeft();
}

void TFMain::N4Click() {
  if (!MaySaveChanges()) return;
  const FileDialogSpec spec{
      kOpenImageTitle, kProjectFilter, 1, StartFolder(settings_.Directory_1), {}, {"udf"}};
  std::string path;
  if (!dialogs_.OpenFile(spec, path)) return;
  if (!OpenProjectCommand(*disk_, path, settings_, store_, imageFileName_)) return;
  imagePath_ = path;
  NoteImage(ImageEvent::Loaded);
  ResetPanels();
  sb[1]->setText(QString::fromStdString(ImageStatusText(path, disk_->CountTracks())));
  sb[2]->clear();
  zxd->ScrollToTopAndRepaint();
  zxdClick();
  ShowComment();
  pc1->setCurrentIndex(1);
}

void TFMain::N6Click() {
  const FileDialogSpec spec{kSaveProjectTitle,
                            kProjectFilter,
                            1,
                            StartFolder(settings_.Directory_1),
                            ProposedProjectName(imageFileName_),
                            {"udf"}};
  int filterIndex = 1;
  std::string path;
  if (!dialogs_.SaveFile(spec, filterIndex, path)) return;
  if (lb1->hasFocus()) lb1Exit();
  if (!SaveProjectCommand(*disk_, path, settings_, store_, dialogs_, imageFileName_)) return;
  imagePath_ = path;
  NoteImage(ImageEvent::Saved);
}

void TFMain::N32Click() {
  SaveImageAs();
}

bool TFMain::SaveImageAs() {
  const SaveDialogProposal p =
      ProposeImageSave(*disk_, changes_.FileName().empty() ? std::string() : imagePath_,
                       {settings_.RestoreTrack, settings_.TD0arch},
                       StartFolder(settings_.Directory_2), imageFileName_, saveFilterIndex_);
  saveFilterIndex_ = p.filterIndex;
  FileDialogSpec spec{kSaveImageTitle, kSaveImageFilter, p.filterIndex, p.folder, p.fileName, {}};
  for (int i = 1; !SaveExtensionForFilter(i).empty(); ++i)
    spec.extensions.push_back(SaveExtensionForFilter(i));
  std::string path;
  const bool chosen = dialogs_.SaveFile(spec, saveFilterIndex_, path);
  if (!chosen) return false;
  // The comment being typed goes into the file too.
  if (lb1->hasFocus()) lb1Exit();
  const SaveOutcome out =
      SaveImageCommand(*disk_, path, settings_, store_, dialogs_, imageFileName_);
  if (out.clearLog) Lzx1->clear();
  for (size_t i = 0; i < out.logLines.size(); ++i)
    AddLogLine(out.logLines[i], i + 1 == out.logLines.size());
  if (!out.written) return false;
  imagePath_ = path;
  NoteImage(ImageEvent::Saved);
  // The status bar names the file the image is now in; what the load said
  // about the file before no longer holds.
  sb[1]->setText(QString::fromStdString(ImageStatusText(path, disk_->CountTracks())));
  sb[2]->clear();
  return true;
}

void TFMain::N12Click() {
  if (!ClearImageCommand(*disk_, dialogs_, [this] { return MaySaveChanges(); })) return;
  NoteImage(ImageEvent::Cleared);
  zxd->ScrollToTopAndRepaint();
  lb1->clear();
  Lzx1->clear();
  sb[1]->clear();
  sb[2]->clear();
  ResetPanels();
}

void TFMain::N26Click() {
  if (!zxCore_->OpenFromImage()) return;
  zxcat->Execute(*zxCore_);
  if (!zxCore_->Modified()) return;
  NoteImage(ImageEvent::CatalogChanged);
  SectorsToRawCommand(*disk_);
  RefreshAfterEdit();
}

void TFMain::ShowDriveCatalog(std::span<const uint8_t> track0) {
  if (zxCore_->OpenFromDrive(track0)) zxcat->Execute(*zxCore_);
}

void TFMain::CPM1Click() {
  if (!IsCpmImage(*disk_)) {
    dialogs_.ShowMessage("Ошибка!", kNotCpmImageText, MessageIcon::Error);
    return;
  }
  cCat->Present();
}

void TFMain::N20Click() {
  close();
}

void TFMain::N29Click() {
  fmset->SetValues(SetupValuesOf(settings_));
  dialogs_.RunDialog(*fmset);
  if (!fmset->AcceptFlag()) return;
  AcceptSetup(fmset->Values(), settings_, store_);
  OpenDrive(true);
}

void TFMain::BringToFront() {
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

void TFMain::HandoffArrived() {
  if (!instance_) return;
  const std::vector<std::string> messages = instance_->TakeMessages();
  if (messages.empty()) return;
  BringToFront();
  // Several copies started quickly leave several messages: each is loaded
  // in turn, so the last one stays.
  for (const std::string& m : messages) {
    if (std::optional<std::string> path = HandoffPath(m)) loads_.Add(std::move(*path));
  }
  LoadWaitingFiles();
}

void TFMain::LoadWaitingFiles() {
  while (std::optional<std::string> path = loads_.Next()) {
    if (MaySaveChanges()) LoadAndFinish(*path);
  }
}

void TFMain::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TFMain::dropEvent(QDropEvent* event) {
  QStringList files;
  for (const QUrl& url : event->mimeData()->urls())
    files << url.toLocalFile();
  if (WMDropFiles(event->position().toPoint(), files)) event->acceptProposedAction();
}

void TFMain::closeEvent(QCloseEvent* event) {
  // A modal window holds the image and its own event loop: the window goes
  // only after it. A drive run is asked to stop and the close follows it.
  if (loads_.WindowsOpen()) {
    if (driveRunning_) {
      closeAfterRun_ = true;
      prog->close();  // as its close box: "Отмена" once the run goes
    }
    event->ignore();
    return;
  }
  if (!MaySaveChanges()) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

bool TFMain::WMDropFiles(const QPoint& at, const QStringList& files) {
  const QPoint origin = zxd->mapTo(this, QPoint(0, 0));
  const MapArea map{origin.x(), origin.y(), zxd->width(), zxd->height()};
  switch (ClassifyDrop(at.x(), at.y(), map, static_cast<int>(files.size()))) {
    case DropAction::Ignore:
      return false;
    case DropAction::Beep:
      dialogs_.Beep();
      return false;
    case DropAction::Load:
      // Taken: loaded now, or once the modal window open has closed.
      loads_.Add(files.front().toStdString());
      LoadWaitingFiles();
      return true;
  }
  return false;
}

}  // namespace kelvara
