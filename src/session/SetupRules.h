// The settings dialog's fields and how they map to and from the settings
// record. The dialog shows these values, lets the user change them and, when
// accepted, hands them back here to be stored.
#pragma once

#include <array>
#include <string>

#include "session/Settings.h"

namespace kelvara {

// One number field: its caption, range, digit limit and hint.
struct SetupNumberField {
  const char* name;     // e1 .. e7
  const char* caption;  // text of the label before it
  int min, max, digits;
  const char* hint;  // tool tip; empty for none
};
extern const std::array<SetupNumberField, 7> kSetupNumberFields;

struct SetupFlagField {
  const char* name;     // cb1 .. cb4
  const char* caption;  // text of the check box
  const char* hint;
};
extern const std::array<SetupFlagField, 4> kSetupFlagFields;

// The "Скорость передачи:" list, in its order; each item's data-rate code.
inline constexpr std::array<const char*, 4> kRateItems = {"250K", "300K", "500K", "1M"};
inline constexpr std::array<int, 4> kRateCodes = {2, 1, 0, 3};
inline constexpr std::array<const char*, 2> kDriveItems = {"A:", "B:"};
// The flux device's bus list and each item's setting value.
inline constexpr std::array<const char*, 2> kFluxBusItems = {"IBM", "Shugart"};
inline constexpr std::array<const char*, 2> kFluxBusValues = {"ibm", "shugart"};
// The density-select list and each item's setting value.
inline constexpr std::array<const char*, 3> kDensityItems = {"нет", "низкий", "высокий"};
inline constexpr std::array<const char*, 3> kDensityValues = {"", "low", "high"};

struct SetupValues {
  std::array<int, 7> numbers{};  // e1 .. e7
  std::array<bool, 4> flags{};   // cb1 .. cb4
  int driveIndex = 0;            // into kDriveItems
  int rateIndex = 0;             // into kRateItems; -1 = nothing chosen
  std::string fluxDevice;        // "" = the PC's floppy controller
  std::string fluxSimImage;      // a simulated device's disk; chosen over fluxDevice
  int fluxBusIndex = 0;          // into kFluxBusItems
  bool fluxVerify = true;
  bool doubleStep = false;
  int writePasses = 3;
  int precompCylinder = 40;
  int precompNs = 0;     // 0: off
  int densityIndex = 0;  // into kDensityItems
};

SetupValues SetupValuesOf(const TSettings& s);
// Takes accepted values back: numbers into bytes, "B" for any drive item
// but the first, rate 2 ("250K") when nothing is chosen.
void TakeSetupValues(const SetupValues& v, TSettings& s);
// Why the dialog's values cannot be accepted: a first track above the last
// gets the drive run's own complaint at once. Empty when they can.
std::string SetupRefusal(const SetupValues& v);
// Takes the values and writes the dialog's keys in their order. The caller
// then re-opens the drive, also when nothing changed. False when the file
// could not be written (the record holds the new values anyway).
bool AcceptSetup(const SetupValues& v, TSettings& s, SettingsStore& store);

}  // namespace kelvara
