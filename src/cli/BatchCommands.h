// Batch work over collections of image files: convert with --to, verify and
// diff. The rules (which files, which outputs, what counts as damage or as
// a difference) are the core's (session/Batch.h, ImageCheck.h, ImageDiff.h);
// this layer parses, shows progress on a terminal and prints summaries.
#pragma once

#include <string>
#include <vector>

#include "cli/Cli.h"
#include "formats/ImageFiles.h"

namespace kelvara::cli {

struct BatchOptions {
  bool recursive = false;
  int jobs = 0;  // 0: the number of cores
  bool json = false;
};

struct BatchConvertArgs {
  std::vector<std::string> inputs;
  std::string to;            // the output extension, e.g. "udi"
  std::string outputFolder;  // -o DIR
  bool force = false;
  BatchOptions batch;
};

// Converts every input into the output folder; the exit status is 0 when all
// were converted, 2 when some failed and 1 when none was converted.
void RunBatchConvert(Context& ctx, const BatchConvertArgs& args, const SaveOptions& save);

}  // namespace kelvara::cli
