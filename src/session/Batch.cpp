#include "session/Batch.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "model/FileIO.h"

namespace kelvara {

namespace fs = std::filesystem;

namespace {

struct Found {
  std::string path;
  std::string relativeFolder;  // below the folder named, with a trailing "/"; "" at its top
};

// The accepted files of a folder in name order, and with `recursive` those of
// its subfolders (folder links are not followed, so a loop of links ends).
// A folder that cannot be read is an error; the walk goes on past it.
void WalkFolder(const fs::path& folder, const std::string& relative, const BatchPlanOptions& o,
                std::vector<Found>& found, std::vector<BatchInputError>& errors) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    errors.push_back({folder.string(), ec.message()});
    return;
  }
  std::vector<fs::directory_entry> entries;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    entries.push_back(*it);
  }
  if (ec) errors.push_back({folder.string(), ec.message()});
  std::ranges::sort(entries, {}, [](const fs::directory_entry& e) { return e.path().filename(); });
  for (const fs::directory_entry& e : entries) {
    std::error_code kindError;
    const std::string name = e.path().filename().string();
    if (e.is_directory(kindError) && !e.is_symlink(kindError)) {
      if (o.recursive) WalkFolder(e.path(), relative + name + "/", o, found, errors);
    } else if (e.is_regular_file(kindError) && (!o.accept || o.accept(e.path().string()))) {
      found.push_back({e.path().string(), relative});
    }
  }
}

}  // namespace

std::string BatchOutputPath(const std::string& outputFolder, const std::string& relativeFolder,
                            const std::string& fileName, const std::string& extension) {
  const size_t dot = fileName.find_last_of('.');
  const std::string stem =
      dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
  std::string folder = outputFolder;
  if (!folder.empty() && !folder.ends_with('/')) folder += '/';
  return folder + relativeFolder + stem + "." + extension;
}

BatchPlan PlanBatch(const std::vector<std::string>& inputs, const BatchPlanOptions& o) {
  BatchPlan plan;
  std::vector<Found> found;
  for (const std::string& input : inputs) {
    std::error_code ec;
    const fs::file_status st = fs::status(input, ec);
    if (fs::is_directory(st)) {
      WalkFolder(input, "", o, found, plan.errors);
    } else if (fs::exists(st)) {
      found.push_back({input, ""});
    } else {
      plan.errors.push_back({input, ec ? ec.message() : "No such file or directory"});
    }
  }
  // Outputs already claimed, by their normal form, and the job that claimed each.
  std::vector<std::pair<std::string, size_t>> claimed;
  std::set<std::string> inputsSeen;
  auto normal = [](const std::string& p) {
    std::error_code ec;
    const fs::path w = fs::weakly_canonical(p, ec);
    return ec ? fs::path(p).lexically_normal().string() : w.string();
  };
  for (const Found& f : found) {
    BatchJob job;
    job.input = f.path;
    const std::string in = normal(f.path);
    if (!inputsSeen.insert(in).second) continue;  // the same file named twice
    if (!o.outputFolder.empty()) {
      job.output =
          BatchOutputPath(o.outputFolder, f.relativeFolder, FileNameOf(f.path), o.extension);
      const std::string out = normal(job.output);
      const auto earlier = std::ranges::find(claimed, out, &std::pair<std::string, size_t>::first);
      if (out == in) {
        job.refusal = "the output would replace the input";
      } else if (earlier != claimed.end()) {
        job.refusal = "the same output as " + plan.jobs[earlier->second].input;
      } else if (!o.force && fs::exists(fs::symlink_status(job.output))) {
        job.refusal = job.output + " exists (--force replaces it)";
      }
      if (earlier == claimed.end()) claimed.emplace_back(out, plan.jobs.size());
    }
    plan.jobs.push_back(std::move(job));
  }
  return plan;
}

ConvertOutcome ConvertImageFile(TZX_Disk& scratch, const BatchJob& job,
                                const SaveOptions& options) {
  ConvertOutcome r;
  const LoadResult loaded = LoadImageFile(scratch, job.input, ImageTypes::WithProject);
  if (!loaded.ok) {
    r.reason = loaded.errorText;
    return r;
  }
  if (!scratch.StatusText.empty()) r.notes.push_back(scratch.StatusText);
  const std::string folder = FolderOf(job.output);
  std::error_code ec;
  if (!folder.empty()) fs::create_directories(folder, ec);
  if (ec) {
    r.reason = folder + ": " + ec.message();
    return r;
  }
  const SaveResult saved = SaveImageFile(scratch, job.output, options, ImageTypes::WithProject);
  if (!saved.ok) {
    r.reason = saved.errorText + (saved.logLine.empty() ? "" : " (" + saved.logLine + ")");
    return r;
  }
  // What the output's format cannot keep. Sector dumps keep bytes only: the
  // data state of a bad sector, or the absence of data, does not survive
  // them. Only UDI, HFE and the project file keep raw tracks read from a
  // file; SCL keeps the catalog's files and nothing else.
  const std::string key = ExtensionKey(job.output);
  if (key == "TRD" || key == "PRO" || key == "KDI") {
    const DataStateCounts states = scratch.CountDataStates();
    if (states.bad || states.noData)
      r.notes.push_back(std::to_string(states.bad + states.noData) +
                        " bad or empty sectors saved as plain data");
  }
  if (key != "UDI" && key != "HFE" && key != "UDF") {
    int raw = 0;
    for (int t = 0; t < kTrackCount; ++t) {
      const TTrack& track = std::as_const(scratch).GetTrack(static_cast<uint8_t>(t));
      raw += track.Present && track.RawValid && track.RawLength();
    }
    if (raw) r.notes.push_back(std::to_string(raw) + " raw tracks kept as their sectors only");
  }
  if (key == "SCL") r.notes.push_back("only the files of the TR-DOS catalog are kept");
  r.ok = true;
  return r;
}

void RunBatch(size_t count, int workers, std::atomic<size_t>& done,
              const std::function<void(TZX_Disk& scratch, size_t job)>& work) {
  workers = std::max(1, std::min<int>(workers, static_cast<int>(std::max<size_t>(count, 1))));
  std::atomic<size_t> next{0};
  auto worker = [&] {
    // A disk is large (its tracks and slots, a few hundred KB): one a worker.
    auto scratch = std::make_unique<TZX_Disk>();
    for (size_t i = next++; i < count; i = next++) {
      work(*scratch, i);
      ++done;
    }
  };
  std::vector<std::jthread> threads;
  for (int w = 1; w < workers; ++w)
    threads.emplace_back(worker);
  worker();
}

}  // namespace kelvara
