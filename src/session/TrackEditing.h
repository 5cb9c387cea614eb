// The decisions behind inspecting and editing the image on the disk map: what
// a click on a cell shows in the header, the information group, the owner
// panel, the hex panel and the LOG list; which context-menu entries are
// enabled and shown for the clicked cell and what each does; the hex panel's
// "Принять" and "Сохранить"; the comment memo. The main window asks the user
// (through the Prompt port), shows what these decide and repaints.
//
// Cells are addressed as on the map: the row is the track index, column 0 is
// the track label, column c (1..20) is slot c - 1, and column -1 (or a row of
// -1) is a click outside the cells.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "filesystems/Trdos.h"
#include "model/Prompt.h"
#include "model/ZXDisk.h"

namespace kelvara {

// --- Texts of the information group ---

// "128b" .. "1024b"; empty for a size code above 3.
std::string SizeText(int sizeCode);
// "#" and four upper-case hexadecimal digits.
std::string CrcText(uint16_t crc);
// "good", "bad" (a failed read was counted) or "no data".
std::string DataStateText(const TSectorRec& slot);

// --- A click on a cell ---

// The header's "Дорожка -" and "Сектор -" values: the track index when the
// track is present, the slot's R when the slot is present.
std::pair<std::string, std::string> HeaderTexts(const TZX_Disk& disk, int column, int row);

// A part of the window a click may change or leave as it is.
enum class Visibility { Keep, Shown, Hidden };

enum class HexChange {
  Keep,      // the panel keeps what it shows
  ReadOnly,  // it keeps its bytes, but read-only and with the buttons off
  Replace,   // it shows `hexBytes` (none: emptied)
};

struct CellView {
  std::string track;                    // l2
  std::string sector;                   // l1
  Visibility owner = Visibility::Keep;  // trp1
  std::string ownerText;                // mml1
  Visibility info = Visibility::Keep;   // gb1
  int fieldCount = 0;                   // an1 .. an(fieldCount) are given
  std::array<std::string, 6> fields;    // C, H, R, size, CRC, data state
  HexChange hex = HexChange::Keep;
  std::vector<uint8_t> hexBytes;
  bool hexEditable = false;
  bool hexButtons = false;  // "Сохранить" and "Загрузить"; "Принять" is off after every click
  bool logChanged = false;
  std::vector<std::string> log;  // the LOG list's new lines
};

// What a click on a cell shows. A sector shows its ID, state, owner and its
// data (DataLength bytes, or the size its size code gives when
// `sizeFromHead`), editable; a track label shows the track's raw bytes from a
// file, editable, or a track synthesised for display, read-only.
CellView DescribeCell(TZX_Disk& disk, const TTrdosCatalog& snapshot, int column, int row,
                      bool sizeFromHead);

// --- The map's context menu (entries z1 .. z23) ---

struct EntryState {
  bool enabled = true;
  bool visible = true;
};
// Indexed by entry number: [1] is z1, [23] is z23; [0], [20] and [21] name
// no entry.
using ContextMenuState = std::array<EntryState, 24>;

// As the menu is built: everything enabled, "Считать RAW дорожки" (z2) hidden.
ContextMenuState InitialContextMenuState();
// Enables and shows the entries for the right-clicked cell. Entries that the
// cell's kind does not concern keep their state from the last right click.
// The drive entries (z1 .. z7) are enabled exactly when a drive is open, as
// the "Диск" menu is.
void PrepareContextMenu(const TZX_Disk& disk, int column, int row, ContextMenuState& state,
                        bool driveValid);

// "Добавить сектор" is offered on an empty slot of a present track whose
// slot to the left is used (or that is the first), so slots stay contiguous.
bool AddSectorAllowed(const TZX_Disk& disk, int column, int row);

// --- The entries' commands, on the cell of the last right click ---

// "Убрать дорожку" / "Добавить дорожку": only the track's flag changes, so a
// track added back shows its old sectors, raw bytes and log.
void SetTrackPresent(TZX_Disk& disk, int track, bool present);
// "Убрать сектор": "Сектор не выбран!" on a track label; otherwise asks and
// takes the slot out, later slots moving down. True when removed.
bool RemoveSectorCommand(TZX_Disk& disk, int column, int track, Prompt& prompt);
// "Добавить сектор": a sector without data at the cell. True when added.
bool AddSectorCommand(TZX_Disk& disk, int column, int track);
// "Очистить дорожку": on a track label, asks and drops the raw bytes. True
// when dropped.
bool ClearTrackCommand(TZX_Disk& disk, int column, int track, Prompt& prompt);
// "Данные секторов -> RAW": every raw track takes its sectors' data.
void SectorsToRawCommand(TZX_Disk& disk);

// "Установить базовым трэком": the track becomes the base template, turned on
// when the track has raw bytes.
struct BaseTrackOutcome {
  std::string switchCaption;  // the new caption of the main menu's switch
  bool templateOn = false;    // the switch is on now
};
BaseTrackOutcome SetBaseTrackCommand(TZX_Disk& disk, int track);
// The main menu's "Использовать базовый шаблон для всех дорожек": a checked
// switch turns the template off; an unchecked one turns it on only for a
// present base track with raw bytes. The switch's new check state.
bool BaseTemplateSwitch(TZX_Disk& disk, bool checked);

// --- The hex panel's buttons ---

enum class AcceptOutcome {
  Stored,    // the bytes went into the image
  Declined,  // the user said No; "Принять" stays enabled
  Nothing,   // the cell has no data or raw bytes to take them
};
// "Принять" for the current cell: after a question, at most DataLength bytes
// into the sector's data, or at most RawLength bytes into the raw track.
// Neither CRCs nor the data state change.
AcceptOutcome AcceptPanelBytes(TZX_Disk& disk, int column, int row, std::span<const uint8_t> bytes,
                               Prompt& prompt);
// The same storing without the question; false when the cell has no data
// or raw bytes to take them.
bool StorePanelBytes(TZX_Disk& disk, int column, int row, std::span<const uint8_t> bytes);

inline constexpr const char* kSectorFileTitle = "Сохранить сектор...";
inline constexpr const char* kSectorFileFilter = "Файл сектора (*.sec)|*.sec";
inline constexpr const char* kSectorFileExtension = "sec";
// "Сохранить" after its dialog: the overwrite question, then exactly the
// panel's bytes. A failed write says so. True when written.
bool SaveSectorFile(const std::string& path, std::span<const uint8_t> bytes, Prompt& prompt);

// --- The comment memo ---

// The memo's text as comment lines; a last line break ends the last line
// rather than starting an empty one, and an empty memo has no lines.
std::vector<std::string> MemoLines(const std::string& text);

}  // namespace kelvara
