// demo: a small TR-DOS disk for trying the program without a floppy drive: a
// BASIC loader, a 6912-byte screen and a block of code, saved in the format
// of the output file's extension.
#include <CLI/CLI.hpp>
#include <memory>

#include "cli/Cli.h"
#include "cli/CliPrompt.h"
#include "filesystems/Hobeta.h"
#include "filesystems/Trdos.h"
#include "formats/ImageFiles.h"
#include "session/TrdosCatalog.h"

namespace kelvara::cli {

namespace {

struct DemoFile {
  const char* name;  // up to 8 characters, padded with blanks
  char type;
  uint16_t start;              // BASIC: the program's length; code: its address
  uint16_t length;             // the catalog's length
  std::vector<uint8_t> bytes;  // stored from the first sector; may run past length
};

// 10 PRINT "..." in tokenised ZX BASIC (line number high byte first), then
// the TR-DOS autostart mark with the line to run.
std::vector<uint8_t> BasicLoader() {
  const std::string text = "KELVARA DEMO DISK";
  std::vector<uint8_t> line = {0xF5, '"'};  // PRINT
  line.insert(line.end(), text.begin(), text.end());
  line.insert(line.end(), {'"', 0x0D});
  std::vector<uint8_t> program = {0x00, 10, static_cast<uint8_t>(line.size()),
                                  static_cast<uint8_t>(line.size() >> 8)};
  program.insert(program.end(), line.begin(), line.end());
  return program;
}

// Eight colour bands of chequered character cells.
std::vector<uint8_t> Screen() {
  std::vector<uint8_t> screen(6912);
  for (int y = 0; y < 192; ++y) {
    // The screen's odd line order: third, character row within it, pixel row.
    const int offset = (y / 64) * 2048 + (y % 8) * 256 + ((y / 8) % 8) * 32;
    for (int x = 0; x < 32; ++x)
      screen[static_cast<size_t>(offset + x)] = ((x + y / 8) % 2) ? 0xFF : 0x81;
  }
  for (int cell = 0; cell < 768; ++cell) {
    const int paper = (cell % 32) / 4;
    screen[static_cast<size_t>(6144 + cell)] =
        static_cast<uint8_t>(0x40 | paper << 3 | (7 - paper));
  }
  return screen;
}

std::vector<uint8_t> Code() {
  std::vector<uint8_t> code(1000);
  for (size_t i = 0; i < code.size(); ++i)
    code[i] = static_cast<uint8_t>(i * 37 + 11);
  return code;
}

// A new TR-DOS disk with the files added one after another from track 1,
// each as a Hobeta file would bring it.
bool BuildDemoDisk(Context& ctx, TZX_Disk& disk, const std::vector<DemoFile>& files) {
  CreateTrdosDisk(disk, "DEMO");
  disk.CountTracks();
  CliPrompt prompt(ctx, false);
  TrdosCatalog catalog(disk, prompt, ctx.Settings());
  if (!catalog.OpenFromImage()) return false;
  for (const DemoFile& f : files) {
    TTrdosFileEntry entry;
    entry.Name = TrdosNameBytes(f.name, ' ');
    entry.FileType = static_cast<uint8_t>(f.type);
    entry.Start = f.start;
    entry.Length = f.length;
    entry.SectorCount =
        static_cast<uint8_t>((f.bytes.size() + kTrdosSectorSize - 1) / kTrdosSectorSize);
    const auto header = HobetaHeader(entry);
    std::vector<uint8_t> hobeta(header.begin(), header.end());
    hobeta.insert(hobeta.end(), f.bytes.begin(), f.bytes.end());
    hobeta.resize(header.size() + entry.SectorCount * kTrdosSectorSize);
    if (!catalog.ImportBytes(std::string(f.name) + ".$" + f.type, hobeta)) return false;
  }
  std::string error;
  if (WriteTrdosCatalog(disk, catalog.Catalog(), error)) return true;
  ctx.Fail(error);
  return false;
}

}  // namespace

void RegisterDemoCommands(CLI::App& app, Context& ctx) {
  auto* demo = app.add_subcommand(
      "demo", "Write a small TR-DOS demo disk (a BASIC loader, a screen, a code block)");
  auto out = std::make_shared<std::string>();
  demo->add_option("OUT", *out, "Image file to write; its extension chooses the format")
      ->required();
  demo->callback([&ctx, out] {
    std::vector<uint8_t> basic = BasicLoader();
    const auto programLength = static_cast<uint16_t>(basic.size());
    // TR-DOS keeps a BASIC program's autostart line just past its end.
    basic.insert(basic.end(), {0x80, 0xAA, 10, 0});
    const std::vector<DemoFile> files = {
        {"boot", 'B', programLength, programLength, basic},
        {"screen", 'C', 16384, 6912, Screen()},
        {"code", 'C', 32768, 1000, Code()},
    };
    auto disk = std::make_unique<TZX_Disk>();
    if (!BuildDemoDisk(ctx, *disk, files)) return;
    const SaveResult r = SaveImageFile(*disk, *out, {});
    if (!r.ok) ctx.Fail(*out + ": " + r.errorText);
  });
}

}  // namespace kelvara::cli
