#include "app/TFLed.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "app/Dialogs.h"

namespace kelvara {

namespace {

QString HexText(unsigned value, int digits) {
  return QString("%1").arg(value, digits, 16, QChar('0')).toUpper();
}

unsigned HexValue(const QLineEdit* edit) {
  return edit->text().toUInt(nullptr, 16);
}

}  // namespace

// A hexadecimal field of 1 or 2 bytes: only hex digits, two per byte; an
// emptied field reads as 0.
QLineEdit* TFLed::HexEdit(int bytes) {
  auto* edit = new QLineEdit(this);
  const int digits = bytes * 2;
  edit->setMaxLength(digits);
  edit->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QString("[0-9A-Fa-f]{0,%1}").arg(digits)), edit));
  edit->setFixedWidth(24 + digits * 10);
  return edit;
}

TFLed::TFLed(QWidget* owner) : QDialog(owner) {
  setObjectName("FLed");
  setWindowTitle("Редактор элемента каталога");
  edName = new QLineEdit(this);
  edName->setObjectName("edName");
  edName->setMaxLength(8);
  edType = new QLineEdit(this);
  edType->setObjectName("edType");
  edType->setMaxLength(1);
  edType->setFixedWidth(34);
  heStart = HexEdit(2);
  heStart->setObjectName("heStart");
  heLength = HexEdit(2);
  heLength->setObjectName("heLength");
  heSectors = HexEdit(1);
  heSectors->setObjectName("heSectors");
  heFirstSector = HexEdit(1);
  heFirstSector->setObjectName("heFirstSector");
  heFirstTrack = HexEdit(1);
  heFirstTrack->setObjectName("heFirstTrack");

  bbOk = new QPushButton("Принять", this);
  bbOk->setObjectName("bbOk");
  bbOk->setDefault(true);
  bbCancel = new QPushButton("Отменить", this);
  bbCancel->setObjectName("bbCancel");
  connect(bbOk, &QPushButton::clicked, this, [this] {
    accepted_ = true;
    accept();
  });
  connect(bbCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* fields = new QFormLayout;
  fields->addRow("Имя файла:", edName);
  fields->addRow("Тип файла:", edType);
  fields->addRow("Старт:", heStart);
  fields->addRow("Длинна:", heLength);
  fields->addRow("Секторов:", heSectors);
  fields->addRow("Начальный сектор:", heFirstSector);
  fields->addRow("Начальная дорожка:", heFirstTrack);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(bbOk);
  buttons->addWidget(bbCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(buttons);
  FixSizeForCaption(*this, sizeHint());
}

void TFLed::Fill(const TrdosEntryFields& f) {
  edName->setText(QString::fromStdString(f.name));
  edType->setText(QString::fromStdString(f.type));
  heStart->setText(HexText(f.start, 4));
  heLength->setText(HexText(f.length, 4));
  heSectors->setText(HexText(f.sectors, 2));
  heFirstSector->setText(HexText(f.firstSector, 2));
  heFirstTrack->setText(HexText(f.firstTrack, 2));
}

TrdosEntryFields TFLed::Fields() const {
  TrdosEntryFields f;
  f.name = edName->text().toStdString();
  f.type = edType->text().toStdString();
  f.start = static_cast<uint16_t>(HexValue(heStart));
  f.length = static_cast<uint16_t>(HexValue(heLength));
  f.sectors = static_cast<uint8_t>(HexValue(heSectors));
  f.firstSector = static_cast<uint8_t>(HexValue(heFirstSector));
  f.firstTrack = static_cast<uint8_t>(HexValue(heFirstTrack));
  return f;
}

void TFLed::showEvent(QShowEvent* event) {
  accepted_ = false;
  edName->setFocus();
  edName->selectAll();
  QDialog::showEvent(event);
}

}  // namespace kelvara
