#include "session/TrackEditing.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <tuple>

#include "model/FileIO.h"
#include "model/TrackSlots.h"
#include "session/MainCommands.h"

namespace kelvara {

namespace {

bool ValidTrack(int track) {
  return track >= 0 && track < kTrackCount;
}

bool SectorColumn(int column) {
  return column >= 1 && column <= kSlotCount;
}

const TTrack& TrackAt(const TZX_Disk& disk, int track) {
  return disk.GetTrack(static_cast<uint8_t>(track));
}

TTrack& TrackAt(TZX_Disk& disk, int track) {
  return disk.GetTrack(static_cast<uint8_t>(track));
}

const TSectorRec& SlotOfColumn(const TTrack& track, int column) {
  return track.SectorHeader(static_cast<uint8_t>(column - 1));
}

void ShowLog(const TTrack& track, CellView& v) {
  v.logChanged = true;
  if (track.Present) v.log = track.Log;
}

void DescribeSector(const TTrack& track, const TSectorRec& slot, const TTrdosCatalog& snapshot,
                    int column, int row, bool sizeFromHead, CellView& v) {
  v.ownerText = FindSectorOwner(snapshot, row, column - 1);
  v.owner = v.ownerText.empty() ? Visibility::Hidden : Visibility::Shown;
  v.info = Visibility::Shown;
  v.fieldCount = 3;
  v.fields[0] = std::to_string(slot.Cyl);
  v.fields[1] = std::to_string(slot.Head);
  v.fields[2] = std::to_string(slot.Sec);
  if (!IsUsableSizeCode(slot.SizeCode)) {
    // The rest of the group, the panel and the log stay as the last click
    // left them; the panel may hold another sector's bytes, so it must not
    // take edits or save them as this one's.
    v.hex = HexChange::ReadOnly;
    return;
  }
  v.fieldCount = 6;
  v.fields[3] = SizeText(slot.SizeCode);
  v.fields[4] = CrcText(slot.HeaderCrc);
  v.fields[5] = DataStateText(slot);
  v.hex = HexChange::Replace;
  if (slot.DataLength() != 0) {
    const int shown = sizeFromHead ? SectorBytes(slot.SizeCode) : slot.DataLength();
    // The size the ID field gives may be more than the slot holds: zeros.
    v.hexBytes.assign(static_cast<size_t>(std::min(shown, kSectorDataSize)), 0);
    slot.CopyDataPadded(v.hexBytes);
    v.hexEditable = true;
    v.hexButtons = true;
  }
  ShowLog(track, v);
}

void DescribeTrackLabel(TZX_Disk& disk, int column, int row, CellView& v) {
  const TTrack& track = TrackAt(disk, row);
  v.owner = Visibility::Hidden;
  v.info = Visibility::Hidden;
  v.hex = HexChange::Replace;
  ShowLog(track, v);
  if (!track.Present || column > kSlotCount) return;
  if (track.RawValid && track.RawLength()) {
    v.hexBytes.assign(track.RawData().begin(), track.RawData().end());
    v.hexEditable = true;
    v.hexButtons = true;
    return;
  }
  // Synthesis writes only marks and fields over a layout taken from a raw
  // track and leaves the rest as the caller filled it: gap bytes.
  std::vector<uint8_t> raw(kRawTrackSize, 0x4E);
  if (disk.BuildRawTrack(static_cast<uint8_t>(row), raw.data())) v.hexBytes = std::move(raw);
}

enum class CellKind { Outside, LabelPresent, LabelAbsent, Sector, EmptySlot, AbsentTrackSector };

CellKind KindOfCell(const TZX_Disk& disk, int column, int row) {
  if (!ValidTrack(row) || column < 0 || column > kSlotCount) return CellKind::Outside;
  const TTrack& track = TrackAt(disk, row);
  if (column == 0) return track.Present ? CellKind::LabelPresent : CellKind::LabelAbsent;
  if (!track.Present) return CellKind::AbsentTrackSector;
  return SlotOfColumn(track, column).Present ? CellKind::Sector : CellKind::EmptySlot;
}

void Set(ContextMenuState& state, std::initializer_list<int> entries, bool EntryState::*field,
         bool value) {
  for (int z : entries)
    state[static_cast<size_t>(z)].*field = value;
}

void Enable(ContextMenuState& s, std::initializer_list<int> z) {
  Set(s, z, &EntryState::enabled, true);
}
void Disable(ContextMenuState& s, std::initializer_list<int> z) {
  Set(s, z, &EntryState::enabled, false);
}
void Show(ContextMenuState& s, std::initializer_list<int> z) {
  Set(s, z, &EntryState::visible, true);
}
void Hide(ContextMenuState& s, std::initializer_list<int> z) {
  Set(s, z, &EntryState::visible, false);
}

void PrepareLabelEntries(const TTrack& track, bool present, ContextMenuState& s) {
  Disable(s, {10, 11, 15, 17});
  Hide(s, {1, 5, 23});
  s[19].enabled = !track.Log.empty();
  if (present) {
    Enable(s, {8, 12, 13, 14, 16, 18});
    Disable(s, {9});
    s[22].enabled = track.RawLength() != 0;
    Show(s, {3, 4, 6, 7});
  } else {
    Enable(s, {9});
    Disable(s, {8, 12, 13, 14, 16, 18, 22});
    Hide(s, {3, 4, 6, 7});
  }
}

}  // namespace

std::string SizeText(int sizeCode) {
  return IsUsableSizeCode(sizeCode) ? std::to_string(SectorBytes(sizeCode)) + "b" : std::string();
}

std::string CrcText(uint16_t crc) {
  char text[8];
  std::snprintf(text, sizeof text, "#%04X", crc);
  return text;
}

std::string DataStateText(const TSectorRec& slot) {
  if (slot.DataOk) return "good";
  return slot.ErrorCount ? "bad" : "no data";
}

std::pair<std::string, std::string> HeaderTexts(const TZX_Disk& disk, int column, int row) {
  if (!ValidTrack(row)) return {};
  const TTrack& track = TrackAt(disk, row);
  std::pair<std::string, std::string> texts;
  if (track.Present) texts.first = std::to_string(row);
  if (SectorColumn(column) && SlotOfColumn(track, column).Present) {
    texts.second = std::to_string(SlotOfColumn(track, column).Sec);
  }
  return texts;
}

CellView DescribeCell(TZX_Disk& disk, const TTrdosCatalog& snapshot, int column, int row,
                      bool sizeFromHead) {
  CellView v;
  if (!ValidTrack(row) || column < 0) return v;
  std::tie(v.track, v.sector) = HeaderTexts(disk, column, row);
  if (!SectorColumn(column)) {
    DescribeTrackLabel(disk, column, row, v);
    return v;
  }
  const TTrack& track = TrackAt(disk, row);
  const TSectorRec& slot = SlotOfColumn(track, column);
  if (slot.Present) {
    DescribeSector(track, slot, snapshot, column, row, sizeFromHead, v);
    return v;
  }
  // An empty slot has no owner either: the panel must not go on naming the
  // file of the sector clicked before.
  v.owner = Visibility::Hidden;
  v.info = Visibility::Hidden;
  v.hex = HexChange::Replace;
  ShowLog(track, v);
  return v;
}

ContextMenuState InitialContextMenuState() {
  ContextMenuState s{};
  s[2].visible = false;
  return s;
}

bool AddSectorAllowed(const TZX_Disk& disk, int column, int row) {
  if (KindOfCell(disk, column, row) != CellKind::EmptySlot) return false;
  return column == 1 || SlotOfColumn(TrackAt(disk, row), column - 1).Present;
}

namespace {

void PrepareCellEntries(const TZX_Disk& disk, int column, int row, ContextMenuState& s) {
  const CellKind kind = KindOfCell(disk, column, row);
  switch (kind) {
    case CellKind::Outside:
      Disable(s, {8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 22, 23});
      Hide(s, {1, 2, 3, 4, 5, 6, 7, 23});
      return;
    case CellKind::LabelPresent:
    case CellKind::LabelAbsent:
      PrepareLabelEntries(TrackAt(disk, row), kind == CellKind::LabelPresent, s);
      return;
    case CellKind::Sector:
      // The address entry is enabled wherever it shows: a click outside the
      // cells disables it, and nothing else would enable it again.
      Enable(s, {10, 23});
      Disable(s, {11});
      Show(s, {1, 5, 23});
      break;
    case CellKind::EmptySlot:
      Disable(s, {10, 15, 17});
      Hide(s, {1, 5, 23});
      s[11].enabled = AddSectorAllowed(disk, column, row);
      break;
    case CellKind::AbsentTrackSector:
      Disable(s, {10, 11, 15, 17});
      Hide(s, {1, 5, 23});
      break;
  }
  Disable(s, {8, 9, 12, 13, 14, 16, 18, 19, 22});
  Hide(s, {2, 3, 4, 6, 7});
}

}  // namespace

void PrepareContextMenu(const TZX_Disk& disk, int column, int row, ContextMenuState& s,
                        bool driveValid) {
  PrepareCellEntries(disk, column, row, s);
  for (int z = 1; z <= 7; ++z)
    s[static_cast<size_t>(z)].enabled = driveValid;
}

void SetTrackPresent(TZX_Disk& disk, int track, bool present) {
  if (ValidTrack(track)) TrackAt(disk, track).Present = present ? 0xFF : 0;
}

bool RemoveSectorCommand(TZX_Disk& disk, int column, int track, Prompt& prompt) {
  if (column < 1) {
    prompt.ShowMessage("Ошибка!", "Сектор не выбран!", MessageIcon::Error);
    return false;
  }
  if (!ValidTrack(track) || !SectorColumn(column)) return false;
  if (prompt.AskYesNo("Удаление сектора..",
                      "Вы действительно хотите удалить сектор?\n"
                      "Последующие сектора будут сдвинуты!") != Answer::Yes) {
    return false;
  }
  RemoveSlot(TrackAt(disk, track), column - 1);
  return true;
}

bool AddSectorCommand(TZX_Disk& disk, int column, int track) {
  // The entry is offered only where the rule allows; held here as well, a
  // used slot cannot lose its ID to a new sector.
  if (!AddSectorAllowed(disk, column, track)) return false;
  NewSectorInSlot(disk, track, column - 1);
  return true;
}

bool ClearTrackCommand(TZX_Disk& disk, int column, int track, Prompt& prompt) {
  if (column != 0 || !ValidTrack(track)) return false;
  if (prompt.AskYesNo("Очиска RAW дорожки!", "Вы действительно хотите удалить данные дорожки?") !=
      Answer::Yes) {
    return false;
  }
  DropRawTrack(TrackAt(disk, track));
  return true;
}

void SectorsToRawCommand(TZX_Disk& disk) {
  // Every track, not only the first TrackCount: a track removed near the
  // start would otherwise leave the last present track's raw bytes behind
  // its sectors.
  SectorsToRawAll(disk);
}

BaseTrackOutcome SetBaseTrackCommand(TZX_Disk& disk, int track) {
  if (!ValidTrack(track)) return {};
  disk.BaseTrack = static_cast<uint8_t>(track);
  if (TrackAt(disk, track).RawLength()) disk.UseBaseTemplate = true;
  return {"Использовать базовый шаблон для всех дорожек (Трэк - " + std::to_string(track) + ")",
          disk.UseBaseTemplate};
}

bool BaseTemplateSwitch(TZX_Disk& disk, bool checked) {
  if (checked) {
    disk.UseBaseTemplate = false;
    return false;
  }
  if (disk.BaseTrack > 159) return false;
  const TTrack& base = TrackAt(disk, disk.BaseTrack);
  if (!base.Present || base.RawLength() == 0) return false;
  disk.UseBaseTemplate = true;
  return true;
}

namespace {

// How many bytes the cell takes: the sector's data or the raw track; 0 for
// none.
size_t PanelRoom(const TZX_Disk& disk, int column, int row) {
  if (!ValidTrack(row) || column < 0 || column > kSlotCount) return 0;
  const TTrack& track = TrackAt(disk, row);
  return column > 0 ? SlotOfColumn(track, column).DataLength() : track.RawLength();
}

}  // namespace

AcceptOutcome AcceptPanelBytes(TZX_Disk& disk, int column, int row, std::span<const uint8_t> bytes,
                               Prompt& prompt) {
  if (PanelRoom(disk, column, row) == 0) return AcceptOutcome::Nothing;
  const char* text = column > 0 ? "Вы хотитете принять изменения сектора?"
                                : "Вы хотитете принять изменения дорожки?";
  if (prompt.AskYesNo("Внимание!", text) != Answer::Yes) return AcceptOutcome::Declined;
  StorePanelBytes(disk, column, row, bytes);
  return AcceptOutcome::Stored;
}

bool StorePanelBytes(TZX_Disk& disk, int column, int row, std::span<const uint8_t> bytes) {
  const size_t room = PanelRoom(disk, column, row);
  if (room == 0) return false;
  TTrack& track = TrackAt(disk, row);
  uint8_t* target = column > 0
                        ? track.SectorHeader(static_cast<uint8_t>(column - 1)).MutableData().data()
                        : track.MutableRaw().data();
  std::copy_n(bytes.begin(), std::min(bytes.size(), room), target);
  return true;
}

bool SaveSectorFile(const std::string& path, std::span<const uint8_t> bytes, Prompt& prompt) {
  if (path.empty() || !MayReplace(path, prompt)) return false;
  std::string error;
  if (!WriteFileAtomic(path, bytes, error)) {
    prompt.ShowMessage("Ошибка!", NotWrittenText(path, error), MessageIcon::Error);
    return false;
  }
  return true;
}

std::vector<std::string> MemoLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace kelvara
