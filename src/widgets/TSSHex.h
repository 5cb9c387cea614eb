// The hex grid: a run of bytes shown 16 to a line, each line a hexadecimal
// offset followed by ":", the bytes in hexadecimal and the same bytes as
// Windows-1251 characters. It is read-only, or editable in place: hex digits
// typed over a byte replace it a digit at a time, and every byte whose value
// changes is reported and drawn in red until it is taken or the next run of
// bytes is shown.
#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kelvara {

class TSSHex : public QAbstractScrollArea {
  Q_OBJECT
 public:
  static constexpr int kBytesPerLine = 16;

  explicit TSSHex(QWidget* parent = nullptr);

  // Shows a run of bytes from the top, the cursor on the first; edit marks go.
  void SetBytes(std::span<const uint8_t> bytes);
  void Clear();
  // The bytes as shown, edits included: never more than were given.
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  bool IsEmpty() const { return bytes_.empty(); }

  void SetReadOnly(bool readOnly);
  bool IsReadOnly() const { return readOnly_; }

  // The byte under the cursor, and whether the cursor stands on its low digit.
  int Cursor() const { return cursor_; }
  bool OnLowDigit() const { return lowDigit_; }
  void SetCursor(int index);
  bool Edited(int index) const;
  // The edits were taken: the bytes stay, drawn as unchanged.
  void ClearEditMarks();

  int LineCount() const;
  // One line as drawn: "0010: 00 11 22 ...  ..." (offset, bytes, characters).
  QString LineText(int line) const;

 signals:
  // A byte took a new value from the keyboard.
  void byteChanged(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  int CharWidth() const;
  int LineHeight() const;
  int VisibleLines() const;
  void UpdateScrollBars();
  void MoveCursor(int index);
  void EnsureCursorVisible();
  void TypeDigit(int digit);
  // Where a movement key takes the cursor; nothing for other keys.
  std::optional<int> KeyTarget(const QKeyEvent& event) const;
  void PaintLine(QPainter& painter, int line, int top) const;
  void PaintCursor(QPainter& painter, int top) const;

  std::vector<uint8_t> bytes_;
  std::vector<bool> edited_;
  bool readOnly_ = true;
  int cursor_ = 0;
  bool lowDigit_ = false;
};

}  // namespace kelvara
