// The catalog window's record, presentation and volume commands. The file
// exchange (Hobeta and SCL export, import) is in TrdosCatalogFiles.cpp.
#include "session/TrdosCatalog.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "model/CodePage.h"
#include "model/HexText.h"
#include "model/Prompt.h"
#include "session/Settings.h"

namespace kelvara {

namespace {

constexpr const char* kErrorCaption = "Ошибка..!";
constexpr const char* kWarningCaption = "Внимание..!";
constexpr int kScreenSectors = 27;  // 6912 bytes: bitmap and attributes
constexpr int kScreenLength = 6912;

// A label shows the stored name up to its first zero byte; a renamed disk
// is padded with zeros.
std::string DiskNameText(const std::array<uint8_t, 8>& name) {
  const auto end = std::find(name.begin(), name.end(), 0);
  return Cp1251ToUtf8(std::string(name.begin(), end));
}

// The name as the list and the editor show it: a first byte below 32 (the
// deleted and erased marks) as "?".
std::string ListedNameText(const std::array<uint8_t, 8>& name) {
  std::array<uint8_t, 8> shown = name;
  if (shown[0] < 32) shown[0] = '?';
  return TrdosNameText(shown);
}

const char* DiskTypeText(uint8_t type) {
  switch (type) {
    case 0x16:
    case 0x18:
      return "80-дорожек";
    case 0x17:
    case 0x19:
      return "40-дорожек";
    default:
      return "Не определено";
  }
}

}  // namespace

std::vector<LabelledValue> DescribeTrdosDisk(const TTrdosCatalog& cat) {
  return {
      {"Название дискеты", DiskNameText(cat.DiskName)},
      {"Тип дискеты", DiskTypeText(cat.DiskType)},
      {"Свободный сектор", std::to_string(cat.FirstFreeSector + 1)},
      {"Свободная дорожка", std::to_string(cat.FirstFreeTrack)},
      {"Свободных секторов", std::to_string(cat.FreeSectors)},
      {"Количество файлов", std::to_string(cat.FileCount)},
      {"Удаленных файлов", std::to_string(cat.DeletedCount)},
  };
}

std::vector<TrdosListRow> ListTrdosFiles(const TTrdosCatalog& cat, bool showDeleted) {
  std::vector<TrdosListRow> rows;
  for (int i = 0; i < cat.ListedBound(); ++i) {
    const TTrdosFileEntry& e = cat.Entries[i];
    if (!showDeleted && !e.IsLive()) continue;
    rows.push_back({i,
                    {ListedNameText(e.Name), TrdosTypeText(e.FileType), HexText(e.Start, 4),
                     HexText(e.Length, 4), HexText(e.SectorCount, 2), HexText(e.FirstSector, 2),
                     HexText(e.FirstTrack, 2)}});
  }
  return rows;
}

int TrdosRowCount(const TTrdosCatalog& cat, bool showDeleted) {
  if (showDeleted) return cat.ListedBound();
  int live = 0;
  for (int i = 0; i < cat.ListedBound(); ++i)
    live += cat.Entries[i].IsLive() ? 1 : 0;
  return live;
}

int TrdosRowEntry(const TTrdosCatalog& cat, bool showDeleted, int row) {
  if (row < 0) return -1;
  if (showDeleted) return row < cat.ListedBound() ? row : -1;
  for (int i = 0; i < cat.ListedBound(); ++i) {
    if (cat.Entries[i].IsLive() && row-- == 0) return i;
  }
  return -1;
}

TrdosMenuState TrdosMenuFor(const TTrdosCatalog& cat, bool showDeleted,
                            std::span<const int> selectedRows) {
  TrdosMenuState m;
  m.showDeleted = true;
  m.add = true;
  m.renameDisk = true;
  if (TrdosRowCount(cat, showDeleted) == 0) return m;

  m.saveHobeta = m.saveScl = m.remove = true;
  m.compact = cat.DeletedCount != 0;
  std::vector<int> entries;
  for (int row : selectedRows) {
    const int e = TrdosRowEntry(cat, showDeleted, row);
    if (e >= 0) entries.push_back(e);
  }
  if (entries.size() == 1) {
    const TTrdosFileEntry& e = cat.Entries[entries[0]];
    m.viewHex = m.editEntry = true;
    m.viewScreen = e.Length == kScreenLength;
    m.restore = !e.IsLive();
    m.remove = e.IsLive();
  } else {
    m.remove =
        std::any_of(entries.begin(), entries.end(), [&](int e) { return cat.Entries[e].IsLive(); });
  }
  return m;
}

TrdosEntryFields TrdosEntryFieldsOf(const TTrdosFileEntry& e) {
  return {ListedNameText(e.Name),
          TrdosTypeText(e.FileType),
          e.Start,
          e.Length,
          e.SectorCount,
          e.FirstSector,
          e.FirstTrack};
}

TrdosCatalog::TrdosCatalog(TZX_Disk& disk, Prompt& prompt, TSettings& settings,
                           SettingsStore* store)
    : disk_(disk), prompt_(prompt), settings_(settings), store_(store) {}

bool TrdosCatalog::OpenFromImage() {
  modified_ = false;
  editable_ = ReadTrdosCatalog(disk_, cat_);
  if (editable_) NoteDuplicateCatalogSector(disk_);
  if (!editable_) {
    prompt_.ShowMessage("Ошибка!", "Образ не соответствует стандартному TR-DOS диску!",
                        MessageIcon::Error);
  }
  return editable_;
}

bool TrdosCatalog::OpenFromDrive(std::span<const uint8_t> track0) {
  modified_ = false;
  editable_ = false;
  if (ParseTrdosCatalog(track0, cat_)) return true;
  prompt_.ShowMessage("Ошибка!", "Диск не соответствует формату TR-DOS!.", MessageIcon::Error);
  return false;
}

TrdosMenuState TrdosCatalog::MenuState(std::span<const int> selectedRows) const {
  if (!editable_) return TrdosMenuState{};
  return TrdosMenuFor(cat_, showDeleted_, selectedRows);
}

std::vector<int> TrdosCatalog::EntriesOf(std::span<const int> rows) const {
  std::vector<int> entries;
  for (int row : rows) {
    const int e = EntryOfRow(row);
    if (e >= 0) entries.push_back(e);
  }
  return entries;
}

void TrdosCatalog::Error(const std::string& text) {
  prompt_.ShowMessage(kErrorCaption, text, MessageIcon::Error);
}

bool TrdosCatalog::WriteBack() {
  std::string error;
  if (WriteTrdosCatalog(disk_, cat_, error)) return true;
  Error(error);
  return false;
}

std::vector<int> TrdosCatalog::SelectedEntries(std::span<const int> rows, const char* noneText) {
  std::vector<int> entries = EntriesOf(rows);
  if (entries.empty()) Error(noneText);
  return entries;
}

CatalogOutcome TrdosCatalog::DeleteFiles(std::span<const int> rows) {
  if (!editable_) return CatalogOutcome::Failed();
  const std::vector<int> entries = SelectedEntries(rows, "Файлы для удаления не выбраны..!");
  if (entries.empty()) return CatalogOutcome::Failed();
  if (prompt_.AskYesNo(kWarningCaption, "Вы действительно хотите удалить выбранные Файлы?") !=
      Answer::Yes) {
    return CatalogOutcome::Cancelled();
  }
  return DeleteEntries(entries);
}

// A deleted file in the middle of the catalog only gets the deleted mark.
// The last file is erased instead (first byte 0, file count lowered, its
// sectors given back to the free space), and so is every deleted file that
// then stands last, so that the free space is always one run at the end.
// TR-DOS ends its catalog at the first entry whose first byte is 0: a file
// counted last but followed by a live entry (a count another program got
// wrong) only gets the mark, or every file after it would vanish.
CatalogOutcome TrdosCatalog::DeleteEntries(std::vector<int> entries) {
  if (!editable_) return CatalogOutcome::Failed();
  std::sort(entries.rbegin(), entries.rend());
  for (int i : entries) {
    TTrdosFileEntry& e = cat_.Entries[i];
    if (!e.IsLive()) continue;
    modified_ = true;
    if (i != cat_.FileCount - 1 || LiveEntryAfter(i)) {
      e.Name[0] = kDeletedMark;
      ++cat_.DeletedCount;
      continue;
    }
    e.Name[0] = 0;
    --cat_.FileCount;
    int start = e.FirstLinear();
    for (int j = i - 1; j >= 0 && !cat_.Entries[j].IsLive(); --j) {
      TTrdosFileEntry& d = cat_.Entries[j];
      d.Name[0] = 0;
      --cat_.FileCount;
      // A count already at 0 stays there rather than wrapping to 255.
      if (cat_.DeletedCount > 0) --cat_.DeletedCount;
      // The catalog order need not be the order on the disk: the run
      // given back starts at the lowest of the erased files.
      if (d.SectorCount > 0) start = std::min(start, d.FirstLinear());
    }
    GiveBackFrom(start);
  }
  const bool ok = WriteBack();
  return CatalogOutcome::Finished(ok, Refresh::All);
}

// A deleted entry listed right after a new last file lay beyond the end of
// the catalog: TR-DOS would now read it without its being counted, so it
// gets the erased mark and the catalog ends there again.
void TrdosCatalog::EndCatalogAfter(int index) {
  if (index + 1 < cat_.ListedBound() && !cat_.Entries[index + 1].IsLive())
    cat_.Entries[index + 1].Name[0] = 0;
}

bool TrdosCatalog::LiveEntryAfter(int index) const {
  for (int j = index + 1; j < cat_.ListedBound(); ++j) {
    if (cat_.Entries[j].IsLive()) return true;
  }
  return false;
}

// The free space starts again at an erased run's start, but never below a
// file the catalog still counts: when the catalog order is not the order on
// the disk, a file listed earlier may lie after the erased one, and the next
// add would write over it.
// A live entry listed beyond the file count (a count another program got
// wrong) holds its sectors just as well.
// The catalog track is never free space, whatever an erased entry says.
void TrdosCatalog::GiveBackFrom(int start) {
  int end = std::max(start, kTrdosFirstDataTrack * kTrdosSectorsPerTrack);
  for (int j = 0; j < std::max(cat_.FileBound(), cat_.ListedBound()); ++j) {
    const TTrdosFileEntry& e = cat_.Entries[j];
    if (j < cat_.FileBound() || e.IsLive()) end = std::max(end, e.FirstLinear() + e.SectorCount);
  }
  const int pointer = cat_.FirstFreeTrack * kTrdosSectorsPerTrack + cat_.FirstFreeSector;
  SetFreePointer(cat_, std::min(pointer, end));
}

CatalogOutcome TrdosCatalog::RestoreFile(int row) {
  const int i = EntryOfRow(row);
  if (!editable_ || i < 0 || cat_.Entries[i].IsLive()) return CatalogOutcome::Failed();
  std::string letter;
  if (!prompt_.AskText("Восстановление файла",
                       "Для восстановления файла необходимо указать первую букву имени "
                       "файла!\nЗадайте букву:",
                       letter, 1)) {
    return CatalogOutcome::Cancelled();
  }
  const std::string bytes = Utf8ToCp1251(letter);
  // Only a printable first byte makes the entry live again.
  if (bytes.empty() || static_cast<uint8_t>(bytes[0]) < 32) return CatalogOutcome::Cancelled();
  // An entry erased from the end gave its sectors back; once a later file
  // has them, the old file is gone and bringing its entry back would make
  // two files of one run.
  if (LiveFileOverlaps(cat_.Entries[i].FirstLinear(), cat_.Entries[i].SectorCount, i)) {
    Error("Сектора файла заняты другим файлом - восстановление невозможно..!");
    return CatalogOutcome::Failed();
  }
  RestoreEntry(i, static_cast<uint8_t>(bytes[0]));
  const bool ok = WriteBack();
  modified_ = true;
  return CatalogOutcome::Finished(ok, Refresh::All);
}

void TrdosCatalog::RestoreEntry(int i, uint8_t letter) {
  TTrdosFileEntry& e = cat_.Entries[i];
  e.Name[0] = letter;
  const int pointer = cat_.FirstFreeTrack * kTrdosSectorsPerTrack + cat_.FirstFreeSector;
  if (i < cat_.FileCount) {
    if (cat_.DeletedCount > 0) --cat_.DeletedCount;
    // A pointer another program left inside the file would give it away.
    if (e.FirstLinear() + e.SectorCount > pointer && e.SectorCount > 0)
      SetFreePointer(cat_, e.FirstLinear() + e.SectorCount);
    return;
  }
  // An entry erased from the end comes back as the last file: the free space
  // starts after it again, and the erased entries before it count as
  // deleted. They get the deleted mark too, since TR-DOS reads a first byte
  // of 0 as the end of the catalog and would lose every file after them.
  // The pointer moves past the file, but not back over files that lie after it.
  SetFreePointer(cat_, std::max(pointer, e.FirstLinear() + e.SectorCount));
  int deleted = cat_.DeletedCount;
  for (int j = cat_.FileCount; j < i; ++j) {
    TTrdosFileEntry& d = cat_.Entries[j];
    if (d.IsLive()) continue;
    d.Name[0] = kDeletedMark;
    ++deleted;
  }
  cat_.DeletedCount = static_cast<uint8_t>(std::min(deleted, 255));
  cat_.FileCount = static_cast<uint8_t>(i + 1);
  EndCatalogAfter(i);
}

CatalogOutcome TrdosCatalog::RenameDisk() {
  if (!editable_) return CatalogOutcome::Failed();
  // The current name as the edit shows it and as the typed text is
  // compared with: without its trailing blanks and zero padding.
  std::string current = DiskNameText(cat_.DiskName);
  current.erase(current.find_last_not_of(' ') + 1);
  std::string name = current;
  if (!prompt_.AskText("Имя диска!", "Задайте имя диска (8 символов максимум)\nИмя:", name, 8) ||
      name == current) {
    return CatalogOutcome::Cancelled();
  }
  modified_ = true;
  // Padded with zeros, as TR-DOS pads names it writes itself; straight into
  // the service sector without rewriting the catalog.
  cat_.DiskName = TrdosNameBytes(name, 0);
  if (TSectorRec* s = GetLogicalSector(disk_, 0, kTrdosServiceSector)) {
    // A service sector read short has no bytes there to hold the name.
    if (s->DataLength() >= trdos_service::kDiskName + cat_.DiskName.size()) {
      std::ranges::copy(cat_.DiskName, s->MutableData().begin() + trdos_service::kDiskName);
    }
    s->DataOk = 0xFF;
  }
  return CatalogOutcome::Finished(true, Refresh::All);
}

CatalogOutcome TrdosCatalog::EditEntry(int row, const TrdosEntryFields& fields) {
  const int i = EntryOfRow(row);
  if (!editable_ || i < 0) return CatalogOutcome::Failed();
  const int sec = i / 16 + 1;
  if (!UsableSector(disk_, 0, sec)) {
    Error(TrdosSectorErrorText(0, sec));
    return CatalogOutcome::Failed();
  }
  modified_ = true;
  TTrdosFileEntry& e = cat_.Entries[i];
  const auto name = TrdosNameBytes(fields.name, ' ');
  // A deleted entry edited with its "?" keeps its mark; any other first
  // character replaces the mark (the counts are left alone).
  const bool keepMark = !e.IsLive() && fields.name.starts_with('?');
  std::copy(name.begin() + (keepMark ? 1 : 0), name.end(), e.Name.begin() + (keepMark ? 1 : 0));
  // An emptied type field is padded like the name field: a space.
  const std::string type = Utf8ToCp1251(fields.type);
  e.FileType = type.empty() ? ' ' : static_cast<uint8_t>(type[0]);
  e.Start = fields.start;
  e.Length = fields.length;
  e.SectorCount = fields.sectors;
  e.FirstSector = fields.firstSector;
  e.FirstTrack = fields.firstTrack;
  const bool ok = WriteBack();
  return CatalogOutcome::Finished(ok, Refresh::List);
}

CatalogOutcome TrdosCatalog::Compact() {
  if (!editable_) return CatalogOutcome::Failed();
  if (prompt_.AskYesNo(kWarningCaption,
                       "Данная процедура может повредить структуру образа диска!\r"
                       "          Сохраняйте образ под другим именем!           \r"
                       "       Вы действительно хотите уплотнить образ?    ") != Answer::Yes) {
    return CatalogOutcome::Cancelled();
  }
  return CompactVolume();
}

// The sector message of compact: the stored (0-based) sector position.
void TrdosCatalog::CompactSectorError(int linear) {
  Error(TrdosSectorErrorText(linear / kTrdosSectorsPerTrack, linear % kTrdosSectorsPerTrack));
}

// A run can move when every source sector is usable and every destination
// sector exists on a track of the image; false after the message for the
// first that fails.
bool TrdosCatalog::CanMoveRun(int from, int to, int count) {
  LinearSectorIndex source(disk_), dest(disk_);  // only looks: the tracks stay unmarked
  for (int k = 0; k < count; ++k) {
    if (!source.Usable(from + k)) {
      CompactSectorError(from + k);
      return false;
    }
    if (!dest.Destination(to + k)) {
      CompactSectorError(to + k);
      return false;
    }
  }
  return true;
}

// Copies a run of sectors down the disk, first sector first, so an overlap
// with the source is harmless. CanMoveRun has checked every sector, and a
// move changes data, never which slot holds a sector number.
void TrdosCatalog::MoveRun(int from, int to, int count) {
  LinearSectorIndex source(disk_), dest(disk_);
  for (int k = 0; k < count; ++k, ++from, ++to) {
    const TSectorRec* src = source.Usable(from);
    TSectorRec& dst = dest.Writable(disk_, to);
    dst.Present = 0xFF;
    dst.MutableData(kTrdosSectorSize);
    StoreTrdosSector(dst, src->Data().first(kTrdosSectorSize));
  }
}

// Moves every live file down so that the files stand one after another from
// track 1 sector 1, and the catalog holds only them, in their catalog order.
// Files move in their order on the disk, which is the catalog order only on
// a disk that no one edited: each then goes down over free sectors or its
// own, never over a file not yet moved. Files that share sectors (or lie on
// the catalog track) cannot be packed without losing one, and a sector that
// cannot be read or written would leave a file half moved: both are found
// before anything moves, and the disk stays as it was.
CatalogOutcome TrdosCatalog::CompactVolume() {
  if (!editable_) return CatalogOutcome::Failed();
  // Moved files need their new places in the catalog.
  if (std::string error; !TrdosCatalogWritable(disk_, error)) {
    Error(error);
    return CatalogOutcome::Failed();
  }
  std::vector<int> live;
  for (int i = 0; i < cat_.ListedBound(); ++i) {
    if (cat_.Entries[i].IsLive()) live.push_back(i);
  }
  std::vector<int> byDisk = live;
  std::stable_sort(byDisk.begin(), byDisk.end(), [&](int a, int b) {
    return cat_.Entries[a].FirstLinear() < cat_.Entries[b].FirstLinear();
  });
  std::array<int, kTrdosMaxFiles> target{};
  int dest = kTrdosFirstDataTrack * kTrdosSectorsPerTrack;
  const int total = TrdosTotalSectors(cat_.DiskType);
  for (int i : byDisk) {
    const TTrdosFileEntry& e = cat_.Entries[i];
    if (e.SectorCount > 0 && e.FirstLinear() < dest) {
      Error("Файлы на диске перекрываются - уплотнение невозможно..!");
      return CatalogOutcome::Failed();
    }
    // Files that together pass the capacity of the disk type cannot all
    // stand on it.
    if (dest + e.SectorCount > total) {
      Error("Файлы не помещаются на диск - уплотнение невозможно..!");
      return CatalogOutcome::Failed();
    }
    if (e.FirstLinear() > dest && !CanMoveRun(e.FirstLinear(), dest, e.SectorCount))
      return CatalogOutcome::Failed();
    target[i] = dest;
    dest += e.SectorCount;
  }
  // Every check passed: from here on the disk changes.
  modified_ = true;
  for (int i : byDisk) {
    TTrdosFileEntry& e = cat_.Entries[i];
    if (e.FirstLinear() == target[i]) continue;
    MoveRun(e.FirstLinear(), target[i], e.SectorCount);
    e.FirstTrack = static_cast<uint8_t>(target[i] / kTrdosSectorsPerTrack);
    e.FirstSector = static_cast<uint8_t>(target[i] % kTrdosSectorsPerTrack);
  }
  std::array<TTrdosFileEntry, kTrdosMaxFiles> packed{};
  for (size_t slot = 0; slot < live.size(); ++slot)
    packed[slot] = cat_.Entries[live[slot]];
  cat_.Entries = packed;
  cat_.FileCount = cat_.ListedCount = static_cast<uint8_t>(live.size());
  cat_.DeletedCount = 0;
  SetFreePointer(cat_, dest);
  const bool ok = WriteBack();
  return CatalogOutcome::Finished(ok, Refresh::All);
}

bool TrdosCatalog::LiveFileOverlaps(int first, int count, int except) const {
  for (int j = 0; j < cat_.ListedBound(); ++j) {
    const TTrdosFileEntry& e = cat_.Entries[j];
    if (j != except && e.IsLive() && e.SectorCount > 0 && e.FirstLinear() < first + count &&
        first < e.FirstLinear() + e.SectorCount) {
      return true;
    }
  }
  return false;
}

bool TrdosCatalog::RunBytes(int entry, int sectors, std::vector<uint8_t>& out) const {
  if (!editable_ || entry < 0) return false;
  const TTrdosFileEntry& e = cat_.Entries[entry];
  TrdosSectorAddress failed;
  return ReadTrdosRun(disk_, e.FirstTrack, e.FirstSector, sectors, out, failed);
}

bool TrdosCatalog::ScreenBytes(int row, std::vector<uint8_t>& out) const {
  return RunBytes(EntryOfRow(row), kScreenSectors, out);
}

bool TrdosCatalog::FileBytes(int row, std::vector<uint8_t>& out) const {
  const int entry = EntryOfRow(row);
  return entry >= 0 && RunBytes(entry, cat_.Entries[entry].SectorCount, out);
}

void TrdosCatalog::RememberFolder(std::string TSettings::*key, const char* name,
                                  const std::string& folder) {
  if (folder.empty() || settings_.*key == folder) return;
  settings_.*key = folder;
  if (store_) store_->WriteFolder(name, folder);
}

}  // namespace kelvara
