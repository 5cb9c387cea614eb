// The entry editor "Редактор элемента каталога": the fields of one TR-DOS
// catalog entry, the numbers in hexadecimal fields (start and length high
// byte first). "Принять" closes it accepted, "Отменить" discards; what the
// accepted fields do to the catalog is TrdosCatalog::EditEntry's.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "session/TrdosCatalog.h"

namespace kelvara {

class TFLed : public QDialog {
  Q_OBJECT
 public:
  explicit TFLed(QWidget* owner = nullptr);

  // Fills the fields before the editor is shown.
  void Fill(const TrdosEntryFields& fields);
  TrdosEntryFields Fields() const;
  // Set by "Принять"; cleared each time the editor shows.
  bool AcceptFlag() const { return accepted_; }

  QLineEdit* edName = nullptr;         // "Имя файла:"
  QLineEdit* edType = nullptr;         // "Тип файла:"
  QLineEdit* heStart = nullptr;        // "Старт:"
  QLineEdit* heLength = nullptr;       // "Длинна:"
  QLineEdit* heSectors = nullptr;      // "Секторов:"
  QLineEdit* heFirstSector = nullptr;  // "Начальный сектор:"
  QLineEdit* heFirstTrack = nullptr;   // "Начальная дорожка:"
  QPushButton* bbOk = nullptr;         // "Принять"
  QPushButton* bbCancel = nullptr;     // "Отменить"

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* HexEdit(int bytes);

  bool accepted_ = false;
};

}  // namespace kelvara
