// cat, extract, new and screen: the file-system commands that work on TR-DOS
// and CP/M disks alike. An image whose track 0 has the CP/M Profi layout is
// taken as CP/M, any other as TR-DOS.
#include <CLI/CLI.hpp>
#include <memory>

#include "cli/Cli.h"
#include "cli/CpmCommands.h"
#include "cli/TapeCommands.h"
#include "cli/TrdosCommands.h"
#include "filesystems/CpmCatalog.h"
#include "filesystems/Trdos.h"
#include "formats/ImageFiles.h"
#include "model/FileIO.h"
#include "session/JsonReports.h"
#include "session/Viewers.h"

namespace kelvara::cli {

namespace {

void RegisterCat(CLI::App& app, Context& ctx) {
  struct Args {
    std::string image;
    bool deleted = false, json = false;
    CpmShowOptions cpm;
  };
  auto a = std::make_shared<Args>();
  auto* cmd =
      app.add_subcommand("cat", "The catalog of a TR-DOS or CP/M (Profi, +3DOS, CPC) disk image");
  cmd->add_option("IMAGE", a->image, "Image file")->required();
  cmd->add_flag("--deleted", a->deleted, "List deleted files too");
  cmd->add_flag("--hidden", a->cpm.hidden, "CP/M: list the files of users 1-15 too");
  cmd->add_flag("--json", a->json, "Print the catalog as one JSON object (see the README)");
  cmd->callback([&ctx, a] {
    auto disk = ctx.LoadImage(a->image);
    if (!disk) return;
    if (IsCpmImage(*disk)) {
      a->cpm.deleted = a->deleted;
      if (a->json) {
        ctx.out << CpmCatJson(ReadCpmCatalog(*disk, a->cpm), a->image) << "\n";
      } else {
        CpmCat(ctx, *disk, a->cpm);
      }
    } else if (a->json) {
      TrdosCatAsJson(ctx, *disk, a->deleted, a->image);
    } else {
      TrdosCat(ctx, *disk, a->deleted);
    }
  });
}

void RegisterExtract(CLI::App& app, Context& ctx) {
  struct Args {
    std::string image, scl, tap;
    std::vector<std::string> names;
    bool hobeta = false, raw = false;
    TrdosExtractOptions trdos;
    CpmShowOptions cpm;
  };
  auto a = std::make_shared<Args>();
  auto* cmd = app.add_subcommand("extract", "Copy files out of a TR-DOS or CP/M disk image");
  cmd->add_option("IMAGE", a->image, "Image file")->required();
  cmd->add_option("NAMES", a->names,
                  "Files as NAME.T, NAME.EXT or USER:NAME.EXT (default: every listed file; "
                  "other users' files go into a folder per user)");
  auto* hob =
      cmd->add_flag("--hobeta", a->hobeta, "TR-DOS: one Hobeta file each, NAME.$T (default)");
  auto* scl = cmd->add_option("--scl", a->scl, "TR-DOS: all of them into one SCL file");
  auto* raw = cmd->add_flag("--raw", a->raw,
                            "TR-DOS: the file's bytes, its length long, as NAME.T; +3DOS: the "
                            "file without its PLUS3DOS header");
  auto* tap = cmd->add_option("--tap", a->tap,
                              "TR-DOS, +3DOS: all of them as tape files into one TAP file (TZX "
                              "when FILE ends in .tzx)");
  hob->excludes(scl)->excludes(raw)->excludes(tap);
  scl->excludes(raw)->excludes(tap);
  raw->excludes(tap);
  cmd->add_option("-o,--output,-d,--dir", a->trdos.folder,
                  "Folder to write into (default: the current one)");
  cmd->add_flag("-f,--force", a->trdos.force, "Overwrite existing files");
  cmd->add_flag("--deleted", a->cpm.deleted, "CP/M: include deleted files");
  cmd->add_flag("--hidden", a->cpm.hidden, "CP/M: include the files of users 1-15");
  cmd->callback([&ctx, a] {
    auto disk = ctx.LoadImage(a->image);
    if (!disk) return;
    if (!a->tap.empty()) {
      ExtractTap(ctx, *disk, a->names, a->tap, a->trdos.force);
      return;
    }
    if (IsCpmImage(*disk)) {
      CpmExtract(ctx, *disk, a->names, a->trdos.folder, a->cpm, a->trdos.force, a->raw);
      return;
    }
    using Mode = TrdosExtractOptions::Mode;
    a->trdos.mode = !a->scl.empty() ? Mode::Scl : a->raw ? Mode::Raw : Mode::Hobeta;
    a->trdos.sclFile = a->scl;
    TrdosExtract(ctx, *disk, a->names, a->trdos);
  });
}

void RegisterNew(CLI::App& app, Context& ctx) {
  struct Args {
    std::string out, name = "NEW DISK";
  };
  auto a = std::make_shared<Args>();
  auto* cmd = app.add_subcommand("new", "Write a new empty disk image");
  cmd->require_subcommand(1);
  auto* trdos = cmd->add_subcommand("trdos", "Empty 80-track two-sided TR-DOS disk");
  trdos->add_option("OUT", a->out, "Image file to write; the format by its extension")->required();
  trdos->add_option("--name", a->name, "Disk name, at most 8 characters (default NEW DISK)");
  trdos->callback([&ctx, a] {
    auto disk = std::make_unique<TZX_Disk>();
    CreateTrdosDisk(*disk, a->name);
    disk->CountTracks();
    SaveImage(ctx, *disk, a->out);
  });
  auto* cpm = cmd->add_subcommand("cpm", "Empty CP/M Profi disk (160 tracks of 5 x 1024 bytes)");
  cpm->add_option("OUT", a->out, "Image file to write, e.g. disk.pro")->required();
  cpm->callback([&ctx, a] { NewCpm(ctx, a->out); });
  auto* plus3 =
      cmd->add_subcommand("plus3", "Empty +3 disk (40 tracks of 9 x 512 bytes, one side)");
  plus3->add_option("OUT", a->out, "Image file to write, e.g. disk.dsk")->required();
  plus3->callback([&ctx, a] { NewPlus3(ctx, a->out); });
}

void RegisterScreen(CLI::App& app, Context& ctx) {
  struct Args {
    std::vector<std::string> paths;  // FILE.scr OUT.png, or IMAGE NAME OUT.png
    int scale = 1;
  };
  auto a = std::make_shared<Args>();
  auto* cmd = app.add_subcommand("screen", "A ZX screen (6912 bytes) as a PNG picture");
  cmd->add_option("FILES", a->paths, "FILE.scr OUT.png, or IMAGE NAME OUT.png")
      ->required()
      ->expected(2, 3)
      ->type_name("PATH");
  cmd->add_option("--scale", a->scale, "Enlarge 1, 2 or 3 times")->check(CLI::Range(1, 3));
  cmd->callback([&ctx, a] {
    const std::vector<std::string>& p = a->paths;
    std::vector<uint8_t> bytes;
    if (p.size() == 2) {
      std::string error;
      if (!ReadWholeFile(p[0], bytes, error)) return ctx.Fail(error);
      if (bytes.size() != kZxScreenBytes) {
        return ctx.Fail(p[0] + ": " + std::to_string(bytes.size()) + " bytes, a screen file has " +
                        std::to_string(kZxScreenBytes));
      }
    } else {
      auto disk = ctx.LoadImage(p[0]);
      if (!disk) return;
      const int status = IsCpmImage(*disk) ? CpmFileBytes(ctx, *disk, p[1], bytes)
                                           : TrdosFileBytes(ctx, *disk, p[1], bytes);
      if (status != 0) return;
    }
    ScreenToPng(ctx, bytes, p.back(), a->scale);
  });
}

}  // namespace

void RegisterFileCommands(CLI::App& app, Context& ctx) {
  RegisterCat(app, ctx);
  RegisterExtract(app, ctx);
  RegisterNew(app, ctx);
  RegisterScreen(app, ctx);
}

}  // namespace kelvara::cli
