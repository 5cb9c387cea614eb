// map: the disk map as text, a row per present track as the desktop
// program's map shows it.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>

#include "cli/Cli.h"
#include "formats/ImageFiles.h"

namespace kelvara::cli {

namespace {

// The map cell's colour as a character.
char SectorMark(const TSectorRec& s) {
  switch (SectorDataState(s)) {
    case DataState::Good:
      return '+';
    case DataState::Bad:
      return 'x';
    case DataState::NoData:
      break;
  }
  return '-';
}

void PrintMap(std::ostream& out, const TZX_Disk& disk) {
  out << "+ good  x bad  - no data  R raw track bytes\n";
  for (int t = 0; t < kTrackCount; ++t) {
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    if (!track.Present) continue;
    std::string marks;
    for (const TSectorRec& s : track.Sectors) {
      if (s.Present) marks += SectorMark(s);
    }
    char label[8];
    std::snprintf(label, sizeof label, "T%03d", t);
    out << label << (track.RawLength ? " R " : "   ") << marks << "\n";
  }
}

}  // namespace

void RegisterMapCommands(CLI::App& app, Context& ctx) {
  auto* map =
      app.add_subcommand("map", "The disk map as text: a row per present track, a mark per sector");
  auto path = std::make_shared<std::string>();
  map->add_option("IMAGE", *path, "Image file")->required();
  map->callback([&ctx, path] {
    if (auto disk = ctx.LoadImage(*path)) PrintMap(ctx.out, *disk);
  });
}

}  // namespace kelvara::cli
