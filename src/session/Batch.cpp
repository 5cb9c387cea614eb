#include "session/Batch.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "formats/KryoFlux.h"
#include "model/FileIO.h"

namespace kelvara {

namespace fs = std::filesystem;

namespace {

struct Found {
  std::string path;
  std::string relativeFolder;  // below the folder named, with a trailing "/"; "" at its top
  std::string name;            // the file name the output's name is made from
};

// The folder's own name, also when the path ends in "/".
std::string FolderName(const fs::path& folder) {
  const fs::path clean = folder.lexically_normal();
  return (clean.has_filename() ? clean.filename() : clean.parent_path().filename()).string();
}

// The accepted files of a folder in name order, and with `recursive` those of
// its subfolders (folder links are not followed, so a loop of links ends).
// The files not accepted are skipped, with the reason. A folder that holds
// KryoFlux track files is one image, taken as the folder itself. A folder
// that cannot be read is an error; the walk goes on past it.
void WalkFolder(const fs::path& folder, const std::string& relative, const BatchPlanOptions& o,
                std::vector<Found>& found, BatchPlan& plan) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    plan.errors.push_back({folder.string(), ec.message()});
    return;
  }
  std::vector<fs::directory_entry> entries;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    entries.push_back(*it);
  }
  if (ec) plan.errors.push_back({folder.string(), ec.message()});
  std::ranges::sort(entries, {}, [](const fs::directory_entry& e) { return e.path().filename(); });
  bool streamSet = false;
  for (const fs::directory_entry& e : entries) {
    std::error_code kindError;
    const std::string name = e.path().filename().string();
    if (e.is_directory(kindError) && !e.is_symlink(kindError)) {
      if (o.recursive) WalkFolder(e.path(), relative + name + "/", o, found, plan);
    } else if (!e.is_regular_file(kindError)) {
      continue;
    } else if (IsKryoFluxPath(e.path().string())) {
      if (!std::exchange(streamSet, true)) {
        // The set's output is named after its folder, beside the folder.
        std::string parent = relative;
        if (!parent.empty()) parent.erase(parent.find_last_of('/', parent.size() - 2) + 1);
        found.push_back({folder.string(), parent, FolderName(folder) + ".raw"});
      }
    } else if (!o.accept || o.accept(e.path().string())) {
      found.push_back({e.path().string(), relative, name});
    } else {
      plan.skipped.push_back({e.path().string(), kNotAnImageText});
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
      WalkFolder(input, "", o, found, plan);
    } else if (fs::exists(st)) {
      found.push_back({input, "", FileNameOf(input)});
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
      job.output = BatchOutputPath(o.outputFolder, f.relativeFolder, f.name, o.extension);
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
  r.note = scratch.StatusText;
  const std::string folder = FolderOf(job.output);
  std::error_code ec;
  if (!folder.empty()) fs::create_directories(folder, ec);
  if (ec) {
    r.reason = folder + ": " + ec.message();
    return r;
  }
  SaveResult saved = SaveImageFile(scratch, job.output, options, ImageTypes::WithProject);
  if (!saved.ok) {
    r.reason = saved.errorText + (saved.logLine.empty() ? "" : " (" + saved.logLine + ")");
    return r;
  }
  r.notes = std::move(saved.notes);
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
