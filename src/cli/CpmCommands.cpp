// cat, extract, add, rm, rename, new cpm and new plus3 for CP/M disks (Profi,
// +3DOS, CPC), and screen: a ZX screen as a PNG picture.
#include "cli/CpmCommands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <iomanip>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>

#include "filesystems/Plus3Dos.h"
#include "formats/ImageFiles.h"
#include "model/FileIO.h"
#include "model/HexText.h"
#include "model/Png.h"
#include "session/CpmCatalogWindow.h"
#include "session/Viewers.h"

namespace kelvara::cli {

namespace {

int Failed(Context& ctx, const std::string& reason) {
  ctx.Fail(reason);
  return 1;
}

std::string Upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A file as a command line names it: NAME.EXT for user 0 (and deleted
// files), "3:NAME.EXT" for the files of other users.
std::string RowName(const CpmFileRow& row) {
  const std::string name = CpmTypedName(row.key);
  return row.user > 0 && row.user < kCpmUsers ? std::to_string(row.user) + ":" + name : name;
}

// A file named on the command line: as [USER:]NAME.EXT in any case, or as
// the 11-byte key that a Profi disk's files are saved under.
const CpmFileRow* FindRow(const CpmCatalog& cat, const std::string& name) {
  const std::string typed = Upper(name);
  for (const CpmFileRow& row : cat.rows) {
    if (Upper(RowName(row)) == typed || CpmProposedFileName(row.key) == name) return &row;
  }
  return nullptr;
}

// Where a file is saved below the output folder: the files of users 1 to
// 15 in a folder named after the user, so that namesakes of different users
// both keep their bytes.
std::string SavedPath(const std::string& folder, const CpmFormat& format, const CpmFileRow& row) {
  const std::string user =
      row.user > 0 && row.user < kCpmUsers ? std::to_string(row.user) + "/" : "";
  return folder + user + CpmSaveFileName(format, row.key);
}

}  // namespace

int CpmCat(Context& ctx, const TZX_Disk& disk, CpmShowOptions show) {
  const CpmCatalog cat = ReadCpmCatalog(disk, show);
  const CpmFormat format = CpmFormatOf(disk);
  const std::string separator = SystemDecimalSeparator();
  std::ostream& out = ctx.out;
  if (format.plus3) out << "Format: " << format.name << "\n";
  out << "Filename Ext    Length Atrib №  Flags\n";
  const std::vector<CpmDirEntry> dir =
      format.plus3 ? ReadCpmDirectory(disk) : std::vector<CpmDirEntry>{};
  for (const CpmFileRow& row : cat.rows) {
    const auto cells = CpmListCells(row, separator);
    out << cells[0] << ' ' << cells[1] << ' ' << std::setw(9) << cells[2] << ' ' << cells[3]
        << "    " << cells[4];
    if (!cells[5].empty()) out << "  " << cells[5];
    // A +3 file's own header: its type, length and parameters.
    std::vector<uint8_t> bytes;
    Plus3Header header;
    if (format.plus3 && CollectCpmFile(disk, dir, row.key, row.user, bytes) &&
        ReadPlus3Header(bytes, header)) {
      out << "  PLUS3DOS " << DescribePlus3Header(header);
    }
    out << "\n";
  }
  for (const CpmOtherEntry& e : cat.others)
    out << e.Describe() << "\n";
  out << "Количество файлов: " << cat.rows.size() << "\n";
  out << "Занято: " << cat.UsedKb() << " кБ\n";
  out << "Свободно: " << cat.FreeKb() << " кБ\n";
  return 0;
}

int CpmExtract(Context& ctx, const TZX_Disk& disk, const std::vector<std::string>& names,
               const std::string& outDir, CpmShowOptions show, bool force, bool raw) {
  const CpmCatalog cat = ReadCpmCatalog(disk, show);
  // A file named with its user is found whether hidden files are shown or not.
  const CpmCatalog named = ReadCpmCatalog(disk, {.deleted = show.deleted, .hidden = true});
  const CpmFormat format = CpmFormatOf(disk);
  const std::vector<CpmDirEntry> dir = ReadCpmDirectory(disk, format);
  std::vector<const CpmFileRow*> rows;
  for (const std::string& name : names) {
    const CpmFileRow* row = FindRow(named, name);
    if (!row) return Failed(ctx, name + ": no such file in the CP/M directory");
    rows.push_back(row);
  }
  if (names.empty()) {
    for (const CpmFileRow& row : cat.rows)
      rows.push_back(&row);
  }
  if (!ctx.MakeFolder(outDir)) return 1;
  const std::string folder = outDir.empty() || outDir.back() == '/' ? outDir : outDir + "/";
  std::set<std::string> written;
  int status = 0;
  for (const CpmFileRow* row : rows) {
    const std::string path = SavedPath(folder, format, *row);
    std::string error;
    std::vector<uint8_t> bytes;
    // A deleted copy and the live file would share one name.
    if (written.count(path)) {
      status = Failed(ctx, path + ": another file of this disk has the same name");
    } else if (row->user > 0 && row->user < kCpmUsers && !ctx.MakeFolder(FolderOf(path))) {
      status = 1;
    } else if (!force && FileExists(path)) {
      status = Failed(ctx, path + ": file exists (--force replaces it)");
    } else if (!CollectCpmFile(disk, dir, row->key, row->user, bytes)) {
      status = Failed(ctx, path + ": " + kCpmCatalogErrorText);
    } else if (!WriteFileAtomic(path, raw ? Plus3FileBody(bytes) : std::span<const uint8_t>(bytes),
                                error)) {
      status = Failed(ctx, path + ": " + error);
    } else {
      written.insert(path);
      ctx.out << path << "\n";
    }
  }
  if (status != 0) ctx.status = status = ExitStatusOf(written.size(), rows.size());
  return status;
}

int CpmFileBytes(Context& ctx, const TZX_Disk& disk, const std::string& name,
                 std::vector<uint8_t>& out) {
  const CpmCatalog cat = ReadCpmCatalog(disk, {.hidden = true});
  const CpmFileRow* row = FindRow(cat, name);
  if (!row || !CollectCpmFile(disk, row->key, row->user, out))
    return Failed(ctx, name + ": no such file in the CP/M directory");
  // A +3 file's own bytes start after its PLUS3DOS header.
  const std::span<const uint8_t> body = Plus3FileBody(out);
  if (body.size() != out.size()) out = std::vector<uint8_t>(body.begin(), body.end());
  return 0;
}

int CpmAdd(Context& ctx, TZX_Disk& disk, const std::vector<std::string>& files,
           const CpmAddOptions& options) {
  std::string error;
  return AddCpmFiles(disk, files, options, error) ? 0 : Failed(ctx, error);
}

namespace {

// A name typed for a file of the disk: its user area and key. The key is
// matched without regard to case and to the attribute bits.
bool TypedCpmName(Context& ctx, const std::string& text, CpmName& out) {
  std::string error;
  if (ParseCpmName(text, out, error)) return true;
  ctx.Fail(error);
  return false;
}

}  // namespace

int CpmRemove(Context& ctx, TZX_Disk& disk, const std::vector<std::string>& names) {
  std::vector<CpmName> parsed;
  for (const std::string& text : names) {
    CpmName name;
    if (!TypedCpmName(ctx, text, name)) return 1;
    parsed.push_back(name);
  }
  std::string error;
  return RemoveCpmFiles(disk, parsed, error) ? 0 : Failed(ctx, error);
}

int CpmRename(Context& ctx, TZX_Disk& disk, const std::string& from, const std::string& to) {
  CpmName a, b;
  if (!TypedCpmName(ctx, from, a) || !TypedCpmName(ctx, to, b)) return 1;
  std::string error;
  return RenameCpmFile(disk, a, b, error) ? 0 : Failed(ctx, error);
}

int NewCpm(Context& ctx, const std::string& outPath) {
  auto disk = std::make_unique<TZX_Disk>();
  CreateCpmDisk(*disk);
  const SaveResult r = SaveImageFile(*disk, outPath, SaveOptions{});
  return r.ok ? 0 : Failed(ctx, outPath + ": " + r.errorText);
}

int NewPlus3(Context& ctx, const std::string& outPath) {
  auto disk = std::make_unique<TZX_Disk>();
  CreatePlus3Disk(*disk);
  const SaveResult r = SaveImageFile(*disk, outPath, SaveOptions{});
  return r.ok ? 0 : Failed(ctx, outPath + ": " + r.errorText);
}

int ScreenToPng(Context& ctx, std::span<const uint8_t> screen, const std::string& outPath,
                int scale) {
  scale = std::max(scale, 1);
  if (screen.size() < kZxScreenBytes) {
    return Failed(ctx, outPath + ": " + std::to_string(screen.size()) +
                           " bytes are too few for a screen of " + std::to_string(kZxScreenBytes));
  }
  const std::vector<uint8_t> rgb =
      ScaleRgb(ZxScreenToRgb(screen.first(kZxScreenBytes)), kZxScreenWidth, kZxScreenHeight, scale);
  std::string error;
  if (!WritePngRgb(outPath, rgb, kZxScreenWidth * scale, kZxScreenHeight * scale, error)) {
    return Failed(ctx, outPath + ": " + error);
  }
  return 0;
}

}  // namespace kelvara::cli
