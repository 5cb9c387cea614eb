#include "app/Dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "session/StartupRules.h"

namespace kelvara {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

std::vector<std::string> SplitBars(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t bar = text.find('|', start);
    parts.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return parts;
}

std::string ExtensionFor(const FileDialogSpec& spec, int filterIndex) {
  if (spec.extensions.empty()) return {};
  const size_t i = static_cast<size_t>(std::max(filterIndex, 1) - 1);
  return spec.extensions[std::min(i, spec.extensions.size() - 1)];
}

std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* owner, const FileDialogSpec& spec) {
  // No folder remembered: the home folder rather than wherever the
  // program was started from.
  const QString folder = spec.folder.empty() ? QDir::homePath() : Q(spec.folder);
  auto dialog = std::make_unique<QFileDialog>(owner, Q(spec.title), folder);
  // Qt's own dialog on every desktop, so the behaviour does not depend on the
  // platform's; the patterns Qt needs are appended to each name and hidden.
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  const QStringList filters = QtNameFilters(spec.filter);
  dialog->setNameFilters(filters);
  if (spec.filterIndex >= 1 && spec.filterIndex <= filters.size()) {
    dialog->selectNameFilter(filters[spec.filterIndex - 1]);
  }
  dialog->setDefaultSuffix(Q(ExtensionFor(spec, spec.filterIndex)));
  if (!spec.fileName.empty()) dialog->selectFile(Q(spec.fileName));
  return dialog;
}

// The 1-based index of the chosen filter. With the patterns hidden the
// dialog may report the shown name alone, without them.
int FilterIndexOf(const QFileDialog& dialog) {
  const QString chosen = dialog.selectedNameFilter();
  const QStringList filters = dialog.nameFilters();
  for (qsizetype i = 0; i < filters.size(); ++i) {
    if (filters[i] == chosen || filters[i].startsWith(chosen + " ("))
      return static_cast<int>(i) + 1;
  }
  return 1;
}

}  // namespace

QStringList QtNameFilters(const std::string& filter) {
  const std::vector<std::string> parts = SplitBars(filter);
  QStringList out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = Q(parts[i + 1]);
    patterns.replace(';', ' ');
    out << Q(parts[i]) + " (" + patterns + ")";
  }
  return out;
}

std::unique_ptr<QFileDialog> MakeOpenDialog(QWidget* owner, const FileDialogSpec& spec) {
  auto dialog = MakeFileDialog(owner, spec);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  return dialog;
}

std::unique_ptr<QFileDialog> MakeSaveDialog(QWidget* owner, const FileDialogSpec& spec) {
  auto dialog = MakeFileDialog(owner, spec);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  // The program asks its own overwrite question after the dialog.
  dialog->setOption(QFileDialog::DontConfirmOverwrite);
  QFileDialog* raw = dialog.get();
  QObject::connect(raw, &QFileDialog::filterSelected, raw, [raw, spec] {
    raw->setDefaultSuffix(Q(ExtensionFor(spec, FilterIndexOf(*raw))));
  });
  return dialog;
}

DiskNameDialog::DiskNameDialog(QWidget* owner) : QDialog(owner) {
  setWindowTitle("Имя диска!");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Задайте имя диска (8 символов максимум)", this));
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("Имя:", this));
  edit = new QLineEdit("NEW DISK", this);
  edit->setMaxLength(8);
  row->addWidget(edit);
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton("&Ok", QDialogButtonBox::AcceptRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
  edit->selectAll();
}

Answer QtDialogs::AskYesNo(const std::string& caption, const std::string& text) {
  return QMessageBox::question(owner_, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes
             ? Answer::Yes
             : Answer::No;
}

Answer QtDialogs::AskYesNoCancel(const std::string& caption, const std::string& text) {
  switch (QMessageBox::question(owner_, Q(caption), Q(text),
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                QMessageBox::Cancel)) {
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    default:
      return Answer::Cancel;
  }
}

bool QtDialogs::AskText(const std::string& caption, const std::string& label, std::string& value,
                        int maxLength) {
  QInputDialog dialog(owner_);
  dialog.setWindowTitle(Q(caption));
  dialog.setLabelText(Q(label));
  dialog.setTextValue(Q(value));
  // The input boxes of the catalog window (the restored letter, the disk
  // name) accept and cancel with these.
  dialog.setOkButtonText("&Принять");
  dialog.setCancelButtonText("&Отменить");
  if (auto* line = dialog.findChild<QLineEdit*>()) line->setMaxLength(maxLength);
  if (dialog.exec() != QDialog::Accepted) return false;
  value = dialog.textValue().toStdString();
  return true;
}

bool QtDialogs::PickFolder(const std::string& caption, std::string& folder) {
  const QString chosen = QFileDialog::getExistingDirectory(
      owner_, Q(caption), folder.empty() ? QDir::homePath() : Q(folder));
  if (chosen.isEmpty()) return false;
  folder = chosen.toStdString();
  if (folder.back() != '/') folder += '/';
  return true;
}

bool QtDialogs::PickOpenFiles(const std::string& caption, const std::string& filter,
                              const std::string& folder, std::vector<std::string>& files) {
  auto dialog = MakeOpenDialog(owner_, {caption, filter, 1, folder, {}, {}});
  dialog->setFileMode(QFileDialog::ExistingFiles);
  if (dialog->exec() != QDialog::Accepted) return false;
  files.clear();
  for (const QString& f : dialog->selectedFiles())
    files.push_back(f.toStdString());
  return !files.empty();
}

bool QtDialogs::PickSaveFile(const std::string& caption, const std::string& filter,
                             const std::string& folder, std::string& file) {
  int index = 1;
  return SaveFile({caption, filter, 1, folder, file, {}}, index, file);
}

void QtDialogs::ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) {
  // In MessageIcon's order.
  static const QMessageBox::Icon kIcons[] = {QMessageBox::Information, QMessageBox::Warning,
                                             QMessageBox::Critical, QMessageBox::Question,
                                             QMessageBox::NoIcon};
  // Texts break their lines with a bare carriage return, as the system's
  // message boxes take it; a Qt label wants a line feed.
  QString shown = Q(text);
  shown.replace('\r', '\n');
  QMessageBox box(kIcons[static_cast<int>(icon)], Q(caption), shown, QMessageBox::Ok, owner_);
  box.exec();
}

bool QtDialogs::OpenFile(const FileDialogSpec& spec, std::string& path) {
  auto dialog = MakeOpenDialog(owner_, spec);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return false;
  path = dialog->selectedFiles().front().toStdString();
  return true;
}

bool QtDialogs::SaveFile(const FileDialogSpec& spec, int& filterIndex, std::string& path) {
  auto dialog = MakeSaveDialog(owner_, spec);
  const int result = dialog->exec();
  filterIndex = FilterIndexOf(*dialog);
  if (result != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return false;
  path = dialog->selectedFiles().front().toStdString();
  return true;
}

std::string QtDialogs::AskDiskName() {
  DiskNameDialog dialog(owner_);
  dialog.exec();
  return dialog.edit->text().toStdString();
}

int QtDialogs::RunDialog(QDialog& dialog) {
  return dialog.exec();
}

void QtDialogs::Beep() {
  QApplication::beep();
}

void FixSizeForCaption(QDialog& dialog, QSize designed) {
  // The window manager draws the caption in about the application's font.
  const int text = QFontMetrics(QApplication::font()).horizontalAdvance(dialog.windowTitle());
  const int bar = dialog.style()->pixelMetric(QStyle::PM_TitleBarHeight);
  dialog.setFixedSize(FixedWindowWidth(designed.width(), text, bar), designed.height());
}

template <class Show>
auto CountedDialogs::Counted(Show&& show) {
  // Closed on every way out of the call.
  struct Open {
    CountedDialogs& d;
    explicit Open(CountedDialogs& dialogs) : d(dialogs) { d.loads_.WindowOpened(); }
    ~Open() {
      if (d.loads_.WindowClosed() && d.lastClosed_) d.lastClosed_();
    }
  } open(*this);
  return show();
}

Answer CountedDialogs::AskYesNo(const std::string& caption, const std::string& text) {
  return Counted([&] { return inner_.AskYesNo(caption, text); });
}

Answer CountedDialogs::AskYesNoCancel(const std::string& caption, const std::string& text) {
  return Counted([&] { return inner_.AskYesNoCancel(caption, text); });
}

bool CountedDialogs::AskText(const std::string& caption, const std::string& label,
                             std::string& value, int maxLength) {
  return Counted([&] { return inner_.AskText(caption, label, value, maxLength); });
}

bool CountedDialogs::PickFolder(const std::string& caption, std::string& folder) {
  return Counted([&] { return inner_.PickFolder(caption, folder); });
}

bool CountedDialogs::PickOpenFiles(const std::string& caption, const std::string& filter,
                                   const std::string& folder, std::vector<std::string>& files) {
  return Counted([&] { return inner_.PickOpenFiles(caption, filter, folder, files); });
}

bool CountedDialogs::PickSaveFile(const std::string& caption, const std::string& filter,
                                  const std::string& folder, std::string& file) {
  return Counted([&] { return inner_.PickSaveFile(caption, filter, folder, file); });
}

void CountedDialogs::ShowMessage(const std::string& caption, const std::string& text,
                                 MessageIcon icon) {
  Counted([&] { inner_.ShowMessage(caption, text, icon); });
}

bool CountedDialogs::OpenFile(const FileDialogSpec& spec, std::string& path) {
  return Counted([&] { return inner_.OpenFile(spec, path); });
}

bool CountedDialogs::SaveFile(const FileDialogSpec& spec, int& filterIndex, std::string& path) {
  return Counted([&] { return inner_.SaveFile(spec, filterIndex, path); });
}

std::string CountedDialogs::AskDiskName() {
  return Counted([&] { return inner_.AskDiskName(); });
}

int CountedDialogs::RunDialog(QDialog& dialog) {
  return Counted([&] { return inner_.RunDialog(dialog); });
}

}  // namespace kelvara
