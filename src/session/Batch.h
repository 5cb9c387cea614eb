// Work on whole collections of image files: the inputs named on a command
// line (files, and folders walked for image files, their subfolders too when
// asked) made into a list of jobs, each with the output it writes; and the
// jobs run on a number of worker threads, each with its own scratch image.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "formats/ImageFiles.h"
#include "model/ZXDisk.h"

namespace kelvara {

struct BatchJob {
  std::string input;
  std::string output;   // empty for work without an output (verify)
  std::string refusal;  // why the job is not run (an existing output, a collision); "" to run
};

// An input that gave no job: a folder that cannot be read, a name that is
// neither file nor folder.
struct BatchInputError {
  std::string path;
  std::string reason;
};

struct BatchPlan {
  std::vector<BatchJob> jobs;  // in the order the inputs were named, each folder sorted by name
  std::vector<BatchInputError> errors;
  std::vector<BatchInputError> skipped;  // files of a folder that the work does not take, and why
};

inline constexpr const char* kNotAnImageText = "not a disk image";

struct BatchPlanOptions {
  bool recursive = false;    // walk the subfolders of a folder named
  std::string outputFolder;  // "" for work without outputs
  std::string extension;     // the outputs' extension without the dot, e.g. "udi"
  bool force = false;        // replace outputs that exist
  // Which files a folder contributes; the others are listed as skipped
  // (kNotAnImageText). Files named on the command line are always taken (a
  // file of an unknown type then fails with the reader's message, as a
  // single conversion does). A folder that holds a KryoFlux stream set
  // (trackNN.H.raw) is one disk: one job for the folder, its stream files
  // not taken one by one.
  bool (*accept)(const std::string& path) = nullptr;
};

// A file's output: the output folder, the file's place below the folder
// named on the command line (empty for a file named itself), its name with
// the new extension.
std::string BatchOutputPath(const std::string& outputFolder, const std::string& relativeFolder,
                            const std::string& fileName, const std::string& extension);

// The jobs for the inputs. A job whose output exists (without force), is its
// own input, or is the output of an earlier job gets its refusal and is not
// run; nothing is written or created here.
BatchPlan PlanBatch(const std::vector<std::string>& inputs, const BatchPlanOptions& options);

// What converting one file gave.
struct ConvertOutcome {
  bool ok = false;
  std::string reason;              // why it failed
  std::string note;                // what the reader left out or noted, as info shows it
  std::vector<std::string> notes;  // what the output could not keep, a sentence each
};

// Loads the job's input into `scratch`, creates the output's folder when
// missing and saves by the output's extension.
ConvertOutcome ConvertImageFile(TZX_Disk& scratch, const BatchJob& job, const SaveOptions& options);

// Runs work(worker, job) for jobs 0..count-1 on `workers` threads (at least
// one; the calling thread is one of them). Each worker gets its own scratch
// image, made once and reused for every job it runs, so memory does not grow
// with the number of files. `done` counts finished jobs for a progress line
// another thread may show.
void RunBatch(size_t count, int workers, std::atomic<size_t>& done,
              const std::function<void(TZX_Disk& scratch, size_t job)>& work);

}  // namespace kelvara
