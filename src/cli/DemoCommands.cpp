// demo: a small TR-DOS disk for trying the program without a floppy drive: a
// BASIC loader, a 6912-byte screen and a block of code, saved in the format
// of the output file's extension.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <memory>

#include "cli/Cli.h"
#include "formats/ImageFiles.h"

namespace kelvara::cli {

namespace {

constexpr int kSectorsPerTrack = 16;
constexpr int kSectorSize = 256;
constexpr int kTracks = 160;
constexpr int kFreeAtStart = (kTracks - 1) * kSectorsPerTrack;  // all but track 0

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

uint8_t* LogicalSector(TZX_Disk& disk, int logical) {
  TTrack& track = disk.GetTrack(static_cast<uint8_t>(logical / kSectorsPerTrack));
  return track.SectorHeader(static_cast<uint8_t>(logical % kSectorsPerTrack)).Data.data();
}

// An empty 80-cylinder two-sided TR-DOS disk with the files laid one after
// another from track 1, their catalog entries and the service sector.
void BuildDemoDisk(TZX_Disk& disk, const std::vector<DemoFile>& files) {
  disk.ClearImage();
  for (int t = 0; t < kTracks; ++t) {
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    track.Present = 0xFF;
    for (int s = 0; s < kSectorsPerTrack; ++s) {
      TSectorRec& sector = track.SectorHeader(static_cast<uint8_t>(s));
      sector = TSectorRec{};
      sector.Present = 0xFF;
      sector.Cyl = static_cast<uint8_t>(t / 2);
      sector.Sec = static_cast<uint8_t>(s + 1);
      sector.SizeCode = 1;
      sector.HeaderCrc = IdFieldCrc(sector.Cyl, 0, sector.Sec, 1);
      sector.DataOk = 0xFF;
      sector.DataLength = kSectorSize;
    }
  }
  int next = kSectorsPerTrack;  // logical sector: track 1, sector 0
  for (size_t i = 0; i < files.size(); ++i) {
    const DemoFile& f = files[i];
    const int sectors = static_cast<int>((f.bytes.size() + kSectorSize - 1) / kSectorSize);
    uint8_t* entry = LogicalSector(disk, 0) + i * 16;
    std::fill_n(entry, 8, ' ');
    std::copy_n(f.name, std::min<size_t>(8, std::strlen(f.name)), entry);
    const uint16_t length = f.length;
    const uint8_t fields[] = {static_cast<uint8_t>(f.type),
                              static_cast<uint8_t>(f.start),
                              static_cast<uint8_t>(f.start >> 8),
                              static_cast<uint8_t>(length),
                              static_cast<uint8_t>(length >> 8),
                              static_cast<uint8_t>(sectors),
                              static_cast<uint8_t>(next % kSectorsPerTrack),
                              static_cast<uint8_t>(next / kSectorsPerTrack)};
    std::copy(std::begin(fields), std::end(fields), entry + 8);
    for (int s = 0; s < sectors; ++s) {
      const size_t from = static_cast<size_t>(s) * kSectorSize;
      const size_t n = std::min<size_t>(kSectorSize, f.bytes.size() - from);
      std::copy_n(f.bytes.begin() + static_cast<ptrdiff_t>(from), n, LogicalSector(disk, next + s));
    }
    next += sectors;
  }
  uint8_t* info = LogicalSector(disk, 8);
  const int free = kFreeAtStart - (next - kSectorsPerTrack);
  info[0xE1] = static_cast<uint8_t>(next % kSectorsPerTrack);
  info[0xE2] = static_cast<uint8_t>(next / kSectorsPerTrack);
  info[0xE3] = 0x16;  // 80 cylinders, two sides
  info[0xE4] = static_cast<uint8_t>(files.size());
  info[0xE5] = static_cast<uint8_t>(free);
  info[0xE6] = static_cast<uint8_t>(free >> 8);
  info[0xE7] = 0x10;  // TR-DOS
  std::copy_n("DEMO    ", 8, info + 0xF5);
  disk.CountTracks();
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
    BuildDemoDisk(*disk, files);
    const SaveResult r = SaveImageFile(*disk, *out, {});
    if (!r.ok) ctx.Fail(*out + ": " + r.errorText);
  });
}

}  // namespace kelvara::cli
