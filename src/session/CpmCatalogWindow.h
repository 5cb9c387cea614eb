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
inline constexpr const char* kAnyFileFilter = "Все файлы (*)|*";

inline constexpr std::array<const char*, 6> kCpmListColumns = {"Filename", "Ext", "Length",
                                                               "Atrib",    "№",   "Flags"};
// The cells of a row in the columns' order: name and extension in 7 bits,
// the size, the user byte and the extent number in two hexadecimal digits,
// the attributes the name's high bits carry ("R/O SYS").
std::array<std::string, kCpmListColumns.size()> CpmListCells(const CpmFileRow& row,
                                                             std::string_view decimalSeparator);
// The "Описание диска" panel: "Свободно", "Занято" (kilobytes + " кБ"),
// "Количество файлов" and "Метка диска" (the disc label), as label and value.
std::vector<std::pair<std::string, std::string>> DescribeCpmDisk(const CpmCatalog& cat);

// The size column: whole kilobytes, then the decimal separator and the bytes
// beyond them as thousandths with trailing zeros dropped. 17 records
// (2176 bytes) give "2,128" with a comma; 16 records give "2".
std::string CpmSizeText(uint32_t records, std::string_view decimalSeparator);
// The same for a length in bytes: 70000 gives "68,368".
std::string CpmLengthText(uint64_t bytes, std::string_view decimalSeparator);
// The decimal separator of the user's locale (LC_NUMERIC), "." without one.
std::string SystemDecimalSeparator();

// The name the save proposes: the 11 key bytes without a dot, as UTF-8, with
// the characters a file name cannot hold replaced by "_".
std::string CpmProposedFileName(const CpmKey& key);
// The name a file of the disk is saved under, as extract and "Сохранить как"
// give it: on a Profi disk the proposed name and ".cpm"; on +3DOS and CPC
// disks NAME.EXT in 7 bits, as their own systems copy files.
std::string CpmSaveFileName(const CpmFormat& format, const CpmKey& key);

enum class CpmSaveOutcome { Saved, Cancelled, Failed };
// "Save as" of the catalog: asks for the file (starting in sclDir, proposing
// CpmSaveFileName), asks before replacing one, writes it and reports failures
// through the prompt.
// On success sclDir becomes the file's folder, for the caller to store as the
// SCLDir setting.
CpmSaveOutcome SaveCpmFileAs(const TZX_Disk& disk, const CpmFileRow& row, Prompt& prompt,
                             std::string& sclDir);

}  // namespace kelvara
