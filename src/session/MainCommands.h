// The decisions behind the main window's image commands: which menu items
// are enabled, what a load or a save does to the image, the settings and the
// remembered names, and what is reported. The window asks the user (through
// the Prompt port), shows the outcome and calls these.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "formats/ImageFiles.h"
#include "model/Prompt.h"
#include "model/ZXDisk.h"
#include "session/Settings.h"

namespace kelvara {

// File dialog filters as "Name|patterns|Name|patterns".
inline constexpr const char* kOpenImageFilter =
    "Универсальный образ диска (*.udi)|*.udi|Файл образа TRDOS диска (*.trd)|*.trd|"
    "Образ диска TeleDisk (*.td0)|*.td0|Полный образ диска (*.fdi)|*.fdi|"
    "Секторный образ диска CP/M Profi (*.pro)|*.pro|"
    "Краткий формат образа TRDOS диска (*.scl)|*.scl|Образ диска Корвета (*.kdi)|*.kdi|"
    "Образ для флоппи эмулятора (*.hfe)|*.hfe|"
    "Флюкс-образ SuperCard Pro (*.scp)|*.scp|Поток KryoFlux (*.raw)|*.raw|"
    "Образ диска +3 и CPC (*.dsk)|*.dsk|"
    "Поддерживаемые форматы (*.udi,*.trd,*.td0,*.fdi,*.pro,*.scl,*.kdi,*.hfe,*.scp,*.raw,*.dsk)|"
    "*.fdi;*.trd;*.udi;*.td0;*.pro;*.scl;*.kdi;*.hfe;*.scp;*.raw;*.dsk";
inline constexpr int kOpenImageFilterIndex = 12;  // 1-based: all supported types
inline constexpr const char* kSaveImageFilter =
    "Универсальный образ диска (*.udi)|*.udi|Файл образа TRDOS диска (*.trd)|*.trd|"
    "Образ диска TeleDisk (*.td0)|*.td0|Полный образ диска (*.fdi)|*.fdi|"
    "Секторный образ диска CP/M Profi (*.pro)|*.pro|"
    "Краткий формат образа TRDOS диска (*.scl)|*.scl|Образ диска Корвета (*.kdi)|*.kdi|"
    "Образ для флоппи эмулятора (*.hfe)|*.hfe|"
    "Флюкс-образ SuperCard Pro (*.scp)|*.scp|Образ диска +3 и CPC (*.dsk)|*.dsk";
inline constexpr const char* kProjectFilter = "Universal Disk Format (*.udf)|*.udf";
inline constexpr const char* kOpenImageTitle = "Загрузить образ диска из файла..";
inline constexpr const char* kSaveImageTitle = "Сохранить образ диска в файл...";
inline constexpr const char* kSaveProjectTitle = "Сохранить образ диска в файл..";

// --- Menu enabling, computed each time a menu opens ---

// "Сохранить", "Сохранить образ", both catalogs and "Очистить образ": only
// for an image with tracks. Recounts the tracks.
bool ImageCommandsEnabled(TZX_Disk& disk);

enum class DiskCommand {
  FullRead,     // "Полное чтение диска"
  RawRead,      // "Чтение сырых данных"
  Scan,         // "Сканирование дорожек"
  ReadByIds,    // "Чтение секторов по  меткам"
  ScanAndRead,  // "Сканирование и чтение диска"
  RereadBad,    // "Перечитать сбойные сектора"
  Format,       // "Форматировать диск"
  Write,        // "Записать диск"
  FormatWrite,  // "Форматировать и записать"
  ReadCatalog,  // "Считать ZX каталог"
};
// Every command needs an open drive; those that work from the image's
// sector table need an image with tracks as well.
bool DiskCommandEnabled(DiskCommand command, bool driveValid, int trackCount);

// --- Dialog helpers ---

// The save dialog's default extension for its 1-based filter index ("udi"
// .. "dsk"); empty outside 1..10.
std::string SaveExtensionForFilter(int filterIndex);
// The save dialog's proposed name: the last image name without its last four
// characters (the dot and a three-letter extension).
std::string ProposedSaveName(const std::string& imageFileName);
// The project save dialog's proposed name: the last three characters
// replaced by "udf".
std::string ProposedProjectName(const std::string& imageFileName);

// What the image save dialog opens with.
struct SaveDialogProposal {
  std::string folder;
  std::string fileName;
  int filterIndex = 1;
};
// "Сохранить образ", and "Да" to "Сохранить изменения?": the file the image
// was loaded from or saved to (`imagePath`, "" when it has none) - its
// folder, its name and its type - whenever a file of that type can hold the
// image, so that Enter saves the work where it came from. Otherwise the
// folder `startFolder`, the last name without its extension
// (ProposedSaveName) and the type chosen last.
SaveDialogProposal ProposeImageSave(TZX_Disk& disk, const std::string& imagePath,
                                    const SaveOptions& options, const std::string& startFolder,
                                    const std::string& imageFileName, int lastFilterIndex);

// --- Loading ---

// Loads an image file, whoever asked (menu, drop, command line, hand-off).
// On success the image name is remembered; on failure the image is empty.
LoadResult OpenImage(TZX_Disk& disk, const std::string& path, std::string& imageFileName);

// "Загрузить образ" after its dialog: a file that does not exist does
// nothing (nullopt); a successful load also remembers its folder as
// Directory_1.
std::optional<LoadResult> OpenChosenImage(TZX_Disk& disk, const std::string& path,
                                          TSettings& settings, SettingsStore& store,
                                          std::string& imageFileName);

// --- Saving ---

struct SaveOutcome {
  bool written = false;
  bool clearLog = false;              // empty the LOG list before adding logLines
  std::vector<std::string> logLines;  // the last one is selected
};

// "Сохранить образ" after its dialog: the overwrite question, the writer
// chosen by extension, the messages. Only a file really written is
// remembered (ImageFileName, Directory_2); a failed or refused save says
// that nothing was written and why, and the writer's note on a file it
// wrote goes to the LOG list.
SaveOutcome SaveImageCommand(TZX_Disk& disk, const std::string& path, TSettings& settings,
                             SettingsStore& store, Prompt& prompt, std::string& imageFileName);

// --- The project file (.udf), with commands of its own ---

// "Загрузить" after its dialog: true when the file exists and loads with a
// matching CRC; then its name and folder (Directory_1) are remembered. A
// mismatch leaves what was read and says nothing, as the file's own check
// is all the command has.
bool OpenProjectCommand(TZX_Disk& disk, const std::string& path, TSettings& settings,
                        SettingsStore& store, std::string& imageFileName);
// "Сохранить" after its dialog: the overwrite question, then the file. Only
// a file really written is remembered (its folder as Directory_1).
bool SaveProjectCommand(TZX_Disk& disk, const std::string& path, TSettings& settings,
                        SettingsStore& store, Prompt& prompt, std::string& imageFileName);

// Asks before replacing an existing file; false when the user keeps it.
bool MayReplace(const std::string& path, Prompt& prompt);
// The message of a save that wrote nothing, with its reason when known.
std::string NotWrittenText(const std::string& path, const std::string& reason);

// "Очистить образ": asks first, then `mayDiscard` (the question before
// unsaved work is lost; none: go on); true when the image was emptied.
bool ClearImageCommand(TZX_Disk& disk, Prompt& prompt,
                       const std::function<bool()>& mayDiscard = {});

// The text of status panel 1 for a loaded image.
std::string ImageStatusText(const std::string& path, int trackCount);

}  // namespace kelvara
