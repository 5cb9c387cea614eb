#include "app/TSecAd.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QValidator>

#include "app/Dialogs.h"

namespace kelvara {

namespace {

// Up to three decimal digits of a value 0..255; an empty edit is allowed
// while typing, but leaves "Принять" off.
class ByteValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    if (input.isEmpty()) return Intermediate;
    return SectorAddressForm::ByteValue(input.toStdString()) ? Acceptable : Invalid;
  }
};

}  // namespace

QLineEdit* TSecAd::NumberEdit() {
  auto* edit = new QLineEdit(this);
  edit->setMaxLength(3);
  edit->setValidator(new ByteValidator(edit));
  edit->setFixedWidth(48);
  connect(edit, &QLineEdit::textChanged, this, &TSecAd::FieldChanged);
  return edit;
}

TSecAd::TSecAd(QWidget* owner) : QDialog(owner) {
  setWindowTitle("Заголовок");
  ne1 = NumberEdit();
  ne1->setObjectName("ne1");
  ne2 = NumberEdit();
  ne2->setObjectName("ne2");
  cb1 = new QComboBox(this);
  cb1->setObjectName("cb1");
  cb2 = new QComboBox(this);
  cb2->setObjectName("cb2");
  an5 = new QLabel(this);
  an5->setObjectName("an5");
  cb = new QCheckBox("Без ошибок", this);
  cb->setObjectName("cb");
  connect(cb1, &QComboBox::currentIndexChanged, this, &TSecAd::FieldChanged);
  connect(cb2, &QComboBox::currentIndexChanged, this, &TSecAd::FieldChanged);
  connect(cb, &QCheckBox::toggled, this, &TSecAd::FieldChanged);

  bb1 = new QPushButton("Принять", this);
  bb1->setObjectName("bb1");
  BitBtn2 = new QPushButton("Отменить", this);
  BitBtn2->setObjectName("BitBtn2");
  connect(bb1, &QPushButton::clicked, this, [this] {
    accepted_ = true;
    accept();
  });
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

  auto* fields = new QFormLayout;
  fields->addRow("Track -", ne1);
  fields->addRow("Side -", cb1);
  fields->addRow("Sector -", ne2);
  fields->addRow("Size -", cb2);
  fields->addRow("CRC -", an5);
  fields->addRow(cb);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(bb1);
  buttons->addWidget(BitBtn2);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(buttons);
  FixSizeForCaption(*this, sizeHint());
}

void TSecAd::Fill(const TSectorRec& slot) {
  form_.Fill(slot);
  filling_ = true;
  cb1->clear();
  for (const std::string& item : form_.SideItems())
    cb1->addItem(QString::fromStdString(item));
  cb2->clear();
  for (const std::string& item : form_.SizeItems())
    cb2->addItem(QString::fromStdString(item));
  ne1->setText(QString::fromStdString(form_.cylText));
  ne2->setText(QString::fromStdString(form_.secText));
  cb1->setCurrentIndex(form_.sidePosition);
  cb2->setCurrentIndex(form_.sizePosition);
  cb->setChecked(form_.noErrors);
  filling_ = false;
  ShowForm();
}

void TSecAd::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  accepted_ = false;
  bb1->setEnabled(false);
}

void TSecAd::FieldChanged() {
  if (filling_) return;
  form_.cylText = ne1->text().toStdString();
  form_.secText = ne2->text().toStdString();
  form_.sidePosition = cb1->currentIndex();
  form_.sizePosition = cb2->currentIndex();
  form_.noErrors = cb->isChecked();
  form_.Changed();
  ShowForm();
}

void TSecAd::ShowForm() {
  an5->setText(QString::fromStdString(form_.CrcLabel()));
  bb1->setEnabled(form_.AcceptEnabled());
}

}  // namespace kelvara
