// The settings dialog "Настройки": seven groups of fields over the settings
// that the user may edit. "Принять" appears only once something changed;
// values a run would refuse are refused there, and the dialog stays open.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <array>

#include "model/Prompt.h"
#include "session/SetupRules.h"

namespace kelvara {

class Tfmset : public QDialog {
  Q_OBJECT
 public:
  explicit Tfmset(Prompt& prompt, QWidget* owner = nullptr);

  // Fills the fields. A value outside a field's range (a GAP of 200 kept in
  // the settings file, say) widens that field's range so that it is shown
  // and stored back unchanged unless the user edits it.
  void SetValues(const SetupValues& values);
  SetupValues Values() const;
  // Set by "Принять"; cleared each time the dialog shows.
  bool AcceptFlag() const { return accepted_; }

  std::array<QSpinBox*, 7> e{};        // e1 .. e7
  std::array<QCheckBox*, 4> cb{};      // cb1 .. cb4
  QComboBox* cbdr = nullptr;           // "Дисковод:"
  QComboBox* cbsr = nullptr;           // "Скорость передачи:"
  QLineEdit* fluxNode = nullptr;       // the flux device's serial node; empty: the PC's controller
  QLineEdit* fluxSim = nullptr;        // a simulated device's disk image, chosen over the node
  QPushButton* fluxSimPick = nullptr;  // "…": chooses that image
  QComboBox* cbbus = nullptr;          // its bus
  QCheckBox* cbverify = nullptr;       // read written tracks back
  QCheckBox* cbdstep = nullptr;        // double stepping
  QSpinBox* sbpasses = nullptr;        // write passes of a track at most
  QSpinBox* sbpcyl = nullptr;          // precompensation from this cylinder
  QSpinBox* sbpns = nullptr;           // ... of this many ns; 0: off
  QComboBox* cbdens = nullptr;         // the density-select pin
  QPushButton* bb1 = nullptr;          // "Принять"
  QPushButton* BitBtn2 = nullptr;      // "Отменить"

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void e1Change();
  void bb1Click();
  void fluxSimPickClick();
  QSpinBox* NumberField(size_t i);

  Prompt& prompt_;
  bool accepted_ = false;
};

}  // namespace kelvara
