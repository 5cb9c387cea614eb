#include "session/Batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>

#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::TempDir;
using test::WriteBytes;

bool IsImage(const std::string& path) {
  return FindImageFormat(ExtensionKey(path), ImageTypes::WithProject) != nullptr;
}

// One plan meets each case a collection gives: folders kept below the output
// folder, a subfolder only with -r, a file that is no image skipped, two
// inputs that make one output, an output that exists, an input named twice,
// a name that does not exist and a folder that cannot be read.
TEST(BatchPlan, JobsRefusalsAndInputErrors) {
  TempDir dir;
  const std::string in = dir / "in", out = dir / "out";
  std::filesystem::create_directories(in + "/sub/deeper");
  std::filesystem::create_directories(out + "/sub");
  for (const char* name : {"/a.trd", "/a.fdi", "/notes.txt", "/sub/b.scl", "/sub/deeper/c.udi"})
    WriteBytes(in + name, {1});
  WriteBytes(out + "/sub/b.udi", {1});
  std::filesystem::create_directories(in + "/locked");
  WriteBytes(in + "/locked/d.trd", {1});
  ::chmod((in + "/locked").c_str(), 0);

  BatchPlanOptions o{true, out, "udi", false, IsImage};
  const BatchPlan plan = PlanBatch({in, in + "/a.trd", dir / "missing.trd"}, o);
  ::chmod((in + "/locked").c_str(), 0700);
  std::vector<std::string> got;
  for (const BatchJob& j : plan.jobs)
    got.push_back(j.input.substr(in.size()) + " -> " + j.output.substr(out.size()) + " " +
                  j.refusal.substr(0, j.refusal.find(' ')));
  std::vector<std::string> want = {"/a.fdi -> /a.udi ", "/a.trd -> /a.udi the"};
  const bool lockedReadable = ::access((in + "/locked").c_str(), R_OK) == 0;  // as root
  if (lockedReadable) want.push_back("/locked/d.trd -> /locked/d.udi ");
  want.insert(want.end(), {"/sub/b.scl -> /sub/b.udi " + out + "/sub/b.udi",
                           "/sub/deeper/c.udi -> /sub/deeper/c.udi "});
  EXPECT_EQ(got, want);
  EXPECT_EQ(plan.jobs[1].refusal, "the same output as " + in + "/a.fdi");
  ASSERT_EQ(plan.errors.size(), lockedReadable ? 1u : 2u);
  EXPECT_EQ(plan.errors.back().path, dir / "missing.trd");

  // With --force the existing output is replaced; without -r the subfolders stay out.
  o.force = true;
  o.recursive = false;
  const BatchPlan flat = PlanBatch({in}, o);
  ASSERT_EQ(flat.jobs.size(), 2u);
  o.recursive = true;
  for (const BatchJob& j : PlanBatch({in + "/sub"}, o).jobs)
    EXPECT_EQ(j.refusal, "") << j.input;
  // An output that would replace its input.
  o.outputFolder = in;
  o.extension = "trd";
  EXPECT_EQ(PlanBatch({in + "/a.trd"}, o).jobs.at(0).refusal, "the output would replace the input");
}

// A folder of KryoFlux streams is one disk, named after its folder (also
// when it is the folder named); the files a folder holds that are no image
// are listed as skipped, with the reason.
TEST(BatchPlan, StreamFoldersAreOneDiskAndOtherFilesAreSkipped) {
  TempDir dir;
  const std::string in = dir / "in", out = dir / "out";
  std::filesystem::create_directories(in + "/disks/kf.1");
  for (const char* name :
       {"/disks/kf.1/track00.0.raw", "/disks/kf.1/track00.1.raw", "/disks/kf.1/track01.0.raw",
        "/disks/kf.1/capture.log", "/game.mgt", "/b.trd", "/readme.txt"})
    WriteBytes(in + name, {1});
  const BatchPlanOptions o{true, out, "udi", false, IsImage};
  const BatchPlan plan = PlanBatch({in}, o);
  std::vector<std::string> got;
  for (const BatchJob& j : plan.jobs)
    got.push_back(j.input.substr(in.size()) + " -> " + j.output.substr(out.size()));
  EXPECT_EQ(got, (std::vector<std::string>{"/b.trd -> /b.udi", "/disks/kf.1 -> /disks/kf.1.udi"}));
  std::vector<std::string> skipped;
  for (const BatchInputError& e : plan.skipped)
    skipped.push_back(e.path.substr(in.size()) + ": " + e.reason);
  EXPECT_EQ(skipped, (std::vector<std::string>{"/disks/kf.1/capture.log: not a disk image",
                                               "/game.mgt: not a disk image",
                                               "/readme.txt: not a disk image"}));
  const BatchPlan set = PlanBatch({in + "/disks/kf.1/"}, o);
  ASSERT_EQ(set.jobs.size(), 1u);
  EXPECT_EQ(set.jobs[0].output, out + "/kf.1.udi");
}

TEST(BatchPlan, OutputPaths) {
  EXPECT_EQ(BatchOutputPath("out", "x/y/", "game.v2.trd", "udi"), "out/x/y/game.v2.udi");
  EXPECT_EQ(BatchOutputPath("out/", "", ".hidden", "udi"), "out/.hidden.udi");
  EXPECT_EQ(BatchOutputPath("out", "", "plain", "td0"), "out/plain.td0");
}

// Every job runs once, whatever the number of workers, and a worker's
// scratch image is made once, not once a job.
TEST(BatchRun, EveryJobOnceAndOneScratchImageAWorker) {
  for (const int workers : {1, 3, 64}) {
    std::vector<std::atomic<int>> runs(200);
    std::mutex m;
    std::set<TZX_Disk*> scratch;
    std::atomic<size_t> done{0};
    RunBatch(runs.size(), workers, done, [&](TZX_Disk& disk, size_t i) {
      ++runs[i];
      std::lock_guard lock(m);
      scratch.insert(&disk);
    });
    EXPECT_EQ(done, runs.size());
    for (const auto& r : runs)
      ASSERT_EQ(r, 1) << workers;
    EXPECT_LE(scratch.size(), static_cast<size_t>(workers));
  }
}

TEST(BatchConvert, FailuresAndNotes) {
  TempDir dir;
  WriteBytes(dir / "bad.udi", {1, 2, 3});
  WriteBytes(dir / "short.trd", std::vector<uint8_t>(4096 + 100, 0));
  auto scratch = std::make_unique<TZX_Disk>();
  const SaveOptions options;
  ConvertOutcome r = ConvertImageFile(*scratch, {dir / "bad.udi", dir / "o/bad.trd", ""}, options);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.reason, "Error UDI file!");
  EXPECT_FALSE(std::filesystem::exists(dir / "o/bad.trd"));
  // The reader's note, and the bad sector a sector dump cannot mark.
  r = ConvertImageFile(*scratch, {dir / "short.trd", dir / "o/p/short.trd", ""}, options);
  ASSERT_TRUE(r.ok) << r.reason;
  EXPECT_NE(r.note.find("TRD file ends inside track 0.1"), std::string::npos) << r.note;
  EXPECT_EQ(r.notes,
            std::vector<std::string>{
                "1 bad sector(s) saved as good data: the TRD file cannot mark a CRC error."});
  // Raw tracks read from a UDI file, written where only their sectors go.
  ASSERT_TRUE(ConvertImageFile(*scratch, {dir / "o/p/short.trd", dir / "u.udi", ""}, options).ok);
  r = ConvertImageFile(*scratch, {dir / "u.udi", dir / "u.fdi", ""}, options);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_TRUE(
      r.notes[0].starts_with("The FDI file keeps sectors only: the raw bytes of 2 track(s)"))
      << r.notes[0];
}

}  // namespace
}  // namespace kelvara
