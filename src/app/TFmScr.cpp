#include "app/TFmScr.h"

#include <QFontDialog>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/Dialogs.h"
#include "session/Viewers.h"
#include "widgets/TSSHex.h"

namespace kelvara {

namespace {

// The window's outer sizes of 266 x 221 (screen) and 558 x 344 (hex) less
// a frame of 4 pixels a side and a 23-pixel caption: the client areas.
const QSize kScreenClient(258, 194);
const QSize kHexClient(550, 317);
const QSize kTextClient(550, 317);

}  // namespace

TFmScr::TFmScr(Dialogs& dialogs, QWidget* owner) : QDialog(owner), dialogs_(dialogs) {
  setObjectName("FmScr");
  setWindowTitle("ZX Screen");

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(1, 1, kZxScreenWidth, kZxScreenHeight);

  ss1 = new TSSHex(this);
  ss1->setObjectName("ss1");
  QFont mono("Liberation Mono");
  mono.setStyleHint(QFont::Monospace);
  mono.setPointSize(9);
  ss1->setFont(mono);

  pnText = new QWidget(this);
  pnText->setObjectName("pnText");
  sbFont = new QPushButton("Шрифт", pnText);
  sbFont->setObjectName("sbFont");
  sbKoi = new QPushButton("KOI-8 -> ALT", pnText);
  sbKoi->setObjectName("sbKoi");
  Memo1 = new QPlainTextEdit(pnText);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setFont(mono);
  pmMemo = new QMenu(Memo1);
  miSelectAll = pmMemo->addAction("Выделить все");
  miCopy = pmMemo->addAction("Копировать");
  Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Memo1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    pmMemoPopup();
    pmMemo->popup(Memo1->mapToGlobal(at));
  });
  connect(miSelectAll, &QAction::triggered, Memo1, &QPlainTextEdit::selectAll);
  connect(miCopy, &QAction::triggered, Memo1, &QPlainTextEdit::copy);
  connect(sbFont, &QPushButton::clicked, this, &TFmScr::sbFontClick);
  connect(sbKoi, &QPushButton::clicked, this, &TFmScr::sbKoiClick);
  auto* bar = new QHBoxLayout;
  bar->addWidget(sbFont);
  bar->addWidget(sbKoi);
  bar->addStretch();
  auto* textLayout = new QVBoxLayout(pnText);
  textLayout->setContentsMargins(0, 0, 0, 0);
  textLayout->addLayout(bar);
  textLayout->addWidget(Memo1);

  // The grid and the text pane fill the client area; the picture keeps its
  // place at (1, 1).
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(ss1);
  layout->addWidget(pnText);

  pickFont = [this](QFont& font) {
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, font, this);
    if (ok) font = chosen;
    return ok;
  };
  Image1->hide();
  ss1->hide();
  pnText->hide();
  setFixedSize(kScreenClient);
}

void TFmScr::ShowScreen(std::span<const uint8_t> screen) {
  const std::vector<uint8_t> rgb = ZxScreenToRgb(screen);
  picture_ =
      QImage(rgb.data(), kZxScreenWidth, kZxScreenHeight, kZxScreenWidth * 3, QImage::Format_RGB888)
          .copy();
  Image1->setPixmap(QPixmap::fromImage(picture_));
  setFixedSize(kScreenClient);
  Image1->show();
  ss1->hide();
  Run();
}

void TFmScr::ShowHex(std::span<const uint8_t> bytes, const QString& caption) {
  ss1->SetBytes(bytes);
  ss1->SetReadOnly(true);
  setWindowTitle(caption);
  setFixedSize(kHexClient);
  Image1->hide();
  ss1->show();
  Run();
}

void TFmScr::ShowText(std::span<const uint8_t> bytes, const QString& caption) {
  textLines_ = TextLines(bytes);
  ShowTextLines();
  setWindowTitle(caption);
  Image1->hide();
  ss1->hide();
  pnText->show();
  // Resizable while the text is shown.
  setMinimumSize(200, 120);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  resize(kTextClient);
  Run();
}

void TFmScr::SetHexFont(const QFont& font) {
  ss1->setFont(font);
}

void TFmScr::Run() {
  dialogs_.RunDialog(*this);
  Image1->hide();
  ss1->hide();
  pnText->hide();
  setFixedSize(size());
}

void TFmScr::ShowTextLines() {
  QStringList lines;
  for (const std::string& line : textLines_)
    lines << QString::fromStdString(AltToUtf8(line));
  Memo1->setPlainText(lines.join('\n'));
}

void TFmScr::sbFontClick() {
  QFont font = Memo1->font();
  if (pickFont && pickFont(font)) Memo1->setFont(font);
}

void TFmScr::sbKoiClick() {
  for (std::string& line : textLines_)
    KoiToAlt(line);
  ShowTextLines();
}

void TFmScr::pmMemoPopup() {
  miCopy->setEnabled(Memo1->textCursor().hasSelection());
}

}  // namespace kelvara
