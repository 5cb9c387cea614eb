#include "app/Tfmset.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "drive/DriveChannel.h"
#include "model/FileIO.h"
#include "session/MainCommands.h"

namespace kelvara {

namespace {

// The dialog keeps its small fixed size, so the groups sit tight.
QGroupBox* Group(const char* title, QWidget* parent) {
  auto* box = new QGroupBox(QString::fromUtf8(title), parent);
  auto* form = new QFormLayout(box);
  form->setContentsMargins(6, 2, 6, 4);
  form->setVerticalSpacing(2);
  return box;
}

void AddRow(QGroupBox* group, const char* caption, QWidget* field) {
  static_cast<QFormLayout*>(group->layout())->addRow(QString::fromUtf8(caption), field);
}

}  // namespace

QSpinBox* Tfmset::NumberField(size_t i) {
  const SetupNumberField& f = kSetupNumberFields[i];
  auto* box = new QSpinBox(this);
  box->setObjectName(f.name);
  box->setRange(f.min, f.max);
  box->setToolTip(QString::fromUtf8(f.hint));
  box->setButtonSymbols(QAbstractSpinBox::NoButtons);
  box->setFixedWidth(f.digits == 2 ? 36 : 44);
  connect(box, &QSpinBox::valueChanged, this, &Tfmset::e1Change);
  return box;
}

Tfmset::Tfmset(Prompt& prompt, QWidget* owner) : QDialog(owner), prompt_(prompt) {
  setWindowTitle("Настройки");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  for (size_t i = 0; i < e.size(); ++i)
    e[i] = NumberField(i);
  for (size_t i = 0; i < cb.size(); ++i) {
    cb[i] = new QCheckBox(QString::fromUtf8(kSetupFlagFields[i].caption), this);
    cb[i]->setObjectName(kSetupFlagFields[i].name);
    cb[i]->setToolTip(QString::fromUtf8(kSetupFlagFields[i].hint));
    connect(cb[i], &QCheckBox::toggled, this, &Tfmset::e1Change);
  }
  cbdr = new QComboBox(this);
  cbdr->setObjectName("cbdr");
  for (const char* item : kDriveItems)
    cbdr->addItem(item);
  cbsr = new QComboBox(this);
  cbsr->setObjectName("cbsr");
  for (const char* item : kRateItems)
    cbsr->addItem(item);
  cbdr->setFixedWidth(70);
  cbsr->setFixedWidth(70);
  connect(cbdr, &QComboBox::currentIndexChanged, this, &Tfmset::e1Change);
  connect(cbsr, &QComboBox::currentIndexChanged, this, &Tfmset::e1Change);

  fluxNode = new QLineEdit(this);
  fluxNode->setObjectName("fluxNode");
  fluxNode->setPlaceholderText("/dev/ttyACM0");
  fluxNode->setToolTip(QString::fromUtf8(
      "Узел Greaseweazle (/dev/ttyACM0, /dev/greaseweazle).\nПусто - контроллер ПК "
      "(/dev/fd0, /dev/fd1)."));
  fluxSim = new QLineEdit(this);
  fluxSim->setObjectName("fluxSim");
  fluxSim->setToolTip(QString::fromUtf8(
      "Образ диска в симуляторе Greaseweazle: все команды \"Диск\" без устройства.\n"
      "Файла может не быть: тогда диск чистый, записанное сохраняется в этот файл.\n"
      "Выбирается вместо узла."));
  fluxSimPick = new QPushButton("…", this);
  fluxSimPick->setObjectName("fluxSimPick");
  fluxSimPick->setFixedWidth(28);
  // Enter in the dialog's fields is not a click on it.
  fluxSimPick->setAutoDefault(false);
  connect(fluxSimPick, &QPushButton::clicked, this, &Tfmset::fluxSimPickClick);
  sbpasses = new QSpinBox(this);
  sbpasses->setObjectName("sbpasses");
  sbpasses->setRange(1, 10);
  sbpasses->setToolTip("Сколько раз дорожка записывается, пока проверка находит ошибки");
  sbpcyl = new QSpinBox(this);
  sbpcyl->setObjectName("sbpcyl");
  sbpcyl->setRange(0, 83);
  sbpcyl->setToolTip("Предкомпенсация записи: с этого цилиндра");
  sbpns = new QSpinBox(this);
  sbpns->setObjectName("sbpns");
  sbpns->setRange(0, 250);
  sbpns->setSuffix(" нс");
  sbpns->setToolTip(
      "Сдвиг соседних переходов при записи; 0 - выключена.\nНужна многим 5.25\" "
      "80-дорожечным дисководам на внутренних цилиндрах");
  cbdens = new QComboBox(this);
  cbdens->setObjectName("cbdens");
  for (const char* item : kDensityItems)
    cbdens->addItem(QString::fromUtf8(item));
  cbdens->setToolTip("Уровень на выводе 2 (выбор плотности) для 5.25\" HD дисководов");
  cbbus = new QComboBox(this);
  cbbus->setObjectName("cbbus");
  for (const char* item : kFluxBusItems)
    cbbus->addItem(item);
  cbverify = new QCheckBox("Проверять запись", this);
  cbverify->setObjectName("cbverify");
  cbverify->setToolTip("Каждая записанная дорожка читается и сверяется с образом");
  cbdstep = new QCheckBox("Двойной шаг (40 дорожек)", this);
  cbdstep->setObjectName("cbdstep");
  cbdstep->setToolTip("40-дорожечный диск в 80-дорожечном дисководе");
  connect(fluxNode, &QLineEdit::textChanged, this, &Tfmset::e1Change);
  connect(fluxSim, &QLineEdit::textChanged, this, &Tfmset::e1Change);
  for (QSpinBox* box : {sbpasses, sbpcyl, sbpns})
    connect(box, &QSpinBox::valueChanged, this, &Tfmset::e1Change);
  connect(cbdens, &QComboBox::currentIndexChanged, this, &Tfmset::e1Change);
  connect(cbbus, &QComboBox::currentIndexChanged, this, &Tfmset::e1Change);
  connect(cbverify, &QCheckBox::toggled, this, &Tfmset::e1Change);
  connect(cbdstep, &QCheckBox::toggled, this, &Tfmset::e1Change);

  QGroupBox* retries = Group("Повторы", this);
  AddRow(retries, kSetupNumberFields[0].caption, e[0]);
  AddRow(retries, kSetupNumberFields[1].caption, e[1]);
  QGroupBox* area = Group("Обрабатываемая область", this);
  AddRow(area, kSetupNumberFields[2].caption, e[2]);
  AddRow(area, kSetupNumberFields[3].caption, e[3]);
  QGroupBox* fullRead = Group("Полное чтение дорожки", this);
  AddRow(fullRead, kSetupNumberFields[4].caption, e[4]);
  QGroupBox* timeout = Group("Таймаут", this);
  AddRow(timeout, kSetupNumberFields[5].caption, e[5]);
  QGroupBox* images = new QGroupBox("Образы", this);
  auto* imagesLayout = new QVBoxLayout(images);
  imagesLayout->setContentsMargins(6, 2, 6, 4);
  imagesLayout->setSpacing(2);
  for (QCheckBox* box : cb)
    imagesLayout->addWidget(box);
  QGroupBox* controller = Group("Параметры контроллера", this);
  AddRow(controller, "Дисковод:", cbdr);
  AddRow(controller, "Скорость передачи:", cbsr);
  AddRow(controller, kSetupNumberFields[6].caption, e[6]);

  QGroupBox* fluxGroup = Group("Флюкс-устройство", this);
  AddRow(fluxGroup, "Узел:", fluxNode);
  auto* simRow = new QHBoxLayout;
  simRow->setSpacing(2);
  simRow->addWidget(fluxSim);
  simRow->addWidget(fluxSimPick);
  static_cast<QFormLayout*>(fluxGroup->layout())->addRow("Симулятор:", simRow);
  AddRow(fluxGroup, "Шина:", cbbus);
  static_cast<QFormLayout*>(fluxGroup->layout())->addRow(cbverify);
  static_cast<QFormLayout*>(fluxGroup->layout())->addRow(cbdstep);
  AddRow(fluxGroup, "Проходов записи:", sbpasses);
  auto* precompRow = new QHBoxLayout;
  precompRow->setSpacing(2);
  precompRow->addWidget(sbpcyl);
  precompRow->addWidget(sbpns);
  static_cast<QFormLayout*>(fluxGroup->layout())->addRow("Предкомп. с цил.:", precompRow);
  AddRow(fluxGroup, "Плотность (2):", cbdens);

  bb1 = new QPushButton("Принять", this);
  BitBtn2 = new QPushButton("Отменить", this);
  connect(bb1, &QPushButton::clicked, this, &Tfmset::bb1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

  auto* left = new QVBoxLayout;
  for (QGroupBox* g : {retries, area, fullRead, timeout})
    left->addWidget(g);
  left->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(bb1);
  buttons->addWidget(BitBtn2);
  auto* right = new QVBoxLayout;
  right->addWidget(images);
  right->addWidget(controller);
  right->addWidget(fluxGroup);
  right->addStretch();
  right->addLayout(buttons);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addLayout(left);
  layout->addLayout(right);
  // Fixed, at the size its captions need in the font in use, so that no
  // caption is cut off.
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void Tfmset::SetValues(const SetupValues& values) {
  for (size_t i = 0; i < e.size(); ++i) {
    const SetupNumberField& f = kSetupNumberFields[i];
    e[i]->setRange(std::min(f.min, values.numbers[i]), std::max(f.max, values.numbers[i]));
    e[i]->setValue(values.numbers[i]);
  }
  for (size_t i = 0; i < cb.size(); ++i)
    cb[i]->setChecked(values.flags[i]);
  cbdr->setCurrentIndex(values.driveIndex);
  cbsr->setCurrentIndex(values.rateIndex);
  fluxNode->setText(QString::fromStdString(values.fluxDevice));
  cbbus->setCurrentIndex(values.fluxBusIndex);
  cbverify->setChecked(values.fluxVerify);
  cbdstep->setChecked(values.doubleStep);
  fluxSim->setText(QString::fromStdString(values.fluxSimImage));
  sbpasses->setValue(values.writePasses);
  sbpcyl->setValue(values.precompCylinder);
  sbpns->setValue(values.precompNs);
  cbdens->setCurrentIndex(values.densityIndex);
}

SetupValues Tfmset::Values() const {
  SetupValues v;
  for (size_t i = 0; i < e.size(); ++i)
    v.numbers[i] = e[i]->value();
  for (size_t i = 0; i < cb.size(); ++i)
    v.flags[i] = cb[i]->isChecked();
  v.driveIndex = cbdr->currentIndex();
  v.rateIndex = cbsr->currentIndex();
  v.fluxDevice = fluxNode->text().trimmed().toStdString();
  v.fluxBusIndex = cbbus->currentIndex();
  v.fluxVerify = cbverify->isChecked();
  v.doubleStep = cbdstep->isChecked();
  v.fluxSimImage = fluxSim->text().trimmed().toStdString();
  v.writePasses = sbpasses->value();
  v.precompCylinder = sbpcyl->value();
  v.precompNs = sbpns->value();
  v.densityIndex = cbdens->currentIndex();
  return v;
}

void Tfmset::fluxSimPickClick() {
  std::vector<std::string> files;
  if (prompt_.PickOpenFiles("Диск симулятора Greaseweazle", kOpenImageFilter,
                            FolderOf(fluxSim->text().toStdString()), files))
    fluxSim->setText(QString::fromStdString(files.front()));
}

void Tfmset::showEvent(QShowEvent* event) {
  accepted_ = false;
  bb1->hide();
  QDialog::showEvent(event);
}

void Tfmset::e1Change() {
  bb1->show();
}

void Tfmset::bb1Click() {
  if (const std::string refusal = SetupRefusal(Values()); !refusal.empty()) {
    prompt_.ShowMessage(kErrorCaption, refusal, MessageIcon::Error);
    return;
  }
  accepted_ = true;
  accept();
}

}  // namespace kelvara
