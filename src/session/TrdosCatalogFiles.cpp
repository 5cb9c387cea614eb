// The catalog window's file exchange: export of files as Hobeta files, as
// plain bytes or as one SCL archive, and the import of SCL, Hobeta and tape
// (TAP, TZX) files onto the volume. Every import check runs in a fixed order and the first
// failure ends the whole import; the catalog is written back either way, so
// the files added before the failure stay on the disk.
#include <algorithm>
#include <cctype>
#include <set>

#include "filesystems/DiskTape.h"
#include "filesystems/Hobeta.h"
#include "filesystems/SclArchive.h"
#include "filesystems/TapeImage.h"
#include "model/FileIO.h"
#include "model/Prompt.h"
#include "session/Settings.h"
#include "session/TrdosCatalog.h"

namespace kelvara {

namespace {

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string EntryNameText(const TTrdosFileEntry& e) {
  return TrdosNameText(e.Name) + "." + TrdosTypeText(e.FileType);
}

std::vector<uint8_t> ExportBytes(const TTrdosFileEntry& e, std::vector<uint8_t> data,
                                 ExportKind kind) {
  if (kind == ExportKind::Raw) {
    // The file's own length; a length beyond its sectors has no bytes behind it.
    data.resize(std::min<size_t>(e.Length, data.size()));
    return data;
  }
  const auto header = HobetaHeader(e);
  data.insert(data.begin(), header.begin(), header.end());
  return data;
}

std::string ExportName(const TTrdosFileEntry& e, ExportKind kind) {
  if (kind == ExportKind::Hobeta) return HobetaFileName(e);
  return ExportBaseName(e.Name) + "." + ExportTypeText(e.FileType);
}

std::string Upper(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A name not yet given to a file of this export: distinct catalog names
// can make the same file name ("A/B" and "A:B" both give A_B), and a disk
// may hold the same name twice. The later ones get "_1", "_2", ... before
// the extension. Compared without case, for the file systems that ignore it.
std::string UnusedName(std::string name, std::set<std::string>& used) {
  const size_t dot = name.find_last_of('.');
  const std::string base = name.substr(0, dot), ext = name.substr(dot);
  for (int n = 1; used.count(Upper(name)); ++n)
    name = base + "_" + std::to_string(n) + ext;
  used.insert(Upper(name));
  return name;
}

}  // namespace

CatalogOutcome TrdosCatalog::ExportHobeta(std::span<const int> rows) {
  if (!editable_) return CatalogOutcome::Failed();
  std::string folder = settings_.HobetaDir;
  if (!prompt_.PickFolder("Директория сохранения Хобетных файлов!", folder))
    return CatalogOutcome::Cancelled();
  const std::vector<int> entries = EntriesOf(rows);
  if (entries.empty()) return CatalogOutcome::Finished(true);
  CatalogOutcome r = ExportFilesTo(folder, entries, ExportKind::Hobeta);
  if (r.ok && !r.cancelled) RememberFolder(&TSettings::HobetaDir, "HobetaDir", WithSlash(folder));
  return r;
}

CatalogOutcome TrdosCatalog::ExportFilesTo(const std::string& folder, std::span<const int> entries,
                                           ExportKind kind) {
  if (!editable_) return CatalogOutcome::Failed();
  std::set<std::string> used;
  // What was written before a failure or a Cancel stays, and is counted.
  CatalogOutcome r = CatalogOutcome::Finished(true);
  for (int i : entries) {
    const TTrdosFileEntry& e = cat_.Entries[i];
    std::vector<uint8_t> data;
    TrdosSectorAddress failed;
    if (!ReadTrdosRun(disk_, e.FirstTrack, e.FirstSector, e.SectorCount, data, failed)) {
      std::string name = TrdosNameText(e.Name);
      name.erase(name.find_last_not_of(' ') + 1);
      Error("Файл " + name + "." + TrdosTypeText(e.FileType) +
            " не сохранён: " + TrdosSectorErrorText(failed.track, failed.sec));
      r.ok = false;
      break;
    }
    const std::string name = UnusedName(ExportName(e, kind), used);
    const std::string path = WithSlash(folder) + name;
    if (FileExists(path)) {
      const Answer a =
          prompt_.AskYesNoCancel("Внимание..!", "Файл " + name + " уже существует! Перезаписать?");
      if (a == Answer::Cancel) {
        r.cancelled = true;
        break;
      }
      if (a == Answer::No) continue;
    }
    std::string error;
    if (!WriteFileAtomic(path, ExportBytes(e, std::move(data), kind), error)) {
      Error(error);
      r.ok = false;
      break;
    }
    ++r.files;
  }
  if (r.files)
    r.logLine = "Сохранено файлов - " + std::to_string(r.files) + " в " + WithSlash(folder);
  return r;
}

CatalogOutcome TrdosCatalog::ExportScl(std::span<const int> rows) {
  if (!editable_) return CatalogOutcome::Failed();
  const std::vector<int> entries = SelectedEntries(rows, "Файлы для сохранения не выбраны..!");
  if (entries.empty()) return CatalogOutcome::Failed();
  std::string path;
  if (!prompt_.PickSaveFile("Сохранить файл(ы) в SCL..!", "Sinclair file (*.scl)|*.scl",
                            settings_.SCLDir, path) ||
      path.empty()) {
    return CatalogOutcome::Cancelled();
  }
  // The dialog's default extension.
  if (FileNameOf(path).find('.') == std::string::npos) path += ".scl";
  CatalogOutcome r = ExportSclTo(path, entries);
  if (r.ok && !r.cancelled) RememberFolder(&TSettings::SCLDir, "SCLDir", FolderOf(path));
  return r;
}

CatalogOutcome TrdosCatalog::ExportSclTo(const std::string& path, std::span<const int> entries) {
  if (!editable_) return CatalogOutcome::Failed();
  if (FileExists(path) &&
      prompt_.AskYesNo("Внимание..!", "Файл " + path + " уже существует! Перезаписать?") !=
          Answer::Yes) {
    return CatalogOutcome::Cancelled();
  }
  std::vector<TTrdosFileEntry> files;
  for (int i : entries)
    files.push_back(cat_.Entries[i]);
  std::vector<uint8_t> out;
  TrdosSectorAddress failed;
  if (!BuildSclArchive(disk_, files, out, failed)) {
    Error(TrdosSectorErrorText(failed.track, failed.sec));
    return CatalogOutcome::Failed();
  }
  std::string error;
  if (!WriteFileAtomic(path, out, error)) {
    Error(error);
    return CatalogOutcome::Failed();
  }
  CatalogOutcome r = CatalogOutcome::Finished(true);
  r.files = static_cast<int>(files.size());
  r.logLine = "Сохранено файлов - " + std::to_string(r.files) + " в " + path;
  return r;
}

CatalogOutcome TrdosCatalog::AddFiles() {
  if (!editable_) return CatalogOutcome::Failed();
  std::vector<std::string> paths;
  if (!prompt_.PickOpenFiles("Добавить файл(ы) в образ..",
                             "Sinclair file(s) (*.scl)|*.scl|Hobeta file(s) (*.$*)|*.$*|"
                             "Sinclair & Hobeta files (*.scl & *.$*)|*.scl;*.$*|"
                             "Tape files (*.tap, *.tzx)|*.tap;*.tzx",
                             settings_.SCLDir, paths) ||
      paths.empty()) {
    return CatalogOutcome::Cancelled();
  }
  CatalogOutcome r = AddFilesFrom(paths);
  RememberFolder(&TSettings::SCLDir, "SCLDir", FolderOf(paths.front()));
  return r;
}

CatalogOutcome TrdosCatalog::AddFilesFrom(const std::vector<std::string>& paths) {
  if (!editable_) return CatalogOutcome::Failed();
  // Data written under a catalog that cannot take its entry would be lost.
  if (std::string error; !TrdosCatalogWritable(disk_, error)) {
    Error(error);
    return CatalogOutcome::Failed();
  }
  bool ok = true;
  for (const std::string& path : paths) {
    std::vector<uint8_t> file;
    std::string error;
    if (!ReadWholeFile(path, file, error)) {
      ImportError(error);
      ok = false;
      break;
    }
    if (!ImportBytes(path, file)) {
      ok = false;
      break;
    }
  }
  ok = WriteBack() && ok;
  modified_ = true;
  return CatalogOutcome::Finished(ok, Refresh::All);
}

void TrdosCatalog::ImportError(const std::string& text) {
  prompt_.ShowMessage("Ошибка..!", text, MessageIcon::None);
}

// A new entry goes to the index of the file count. When the service sector
// counts more files than the catalog lists, that index lies behind an entry
// of eight zero bytes, where the catalog has already ended: the file would
// be written but never seen. A live entry at or after the file count would
// be replaced by the new one.
bool TrdosCatalog::CatalogTakesFiles() {
  bool liveBeyondCount = false;
  for (int i = cat_.FileCount; i < cat_.ListedBound(); ++i)
    liveBeyondCount = liveBeyondCount || cat_.Entries[i].IsLive();
  if (cat_.FileCount <= cat_.ListedCount && !liveBeyondCount) return true;
  ImportError("Каталог диска поврежден..!");
  return false;
}

bool TrdosCatalog::ImportBytes(const std::string& path, std::span<const uint8_t> file) {
  if (!editable_ || !CatalogTakesFiles()) return false;
  // The extension after the last dot of the file name, whole.
  const std::string name = FileNameOf(path);
  const size_t dot = name.find_last_of('.');
  const std::string ext = dot == std::string::npos ? "" : Upper(name.substr(dot + 1));
  if (ext == "TAP" || ext == "TZX") return ImportTape(path, file);
  return ext == "SCL" ? ImportScl(path, file) : ImportHobeta(path, file);
}

bool TrdosCatalog::ImportTape(const std::string& path, std::span<const uint8_t> file) {
  const std::string name = FileNameOf(path);
  std::vector<TapeFile> files;
  std::string error;
  if (!ReadTapeFiles(file, name.substr(0, name.find_last_of('.')), files, error)) {
    ImportError(path + ": " + error);
    return false;
  }
  return std::ranges::all_of(files, [&](const TapeFile& f) { return ImportTapeFile(path, f); });
}

bool TrdosCatalog::ImportTapeFile(const std::string& path, const TapeFile& file) {
  if (cat_.FileCount >= kTrdosMaxFiles) {
    ImportError("Каталог диска заполнен..!");
    return false;
  }
  TTrdosFileEntry header;
  std::vector<uint8_t> data;
  std::string error;
  if (!TrdosFileFromTape(file, header, data, error)) {
    ImportError(path + " / " + TapeNameText(file.header) + ": " + error);
    return false;
  }
  // Whole sectors, the rest of the last one zero rather than what the disk held.
  data.resize(size_t{header.SectorCount} * kTrdosSectorSize, 0);
  return !NameTaken(header) && CheckRoomFor(header) && AddFile(path, header, data);
}

CatalogOutcome TrdosCatalog::AddTapeFiles(const std::string& source,
                                          std::span<const TapeFile> files) {
  if (!editable_) return CatalogOutcome::Failed();
  if (std::string error; !TrdosCatalogWritable(disk_, error)) {
    Error(error);
    return CatalogOutcome::Failed();
  }
  bool ok = CatalogTakesFiles() && std::ranges::all_of(files, [&](const TapeFile& f) {
              return ImportTapeFile(source, f);
            });
  ok = WriteBack() && ok;
  modified_ = true;
  return CatalogOutcome::Finished(ok, Refresh::All);
}

bool TrdosCatalog::ImportHobeta(const std::string& path, std::span<const uint8_t> file) {
  if (file.size() < kHobetaHeaderSize) {
    ImportError("Размер файла " + path + " слишком мал..!");
    return false;
  }
  if (cat_.FileCount >= kTrdosMaxFiles) {
    ImportError("Каталог диска заполнен..!");
    return false;
  }
  TTrdosFileEntry header;
  bool checksumOk = false;
  ReadHobetaHeader(file, header, checksumOk);
  if (!checksumOk) {
    ImportError("Неправильная контрольная сумма файла " + path + " ..!");
    return false;
  }
  const size_t size = static_cast<size_t>(header.SectorCount) * kTrdosSectorSize;
  if (file.size() < kHobetaHeaderSize + size) {
    ImportError("Ошибочный размер файла " + path + " ..!");
    return false;
  }
  if (!CheckRoomFor(header) || NameTaken(header)) return false;
  return AddFile(path, header, file.subspan(kHobetaHeaderSize, size));
}

bool TrdosCatalog::ImportScl(const std::string& path, std::span<const uint8_t> file) {
  SclArchive scl;
  switch (scl.Open(file)) {
    case SclArchive::Status::BadChecksum:
      ImportError("Ошибка в контрольной сумме файла " + path + " ..!");
      return false;
    case SclArchive::Status::BadSignature:
      ImportError("Неверный дескриптор файла " + path + " ..!");
      return false;
    case SclArchive::Status::TooShort:
      ImportError("Ошибка в длинне файла " + path + " ..!");
      return false;
    case SclArchive::Status::Ok:
      break;
  }
  for (int i = 0; i < scl.Count(); ++i) {
    const TTrdosFileEntry& header = scl.Header(i);
    if (cat_.FileCount >= kTrdosMaxFiles) {
      ImportError("Каталог диска заполнен..!");
      return false;
    }
    if (NameTaken(header)) return false;
    std::span<const uint8_t> data;
    if (!scl.Data(i, data)) {
      ImportError("Ошибочный размер файла " + path + " / " + EntryNameText(header) + " ..!");
      return false;
    }
    if (!CheckRoomFor(header) || !AddFile(path, header, data)) return false;
  }
  return true;
}

bool TrdosCatalog::CheckRoomFor(const TTrdosFileEntry& header) {
  if (header.SectorCount <= cat_.FreeSectors) return true;
  ImportError("Нет места на образе диска ..!");
  return false;
}

// Deleted entries count too: a restored file would otherwise share its name.
bool TrdosCatalog::NameTaken(const TTrdosFileEntry& header) {
  for (int i = 0; i < cat_.FileBound(); ++i) {
    const TTrdosFileEntry& e = cat_.Entries[i];
    if (e.Name == header.Name && e.FileType == header.FileType) {
      ImportError("Файл с именем " + EntryNameText(header) + " в образе уже существует..!");
      return true;
    }
  }
  return false;
}

// Writes the data from the first-free pointer on, then makes the entry at
// the file count. A sector that is not usable refuses the file before any
// of its data is written.
bool TrdosCatalog::AddFile(const std::string& path, TTrdosFileEntry header,
                           std::span<const uint8_t> data) {
  const int first = cat_.FirstFreeTrack * kTrdosSectorsPerTrack + cat_.FirstFreeSector;
  const int count = static_cast<int>((data.size() + kTrdosSectorSize - 1) / kTrdosSectorSize);
  // A pointer another program left inside a file would write over it; one
  // whose sector lies past the track's 16 points nowhere; one on track 0
  // would put the data into the catalog, which the write-back then rebuilds
  // over it.
  if (cat_.FirstFreeSector >= kTrdosSectorsPerTrack ||
      first < kTrdosFirstDataTrack * kTrdosSectorsPerTrack || LiveFileOverlaps(first, count)) {
    ImportError("Каталог диска поврежден..!");
    return false;
  }
  // The free count may be wrong: the disk type's capacity bounds the file.
  if (first + count > TrdosTotalSectors(cat_.DiskType)) {
    ImportError("Нет места на образе диска ..!");
    return false;
  }
  // Every sector is checked before the first is written, so a failed file
  // leaves no stray data behind. A track that is not part of the image
  // keeps its slots, but no writer would save what they get.
  LinearSectorIndex sectors(disk_);
  for (int k = first; k < first + count; ++k) {
    if (!sectors.Usable(k) || !sectors.Destination(k)) {
      ImportError("Ошибка добавления файла " + path + " в образ ..!");
      return false;
    }
  }
  for (int k = first; k < first + count; ++k) {
    const size_t at = static_cast<size_t>(k - first) * kTrdosSectorSize;
    StoreTrdosSector(sectors.Writable(disk_, k),
                     data.subspan(at, std::min<size_t>(kTrdosSectorSize, data.size() - at)));
  }
  const int index = cat_.FileCount;
  header.FirstSector = cat_.FirstFreeSector;
  header.FirstTrack = cat_.FirstFreeTrack;
  cat_.Entries[index] = header;
  // The list grows only when the entry lands past it: an entry erased from
  // the end of the catalog is still listed and is simply reused.
  cat_.ListedCount = static_cast<uint8_t>(std::max<int>(cat_.ListedCount, index + 1));
  EndCatalogAfter(index);
  SetFreePointer(cat_, first + count);
  ++cat_.FileCount;
  return true;
}

}  // namespace kelvara
