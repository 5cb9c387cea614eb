// convert --to, verify and diff: whole collections of image files at once,
// with a progress line on a terminal, a summary at the end and --json for
// scripts.
#include "cli/BatchCommands.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>

#include "model/FileIO.h"
#include "session/Batch.h"
#include "session/ImageCheck.h"
#include "session/ImageDiff.h"
#include "session/JsonReports.h"

namespace kelvara::cli {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Fixed(double v, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// "count/total, rate a second, time left", redrawn on stderr while a batch
// runs; only when stderr is the process's own and a terminal.
class ProgressLine {
 public:
  ProgressLine(Context& ctx, size_t total, const std::atomic<size_t>& done)
      : total_(total), done_(done) {
    if (&ctx.err != &std::cerr || !::isatty(STDERR_FILENO) || total == 0) return;
    thread_ = std::jthread([this] { Run(); });
  }
  ~ProgressLine() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    std::cerr << "\r\033[K" << std::flush;
  }

 private:
  void Run() {
    const Clock::time_point start = Clock::now();
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stop_; })) {
      const size_t done = done_;
      const double seconds = SecondsSince(start);
      const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
      std::string line =
          std::to_string(done) + "/" + std::to_string(total_) + ", " + Fixed(rate, 0) + " a second";
      if (rate > 0) line += ", " + Fixed(static_cast<double>(total_ - done) / rate, 0) + " s left";
      std::cerr << "\r\033[K" << line << std::flush;
    }
  }

  size_t total_;
  const std::atomic<size_t>& done_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::jthread thread_;
};

int Workers(const BatchOptions& o) {
  if (o.jobs > 0) return o.jobs;
  return std::max(1u, std::thread::hardware_concurrency());
}

void AddBatchOptions(CLI::App* cmd, BatchOptions& o) {
  cmd->add_flag("-r,--recursive", o.recursive, "Descend into the subfolders of a folder named");
  cmd->add_option("-j,--jobs", o.jobs, "Files worked on at once (default: the number of cores)")
      ->check(CLI::Range(1, 256));
  cmd->add_flag("--json", o.json, "Print the result as one JSON object (see the README)");
}

std::string Joined(const std::vector<int>& values, std::string (*text)(int) = nullptr) {
  std::string s;
  for (const int v : values)
    s += (s.empty() ? "" : " ") + (text ? text(v) : std::to_string(v));
  return s;
}

// "6 skipped: not a disk image", a line a reason.
void PrintSkipped(std::ostream& out, const std::vector<BatchInputError>& skipped) {
  std::vector<std::pair<std::string, int>> reasons;
  for (const BatchInputError& s : skipped) {
    auto it = std::ranges::find(reasons, s.reason, &std::pair<std::string, int>::first);
    if (it == reasons.end()) it = reasons.insert(reasons.end(), {s.reason, 0});
    ++it->second;
  }
  for (const auto& [reason, count] : reasons)
    out << count << " skipped: " << reason << "\n";
}

void PrintCheck(std::ostream& out, const std::string& path, const ImageCheck& c) {
  out << path << ": " << VerdictName(c.verdict);
  if (c.verdict == ImageCheck::Verdict::Unreadable) {
    out << ": " << c.error << "\n";
    return;
  }
  out << " (" << (c.fileSystem.empty() ? "no file system" : c.fileSystem) << ", " << c.tracks
      << " tracks)\n";
  if (!c.missingTracks.empty())
    out << "  tracks missing: " << Joined(c.missingTracks, CylSideText) << "\n";
  for (const TrackDamage& d : c.damage) {
    out << "  track " << CylSideText(d.track) << ":";
    std::string sep = " ";
    if (!d.bad.empty()) out << sep << "bad " << Joined(d.bad), sep = "; ";
    if (!d.noData.empty()) out << sep << "no data " << Joined(d.noData), sep = "; ";
    if (!d.missing.empty()) out << sep << "missing " << Joined(d.missing), sep = "; ";
    if (!d.badId.empty()) out << sep << "bad ID " << Joined(d.badId);
    out << "\n";
  }
  for (const std::string& p : c.problems)
    out << "  " << p << "\n";
}

void RegisterVerify(CLI::App& app, Context& ctx) {
  struct Args {
    std::vector<std::string> inputs;
    BatchOptions batch;
  };
  auto a = std::make_shared<Args>();
  auto* cmd = app.add_subcommand(
      "verify",
      "Check image files: bad and missing sectors, the TR-DOS, +3DOS, CPC or CP/M catalog, "
      "Hobeta and SCL checksums; exit 0 clean, 2 damaged, 1 unreadable");
  cmd->add_option("IMAGES", a->inputs, "Image files or folders of them")->required();
  AddBatchOptions(cmd, a->batch);
  cmd->callback([&ctx, a] {
    BatchPlanOptions po;
    po.recursive = a->batch.recursive;
    po.accept = IsCheckableFile;
    const BatchPlan plan = PlanBatch(a->inputs, po);
    std::vector<std::pair<std::string, ImageCheck>> checks(plan.jobs.size());
    std::atomic<size_t> done{0};
    {
      ProgressLine progress(ctx, plan.jobs.size(), done);
      RunBatch(plan.jobs.size(), Workers(a->batch), done, [&](TZX_Disk& scratch, size_t i) {
        checks[i] = {plan.jobs[i].input, CheckImageFile(scratch, plan.jobs[i].input)};
      });
    }
    for (const BatchInputError& e : plan.errors) {
      ImageCheck c;
      c.verdict = ImageCheck::Verdict::Unreadable;
      c.error = e.reason;
      checks.emplace_back(e.path, std::move(c));
    }
    int counts[3] = {0, 0, 0};
    for (const auto& [path, c] : checks) {
      ++counts[static_cast<int>(c.verdict)];
      if (!a->batch.json) PrintCheck(ctx.out, path, c);
    }
    if (a->batch.json) {
      ctx.out << VerifyJson(checks, plan.skipped) << "\n";
    } else {
      if (checks.size() > 1)
        ctx.out << "Clean: " << counts[0] << ", damaged: " << counts[1]
                << ", unreadable: " << counts[2] << "\n";
      PrintSkipped(ctx.out, plan.skipped);
    }
    // Damage is a finding: done, but not clean.
    const size_t read = static_cast<size_t>(counts[0] + counts[1]);
    ctx.status = read == 0                                         ? kExitRefused
                 : static_cast<size_t>(counts[0]) == checks.size() ? kExitDone
                                                                   : kExitPartly;
  });
}

std::string DescribeDifference(const SectorDifference& d) {
  std::string where = "track " + CylSideText(d.track);
  if (d.sector >= 0) where += " sector " + std::to_string(d.sector);
  using Kind = SectorDifference::Kind;
  switch (d.kind) {
    case Kind::TrackOnlyInA:
    case Kind::OnlyInA:
      return where + ": only in A";
    case Kind::TrackOnlyInB:
    case Kind::OnlyInB:
      return where + ": only in B";
    case Kind::Id:
      return where + ": ID " + d.a + " in A, " + d.b + " in B";
    case Kind::State:
      return where + ": " + d.a + " in A, " + d.b + " in B";
    case Kind::Bytes:
      return where + ": " + std::to_string(d.differing) + " bytes differ from offset " +
             std::to_string(d.firstOffset) + " (" + d.a + " and " + d.b + " bytes)";
  }
  return where;
}

void RegisterDiff(CLI::App& app, Context& ctx) {
  struct Args {
    std::string a, b;
    bool json = false;
  };
  auto a = std::make_shared<Args>();
  auto* cmd = app.add_subcommand(
      "diff", "Sector-level difference of two images of any formats; exit 0 same, 2 different");
  cmd->add_option("A", a->a, "Image file")->required();
  cmd->add_option("B", a->b, "Image file")->required();
  cmd->add_flag("--json", a->json, "Print the result as one JSON object (see the README)");
  cmd->callback([&ctx, a] {
    auto diskA = ctx.LoadImage(a->a);
    if (!diskA) return;
    auto diskB = ctx.LoadImage(a->b);
    if (!diskB) return;
    const ImageDifference diff = DiffImages(*diskA, *diskB);
    if (a->json) {
      ctx.out << DiffJson(diff, a->a, a->b) << "\n";
    } else {
      for (const SectorDifference& d : diff.sectors)
        ctx.out << DescribeDifference(d) << "\n";
      for (const FileDifference& f : diff.files) {
        static constexpr const char* kText[] = {": only in A", ": only in B",
                                                ": catalog entries differ", ": bytes differ"};
        ctx.out << "file " << f.name << kText[static_cast<int>(f.kind)] << "\n";
      }
      const size_t n = diff.sectors.size() + diff.files.size();
      ctx.out << (n ? std::to_string(n) + " difference(s)" : "The images are the same") << "\n";
    }
    ctx.status = diff.Same() ? kExitDone : kExitPartly;
  });
}

}  // namespace

void RunBatchConvert(Context& ctx, const BatchConvertArgs& args, const SaveOptions& save) {
  BatchPlanOptions po;
  po.recursive = args.batch.recursive;
  po.outputFolder = args.outputFolder;
  po.extension = args.to;
  po.force = args.force;
  po.accept = [](const std::string& path) {
    return FindImageFormat(ExtensionKey(path), ImageTypes::WithProject) != nullptr;
  };
  const BatchPlan plan = PlanBatch(args.inputs, po);
  std::vector<ConvertRecord> records(plan.jobs.size());
  std::atomic<size_t> done{0};
  const Clock::time_point start = Clock::now();
  {
    ProgressLine progress(ctx, plan.jobs.size(), done);
    RunBatch(plan.jobs.size(), Workers(args.batch), done, [&](TZX_Disk& scratch, size_t i) {
      const BatchJob& job = plan.jobs[i];
      ConvertRecord& r = records[i];
      r.input = job.input;
      r.output = job.output;
      if (!job.refusal.empty()) {
        r.outcome.reason = job.refusal;
        return;
      }
      // New outputs are synced once, at the end, all together.
      DeferredSyncScope deferred;
      r.outcome = ConvertImageFile(scratch, job, save);
    });
  }
  const double seconds = SecondsSince(start);
  for (const BatchInputError& e : plan.errors)
    records.push_back({e.path, "", {false, e.reason, {}, {}}});
  const auto converted = std::ranges::count_if(records, [](auto& r) { return r.outcome.ok; });
  std::string syncError;
  const bool synced = converted == 0 || SyncFileSystem(args.outputFolder, syncError);

  if (args.batch.json) {
    ctx.out << ConvertJson(records, plan.skipped) << "\n";
  } else {
    ctx.out << "Converted " << converted << " of " << records.size() << " file(s) in "
            << Fixed(seconds, 2) << " s";
    if (seconds > 0)
      ctx.out << " (" << Fixed(static_cast<double>(converted) / seconds, 1) << " a second)";
    ctx.out << "\n";
    bool heading = false;
    for (const ConvertRecord& r : records) {
      if (r.outcome.ok) continue;
      if (!std::exchange(heading, true)) ctx.out << "Failed:\n";
      ctx.out << "  " << r.input << ": " << r.outcome.reason << "\n";
    }
    // The reader's note under the input's name, what the output cannot keep
    // under the output's.
    heading = false;
    for (const ConvertRecord& r : records) {
      if (!r.outcome.note.empty()) {
        if (!std::exchange(heading, true)) ctx.out << "Notes:\n";
        ctx.out << "  " << r.input << ": " << r.outcome.note << "\n";
      }
      for (const std::string& note : r.outcome.notes) {
        if (!std::exchange(heading, true)) ctx.out << "Notes:\n";
        ctx.out << "  " << r.output << ": " << note << "\n";
      }
    }
    PrintSkipped(ctx.out, plan.skipped);
  }
  if (!synced) return ctx.Fail(syncError);
  ctx.status = ExitStatusOf(static_cast<size_t>(converted), records.size());
}

void RegisterBatchCommands(CLI::App& app, Context& ctx) {
  RegisterVerify(app, ctx);
  RegisterDiff(app, ctx);
}

}  // namespace kelvara::cli
