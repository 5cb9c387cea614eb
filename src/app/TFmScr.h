// The viewer "ZX Screen": one window, reused for the whole run, that shows a
// file's bytes in one of three panes, each view modal:
//   - picture: a ZX Spectrum screen (6144 bitmap bytes, 768 attributes) at
//     1:1 in a fixed window;
//   - hexadecimal: the hex grid, 16 bytes a line, in a fixed window;
//   - text: the bytes as lines in a read-only memo under a bar with "Шрифт"
//     and "KOI-8 -> ALT", in a resizable window; the memo's menu holds
//     "Выделить все" and "Копировать".
// The catalog windows collect the bytes and call ShowScreen, ShowHex or
// ShowText; the viewer owns no disk access. When a view closes, every pane
// is hidden and the border is fixed again.
#pragma once

#include <QDialog>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace kelvara {

class Dialogs;
class TSSHex;

inline constexpr const char* kHexViewCaption = "Просмотр файла в HEX виде.";
inline constexpr const char* kTextViewCaption = "Просмотр файла в TXT виде.";

class TFmScr : public QDialog {
  Q_OBJECT
 public:
  explicit TFmScr(Dialogs& dialogs, QWidget* owner = nullptr);

  // A ZX screen; a shorter block draws as if padded with zeros. The caption
  // stays as the last view left it.
  void ShowScreen(std::span<const uint8_t> screen);
  // The bytes in the hex grid.
  void ShowHex(std::span<const uint8_t> bytes, const QString& caption = kHexViewCaption);
  // The bytes as lines of text (broken at CR, LF or CR LF, ended at the first
  // zero byte), shown in the alternative code (code page 866).
  void ShowText(std::span<const uint8_t> bytes, const QString& caption = kTextViewCaption);
  // The hex grid's font; it stays for later hexadecimal views.
  void SetHexFont(const QFont& font);

  // "Шрифт": the memo takes the chosen font. The memo's font is offered.
  void sbFontClick();
  // "KOI-8 -> ALT": every line converted again from KOI-8.
  void sbKoiClick();
  // The memo's context menu opens: "Копировать" only with a selection.
  void pmMemoPopup();

  // The picture as last drawn, for tests and the screenshot.
  const QImage& Picture() const { return picture_; }
  // The memo's lines as bytes (before display).
  const std::vector<std::string>& TextLinesBytes() const { return textLines_; }

  QLabel* Image1 = nullptr;   // picture pane
  TSSHex* ss1 = nullptr;      // hexadecimal pane
  QWidget* pnText = nullptr;  // text pane: the bar and the memo
  QPushButton* sbFont = nullptr;
  QPushButton* sbKoi = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QMenu* pmMemo = nullptr;
  QAction* miSelectAll = nullptr;  // "Выделить все"
  QAction* miCopy = nullptr;       // "Копировать"
  // Picks a font, starting at the given one; false when cancelled. The
  // platform's font dialog unless a test puts its own here.
  std::function<bool(QFont&)> pickFont;

 private:
  void Run();
  void ShowTextLines();

  Dialogs& dialogs_;
  QImage picture_;
  std::vector<std::string> textLines_;
};

}  // namespace kelvara
