// What the CP/M catalog window shows and does over the directory: the
// listing's cells, the disk's description, and saving a file under a name
// the user picks.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "filesystems/CpmCatalog.h"
#include "model/Prompt.h"

namespace kelvara {

inline constexpr const char* kFileExistsText = "Файл существует! Перезаписать?!";
inline constexpr const char* kCpmFileFilter = "Файлы CP/M Profi (*.cpm)|*.cpm";

inline constexpr std::array<const char*, 5> kCpmListColumns = {"Filename", "Ext", "Length", "Atrib",
                                                               "№"};
// The cells of a row in the columns' order: name and extension as stored,
// the size, the user byte and the extent number in two hexadecimal digits.
std::array<std::string, kCpmListColumns.size()> CpmListCells(const CpmFileRow& row,
                                                             std::string_view decimalSeparator);
// The "Описание диска" panel: "Свободно", "Занято" (kilobytes + " кБ") and
// "Количество файлов", as label and value.
std::vector<std::pair<std::string, std::string>> DescribeCpmDisk(const CpmCatalog& cat);

// The size column: whole kilobytes, then the decimal separator and the bytes
// beyond them as thousandths with trailing zeros dropped. 17 records
// (2176 bytes) give "2,128" with a comma; 16 records give "2".
std::string CpmSizeText(uint32_t records, std::string_view decimalSeparator);
// The decimal separator of the user's locale (LC_NUMERIC), "." without one.
std::string SystemDecimalSeparator();

// The name the save proposes: the 11 key bytes without a dot, as UTF-8, with
// the characters a file name cannot hold replaced by "_".
std::string CpmProposedFileName(const CpmKey& key);

enum class CpmSaveOutcome { Saved, Cancelled, Failed };
// "Save as" of the catalog: asks for the file (starting in sclDir), asks
// before replacing one, writes it and reports failures through the prompt.
// On success sclDir becomes the file's folder, for the caller to store as the
// SCLDir setting.
CpmSaveOutcome SaveCpmFileAs(const TZX_Disk& disk, const CpmFileRow& row, Prompt& prompt,
                             std::string& sclDir);

}  // namespace kelvara
