#include "widgets/TSSHex.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <array>
#include <string>

#include "model/CodePage.h"

namespace kelvara {

namespace {

// A line in character columns: "XXXX: " then the bytes, three columns each
// with one more space between the two halves of eight, a space, and the
// characters.
constexpr int kBytesColumn = 6;
constexpr int kHalf = TSSHex::kBytesPerLine / 2;
constexpr int kCharsColumn = kBytesColumn + 3 * TSSHex::kBytesPerLine + 2;
constexpr int kLineColumns = kCharsColumn + TSSHex::kBytesPerLine;
constexpr int kMargin = 4;

int ByteColumn(int i) {
  return kBytesColumn + 3 * i + (i >= kHalf ? 1 : 0);
}

// The character shown for a byte: its Windows-1251 letter, or a dot for the
// control codes and the one code the page leaves undefined.
QChar ShownChar(uint8_t b) {
  static const std::array<QChar, 256> table = [] {
    std::array<QChar, 256> t;
    for (int i = 0; i < 256; ++i) {
      const bool control = i < 0x20 || i == 0x7F || i == 0x98;
      t[static_cast<size_t>(i)] =
          control
              ? QChar('.')
              : QString::fromStdString(Cp1251ToUtf8(std::string(1, static_cast<char>(i)))).at(0);
    }
    return t;
  }();
  return table[b];
}

const char kDigits[] = "0123456789ABCDEF";

}  // namespace

TSSHex::TSSHex(QWidget* parent) : QAbstractScrollArea(parent) {
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  UpdateScrollBars();
}

void TSSHex::SetBytes(std::span<const uint8_t> bytes) {
  bytes_.assign(bytes.begin(), bytes.end());
  edited_.assign(bytes_.size(), false);
  cursor_ = 0;
  lowDigit_ = false;
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  UpdateScrollBars();
  viewport()->update();
}

void TSSHex::Clear() {
  SetBytes({});
}

void TSSHex::SetReadOnly(bool readOnly) {
  readOnly_ = readOnly;
  viewport()->update();
}

void TSSHex::SetCursor(int index) {
  MoveCursor(index);
}

bool TSSHex::Edited(int index) const {
  return index >= 0 && index < static_cast<int>(edited_.size()) && edited_[index];
}

void TSSHex::ClearEditMarks() {
  edited_.assign(bytes_.size(), false);
  viewport()->update();
}

int TSSHex::LineCount() const {
  return static_cast<int>((bytes_.size() + kBytesPerLine - 1) / kBytesPerLine);
}

QString TSSHex::LineText(int line) const {
  if (line < 0 || line >= LineCount()) return {};
  QString text(kLineColumns, ' ');
  const int offset = line * kBytesPerLine;
  for (int d = 0; d < 4; ++d)
    text[d] = kDigits[(offset >> (12 - 4 * d)) & 0xF];
  text[4] = ':';
  const int count = std::min(kBytesPerLine, static_cast<int>(bytes_.size()) - offset);
  for (int i = 0; i < count; ++i) {
    const uint8_t b = bytes_[static_cast<size_t>(offset + i)];
    text[ByteColumn(i)] = kDigits[b >> 4];
    text[ByteColumn(i) + 1] = kDigits[b & 0xF];
    text[kCharsColumn + i] = ShownChar(b);
  }
  return text.left(count == kBytesPerLine ? kLineColumns : kCharsColumn + count);
}

int TSSHex::CharWidth() const {
  return std::max(1, fontMetrics().horizontalAdvance('0'));
}

int TSSHex::LineHeight() const {
  return std::max(1, fontMetrics().height());
}

int TSSHex::VisibleLines() const {
  return std::max(1, viewport()->height() / LineHeight());
}

void TSSHex::UpdateScrollBars() {
  verticalScrollBar()->setRange(0, std::max(0, LineCount() - VisibleLines()));
  verticalScrollBar()->setPageStep(VisibleLines());
  const int width = 2 * kMargin + kLineColumns * CharWidth();
  horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
  horizontalScrollBar()->setPageStep(viewport()->width());
}

void TSSHex::MoveCursor(int index) {
  if (bytes_.empty()) return;
  cursor_ = std::clamp(index, 0, static_cast<int>(bytes_.size()) - 1);
  lowDigit_ = false;
  EnsureCursorVisible();
  viewport()->update();
}

void TSSHex::EnsureCursorVisible() {
  const int line = cursor_ / kBytesPerLine;
  QScrollBar* bar = verticalScrollBar();
  if (line < bar->value()) bar->setValue(line);
  if (line >= bar->value() + VisibleLines()) bar->setValue(line - VisibleLines() + 1);
}

void TSSHex::TypeDigit(int digit) {
  uint8_t& b = bytes_[static_cast<size_t>(cursor_)];
  const uint8_t old = b;
  b = lowDigit_ ? static_cast<uint8_t>((b & 0xF0) | digit)
                : static_cast<uint8_t>((b & 0x0F) | (digit << 4));
  if (b != old) {
    edited_[static_cast<size_t>(cursor_)] = true;
    emit byteChanged(cursor_);
  }
  if (!lowDigit_) {
    lowDigit_ = true;
  } else if (cursor_ + 1 < static_cast<int>(bytes_.size())) {
    ++cursor_;
    lowDigit_ = false;
  }
  EnsureCursorVisible();
  viewport()->update();
}

std::optional<int> TSSHex::KeyTarget(const QKeyEvent& event) const {
  const bool ctrl = event.modifiers() & Qt::ControlModifier;
  const int size = static_cast<int>(bytes_.size());
  const int lineStart = cursor_ - cursor_ % kBytesPerLine;
  const int page = VisibleLines() * kBytesPerLine;
  // Up and down keep to the column at the first and last lines, as in a
  // text editor; the other keys stop at the first or last byte.
  switch (event.key()) {
    case Qt::Key_Left:
      return cursor_ - 1;
    case Qt::Key_Right:
      return cursor_ + 1;
    case Qt::Key_Up:
      return cursor_ >= kBytesPerLine ? cursor_ - kBytesPerLine : cursor_;
    case Qt::Key_Down:
      return cursor_ + kBytesPerLine < size ? cursor_ + kBytesPerLine : cursor_;
    case Qt::Key_PageUp:
      return cursor_ - page;
    case Qt::Key_PageDown:
      return cursor_ + page;
    case Qt::Key_Home:
      return ctrl ? 0 : lineStart;
    case Qt::Key_End:
      return ctrl ? size - 1 : lineStart + kBytesPerLine - 1;
    default:
      return std::nullopt;
  }
}

void TSSHex::keyPressEvent(QKeyEvent* event) {
  if (const std::optional<int> target = KeyTarget(*event)) {
    MoveCursor(*target);
    return;
  }
  const QString text = event->text();
  bool isDigit = false;
  const int digit = text.size() == 1 ? text.toInt(&isDigit, 16) : 0;
  if (!isDigit) {
    QAbstractScrollArea::keyPressEvent(event);
    return;
  }
  if (!readOnly_ && !bytes_.empty()) TypeDigit(digit);
}

void TSSHex::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  const int x = static_cast<int>(event->position().x()) + horizontalScrollBar()->value() - kMargin;
  const int y = static_cast<int>(event->position().y());
  if (x < 0) return;
  const int line = verticalScrollBar()->value() + y / LineHeight();
  const int column = x / CharWidth();
  int index = -1;
  bool low = false;
  if (column >= kCharsColumn && column < kLineColumns) {
    index = column - kCharsColumn;
  } else {
    for (int i = 0; i < kBytesPerLine; ++i) {
      if (column == ByteColumn(i) || column == ByteColumn(i) + 1) {
        index = i;
        low = column == ByteColumn(i) + 1;
      }
    }
  }
  if (index < 0) return;
  index += line * kBytesPerLine;
  if (index >= static_cast<int>(bytes_.size())) return;
  MoveCursor(index);
  lowDigit_ = low && !readOnly_;
}

void TSSHex::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void TSSHex::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void TSSHex::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

void TSSHex::PaintCursor(QPainter& painter, int top) const {
  const int cw = CharWidth();
  const int i = cursor_ % kBytesPerLine;
  // With the keyboard on an editable panel only the digit that the next key
  // replaces is marked; otherwise the whole byte.
  const bool oneDigit = hasFocus() && !readOnly_;
  const int column = ByteColumn(i) + (oneDigit && lowDigit_ ? 1 : 0);
  const QColor mark = hasFocus() ? QColor(0x99, 0xC2, 0xFF) : QColor(0xD8, 0xD8, 0xD8);
  painter.fillRect(kMargin + column * cw, top, (oneDigit ? 1 : 2) * cw, LineHeight(), mark);
  painter.fillRect(kMargin + (kCharsColumn + i) * cw, top, cw, LineHeight(), mark);
}

void TSSHex::PaintLine(QPainter& painter, int line, int top) const {
  const int cw = CharWidth();
  const int baseline = top + fontMetrics().ascent();
  const QString text = LineText(line);
  const QColor ink = palette().color(QPalette::Text);
  painter.setPen(QColor(0x00, 0x00, 0x80));
  painter.drawText(kMargin, baseline, text.left(5));
  for (int i = 0; i < kBytesPerLine && ByteColumn(i) < text.size(); ++i) {
    painter.setPen(Edited(line * kBytesPerLine + i) ? QColor(Qt::red) : ink);
    painter.drawText(kMargin + ByteColumn(i) * cw, baseline, text.mid(ByteColumn(i), 2));
  }
  painter.setPen(ink);
  for (int c = kCharsColumn; c < text.size(); ++c)
    painter.drawText(kMargin + c * cw, baseline, QString(text[c]));
}

void TSSHex::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), palette().color(QPalette::Base));
  painter.setFont(font());
  painter.translate(-horizontalScrollBar()->value(), 0);
  const int first = verticalScrollBar()->value();
  const int cursorLine = cursor_ / kBytesPerLine;
  for (int line = first, top = 0; line < LineCount() && top < viewport()->height();
       ++line, top += LineHeight()) {
    if (line == cursorLine) PaintCursor(painter, top);
    PaintLine(painter, line, top);
  }
}

}  // namespace kelvara
