// info and convert: an image file in, its summary or another image file out.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <memory>
#include <ostream>

#include "cli/Cli.h"
#include "formats/ImageFiles.h"

namespace kelvara::cli {

namespace {

// Loads an image by extension; on failure reports why and returns false.
void PrintInfo(Context& ctx, TZX_Disk& disk, const std::string& path) {
  std::ostream& out = ctx.out;
  const int tracks = disk.CountTracks();
  int first = -1, last = -1, minSectors = kSlotCount, maxSectors = 0, rawTracks = 0;
  for (int t = 0; t < kTrackCount; ++t) {
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    if (!track.Present) continue;
    if (first < 0) first = t;
    last = t;
    if (track.RawLength()) ++rawTracks;
    const int n = track.CountSectors();
    minSectors = std::min(minSectors, n);
    maxSectors = std::max(maxSectors, n);
  }
  // The map's states, so that info and map agree.
  const DataStateCounts states = disk.CountDataStates();
  out << "File:      " << path << "\n";
  out << "Format:    " << ExtensionKey(path) << "\n";
  out << "Tracks:    " << tracks;
  if (tracks) out << " present (" << first << "-" << last << ")";
  out << "\n";
  if (tracks) {
    out << "Sectors:   " << minSectors;
    if (maxSectors != minSectors) out << "-" << maxSectors;
    out << " per track\n";
  }
  out << "Good:      " << states.good << "\n";
  out << "Bad:       " << states.bad << "\n";
  out << "No data:   " << states.noData << "\n";
  out << "Raw tracks: " << rawTracks << "\n";
  if (!disk.StatusText.empty()) out << "Note:      " << disk.StatusText << "\n";
  out << "Comment:   " << disk.Comment.size() << " line(s)\n";
  for (const std::string& line : disk.Comment)
    out << "  " << line << "\n";
}

}  // namespace

void RegisterImageCommands(CLI::App& app, Context& ctx) {
  auto* info = app.add_subcommand("info", "Summary of an image file: tracks, sectors, comment");
  auto infoPath = std::make_shared<std::string>();
  info->add_option("IMAGE", *infoPath, "Image file")->required();
  info->callback([&ctx, infoPath] {
    if (auto disk = ctx.LoadImage(*infoPath)) PrintInfo(ctx, *disk, *infoPath);
  });

  auto* convert = app.add_subcommand(
      "convert", "Convert an image file; reader and writer are chosen by the file extensions");
  struct Paths {
    std::string in, out;
    bool td0Compress = false;
  };
  auto paths = std::make_shared<Paths>();
  convert->add_option("IN", paths->in, "Image file to read")->required();
  convert->add_option("OUT", paths->out, "Image file to write")->required();
  CLI::Option* td0Compress =
      convert->add_flag("--td0-compress,!--no-td0-compress", paths->td0Compress,
                        "Pack a TD0 file (LZH) or not, whatever the setting TD0arch says");
  convert->callback([&ctx, paths, td0Compress] {
    const std::string& out = paths->out;
    auto disk = ctx.LoadImage(paths->in);
    if (!disk) return;
    SaveOptions options;
    options.restoreTrack = ctx.Settings().RestoreTrack;
    options.td0Compress = td0Compress->count() ? paths->td0Compress : ctx.Settings().TD0arch;
    const SaveResult r = SaveImageFile(*disk, out, options, ImageTypes::WithProject);
    if (!r.ok)
      ctx.Fail(out + ": " + r.errorText + (r.logLine.empty() ? "" : " (" + r.logLine + ")"));
    else if (!r.note.empty())
      ctx.out << out << ": " << r.note << "\n";
  });
}

}  // namespace kelvara::cli
