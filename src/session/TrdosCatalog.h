// The TR-DOS catalog window's core: its catalog record, mode and marks, what
// the window shows (disk description, file list, the context menu's enabled
// items) and every command of its menu. The window only asks through the
// Prompt, shows what this gives and calls; kelvara-cli drives the same
// commands without the questions.
//
// Two catalog records exist while the program runs: this object's, which the
// window shows and edits and which is refilled on every opening, and the
// main window's snapshot for the sector-owner lookup (a plain TTrdosCatalog
// it keeps itself and passes to FindSectorOwner). They are separate values,
// so nothing done here changes the snapshot.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "filesystems/TapeHeader.h"
#include "filesystems/Trdos.h"

namespace kelvara {

class Prompt;
class SettingsStore;
struct TSettings;

// One labelled value of the "Описание диска" panel.
struct LabelledValue {
  std::string label;
  std::string value;
};
std::vector<LabelledValue> DescribeTrdosDisk(const TTrdosCatalog& cat);

inline constexpr std::array<const char*, 7> kTrdosListColumns = {
    "Filename", "Type", "Start", "Length", "Sectors", "F.sec", "F.trk"};

// A row of the file list: its catalog index and its cells, numbers in
// upper-case hexadecimal.
struct TrdosListRow {
  int entry = 0;
  std::array<std::string, kTrdosListColumns.size()> cells;
};
// Rows for entries 0..ListedCount-1 in catalog order; deleted entries only
// when shown.
std::vector<TrdosListRow> ListTrdosFiles(const TTrdosCatalog& cat, bool showDeleted);
// The number of rows ListTrdosFiles gives, without making their texts.
int TrdosRowCount(const TTrdosCatalog& cat, bool showDeleted);
// The catalog index of a row: row r itself when deleted entries are shown,
// otherwise the (r + 1)-th live entry. -1 for a row that does not exist.
int TrdosRowEntry(const TTrdosCatalog& cat, bool showDeleted, int row);

// Which context-menu items are enabled.
struct TrdosMenuState {
  bool viewScreen = false;   // "Просмотр экрана"
  bool viewHex = false;      // "Просмотр HEX"
  bool compact = false;      // "Уплотнить"
  bool renameDisk = false;   // "Сменить имя диска"
  bool showDeleted = false;  // "Показать удаленные файлы"
  bool saveHobeta = false;   // "Сохранить hob"
  bool saveScl = false;      // "Сохранить scl"
  bool editEntry = false;    // "Редактировать заголовок"
  bool restore = false;      // "Восстановить файл"
  bool add = false;          // "Добавить файл(ы)"
  bool remove = false;       // "Удалить файл(ы)"
};
TrdosMenuState TrdosMenuFor(const TTrdosCatalog& cat, bool showDeleted,
                            std::span<const int> selectedRows);

// The fields of the entry editor "Редактор элемента каталога". Start and
// length are the values the two-byte fields show high byte first.
struct TrdosEntryFields {
  std::string name;  // at most 8 characters; "?" for a first byte below 32
  std::string type;  // 1 character
  uint16_t start = 0;
  uint16_t length = 0;
  uint8_t sectors = 0;
  uint8_t firstSector = 0;
  uint8_t firstTrack = 0;
};
TrdosEntryFields TrdosEntryFieldsOf(const TTrdosFileEntry& entry);

// What the window redraws after a command.
enum class Refresh { None, List, All };

struct CatalogOutcome {
  bool ok = true;          // false: the command failed (its message was shown)
  bool cancelled = false;  // the user ended it at a question
  Refresh refresh = Refresh::None;
  int files = 0;        // an export: the files written (into the archive, for SCL)
  std::string logLine;  // an export: where the files went, for the main window's LOG

  static CatalogOutcome Finished(bool ok, Refresh refresh = Refresh::None) {
    return {ok, false, refresh, 0, {}};
  }
  static CatalogOutcome Failed() { return {false, false, Refresh::None, 0, {}}; }
  static CatalogOutcome Cancelled() { return {true, true, Refresh::None, 0, {}}; }
};

enum class ExportKind {
  Hobeta,  // header + whole sectors, named NAME.$T
  Raw,     // the file's `Length` bytes, named NAME.T
};

class TrdosCatalog {
 public:
  // The export and import folders are read from `settings` when a command
  // starts; a changed one is written back through `store` when given.
  TrdosCatalog(TZX_Disk& disk, Prompt& prompt, TSettings& settings, SettingsStore* store = nullptr);

  // Opens on the image's volume, editable. On failure shows why and returns false.
  bool OpenFromImage();
  // Opens on track 0 as a drive read it (sectors 1 upward), read-only.
  bool OpenFromDrive(std::span<const uint8_t> track0);

  const TTrdosCatalog& Catalog() const { return cat_; }
  bool Editable() const { return editable_; }
  // Set by every command that changed the image, and only then (a command
  // refused or deleting nothing live leaves it); the owner rebuilds the raw
  // tracks when the window closes with it set.
  bool Modified() const { return modified_; }
  bool ShowDeleted() const { return showDeleted_; }
  void ToggleShowDeleted() { showDeleted_ = !showDeleted_; }

  std::vector<LabelledValue> Description() const { return DescribeTrdosDisk(cat_); }
  std::vector<TrdosListRow> Rows() const { return ListTrdosFiles(cat_, showDeleted_); }
  int RowCount() const { return TrdosRowCount(cat_, showDeleted_); }
  int EntryOfRow(int row) const { return TrdosRowEntry(cat_, showDeleted_, row); }
  // All disabled in read-only mode, where the list has no menu.
  TrdosMenuState MenuState(std::span<const int> selectedRows) const;

  // The menu commands, on the selected rows in list order. They ask first
  // where the window does.
  CatalogOutcome DeleteFiles(std::span<const int> rows);
  CatalogOutcome RestoreFile(int row);
  CatalogOutcome RenameDisk();
  // The editor's accepted fields for the entry of `row`.
  CatalogOutcome EditEntry(int row, const TrdosEntryFields& fields);
  CatalogOutcome Compact();
  CatalogOutcome ExportHobeta(std::span<const int> rows);
  CatalogOutcome ExportScl(std::span<const int> rows);
  CatalogOutcome AddFiles();
  // The bytes for the screen viewer (27 sectors) and the hex viewer (the
  // file's sectors); false when a sector is not usable.
  bool ScreenBytes(int row, std::vector<uint8_t>& out) const;
  bool FileBytes(int row, std::vector<uint8_t>& out) const;

  // The same work on catalog indices, without the questions and dialogs
  // before it; questions about overwriting files are still asked.
  CatalogOutcome DeleteEntries(std::vector<int> entries);
  CatalogOutcome CompactVolume();
  CatalogOutcome ExportFilesTo(const std::string& folder, std::span<const int> entries,
                               ExportKind kind);
  CatalogOutcome ExportSclTo(const std::string& path, std::span<const int> entries);
  CatalogOutcome AddFilesFrom(const std::vector<std::string>& paths);
  // Adds the files of one SCL, tape or Hobeta file (SCL and tape files,
  // TAP or TZX, by the path's extension in any case) to the image and the
  // record, without writing the catalog back. False at the first failure,
  // after its message.
  bool ImportBytes(const std::string& path, std::span<const uint8_t> file);
  // Adds tape files taken from `source` (named in messages) as B, C and D
  // files, and writes the catalog back.
  CatalogOutcome AddTapeFiles(const std::string& source, std::span<const TapeFile> files);

 private:
  std::vector<int> EntriesOf(std::span<const int> rows) const;
  // The entries of the selected rows; none, after the message, when no row is.
  std::vector<int> SelectedEntries(std::span<const int> rows, const char* noneText);
  bool WriteBack();
  void Error(const std::string& text);
  void RememberFolder(std::string TSettings::*key, const char* name, const std::string& folder);
  bool RunBytes(int entry, int sectors, std::vector<uint8_t>& out) const;
  void RestoreEntry(int index, uint8_t letter);
  // Whether a live listed entry other than `except` holds a sector of the run.
  bool LiveFileOverlaps(int first, int count, int except = -1) const;
  // Whether a live entry is listed after `index`.
  bool LiveEntryAfter(int index) const;
  void EndCatalogAfter(int index);
  void GiveBackFrom(int start);
  void CompactSectorError(int linear);
  bool CanMoveRun(int from, int to, int count);
  void MoveRun(int from, int to, int count);
  bool ImportHobeta(const std::string& path, std::span<const uint8_t> file);
  bool ImportScl(const std::string& path, std::span<const uint8_t> file);
  bool ImportTape(const std::string& path, std::span<const uint8_t> file);
  bool ImportTapeFile(const std::string& path, const TapeFile& file);
  bool CatalogTakesFiles();
  bool CheckRoomFor(const TTrdosFileEntry& header);
  bool NameTaken(const TTrdosFileEntry& header);
  bool AddFile(const std::string& path, TTrdosFileEntry header, std::span<const uint8_t> data);
  void ImportError(const std::string& text);

  TZX_Disk& disk_;
  Prompt& prompt_;
  TSettings& settings_;
  SettingsStore* store_;
  TTrdosCatalog cat_;
  bool editable_ = false;
  bool modified_ = false;
  bool showDeleted_ = false;
};

}  // namespace kelvara
