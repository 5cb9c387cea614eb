// cat, extract, add, rm, compact and new trdos: the TR-DOS catalog window's
// commands for scripts, and add, rm and rename on the other disks whose
// files change (CP/M, and tape files onto any system that takes them). A
// command that changes an image saves it back (by its extension,
// atomically) only when the whole command succeeded, so a failure part-way
// leaves the file as it was.
#include "cli/TrdosCommands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

#include "cli/CliPrompt.h"
#include "cli/CpmCommands.h"
#include "cli/TapeCommands.h"
#include "filesystems/CpmCatalog.h"
#include "formats/ImageFiles.h"
#include "model/CodePage.h"
#include "model/TrackSlots.h"
#include "session/JsonReports.h"
#include "session/TapeExchange.h"
#include "session/TrdosCatalog.h"

namespace kelvara::cli {

namespace {

// Width on a terminal: UTF-8 continuation bytes take no column.
size_t Columns(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    n += (c & 0xC0) != 0x80;
  return n;
}

std::string PadTo(std::string s, size_t width) {
  const size_t n = Columns(s);
  if (n < width) s.append(width - n, ' ');
  return s;
}

// Names on old disks may hold control bytes; they would steer the terminal.
std::string Printable(std::string s) {
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 32) c = '?';
  }
  return s;
}

void PrintList(std::ostream& out, const std::vector<TrdosListRow>& rows) {
  std::array<size_t, kTrdosListColumns.size()> width{};
  for (size_t c = 0; c < width.size(); ++c) {
    width[c] = Columns(kTrdosListColumns[c]);
    for (const TrdosListRow& r : rows)
      width[c] = std::max(width[c], Columns(r.cells[c]));
  }
  auto line = [&](auto cell) {
    std::string text;
    for (size_t c = 0; c < width.size(); ++c)
      text += c + 1 < width.size() ? PadTo(cell(c), width[c] + 2) : cell(c);
    out << text << "\n";
  };
  line([](size_t c) { return std::string(kTrdosListColumns[c]); });
  for (const TrdosListRow& r : rows)
    line([&](size_t c) { return Printable(r.cells[c]); });
}

// Catalog indices of the live files named NAME.T (the name without its
// padding spaces). False, after saying which, when a name matches no file.
bool FindFiles(Context& ctx, const TTrdosCatalog& cat, const std::vector<std::string>& names,
               std::vector<int>& out) {
  for (const std::string& arg : names) {
    const size_t dot = arg.find_last_of('.');
    const std::string name = Utf8ToCp1251(arg.substr(0, dot));
    const std::string type = dot == std::string::npos ? "" : Utf8ToCp1251(arg.substr(dot + 1));
    bool found = false;
    if (name.size() <= 8 && type.size() == 1) {
      const auto bytes = TrdosNameBytes(arg.substr(0, dot), ' ');
      for (int i = 0; i < cat.ListedBound(); ++i) {
        const TTrdosFileEntry& e = cat.Entries[i];
        if (e.IsLive() && e.Name == bytes && e.FileType == static_cast<uint8_t>(type[0])) {
          out.push_back(i);
          found = true;
        }
      }
    }
    if (!found) {
      ctx.Fail("no file " + arg + " on the disk");
      return false;
    }
  }
  return true;
}

// The status of a catalog command: its failure was shown already; a
// question declined for want of a user is a failure here. An export that
// wrote some of its `total` files before it ended is partly done.
int StatusOf(Context& ctx, const CatalogOutcome& r, const CliPrompt& prompt, size_t total = 0) {
  if (r.cancelled && !prompt.Declined().empty())
    ctx.Fail(prompt.Declined().back() + " (use --force to overwrite)");
  if (!r.ok) ctx.status = kExitRefused;
  if (ctx.status != kExitDone && r.files > 0)
    ctx.status = ExitStatusOf(static_cast<size_t>(r.files), total);
  return ctx.status;
}

// Loads an image, lets `change` work on it and saves it back when it succeeded.
void ChangeImage(Context& ctx, const std::string& path,
                 const std::function<int(TZX_Disk&)>& change) {
  auto disk = std::make_unique<TZX_Disk>();
  const LoadResult loaded = LoadImageFile(*disk, path);
  if (!loaded.ok) return ctx.Fail(path + ": " + loaded.errorText);
  if (change(*disk) != 0) return;
  // The raw tracks follow the changed sectors, as when the catalog window
  // closes after a change.
  SectorsToRawAll(*disk);
  SaveImage(ctx, *disk, path);
}

}  // namespace

void SaveImage(Context& ctx, TZX_Disk& disk, const std::string& path) {
  SaveOptions options;
  options.restoreTrack = ctx.Settings().RestoreTrack;
  options.td0Compress = ctx.Settings().TD0arch;
  const SaveResult saved = SaveImageFile(disk, path, options);
  if (!saved.ok) return ctx.Fail(path + ": " + saved.errorText);
  for (const std::string& note : saved.notes)
    ctx.err << path << ": " << note << "\n";
}

namespace {

void PrintCatalog(Context& ctx, TrdosCatalog& cat, bool showDeleted) {
  if (cat.ShowDeleted() != showDeleted) cat.ToggleShowDeleted();
  size_t width = 0;
  for (const LabelledValue& v : cat.Description())
    width = std::max(width, Columns(v.label));
  for (const LabelledValue& v : cat.Description())
    ctx.out << PadTo(v.label + ":", width + 2) << Printable(v.value) << "\n";
  ctx.out << "\n";
  PrintList(ctx.out, cat.Rows());
}

}  // namespace

int TrdosCat(Context& ctx, TZX_Disk& disk, bool showDeleted) {
  CliPrompt prompt(ctx, false);
  TrdosCatalog cat(disk, prompt, ctx.Settings());
  if (!cat.OpenFromImage()) return ctx.status;
  PrintCatalog(ctx, cat, showDeleted);
  return 0;
}

int TrdosCatAsJson(Context& ctx, TZX_Disk& disk, bool showDeleted, const std::string& path) {
  CliPrompt prompt(ctx, false);
  TrdosCatalog cat(disk, prompt, ctx.Settings());
  if (!cat.OpenFromImage()) return ctx.status;
  ctx.out << TrdosCatJson(cat.Catalog(), path, showDeleted) << "\n";
  return 0;
}

int TrdosFileBytes(Context& ctx, const TZX_Disk& disk, const std::string& name,
                   std::vector<uint8_t>& out) {
  TTrdosCatalog cat;
  if (!ReadTrdosCatalog(disk, cat)) {
    ctx.Fail("no TR-DOS catalog on the image");
    return ctx.status;
  }
  std::vector<int> entries;
  if (!FindFiles(ctx, cat, {name}, entries)) return ctx.status;
  const TTrdosFileEntry& e = cat.Entries[entries.front()];
  TrdosSectorAddress failed;
  if (!ReadTrdosRun(disk, e.FirstTrack, e.FirstSector, e.SectorCount, out, failed)) {
    ctx.Fail(name + ": sector " + std::to_string(failed.sec) + " of track " +
             std::to_string(failed.track) + " cannot be read");
    return ctx.status;
  }
  return 0;
}

bool TrdosCatFromDrive(Context& ctx, std::span<const uint8_t> track0, bool showDeleted) {
  CliPrompt prompt(ctx, false);
  auto disk = std::make_unique<TZX_Disk>();  // a drive's catalog is read-only: no image behind it
  TrdosCatalog cat(*disk, prompt, ctx.Settings());
  if (!cat.OpenFromDrive(track0)) return false;
  PrintCatalog(ctx, cat, showDeleted);
  return true;
}

int TrdosExtract(Context& ctx, TZX_Disk& disk, const std::vector<std::string>& names,
                 const TrdosExtractOptions& options) {
  CliPrompt prompt(ctx, options.force);
  TrdosCatalog cat(disk, prompt, ctx.Settings());
  if (!cat.OpenFromImage()) return ctx.status;
  std::vector<int> entries;
  if (!FindFiles(ctx, cat.Catalog(), names, entries)) return ctx.status;
  if (names.empty()) {
    for (const TrdosListRow& r : ListTrdosFiles(cat.Catalog(), false))
      entries.push_back(r.entry);
  }
  if (options.mode == TrdosExtractOptions::Mode::Scl) {
    if (entries.empty()) {
      ctx.Fail("Файлы для сохранения не выбраны..!");
      return ctx.status;
    }
    return StatusOf(ctx, cat.ExportSclTo(options.sclFile, entries), prompt);
  }
  if (!ctx.MakeFolder(options.folder)) return ctx.status;
  const ExportKind kind =
      options.mode == TrdosExtractOptions::Mode::Raw ? ExportKind::Raw : ExportKind::Hobeta;
  return StatusOf(ctx, cat.ExportFilesTo(options.folder, entries, kind), prompt, entries.size());
}

int TrdosAdd(Context& ctx, TZX_Disk& disk, const std::vector<std::string>& files) {
  CliPrompt prompt(ctx, false);
  TrdosCatalog cat(disk, prompt, ctx.Settings());
  if (!cat.OpenFromImage()) return ctx.status;
  return StatusOf(ctx, cat.AddFilesFrom(files), prompt);
}

int TrdosRemove(Context& ctx, TZX_Disk& disk, const std::vector<std::string>& names) {
  CliPrompt prompt(ctx, false);
  TrdosCatalog cat(disk, prompt, ctx.Settings());
  if (!cat.OpenFromImage()) return ctx.status;
  std::vector<int> entries;
  if (!FindFiles(ctx, cat.Catalog(), names, entries)) return ctx.status;
  return StatusOf(ctx, cat.DeleteEntries(entries), prompt);
}

int TrdosCompact(Context& ctx, TZX_Disk& disk) {
  CliPrompt prompt(ctx, false);
  TrdosCatalog cat(disk, prompt, ctx.Settings());
  if (!cat.OpenFromImage()) return ctx.status;
  return StatusOf(ctx, cat.CompactVolume(), prompt);
}

namespace {

struct ChangeArgs {
  std::string image;
  std::vector<std::string> list;
  std::string as;  // add: N: or N:NAME.EXT
  std::optional<uint16_t> code;
};

int AddToImage(Context& ctx, TZX_Disk& disk, const ChangeArgs& a) {
  if (IsCpmImage(disk)) {
    CpmAddOptions options;
    options.codeStart = a.code;
    if (!a.as.empty()) {
      CpmName name;
      std::string error;
      // "N:" alone names the user area; the name then comes from each file.
      const bool userOnly = a.as.back() == ':';
      if (!ParseCpmName(userOnly ? a.as + "X" : a.as, name, error)) {
        ctx.Fail("--as " + error);
        return 1;
      }
      options.user = name.user;
      if (!userOnly) options.name = name.key;
    }
    return CpmAdd(ctx, disk, a.list, options);
  }
  if (!a.as.empty() || a.code) {
    ctx.Fail("--as and --code are for CP/M disks (+3DOS, CPC, Profi)");
    return 1;
  }
  // TR-DOS takes SCL, Hobeta and tape files; a disk of another system with
  // a tape form takes tape files.
  TTrdosCatalog probe;
  if (!ReadTrdosCatalog(disk, probe) && TapeSystemOf(disk)) return AddTapes(ctx, disk, a.list);
  return TrdosAdd(ctx, disk, a.list);
}

}  // namespace

void RegisterTrdosCommands(CLI::App& app, Context& ctx) {
  auto a = std::make_shared<ChangeArgs>();

  auto* add = app.add_subcommand(
      "add", "Add files to an image: SCL, Hobeta and tape files to TR-DOS, any file to CP/M");
  add->add_option("IMAGE", a->image, "Image file, saved back in its format")->required();
  add->add_option("FILES", a->list,
                  "TR-DOS: SCL (*.scl), tape (*.tap, *.tzx) and Hobeta (*.$?) files; CP/M: any "
                  "file, tape files on +3DOS and CPC disks")
      ->required();
  add->add_option("--as", a->as,
                  "CP/M: N: puts the files into user area N; N:NAME.EXT also names the one file");
  add->add_option("--code", a->code,
                  "+3DOS, CPC: a file without a PLUS3DOS header gets one, CODE at this address");
  add->callback([&ctx, a] {
    ChangeImage(ctx, a->image, [&](TZX_Disk& d) { return AddToImage(ctx, d, *a); });
  });

  auto* rm = app.add_subcommand("rm", "Delete files of a TR-DOS or CP/M disk");
  rm->add_option("IMAGE", a->image, "Image file, saved back in its format")->required();
  rm->add_option("NAMES", a->list, "Files as NAME.T (TR-DOS) or [N:]NAME.EXT (CP/M)")->required();
  rm->callback([&ctx, a] {
    ChangeImage(ctx, a->image, [&](TZX_Disk& d) {
      return IsCpmImage(d) ? CpmRemove(ctx, d, a->list) : TrdosRemove(ctx, d, a->list);
    });
  });

  auto* rename = app.add_subcommand("rename", "Rename a file of a CP/M disk (+3DOS, CPC, Profi)");
  rename->add_option("IMAGE", a->image, "Image file, saved back in its format")->required();
  rename->add_option("NAMES", a->list, "OLD NEW, each as [N:]NAME.EXT")->required()->expected(2);
  rename->callback([&ctx, a] {
    ChangeImage(ctx, a->image, [&](TZX_Disk& d) {
      if (IsCpmImage(d)) return CpmRename(ctx, d, a->list[0], a->list[1]);
      ctx.Fail(
          "rename works on CP/M disks; a TR-DOS file is renamed in the catalog window's "
          "entry editor");
      return 1;
    });
  });

  auto* compact = app.add_subcommand("compact", "Close the gaps left by deleted files");
  compact->add_option("IMAGE", a->image, "Image file, saved back in its format")->required();
  compact->callback(
      [&ctx, a] { ChangeImage(ctx, a->image, [&](TZX_Disk& d) { return TrdosCompact(ctx, d); }); });
}

}  // namespace kelvara::cli
