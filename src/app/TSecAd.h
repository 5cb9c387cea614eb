// The sector address dialog "Заголовок": the ID field of one sector (C, H, R,
// N), its data state and the ID CRC, recomputed as the fields change. The
// rules are SectorAddressForm's; the window mirrors its fields.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "session/SectorAddressForm.h"

namespace kelvara {

class TSecAd : public QDialog {
  Q_OBJECT
 public:
  explicit TSecAd(QWidget* owner = nullptr);

  // Fills the fields from a slot before the dialog is shown.
  void Fill(const TSectorRec& slot);
  // Set by "Принять"; cleared each time the dialog shows.
  bool AcceptFlag() const { return accepted_; }
  // What an accepted dialog stores into the slot.
  void Store(TSectorRec& slot) const { form_.Store(slot); }

  QLineEdit* ne1 = nullptr;        // "Track -"
  QComboBox* cb1 = nullptr;        // "Side -"
  QLineEdit* ne2 = nullptr;        // "Sector -"
  QComboBox* cb2 = nullptr;        // "Size -"
  QLabel* an5 = nullptr;           // "CRC -"
  QCheckBox* cb = nullptr;         // "Без ошибок"
  QPushButton* bb1 = nullptr;      // "Принять"
  QPushButton* BitBtn2 = nullptr;  // "Отменить"

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FieldChanged();
  void ShowForm();
  QLineEdit* NumberEdit();

  SectorAddressForm form_;
  bool accepted_ = false;
  bool filling_ = false;
};

}  // namespace kelvara
