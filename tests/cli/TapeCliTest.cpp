// Tape files out of and onto disks, and add, rm and rename on CP/M disks,
// run as a user runs kelvara-cli; fuse-emulator-utils (tzxlist, listbasic)
// check the TAP files we write.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "filesystems/TapeImage.h"
#include "formats/ImageFiles.h"
#include "support/CliRun.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

using Bytes = std::vector<uint8_t>;
using test::CliRun;
using test::ReadBytes;
using test::RunCliArgs;
using test::WriteBytes;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The line of a listing that starts with `start`.
std::string Line(const std::string& text, const std::string& start) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(start)) return line;
  }
  return "";
}

// 10 PRINT "HI": the line number high byte first, the length, the tokens.
const Bytes kProgram = {0, 10, 6, 0, 0xF5, '"', 'H', 'I', '"', 0x0D};

std::string Shell(const std::string& command) {
  std::string text;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    text.append(buffer, n);
  if (pipe) pclose(pipe);
  return text;
}

bool HaveTool(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

class TapeCli : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string trd = dir / "d.trd";

  // A TR-DOS disk with a program (LINE 10 in its tail), a screen and a
  // number array b().
  void SetUp() override {
    test::TrdosFile run{"run", 'B', 10, kProgram, 10};  // 10 bytes, with no variables
    run.data.insert(run.data.end(), {0x80, 0xAA, 10, 0});
    test::TrdosFile screen{"screen", 'C', 16384, test::PatternBytes(6912, 1)};
    test::TrdosFile numbers{"nums", 'D', 0xE2, {1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}};
    auto disk = std::make_unique<TZX_Disk>();
    test::BuildTrdosDisk(*disk, {run, screen, numbers});
    ASSERT_TRUE(SaveImageFile(*disk, trd, {}).ok);
  }
};

TEST_F(TapeCli, TrdosFilesGoToTapeAndBackOntoTrdosAndPlus3Disks) {
  CliRun r = RunCliArgs({"extract", trd, "--tap", dir / "out.tap"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<TapeFile> files;
  std::string error;
  ASSERT_TRUE(ReadTapeFiles(ReadBytes(dir / "out.tap"), "x", files, error)) << error;
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].data, kProgram);
  EXPECT_EQ(files[0].header.param1, 10);
  EXPECT_EQ(files[1].header.param1, 16384);
  EXPECT_EQ(files[2].header.param1, 0x8200);
  // Only the chosen ones, and refused over an existing file.
  r = RunCliArgs({"extract", trd, "screen.C", "--tap", dir / "out.tap"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "file exists")) << r.err;
  ASSERT_EQ(RunCliArgs({"extract", trd, "screen.C", "--tap", dir / "one.tzx"}).status, 0);
  ASSERT_TRUE(ReadTapeFiles(ReadBytes(dir / "one.tzx"), "x", files, error)) << error;
  EXPECT_EQ(files.size(), 1u);

  // Onto a new TR-DOS disk: the same files, so the same tape again.
  ASSERT_EQ(RunCliArgs({"new", "trdos", dir / "n.trd"}).status, 0);
  ASSERT_EQ(RunCliArgs({"add", dir / "n.trd", dir / "out.tap"}).status, 0);
  ASSERT_EQ(RunCliArgs({"extract", dir / "n.trd", "--tap", dir / "again.tap"}).status, 0);
  EXPECT_EQ(ReadBytes(dir / "again.tap"), ReadBytes(dir / "out.tap"));

  // Onto a +3 disk: PLUS3DOS headers from the tape headers, and back.
  ASSERT_EQ(RunCliArgs({"new", "plus3", dir / "p.dsk"}).status, 0);
  r = RunCliArgs({"add", dir / "p.dsk", dir / "out.tap"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunCliArgs({"cat", dir / "p.dsk"});
  EXPECT_TRUE(Contains(Line(r.out, "RUN "), "PLUS3DOS Program 10 bytes, LINE 10")) << r.out;
  EXPECT_TRUE(Contains(r.out, "PLUS3DOS Bytes 6912 at 16384")) << r.out;
  EXPECT_TRUE(Contains(r.out, "PLUS3DOS Number array b 12 bytes")) << r.out;
  ASSERT_EQ(RunCliArgs({"extract", dir / "p.dsk", "--tap", dir / "p3.tap"}).status, 0);
  std::vector<TapeFile> back;
  ASSERT_TRUE(ReadTapeFiles(ReadBytes(dir / "p3.tap"), "x", back, error)) << error;
  ReadTapeFiles(ReadBytes(dir / "out.tap"), "x", files, error);
  ASSERT_EQ(back.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(back[i].data, files[i].data);
    EXPECT_EQ(back[i].header.param1, files[i].header.param1);
    EXPECT_EQ(back[i].header.param2, files[i].header.param2);
  }
  EXPECT_EQ(TapeNameText(back[0].header), "RUN");

  // A Profi disk has no tape form either way.
  ASSERT_EQ(RunCliArgs({"new", "cpm", dir / "c.pro"}).status, 0);
  r = RunCliArgs({"add", dir / "c.pro", dir / "out.tap"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "tape files go onto +3DOS and CPC disks")) << r.err;
  r = RunCliArgs({"extract", dir / "c.pro", "--tap", dir / "c.tap"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "tape files come from +3DOS, TR-DOS disks")) << r.err;
}

TEST_F(TapeCli, TzxlistAndListbasicReadOurTapes) {
  if (!HaveTool("tzxlist") || !HaveTool("listbasic"))
    GTEST_SKIP() << "fuse-emulator-utils is not installed";
  ASSERT_EQ(RunCliArgs({"extract", trd, "--tap", dir / "out.tap"}).status, 0);
  const std::string list = Shell("tzxlist " + dir / "out.tap");
  size_t pass = 0;
  for (size_t at = 0; (at = list.find("(PASS)", at)) != std::string::npos; ++at)
    ++pass;
  EXPECT_EQ(pass, 6u) << list;
  EXPECT_FALSE(Contains(list, "FAIL")) << list;
  EXPECT_TRUE(Contains(list, "Program: \"run       \" LINE 10")) << list;
  EXPECT_TRUE(Contains(list, "Bytes: \"screen    \" SCREEN$  16384, 6912")) << list;
  EXPECT_TRUE(Contains(list, "Number Array: \"nums      \" DATA B()")) << list;
  EXPECT_TRUE(Contains(Shell("listbasic " + dir / "out.tap"), "10 PRINT \"HI\""));
  // A TZX file tapeconv made of it holds the same files.
  if (!HaveTool("tapeconv")) return;
  Shell("tapeconv " + dir / "out.tap" + " " + dir / "their.tzx");
  ASSERT_EQ(RunCliArgs({"new", "trdos", dir / "n.trd"}).status, 0);
  ASSERT_EQ(RunCliArgs({"add", dir / "n.trd", dir / "their.tzx"}).status, 0);
  ASSERT_EQ(RunCliArgs({"extract", dir / "n.trd", "--tap", dir / "again.tap"}).status, 0);
  EXPECT_EQ(ReadBytes(dir / "again.tap"), ReadBytes(dir / "out.tap"));
}

// A file that has no tape form is left out and named: partly done.
TEST_F(TapeCli, AFileWithoutTapeFormIsLeftOutWithStatusTwo) {
  ASSERT_EQ(RunCliArgs({"new", "plus3", dir / "p.dsk"}).status, 0);
  WriteBytes(dir / "plain.txt", {'h', 'i'});
  Bytes odd = {'P', 'L', 'U', 'S', '3', 'D', 'O', 'S', 0x1A, 1, 0, 130, 0, 0, 0, 9, 2};
  odd.resize(127, 0);
  uint8_t sum = 0;
  for (uint8_t b : odd)
    sum = static_cast<uint8_t>(sum + b);
  odd.push_back(sum);
  odd.insert(odd.end(), {1, 2});
  WriteBytes(dir / "odd.bin", odd);
  ASSERT_EQ(RunCliArgs({"add", dir / "p.dsk", dir / "plain.txt", dir / "odd.bin"}).status, 0);
  const CliRun r = RunCliArgs({"extract", dir / "p.dsk", "--tap", dir / "t.tap"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "PLAIN.TXT: no PLUS3DOS header: written as CODE 32768")) << r.err;
  EXPECT_TRUE(Contains(r.err, "ODD.BIN: left out: PLUS3DOS type 9 has no tape form")) << r.err;
}

TEST_F(TapeCli, AddRemoveAndRenameOnCpmDisksSaveOnlyWhatWorked) {
  const std::string p3 = dir / "p.dsk";
  ASSERT_EQ(RunCliArgs({"new", "plus3", p3}).status, 0);
  WriteBytes(dir / "code.bin", test::PatternBytes(3000, 2));
  WriteBytes(dir / "notes.txt", {'a', 'b', 'c'});
  CliRun r = RunCliArgs({"add", p3, dir / "code.bin", "--code", "32768"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunCliArgs({"add", p3, dir / "notes.txt", "--as", "3:read.me"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunCliArgs({"cat", p3, "--hidden"});
  EXPECT_TRUE(Contains(r.out, "CODE     BIN")) << r.out;
  EXPECT_TRUE(Contains(r.out, "PLUS3DOS Bytes 3000 at 32768")) << r.out;
  EXPECT_TRUE(Contains(Line(r.out, "READ     ME "), " 03 ")) << r.out;

  const Bytes before = ReadBytes(p3);
  struct Refusal {
    std::vector<std::string> args;
    const char* error;
  } refusals[] = {
      {{"add", p3, dir / "code.bin"}, "Файл с именем CODE.BIN в образе уже существует..!"},
      {{"rename", p3, "3:READ.ME", "CODE.BIN"}, "Файл с именем CODE.BIN в образе уже существует"},
      {{"rm", p3, "READ.ME"}, "READ.ME: Ошибка в CP/M каталоге!"},
      {{"rm", p3, "bad name.x"}, "a CP/M name is 1 to 8 characters"},
      {{"add", p3, dir / "notes.txt", dir / "code.bin", "--as", "x.y"}, "with one file only"},
      {{"add", trd, dir / "code.bin", "--code", "1"}, "--as and --code are for CP/M disks"},
      {{"rename", trd, "run.B", "walk.B"}, "rename works on CP/M disks"},
  };
  for (const Refusal& f : refusals) {
    SCOPED_TRACE(f.args[0] + " " + f.args.back());
    r = RunCliArgs(f.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, f.error)) << r.err;
  }
  // The disk fills up on the third copy: none of the three is kept.
  WriteBytes(dir / "big1.bin", Bytes(80 * 1024));
  WriteBytes(dir / "big2.bin", Bytes(80 * 1024));
  WriteBytes(dir / "big3.bin", Bytes(80 * 1024));
  r = RunCliArgs({"add", p3, dir / "big1.bin", dir / "big2.bin", dir / "big3.bin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "Нет места на образе диска ..!")) << r.err;
  EXPECT_EQ(ReadBytes(p3), before);

  ASSERT_EQ(RunCliArgs({"rename", p3, "3:read.me", "notes.txt"}).status, 0);
  ASSERT_EQ(RunCliArgs({"rm", p3, "code.bin"}).status, 0);
  r = RunCliArgs({"cat", p3, "--hidden"});
  EXPECT_TRUE(Contains(Line(r.out, "NOTES    TXT "), " 00 ")) << r.out;
  EXPECT_FALSE(Contains(r.out, "CODE")) << r.out;
}

}  // namespace
}  // namespace kelvara
