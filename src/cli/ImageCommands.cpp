// info and convert: an image file in, its summary or another image file out.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <memory>
#include <ostream>

#include "cli/BatchCommands.h"
#include "cli/Cli.h"
#include "formats/ImageFiles.h"
#include "session/JsonReports.h"

namespace kelvara::cli {

namespace {

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
  if (tracks) out << " present (" << CylSideText(first) << "-" << CylSideText(last) << ")";
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
  struct InfoArgs {
    std::string path;
    bool json = false;
  };
  auto infoArgs = std::make_shared<InfoArgs>();
  info->add_option("IMAGE", infoArgs->path, "Image file")->required();
  info->add_flag("--json", infoArgs->json, "Print the summary as one JSON object (see the README)");
  info->callback([&ctx, infoArgs] {
    auto disk = ctx.LoadImage(infoArgs->path);
    if (!disk) return;
    if (infoArgs->json) {
      ctx.out << InfoJson(*disk, infoArgs->path) << "\n";
    } else {
      PrintInfo(ctx, *disk, infoArgs->path);
    }
  });

  auto* convert = app.add_subcommand(
      "convert",
      "Convert an image file (IN OUT), or with --to every image named or found in the folders "
      "named into -o DIR; reader and writer are chosen by the file extensions");
  struct Args {
    BatchConvertArgs batch;
    bool td0Compress = false;
    int revolutions = 1;
  };
  auto a = std::make_shared<Args>();
  convert->add_option("FILES", a->batch.inputs, "IN OUT; with --to: images and folders to convert")
      ->required();
  CLI::Option* td0Compress =
      convert->add_flag("--td0-compress,!--no-td0-compress", a->td0Compress,
                        "Pack a TD0 file (LZH) or not, whatever the setting TD0arch says");
  convert->add_option("--revolutions", a->revolutions, "Revolutions a track in an SCP file")
      ->check(CLI::Range(1, 5));
  CLI::Option* to =
      convert->add_option("--to", a->batch.to, "Batch: the format to write, by its extension (udi)")
          ->check([](const std::string& key) -> std::string {
            std::string upper = key;
            for (char& c : upper)
              c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return FindImageFormat(upper, ImageTypes::WithProject)
                       ? ""
                       : "not an image type kelvara-cli writes: " + key;
          });
  CLI::Option* dir =
      convert->add_option("-o,--output", a->batch.outputFolder, "Batch: the folder to write into");
  to->needs(dir);
  dir->needs(to);
  CLI::Option* force =
      convert->add_flag("-f,--force", a->batch.force, "Batch: replace outputs that exist");
  force->needs(to);
  convert
      ->add_flag("-r,--recursive", a->batch.batch.recursive,
                 "Batch: descend into the subfolders of a folder named")
      ->needs(to);
  convert
      ->add_option("-j,--jobs", a->batch.batch.jobs,
                   "Batch: conversions at once (default: the number of cores)")
      ->check(CLI::Range(1, 256))
      ->needs(to);
  convert->add_flag("--json", a->batch.batch.json, "Batch: the summary as one JSON object")
      ->needs(to);
  convert->callback([&ctx, a, td0Compress, to] {
    SaveOptions options;
    options.restoreTrack = ctx.Settings().RestoreTrack;
    options.td0Compress = td0Compress->count() ? a->td0Compress : ctx.Settings().TD0arch;
    options.scpRevolutions = a->revolutions;
    if (to->count()) {
      for (char& c : a->batch.to)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return RunBatchConvert(ctx, a->batch, options);
    }
    const std::vector<std::string>& files = a->batch.inputs;
    if (files.size() != 2)
      throw CLI::ValidationError("convert", "IN OUT, or --to FMT -o DIR IN...");
    const std::string& out = files[1];
    auto disk = ctx.LoadImage(files[0]);
    if (!disk) return;
    // What the reader left out or noted, then what the output cannot keep.
    if (!disk->StatusText.empty()) ctx.err << files[0] << ": " << disk->StatusText << "\n";
    const SaveResult r = SaveImageFile(*disk, out, options, ImageTypes::WithProject);
    if (!r.ok)
      return ctx.Fail(out + " not written: " + r.errorText +
                      (r.logLine.empty() ? "" : " (" + r.logLine + ")"));
    for (const std::string& note : r.notes)
      ctx.err << out << ": " << note << "\n";
  });
}

}  // namespace kelvara::cli
