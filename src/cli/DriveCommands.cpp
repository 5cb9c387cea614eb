// read, write and drive-cat: the floppy drive operations over the same core
// as the desktop program. LOG lines go to stdout, message boxes to stderr,
// and a progress line to stderr when it is a terminal. Ctrl-C cancels a run
// as the progress window's "Отмена" does. Exit status: 0 when every sector
// was done, 2 when the run finished with some not done, 1 when nothing was
// done or the command was refused.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <ostream>

#include "cli/Cli.h"
#include "cli/TrdosCommands.h"
#include "drive/DriveSession.h"
#include "drive/VirtualFloppy.h"
#include "drive/flux/FluxFloppy.h"
#include "filesystems/Trdos.h"
#include "formats/ImageFiles.h"
#include "model/FileIO.h"

namespace kelvara::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
  g_interrupted = 1;
}

// Ctrl-C sets the cancel flag while a run is going.
class InterruptGuard {
 public:
  InterruptGuard() {
    g_interrupted = 0;
    previous_ = std::signal(SIGINT, OnInterrupt);
  }
  ~InterruptGuard() { std::signal(SIGINT, previous_); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  void (*previous_)(int);
};

std::string OnePerLine(std::string text) {
  for (char& c : text)
    if (c == '\r') c = '\n';
  return text;
}

class CliOperationHost final : public OperationHost {
 public:
  CliOperationHost(std::ostream& out, std::ostream& err, bool progressLine)
      : out_(out), err_(err), progressLine_(progressLine) {}
  ~CliOperationHost() override { EndProgress(); }

  void ClearLog() override {}
  void AddLog(const std::string& line, bool) override {
    EndProgress();
    out_ << line << "\n";
  }
  void SetTrackLabel(const std::string& text) override {
    label_ = text;
    Draw();
  }
  // The progress line counts the tracks of the run's range.
  void SetRun(const DriveRunPlan& plan) { plan_ = plan; }
  void SetProgress(int position, int maximum) override {
    const RunProgress p = ProgressOfRun(plan_, position);
    position_ = p.done;
    maximum_ = plan_.start ? p.total : maximum;
    Draw();
  }
  void ProcessEvents() override {}
  bool CancelRequested() override { return g_interrupted != 0; }
  void ShowMessage(const std::string& caption, const std::string& text) override {
    EndProgress();
    err_ << caption << " " << OnePerLine(text) << "\n";
  }

 private:
  void Draw() {
    if (!progressLine_) return;
    err_ << "\rДорожка - " << label_ << "  " << position_ << "/" << maximum_ << "   " << std::flush;
    drawn_ = true;
  }
  void EndProgress() {
    if (!drawn_) return;
    err_ << "\r\033[K" << std::flush;
    drawn_ = false;
  }

  std::ostream& out_;
  std::ostream& err_;
  bool progressLine_;
  bool drawn_ = false;
  std::string label_ = "0";
  int position_ = 0;
  int maximum_ = 0;
  DriveRunPlan plan_;
};

struct DriveOptions {
  std::string drive;
  std::string virtualDrive;
  std::string rate;
  int first = -1;
  int last = -1;
  int retries = -1;
  std::vector<std::string> faults;
  std::string flux;       // a Greaseweazle's serial node
  std::string fluxSim;    // an image in a simulated Greaseweazle
  std::string fluxBus;    // ibm or shugart
  std::string fluxMedia;  // the simulated disk's faults
  bool noVerify = false;  // a flux device's writes not read back
  bool doubleStep = false;
  std::string precomp;  // CYLINDER:NS
  std::string density;  // none, low, high
  int writePasses = -1;
};

// "CYLINDER:NS" of --precomp; false for anything else.
bool ParsePrecomp(const std::string& text, int& cylinder, int& ns) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  char* end = nullptr;
  cylinder = static_cast<int>(std::strtol(text.c_str(), &end, 10));
  if (end != text.c_str() + colon || cylinder < 0 || cylinder > kLastDriveCylinder) return false;
  ns = static_cast<int>(std::strtol(text.c_str() + colon + 1, &end, 10));
  return *end == '\0' && colon + 1 < text.size() && ns >= 0 && ns <= 250;
}

void AddDriveOptions(CLI::App* cmd, DriveOptions& o, bool runOptions) {
  cmd->add_option("--drive", o.drive, "Drive A or B (setting Drive)")
      ->check(CLI::IsMember({"A", "B"}));
  cmd->add_option("--virtual-drive", o.virtualDrive,
                  "Use the virtual drive with this disk image (or $KELVARA_VIRTUAL_DRIVE)");
  cmd->add_option("--rate", o.rate, "Data rate (setting Rate)")
      ->check(CLI::IsMember({"250K", "300K", "500K", "1M"}));
  cmd->add_option("--fault", o.faults,
                  "Virtual drive: fail calls N..M of a kind, e.g. read:5:23 or read:5-14:23")
      ->check(CLI::Validator(
          [](std::string& text) {
            DriveFault fault;
            std::string error;
            return ParseDriveFault(text, fault, error) ? std::string() : error;
          },
          "CALL:N[-M]:CODE"));
  auto* flux = cmd->add_option("--flux", o.flux,
                               "Read through a Greaseweazle on this serial node "
                               "(/dev/ttyACM0, /dev/greaseweazle)");
  auto* sim = cmd->add_option("--flux-sim", o.fluxSim,
                              "Read through a simulated Greaseweazle holding this disk image");
  flux->excludes(sim);
  cmd->get_option("--virtual-drive")->excludes(flux)->excludes(sim);
  cmd->add_option("--flux-bus", o.fluxBus,
                  "Greaseweazle bus: ibm (drive A/B on a twisted cable, the default) or "
                  "shugart (units 0/1 on a straight cable)")
      ->check(CLI::IsMember({"ibm", "shugart"}));
  cmd->add_option(
         "--flux-media", o.fluxMedia,
         std::string("Simulated disk faults, separated by commas: ") + flux::kSimulatedMediaItems)
      ->check(CLI::Validator(
          [](std::string& text) {
            flux::SimulatedMedia media;
            std::string error;
            return flux::ParseSimulatedMedia(text, media, error) ? std::string() : error;
          },
          "ITEMS"));
  cmd->add_flag("--double-step", o.doubleStep,
                "Greaseweazle: a 40-track disk in an 80-track drive (setting DoubleStep)");
  cmd->add_option("--density", o.density,
                  "Greaseweazle: the level held on the density-select pin 2 for 5.25\" HD drives "
                  "(setting DensitySelect)")
      ->check(CLI::IsMember({"none", "low", "high"}));
  if (!runOptions) return;
  cmd->add_flag("--no-verify", o.noVerify,
                "Greaseweazle: do not read each written track back to check it (setting "
                "FluxVerify)");
  cmd->add_option("--write-passes", o.writePasses,
                  "Greaseweazle: passes of a track whose read-back fails, at most (setting "
                  "FluxWritePasses, default 3)")
      ->check(CLI::Range(1, 10));
  cmd->add_option("--precomp", o.precomp,
                  "Greaseweazle: write precompensation, NS nanoseconds from cylinder CYLINDER on "
                  "(settings PrecompCylinder, PrecompNs; 0 ns is off)")
      ->check(CLI::Validator(
          [](std::string& text) {
            int cylinder = 0, ns = 0;
            return ParsePrecomp(text, cylinder, ns) ? std::string()
                                                    : "expected CYLINDER:NS, e.g. 40:140";
          },
          "CYLINDER:NS"));
  cmd->add_option("--first", o.first, "First track (setting FirstTrack)")
      ->check(CLI::Range(0, kTrackCount - 1));
  cmd->add_option("--last", o.last, "Last track (setting LastTrack)")
      ->check(CLI::Range(0, kTrackCount - 1));
  cmd->add_option("--retries", o.retries, "Attempts per sector (setting RetryCount)")
      ->check(CLI::Range(0, 255));
}

TSettings SettingsWith(const TSettings& base, const DriveOptions& o) {
  TSettings s = base;
  if (!o.drive.empty()) s.Drive = o.drive;
  if (!o.rate.empty()) s.Rate = static_cast<uint8_t>(DataRateCode(o.rate));
  if (o.first >= 0) s.FirstTrack = static_cast<uint8_t>(o.first);
  if (o.last >= 0) s.LastTrack = static_cast<uint8_t>(o.last);
  if (o.retries >= 0) s.RetryCount = static_cast<uint8_t>(o.retries);
  if (o.doubleStep) s.DoubleStep = true;
  if (o.noVerify) s.FluxVerify = false;
  if (o.writePasses > 0) s.FluxWritePasses = static_cast<uint8_t>(o.writePasses);
  if (!o.density.empty()) s.DensitySelect = o.density == "none" ? "" : o.density;
  int cylinder = 0, ns = 0;
  if (ParsePrecomp(o.precomp, cylinder, ns)) {
    s.PrecompCylinder = static_cast<uint8_t>(cylinder);
    s.PrecompNs = static_cast<uint8_t>(ns);
  }
  return s;
}

// A drive session opened as the program opens it at start-up; nullptr (and
// the reasons on stderr) when the drive cannot be used.
std::unique_ptr<DriveSession> OpenSession(Context& ctx, const DriveOptions& o, const TSettings& s,
                                          VirtualFloppy*& virtualDrive) {
  std::unique_ptr<FloppyDriver> driver;
  // The flux device of the command line, else that of the settings unless
  // the command line names the virtual drive.
  const bool commandLineFlux = !o.flux.empty() || !o.fluxSim.empty();
  if (commandLineFlux ||
      (o.virtualDrive.empty() && (!s.FluxDevice.empty() || !s.FluxSimImage.empty()))) {
    flux::FluxDriveOptions fo;
    std::string error;
    if (!flux::FluxOptionsFromSettings(s, fo, error)) {
      ctx.Fail(error);
      return nullptr;
    }
    if (commandLineFlux) {
      fo.device = o.flux;
      fo.simulatedImage = o.fluxSim;
    }
    if (!o.fluxBus.empty()) flux::ParseGwBus(o.fluxBus, fo.bus);
    if (!o.fluxMedia.empty()) flux::ParseSimulatedMedia(o.fluxMedia, fo.media, error);
    driver = flux::CreateFluxFloppy(std::move(fo));
  } else {
    driver = CreateFloppyDriver(o.virtualDrive);
  }
  virtualDrive = dynamic_cast<VirtualFloppy*>(driver.get());
  if (virtualDrive) {
    for (const std::string& text : o.faults) {
      DriveFault fault;
      std::string error;
      ParseDriveFault(text, fault, error);
      virtualDrive->AddFault(fault);
    }
    if (!FileExists(virtualDrive->ImagePath()))
      ctx.err << "virtual disk " << virtualDrive->ImagePath()
              << " does not exist: the drive holds an unformatted disk\n";
  } else if (!o.faults.empty()) {
    ctx.err << "--fault applies to the virtual drive only\n";
  }
  auto session = std::make_unique<DriveSession>(std::move(driver));
  const DriveOpenReport report = session->OpenAtStartup(s);
  bool detailShown = false;
  const std::string& detail = session->Driver().Detail();
  for (const std::string& m : report.messages) {
    ctx.err << kErrorCaption << " " << m << "\n";
    detailShown |= !detail.empty() && m.find(detail) != std::string::npos;
  }
  if (!report.diskMenuEnabled) {
    // The reason the drive could not be opened is said once.
    ctx.Fail(detail.empty() || detailShown ? "the drive cannot be used" : detail);
    return nullptr;
  }
  const size_t text = report.panel0.find_first_not_of(' ');
  if (text != std::string::npos) ctx.err << report.panel0.substr(text) << "\n";
  return session;
}

void ReportSimulatedTime(Context& ctx, const VirtualFloppy* virtualDrive) {
  if (!virtualDrive) return;
  char line[128];
  std::snprintf(line, sizeof line, "Simulated drive time: %.1f s, %.1f revolutions\n",
                virtualDrive->SimulatedSeconds(), virtualDrive->Revolutions());
  ctx.err << line;
}

// A drive session with one "Диск" menu command run on it.
struct DriveRun {
  std::unique_ptr<DriveSession> session;
  VirtualFloppy* virtualDrive = nullptr;
  OperationResult result;
};

// Opens the drive, checks and runs one command and reports the simulated
// time; false (the reasons given) when nothing ran.
bool RunOnDrive(Context& ctx, const DriveOptions& o, const TSettings& s, int mode, TZX_Disk& disk,
                DriveRun& run, bool fastRead = false) {
  run.session = OpenSession(ctx, o, s, run.virtualDrive);
  if (!run.session) return false;
  std::string error;
  if (mode >= kModeFormat && !run.session->CanKeepWrittenDisk(error)) {
    ctx.Fail(error);
    return false;
  }
  CliOperationHost host(ctx.out, ctx.err, &ctx.err == &std::cerr && ::isatty(STDERR_FILENO));
  DriveRunPlan plan = run.session->Plan(mode, disk, s);
  plan.fastRead = fastRead;
  host.SetRun(plan);
  for (const std::string& m : plan.messages)
    host.ShowMessage(kErrorCaption, m);
  if (!plan.start) {
    ctx.Fail(plan.messages.empty() ? "the image has no tracks" : "nothing was done");
    return false;
  }
  {
    InterruptGuard guard;
    run.result = run.session->Run(plan, disk, s, host);
  }
  ReportSimulatedTime(ctx, run.virtualDrive);
  return true;
}

// The exit status of a drive run: 0 when all of its work was done; 2 when it
// finished with some sectors bad, missing or unwritten (or tracks not scanned
// or formatted), counted on the last line; 1 when it did not finish or did
// none of its work (an empty drive, a write-protected or unformatted disk).
void Conclude(Context& ctx, const OperationResult& result, int mode,
              const std::string& nothingDone) {
  if (result.end == OperationEnd::Cancelled) return ctx.Fail("cancelled");
  if (result.end == OperationEnd::Stopped) return ctx.Fail("the operation stopped");
  const RunOutcome outcome = OutcomeOf(result, mode);
  if (outcome == RunOutcome::Nothing) return ctx.Fail(nothingDone);
  if (outcome == RunOutcome::Done) return;
  const bool reading = mode < kModeFormat;
  std::string counts;
  auto add = [&counts](int count, const char* what) {
    if (count == 0) return;
    if (!counts.empty()) counts += ", ";
    counts += std::to_string(count) + " " + what;
  };
  add(result.sectorsFailed, reading ? "sector(s) bad or missing" : "sector(s) not written");
  add(result.tracksFailed, reading ? "track(s) not scanned" : "track(s) not formatted");
  ctx.err << "kelvara-cli: finished with " << counts << "\n";
  ctx.status = kExitPartly;
}

SaveOptions SaveOptionsOf(const TSettings& s) {
  SaveOptions options;
  options.restoreTrack = s.RestoreTrack;
  options.td0Compress = s.TD0arch;
  return options;
}

constexpr const char* kDriveExitStatus =
    "Exit status: 0 when every sector was done; 2 when the run finished with bad, missing or\n"
    "unwritten sectors (their count on the last line of stderr); 1 when nothing was done or the\n"
    "command was refused.";

void RegisterRead(CLI::App& app, Context& ctx) {
  struct Args {
    std::string out;
    DriveOptions drive;
    bool scanOnly = false;
    bool sectorsOnly = false;
    bool fast = false;
  };
  auto args = std::make_shared<Args>();
  auto* cmd = app.add_subcommand(
      "read", "Scan and read a disk in the drive into a new image file, saved by extension");
  cmd->add_option("OUT", args->out, "Image file to write")->required();
  cmd->footer(kDriveExitStatus);
  AddDriveOptions(cmd, args->drive, true);
  auto* scan = cmd->add_flag("--scan-only", args->scanOnly, "Only scan the ID fields");
  auto* sectors = cmd->add_flag("--sectors-only", args->sectorsOnly,
                                "Only read the sectors listed in OUT (which must exist)")
                      ->excludes(scan);
  cmd->add_flag("--fast", args->fast,
                "Each track in two revolutions: a timed scan, then multi-sector reads from the "
                "sector under the head; a track that fails is read sector by sector")
      ->excludes(scan)
      ->excludes(sectors);
  cmd->callback([&ctx, args] {
    const TSettings s = SettingsWith(ctx.Settings(), args->drive);
    const int mode = args->scanOnly      ? kModeScan
                     : args->sectorsOnly ? kModeRead
                                         : kModeScan | kModeRead;
    if (!FindImageFormat(ExtensionKey(args->out))) return ctx.Fail(kUnsupportedFileText);
    auto disk = std::make_unique<TZX_Disk>();
    if (mode == kModeRead) {
      const LoadResult loaded = LoadImageFile(*disk, args->out);
      if (!loaded.ok) return ctx.Fail(args->out + ": " + loaded.errorText);
    }
    DriveRun run;
    if (!RunOnDrive(ctx, args->drive, s, mode, *disk, run, args->fast)) return;
    // What was read before a stop is kept.
    if (disk->CountTracks() == 0)
      return ctx.Fail("no track of the disk was read; " + args->out + " was not written");
    const SaveResult saved = SaveImageFile(*disk, args->out, SaveOptionsOf(s));
    if (!saved.ok) return ctx.Fail(args->out + ": " + saved.errorText);
    Conclude(ctx, run.result, mode,
             mode == kModeScan ? "no track of the disk could be scanned"
                               : "no sector of the disk could be read");
  });
}

void RegisterWrite(CLI::App& app, Context& ctx) {
  struct Args {
    std::string image;
    DriveOptions drive;
    bool formatOnly = false;
    bool noFormat = false;
  };
  auto args = std::make_shared<Args>();
  auto* cmd = app.add_subcommand("write", "Format a disk in the drive and write an image onto it");
  cmd->add_option("IMAGE", args->image, "Image file to write onto the disk")->required();
  cmd->footer(kDriveExitStatus);
  AddDriveOptions(cmd, args->drive, true);
  auto* formatOnly = cmd->add_flag("--format-only", args->formatOnly, "Only format the tracks");
  cmd->add_flag("--no-format", args->noFormat, "Only write the sectors (a formatted disk)")
      ->excludes(formatOnly);
  cmd->callback([&ctx, args] {
    const TSettings s = SettingsWith(ctx.Settings(), args->drive);
    const int mode = args->formatOnly ? kModeFormat
                     : args->noFormat ? kModeWrite
                                      : kModeFormat | kModeWrite;
    auto disk = std::make_unique<TZX_Disk>();
    const LoadResult loaded = LoadImageFile(*disk, args->image);
    if (!loaded.ok) return ctx.Fail(args->image + ": " + loaded.errorText);
    DriveRun run;
    if (!RunOnDrive(ctx, args->drive, s, mode, *disk, run)) return;
    std::string error;
    if (!run.session->KeepWrittenDisk(s, error)) return ctx.Fail(error);
    Conclude(ctx, run.result, mode,
             mode == kModeFormat ? "no track could be formatted (is the disk write-protected?)"
                                 : "nothing could be written onto the disk (is it "
                                   "write-protected, or not formatted?)");
  });
}

void RegisterDriveCat(CLI::App& app, Context& ctx) {
  auto options = std::make_shared<DriveOptions>();
  auto* cmd =
      app.add_subcommand("drive-cat", "The TR-DOS catalog straight from the disk in the drive");
  AddDriveOptions(cmd, *options, false);
  cmd->footer(kDriveExitStatus);
  cmd->callback([&ctx, options] {
    const TSettings s = SettingsWith(ctx.Settings(), *options);
    VirtualFloppy* virtualDrive = nullptr;
    auto session = OpenSession(ctx, *options, s, virtualDrive);
    if (!session) return;
    CliOperationHost host(ctx.out, ctx.err, false);
    // The read says why it failed, once, in its "Ошибка!" line.
    const DriveCatalogRead read = session->ReadCatalog(host, [](std::span<const uint8_t> block) {
      TTrdosCatalog cat;
      return ParseTrdosCatalog(block, cat);
    });
    if (!read.ok) {
      ctx.status = 1;
      return;
    }
    TrdosCatFromDrive(ctx, read.CatalogBlock(), /*showDeleted=*/false);
  });
}

}  // namespace

void RegisterDriveCommands(CLI::App& app, Context& ctx) {
  RegisterRead(app, ctx);
  RegisterWrite(app, ctx);
  RegisterDriveCat(app, ctx);
}

}  // namespace kelvara::cli
