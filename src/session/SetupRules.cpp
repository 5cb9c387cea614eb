#include "session/SetupRules.h"

#include <algorithm>

#include "drive/DriveOperations.h"

namespace kelvara {

namespace {

// The fields in dialog order, with the settings they edit.
constexpr std::array<uint8_t TSettings::*, 7> kNumberKeys = {
    &TSettings::RetryCount, &TSettings::RetryCountWithReset, &TSettings::FirstTrack,
    &TSettings::LastTrack,  &TSettings::CycleRead,           &TSettings::TimeOut,
    &TSettings::GAP};
constexpr std::array<bool TSettings::*, 4> kFlagKeys = {
    &TSettings::RestoreTrack, &TSettings::TD0arch, &TSettings::OverlapTrackAndData,
    &TSettings::SetSectorSizeFromHead};

constexpr const char* kFullReadHint =
    "Число циклов полного чтения дорожки,\nдля более точного определения данных полей\nи "
    "маркеров.";

}  // namespace

const std::array<SetupNumberField, 7> kSetupNumberFields = {{
    {"e1", "Число повторов -", 0, 255, 3,
     "Число повторений ошибочных операций \nбез перемещения головок."},
    {"e2", "Число циклов -", 0, 255, 3, "Число циков повторений со сбросом\nконтроллера. "},
    {"e3", "Начальная дорожка -", 0, 166, 3, ""},
    {"e4", "Конечная дорожка -", 0, 167, 3, ""},
    {"e5", "Число циклов -", 1, 30, 3, kFullReadHint},
    {"e6", "Время ожидания, с -", 1, 30, 2, "Время ожидания ответа от контроллера."},
    {"e7", "Начальный отступ:", 1, 30, 3, kFullReadHint},
}};

const std::array<SetupFlagField, 4> kSetupFlagFields = {{
    {"cb1", "Реставрировать образ дорожки",
     "Данные пробелов дорожки полученные \nпри полном чтении будут заменятся \nстандартными "
     "значениями.  "},
    {"cb2", "Сжимать TD0 образ при записи",
     "Производить сжатие образа \nпри записи его в TD0 файл."},
    {"cb3", "Преобразовывать данные дорожки",
     "Производить или нет реставрацию данных дорожки \nпри отображении их в правом окне."},
    {"cb4", "Устанавливать длинну сектора из заголовка",
     "При отображении данных сектора использовать\nразмер установленный в заголовке сектора "
     "или\nфактически считанный размер."},
}};

SetupValues SetupValuesOf(const TSettings& s) {
  SetupValues v;
  for (size_t i = 0; i < kNumberKeys.size(); ++i)
    v.numbers[i] = s.*kNumberKeys[i];
  for (size_t i = 0; i < kFlagKeys.size(); ++i)
    v.flags[i] = s.*kFlagKeys[i];
  v.driveIndex = s.Drive == "A" ? 0 : 1;
  v.fluxDevice = s.FluxDevice;
  v.fluxBusIndex = s.FluxBus == "shugart" ? 1 : 0;
  v.fluxVerify = s.FluxVerify;
  v.doubleStep = s.DoubleStep;
  v.fluxSimImage = s.FluxSimImage;
  v.writePasses = s.FluxWritePasses;
  v.precompCylinder = s.PrecompCylinder;
  v.precompNs = s.PrecompNs;
  for (size_t i = 0; i < kDensityValues.size(); ++i) {
    if (s.DensitySelect == kDensityValues[i]) v.densityIndex = static_cast<int>(i);
  }
  v.rateIndex = 0;
  for (size_t i = 0; i < kRateCodes.size(); ++i) {
    if (kRateCodes[i] == s.Rate) v.rateIndex = static_cast<int>(i);
  }
  return v;
}

void TakeSetupValues(const SetupValues& v, TSettings& s) {
  for (size_t i = 0; i < kNumberKeys.size(); ++i)
    s.*kNumberKeys[i] = static_cast<uint8_t>(v.numbers[i]);
  for (size_t i = 0; i < kFlagKeys.size(); ++i)
    s.*kFlagKeys[i] = v.flags[i];
  s.Drive.assign(1, v.driveIndex != 0 ? 'B' : 'A');
  const bool chosen = v.rateIndex >= 0 && v.rateIndex < static_cast<int>(kRateCodes.size());
  s.Rate = static_cast<uint8_t>(chosen ? kRateCodes[static_cast<size_t>(v.rateIndex)] : 2);
  s.FluxDevice = v.fluxDevice;
  s.FluxBus = kFluxBusValues[v.fluxBusIndex == 1 ? 1 : 0];
  s.FluxVerify = v.fluxVerify;
  s.DoubleStep = v.doubleStep;
  s.FluxSimImage = v.fluxSimImage;
  s.FluxWritePasses = static_cast<uint8_t>(std::clamp(v.writePasses, 1, 10));
  s.PrecompCylinder = static_cast<uint8_t>(std::clamp(v.precompCylinder, 0, 83));
  s.PrecompNs = static_cast<uint8_t>(std::clamp(v.precompNs, 0, 250));
  s.DensitySelect = kDensityValues[static_cast<size_t>(std::clamp(v.densityIndex, 0, 2))];
}

std::string SetupRefusal(const SetupValues& v) {
  // e3 and e4: the first and the last track of a run.
  if (v.numbers[2] > v.numbers[3]) return kFirstAfterLastText;
  return {};
}

bool AcceptSetup(const SetupValues& v, TSettings& s, SettingsStore& store) {
  TakeSetupValues(v, s);
  return store.WriteDialogKeys(s);
}

}  // namespace kelvara
