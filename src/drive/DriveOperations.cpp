// The command table, the checks before a run, and the two commands that use
// the drive without the progress window.
#include "drive/DriveOperations.h"

#include <algorithm>
#include <cstdio>

namespace kelvara {

namespace {

constexpr std::array<DriveCommand, 6> kDriveCommands = {{
    {kModeScan, "Сканирование дорожек", "Сканирование дорожек диска", false, false, false},
    {kModeRead, "Чтение секторов по  меткам", "Посекторное чтение диска", true, true, false},
    {kModeScan | kModeRead, "Сканирование и чтение диска", "Сканирование с посекторным чтением",
     false, false, false},
    {kModeFormat, "Форматировать диск", "Форматирование диска", false, true, true},
    {kModeWrite, "Записать диск", "Запись диска", false, true, true},
    {kModeFormat | kModeWrite, "Форматировать и записать", "Формат и запись диска", false, true,
     true},
}};

constexpr const char* kEndLoweredText =
    "Конечная дорожка превышает число дорожек в образе!\r"
    "   Будет обработано число существующих дорожек!   ";

// The catalog read's fixed count of attempts, whatever RetryCount says.
constexpr int kCatalogAttempts = 5;

}  // namespace

const DriveCommand* FindDriveCommand(int mode) {
  for (const DriveCommand& c : kDriveCommands) {
    if (c.mode == mode) return &c;
  }
  return nullptr;
}

DriveRunPlan StartDriveOperation(int mode, TZX_Disk& disk, const TSettings& settings) {
  DriveRunPlan plan;
  const DriveCommand* command = FindDriveCommand(mode);
  if (!command) return plan;
  const int tracks = disk.CountTracks();
  if (command->needsTracks && tracks == 0) return plan;
  plan.caption = command->caption;
  plan.mode = mode;
  if (settings.LastTrack < settings.FirstTrack) {
    plan.messages.push_back(kFirstAfterLastText);
    return plan;
  }
  plan.firstTrack = settings.FirstTrack;
  plan.lastTrack = settings.LastTrack;
  // The number of present tracks, not the highest present index.
  if (command->endLowered && settings.LastTrack >= tracks) {
    plan.messages.push_back(kEndLoweredText);
    if (tracks == 0) return plan;
    plan.lastTrack = tracks - 1;
  }
  // Double stepping never clamps a cylinder: a disk that does not fit under
  // the drive's cylinders is refused before anything is written (a setting
  // left on from a 40-track disk would put every cylinder from 42 up onto
  // the same track), and a read ends where the drive does.
  if (settings.DoubleStep && plan.lastTrack >= kDoubleStepTracks) {
    if (mode >= kModeFormat) {
      char text[512];
      std::snprintf(text, sizeof text, kDoubleStepWriteText, plan.lastTrack);
      plan.messages.push_back(text);
      return plan;
    }
    plan.messages.push_back(kDoubleStepReadText);
    plan.lastTrack = kDoubleStepTracks - 1;
    if (plan.firstTrack > plan.lastTrack) return plan;
  }
  plan.progressMax = mode < kModeFormat ? plan.lastTrack : tracks;
  plan.asksFirst = command->asksFirst;
  plan.writePasses = std::max<int>(1, settings.FluxWritePasses);
  plan.start = true;
  return plan;
}

RunProgress ProgressOfRun(const DriveRunPlan& plan, int position) {
  const int total = std::max(0, plan.lastTrack - plan.firstTrack + 1);
  return {std::clamp(position - plan.firstTrack, 0, total), total};
}

DriveRunAftermath AfterDriveRun(int mode, bool ran, bool writesDisk,
                                const OperationResult& result) {
  if (!ran) return {};
  return {(mode & (kModeScan | kModeRead)) != 0 && result.Stored(), writesDisk};
}

OperationResult EndRun(OperationResult result, OperationEnd end, OperationHost& host) {
  if (end == OperationEnd::Cancelled) host.AddLog(kCancelledLine, true);
  result.end = end;
  return result;
}

OperationResult StopRun(OperationResult result, const std::string& why, OperationHost& host) {
  host.AddLog(kStoppedLine, true);
  host.ShowMessage(kErrorCaption, why);
  result.stopReason = why;
  result.end = OperationEnd::Stopped;
  return result;
}

bool StartRun(DriveChannel& drive, OperationHost& host, OperationResult& stopped) {
  const std::string why = RestartFailure(drive);
  if (why.empty()) return true;
  // The message's lines, each a LOG line of its own.
  for (size_t from = 0; from <= why.size();) {
    const size_t end = std::min(why.find('\r', from), why.size());
    host.AddLog(why.substr(from, end - from), true);
    from = end + 1;
  }
  stopped = StopRun({}, why, host);
  return false;
}

RunOutcome OutcomeOf(const OperationResult& result, int mode) {
  const bool sectors = mode & (kModeRead | kModeWrite);
  const int done = sectors ? result.sectorsDone : result.tracksDone;
  if (result.end != OperationEnd::Finished || done == 0) return RunOutcome::Nothing;
  return result.sectorsFailed + result.tracksFailed > 0 ? RunOutcome::Partly : RunOutcome::Done;
}

bool ResetControllerToZero(DriveChannel& drive, OperationHost& host) {
  return RestartController(drive, host);
}

DriveCatalogRead ReadDriveCatalog(DriveChannel& drive, OperationHost& host,
                                  const CatalogParse& parse) {
  DriveCatalogRead result;
  host.SetTrackLabel("0");
  host.ClearLog();
  if (!ResetControllerToZero(drive, host)) return result;
  // Sectors 1 to 16 of 256 bytes, head 0, in one call.
  const FD_READ_WRITE_PARAMS p{FD_OPTION_MFM, 0, 0, 0, 1, 1, 17, 0x0E, 0xFF};
  bool read = false;
  for (int i = 0; i < kCatalogAttempts && !read; ++i) {
    uint32_t returned = 0;
    read = drive.Read(p, result.buffer, returned);
  }
  if (!read) {
    host.ShowMessage(kErrorCaption,
                     "Ошибка - " + std::to_string(drive.LastError()) + " при чтении 0 дорожки!");
    return result;
  }
  if (!parse(result.CatalogBlock())) {
    host.ShowMessage(kErrorCaption, "Диск не соответствует формату TR-DOS!.");
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace kelvara
