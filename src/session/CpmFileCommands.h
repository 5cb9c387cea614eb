// The CP/M catalog window's commands that change the disk (add, delete,
// rename), and the same work for kelvara-cli. Each works on the whole
// request or not at all: the directory and the new files are built on a
// CpmVolume and written into the image only when everything fitted.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "filesystems/CpmWrite.h"
#include "model/Prompt.h"

namespace kelvara {

inline constexpr const char* kCpmDeleteQuestion =
    "Вы действительно хотите удалить выбранные Файлы?";

struct CpmAddOptions {
  uint8_t user = 0;
  std::optional<CpmKey> name;         // the name of the one file added (else from its file name)
  std::optional<uint16_t> codeStart;  // +3DOS: a file without a header gets CODE at this address
};

// Adds files to the disk. Tape files (.tap, .tzx) give one +3DOS file per
// tape file, with its PLUS3DOS header; other files go on as they are,
// named from their file names, or on a +3DOS or CPC disk with a CODE header
// at `codeStart` when they have no header of their own. False, with the
// reason, and the image unchanged when any of them does not fit.
bool AddCpmFiles(TZX_Disk& disk, const std::vector<std::string>& paths,
                 const CpmAddOptions& options, std::string& error);
// The same for bytes in memory, `path` giving the name and the kind.
bool AddCpmFileBytes(CpmVolume& volume, const std::string& path, std::span<const uint8_t> bytes,
                     const CpmAddOptions& options, std::string& error);
// Deletes or renames files, all or none.
bool RemoveCpmFiles(TZX_Disk& disk, std::span<const CpmName> names, std::string& error);
bool RenameCpmFile(TZX_Disk& disk, const CpmName& from, const CpmName& to, std::string& error);

// The window's commands, asking through the prompt first and reporting a
// failure there ("Ошибка..!").
enum class CpmEditOutcome { Changed, Cancelled, Failed };
// "Добавить файл(ы)": files picked starting in `folder`, which becomes the
// first one's folder.
CpmEditOutcome AddCpmFilesAsked(TZX_Disk& disk, Prompt& prompt, std::string& folder);
CpmEditOutcome AddCpmFilesFrom(TZX_Disk& disk, Prompt& prompt,
                               const std::vector<std::string>& paths);
// "Удалить файл(ы)": the selected rows' files after the question; rows of
// deleted entries are passed over.
CpmEditOutcome DeleteCpmRows(TZX_Disk& disk, Prompt& prompt, std::span<const CpmFileRow> rows);
// "Переименовать": the new name typed as NAME.EXT or N:NAME.EXT.
CpmEditOutcome RenameCpmRow(TZX_Disk& disk, Prompt& prompt, const CpmFileRow& row);

}  // namespace kelvara
