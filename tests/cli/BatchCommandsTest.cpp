// convert --to, verify and diff run as a user runs them: exit codes and
// summaries over a small collection.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "formats/ImageFiles.h"
#include "support/CliRun.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::CliRun;
using test::WriteBytes;

CliRun Cli(std::vector<std::string> args) {
  return test::RunCliArgs(std::move(args));
}

class BatchCli : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string in = dir / "in", out = dir / "out";

  void SetUp() override {
    std::filesystem::create_directories(in + "/sub");
    ASSERT_EQ(Cli({"demo", in + "/demo.trd"}).status, 0);
    ASSERT_EQ(Cli({"new", "trdos", in + "/sub/empty.fdi"}).status, 0);
    ASSERT_EQ(Cli({"new", "trdos", in + "/sub/empty.trd"}).status, 0);  // the same output
    WriteBytes(in + "/broken.udi", {1, 2, 3});
  }
};

// A damaged file, a name collision and an existing output: the rest is
// converted, each failure is listed with its reason, the exit status says
// "some failed"; a run that converts nothing says so.
TEST_F(BatchCli, ConvertGoesOnPastFailures) {
  std::filesystem::create_directories(out);
  WriteBytes(out + "/demo.udi", {7});
  CliRun r = Cli({"convert", "--to", "UDI", "-o", out, "-r", "--jobs", "2", in});
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.out.find("Converted 1 of 4 file(s)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("broken.udi: Error UDI file!"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("empty.trd: the same output as " + in + "/sub/empty.fdi"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("demo.udi exists (--force replaces it)"), std::string::npos) << r.out;
  EXPECT_TRUE(std::filesystem::exists(out + "/sub/empty.udi"));
  EXPECT_EQ(std::filesystem::file_size(out + "/demo.udi"), 1u);

  EXPECT_EQ(Cli({"convert", "--to", "udi", "-o", out, in + "/broken.udi"}).status, 1);
  r = Cli({"convert", "--to", "udi", "-o", out, "--force", "--json", in + "/demo.trd"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(R"({"converted":1,"failed":0,"files":[{"input":")")) << r.out;
  EXPECT_GT(std::filesystem::file_size(out + "/demo.udi"), 1u);
}

TEST_F(BatchCli, UsageOfTheTwoConvertForms) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"convert", in + "/demo.trd"},
        {"convert", "--to", "udi", in + "/demo.trd"},
        {"convert", "-o", out, in + "/demo.trd", out + "/x.udi"},
        {"convert", "--to", "xyz", "-o", out, in + "/demo.trd"},
        {"convert", "-r", in + "/demo.trd", out + "/x.udi"},
        {"verify"},
        {"diff", in + "/demo.trd"},
        {"info", "--frobnicate", in + "/demo.trd"}})
    EXPECT_EQ(Cli(args).status, 1) << "bad usage is a refusal: " << args.back();
  EXPECT_EQ(Cli({"convert", in + "/demo.trd", dir / "single.udi"}).status, 0);
}

TEST_F(BatchCli, VerifyAndDiffExitStatus) {
  const std::string demo = in + "/demo.trd", empty = in + "/sub/empty.trd";
  std::vector<uint8_t> damaged(655360 - 100);  // the last sector cut short
  WriteBytes(dir / "cut.trd", damaged);
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"verify", demo}, 0},
      {{"verify", dir / "cut.trd"}, 2},
      {{"verify", in + "/broken.udi"}, 1},
      {{"verify", demo, in + "/broken.udi"}, 2},
      {{"verify", "-r", in}, 2},
      {{"diff", demo, demo}, 0},
      {{"diff", demo, in + "/sub/empty.fdi"}, 2},
      {{"diff", demo, in + "/broken.udi"}, 1},
  };
  for (const Case& c : cases) {
    const CliRun r = Cli(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args.back() << "\n" << r.out << r.err;
  }
  CliRun r = Cli({"verify", dir / "cut.trd"});
  EXPECT_NE(r.out.find("track 79.1: bad 16"), std::string::npos) << r.out;
  r = Cli({"diff", demo, in + "/sub/empty.fdi", "--json"});
  EXPECT_NE(r.out.find(R"({"kind":"only-in-a","name":"boot.B"})"), std::string::npos) << r.out;
}

// Files of a folder that are no images are counted and listed, not passed
// over; a +3 disk verifies clean, one-sided as it is.
TEST_F(BatchCli, SkippedFilesAndOneSidedDisks) {
  WriteBytes(in + "/notes.txt", {1});
  WriteBytes(in + "/game.mgt", {1});
  ASSERT_EQ(Cli({"new", "plus3", in + "/p3.dsk"}).status, 0);
  CliRun r = Cli({"convert", "--to", "udi", "-o", out, in});
  EXPECT_NE(r.out.find("\n2 skipped: not a disk image\n"), std::string::npos) << r.out;
  r = Cli({"verify", in, "--json"});
  EXPECT_NE(
      r.out.find(R"("skipped":[{"file":")" + in + R"(/game.mgt","reason":"not a disk image"})"),
      std::string::npos)
      << r.out;
  r = Cli({"verify", in + "/p3.dsk"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, in + "/p3.dsk: clean (plus3dos, 40 tracks)\n");
}

// A single conversion says what the reader noted and what the output cannot
// keep; the disks a TRD file cannot hold are refused in one text; a TR-DOS
// disk without files is an SCL archive of none.
TEST_F(BatchCli, ConvertSaysWhatItReadAndWhatItDrops) {
  WriteBytes(dir / "noise.trd", test::PatternBytes(5000, 3));
  CliRun r = Cli({"convert", dir / "noise.trd", dir / "noise.udi"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(dir / "noise.trd" + ": TRD file ends inside track 0.1"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Track 0.0 holds no TR-DOS catalog"), std::string::npos) << r.err;

  auto disk = std::make_unique<TZX_Disk>();
  ASSERT_TRUE(LoadImageFile(*disk, in + "/demo.trd").ok);
  disk->Comment = {"first", "second"};
  ASSERT_TRUE(SaveImageFile(*disk, dir / "c.td0", {}).ok);
  r = Cli({"convert", dir / "c.td0", dir / "c.trd"});
  EXPECT_NE(r.err.find(dir / "c.trd" + ": The disk comment (2 line(s)) is not kept: the TRD file "
                                       "has no place for it."),
            std::string::npos)
      << r.err;

  ASSERT_EQ(Cli({"new", "plus3", dir / "p3.dsk"}).status, 0);
  for (const uint8_t id : {0x01, 0x41}) {
    disk->ClearImage();
    for (int r9 = 0; r9 < 9; ++r9)
      test::AddSector(*disk, 0, 0, 0, static_cast<uint8_t>(id + r9), 2, std::vector<uint8_t>(512));
    ASSERT_TRUE(SaveImageFile(*disk, dir / "one.dsk", {}).ok);
    r = Cli({"convert", dir / "one.dsk", dir / "one.trd"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("one.trd not written: Track 0.0 holds 9 sector(s) of 512 bytes (numbers " +
                         std::to_string(id) + "-" + std::to_string(id + 8) +
                         "); a TRD file needs sectors 1-16 of 256 bytes there!"),
              std::string::npos)
        << r.err;
  }

  r = Cli({"convert", in + "/sub/empty.trd", dir / "empty.scl"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Cli({"verify", dir / "empty.scl"}).status, 0);
}

}  // namespace
}  // namespace kelvara
