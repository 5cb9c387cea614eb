#include "app/T_Prog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "app/Dialogs.h"

namespace kelvara {

namespace {

constexpr int kClientWidth = 245;
constexpr int kClientHeight = 116;
constexpr int kStartDelayMs = 100;

}  // namespace

T_Prog::T_Prog(QWidget* owner, OperationHost& mainWindow)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      mainWindow_(mainWindow) {
  setObjectName("T_Prog");
  setModal(true);
  setFixedSize(kClientWidth, kClientHeight);

  QFont bold("Liberation Sans");
  bold.setBold(true);
  bold.setPointSize(10);
  auto* caption = new QLabel("Дорожка -", this);
  caption->setFont(bold);
  lbTrack = new QLabel("0", this);
  lbTrack->setObjectName("lbTrack");
  lbTrack->setFont(bold);
  VrPb = new QProgressBar(this);
  VrPb->setObjectName("VrPb");
  VrPb->setTextVisible(false);
  VrPb->setStyleSheet(
      "QProgressBar { border: 1px solid grey; background: white; }"
      "QProgressBar::chunk { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, "
      "stop:0 #008000, stop:1 #00FF00); }");
  bb1 = new QPushButton("Отмена", this);
  bb1->setObjectName("bb1");
  bb1->setAutoDefault(false);
  t1 = new QTimer(this);
  t1->setObjectName("t1");
  t1->setSingleShot(true);
  t1->setInterval(kStartDelayMs);

  auto* track = new QHBoxLayout;
  track->addWidget(caption);
  track->addWidget(lbTrack);
  track->addStretch();
  auto* button = new QHBoxLayout;
  button->addStretch();
  button->addWidget(bb1);
  button->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 8, 12, 8);
  layout->addLayout(track);
  layout->addWidget(VrPb);
  layout->addLayout(button);

  connect(t1, &QTimer::timeout, this, &T_Prog::t1Timer);
  connect(bb1, &QPushButton::clicked, this, &T_Prog::bb1Click);
}

void T_Prog::Prepare(const std::string& caption, int progressMax, Operation operation) {
  setWindowTitle(QString::fromStdString(caption));
  FixSizeForCaption(*this, {kClientWidth, kClientHeight});
  progressMax_ = progressMax;
  operation_ = std::move(operation);
  ran_ = false;
}

void T_Prog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void T_Prog::hideEvent(QHideEvent* event) {
  // A window taken off screen before its start never starts.
  t1->stop();
  QDialog::hideEvent(event);
}

void T_Prog::FormShow() {
  bb1->setEnabled(false);
  VrPb->setMaximum(progressMax_);
  VrPb->setValue(0);
  lbTrack->setText("0");
  t1->start();
  bb1->setEnabled(true);
  cancelRequested_ = false;
}

void T_Prog::t1Timer() {
  t1->stop();
  running_ = true;
  ran_ = true;
  if (operation_) operation_(*this);
  operation_ = nullptr;
  running_ = false;
  done(QDialog::Accepted);
}

void T_Prog::bb1Click() {
  bb1->setEnabled(false);
  cancelRequested_ = true;
}

void T_Prog::reject() {
  if (running_) {
    if (bb1->isEnabled()) bb1Click();
    return;
  }
  QDialog::reject();
}

void T_Prog::SetTrackLabel(const std::string& text) {
  lbTrack->setText(QString::fromStdString(text));
}

void T_Prog::SetProgress(int position, int maximum) {
  VrPb->setMaximum(maximum);
  VrPb->setValue(std::min(position, maximum));  // a value past the end would be ignored
}

void T_Prog::ProcessEvents() {
  QApplication::processEvents();
}

}  // namespace kelvara
