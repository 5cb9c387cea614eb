// kelvara-cli's CP/M and screen commands, run in process from the command
// line parser down to the files they write.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "cli/CpmCommands.h"
#include "filesystems/ScrUn.h"
#include "formats/ImageFiles.h"
#include "support/CpmDiskBuilder.h"
#include "support/PngRead.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::PutCpmEntry;
using test::PutCpmFile;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

struct CliRun {
  int status;
  std::string out, err;
};

CliRun RunArgs(std::vector<std::string> args) {
  args.insert(args.begin(), "kelvara-cli");
  std::vector<const char*> argv;
  for (const std::string& a : args)
    argv.push_back(a.c_str());
  std::ostringstream out, err;
  const int status = cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err);
  return {status, out.str(), err.str()};
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class CpmCliTest : public ::testing::Test {
 protected:
  void SetUp() override { disk->CreateCpmDisk(); }

  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  std::ostringstream out, err;
  cli::Context ctx{out, err, 0, {}};
  TempDir dir;
};

TEST_F(CpmCliTest, CatShowsTheRowsAndTheSpace) {
  PutCpmFile(*disk, 0, 2, "GAME    COM", PatternBytes(17664, 1));
  PutCpmFile(*disk, 2, 11, "NOTES   TXT", PatternBytes(256, 2), 3);
  PutCpmEntry(*disk, 3, {0xE5, "OLD     TXT", 0, 17, {40}});
  EXPECT_EQ(cli::CpmCat(ctx, *disk, {}), 0);
  const std::string sep = SystemDecimalSeparator();
  EXPECT_EQ(out.str(),
            "Filename Ext    Length Atrib №\n"
            "GAME     COM    17" +
                sep +
                "256 00    00\n"
                "Количество файлов: 1\n"
                "Занято: 24 кБ\n"
                "Свободно: 776 кБ\n");

  out.str("");
  EXPECT_EQ(cli::CpmCat(ctx, *disk, {.deleted = true, .hidden = true}), 0);
  EXPECT_TRUE(Contains(out.str(), "NOTES    TXT     0" + sep + "256 03    00\n")) << out.str();
  EXPECT_TRUE(Contains(out.str(), "OLD      TXT     2" + sep + "128 E5    00\n")) << out.str();
  EXPECT_TRUE(Contains(out.str(), "Количество файлов: 3\n"));
}

TEST_F(CpmCliTest, ExtractSavesFilesUnderTheirKeys) {
  const auto game = PatternBytes(17664, 1), notes = PatternBytes(256, 2);
  PutCpmFile(*disk, 0, 2, "GAME    COM", game);
  PutCpmFile(*disk, 2, 11, "NOTES   TXT", notes);
  EXPECT_EQ(cli::CpmExtract(ctx, *disk, {}, dir.Path(), {}, false), 0) << err.str();
  EXPECT_EQ(ReadBytes(dir / "GAME    COM.cpm"), game);
  EXPECT_EQ(ReadBytes(dir / "NOTES   TXT.cpm"), notes);

  // By name, in any case; an existing file only with force.
  WriteBytes(dir / "NOTES   TXT.cpm", {1});
  EXPECT_EQ(cli::CpmExtract(ctx, *disk, {"notes.txt"}, dir.Path(), {}, false), 1);
  EXPECT_TRUE(Contains(err.str(), "file exists")) << err.str();
  EXPECT_EQ(ReadBytes(dir / "NOTES   TXT.cpm"), (std::vector<uint8_t>{1}));
  EXPECT_EQ(cli::CpmExtract(ctx, *disk, {"notes.txt"}, dir.Path(), {}, true), 0);
  EXPECT_EQ(ReadBytes(dir / "NOTES   TXT.cpm"), notes);

  EXPECT_EQ(cli::CpmExtract(ctx, *disk, {"NOPE.TXT"}, dir.Path(), {}, true), 1);
  EXPECT_TRUE(Contains(err.str(), "NOPE.TXT: no such file")) << err.str();
}

TEST_F(CpmCliTest, ExtractNeverOverwritesItsOwnOutput) {
  PutCpmFile(*disk, 0, 2, "SAME    TXT", std::vector<uint8_t>(128, 'a'));
  PutCpmFile(*disk, 1, 3, "SAME    TXT", std::vector<uint8_t>(128, 'b'), 7);
  EXPECT_EQ(cli::CpmExtract(ctx, *disk, {}, dir.Path(), {.hidden = true}, true), 1);
  EXPECT_EQ(ReadBytes(dir / "SAME    TXT.cpm"), std::vector<uint8_t>(128, 'a'));
  EXPECT_TRUE(Contains(err.str(), "same name")) << err.str();
}

TEST_F(CpmCliTest, ScreenWritesTheColoursOfAScreenFile) {
  std::vector<uint8_t> scr(kZxScreenBytes, 0);
  scr[ZxScreenOffset(100, 5)] = 0x80;                    // one set pixel at (40, 100)
  scr[kZxBitmapBytes + 100 / 8 * 32 + 5] = 0x47 | 0x10;  // bright white on red
  WriteBytes(dir / "a.scr", scr);
  CliRun r = RunArgs({"screen", dir / "a.scr", dir / "a.png", "--scale", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  test::RgbPicture png;
  ASSERT_TRUE(test::DecodePng(ReadBytes(dir / "a.png"), png));
  ASSERT_EQ(png.width, 512);
  ASSERT_EQ(png.height, 384);
  auto pixel = [&](int x, int y) {
    const size_t i = (static_cast<size_t>(y) * 512 + x) * 3;
    return std::vector<uint8_t>(png.rgb.begin() + i, png.rgb.begin() + i + 3);
  };
  using P = std::vector<uint8_t>;
  EXPECT_EQ(pixel(80, 200), (P{255, 255, 255}));
  EXPECT_EQ(pixel(81, 201), (P{255, 255, 255}));
  EXPECT_EQ(pixel(82, 200), (P{250, 88, 92}));
  EXPECT_EQ(pixel(0, 0), (P{0, 0, 0}));

  WriteBytes(dir / "short.scr", std::vector<uint8_t>(6000));
  r = RunArgs({"screen", dir / "short.scr", dir / "b.png"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "6000 bytes")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "b.png"));
  EXPECT_EQ(RunArgs({"screen", dir / "a.scr", dir / "b.png", "--scale", "4"}).status, 2);
  EXPECT_EQ(RunArgs({"screen", dir / "a.scr"}).status, 2);
}

TEST_F(CpmCliTest, ScreenOfTooFewBytesWritesNothing) {
  EXPECT_EQ(cli::ScreenToPng(ctx, std::vector<uint8_t>(6911), dir / "c.png", 1), 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "c.png"));
  EXPECT_EQ(cli::ScreenToPng(ctx, std::vector<uint8_t>(7000), dir / "c.png", 3), 0);
  test::RgbPicture png;
  ASSERT_TRUE(test::DecodePng(ReadBytes(dir / "c.png"), png));
  EXPECT_EQ(png.width, 768);
}

TEST_F(CpmCliTest, NewDiskInAFormatThatCannotHoldItWritesNothing) {
  CliRun r = RunArgs({"new", "cpm", dir / "x.trd"});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.trd"));
  EXPECT_EQ(RunArgs({"new"}).status, 2);
  EXPECT_EQ(RunArgs({"new", "cpm"}).status, 2);
}

TEST_F(CpmCliTest, CommandsRefuseImagesThatAreNotCpm) {
  WriteBytes(dir / "t.trd", {});  // a TRD image of no tracks
  for (const char* command : {"cat", "extract"}) {
    const CliRun r = RunArgs({command, dir / "t.trd"});
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_TRUE(Contains(r.err, kNotCpmImageText)) << r.err;
  }
  const CliRun r = RunArgs({"cat", dir / "none.trd"});
  EXPECT_EQ(r.status, 1);
}

// The whole way through a PRO image file, once the PRO format is there.
TEST_F(CpmCliTest, NewCatExtractAndScreenOfAProImage) {
  if (!FindImageFormat("PRO")) GTEST_SKIP() << "PRO images are not supported yet";
  const std::string pro = dir / "p.pro";
  CliRun r = RunArgs({"new", "cpm", pro});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBytes(pro).size(), 819200u);
  r = RunArgs({"cat", pro});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "Количество файлов: 0\nЗанято: 4 кБ\nСвободно: 796 кБ\n")) << r.out;

  ASSERT_TRUE(LoadImageFile(*disk, pro).ok);
  const auto game = PatternBytes(20000, 5);
  std::vector<uint8_t> scr(kZxScreenBytes, 0);
  std::fill(scr.begin() + kZxBitmapBytes, scr.end(), 0x07);
  std::fill(scr.begin(), scr.begin() + 32, 0xFF);  // the top row lit
  PutCpmFile(*disk, 0, 2, "GAME    COM", game);
  PutCpmFile(*disk, 2, 20, "SCREEN  SCR", scr);
  ASSERT_TRUE(SaveImageFile(*disk, pro, {}).ok);

  r = RunArgs({"cat", pro});
  EXPECT_TRUE(Contains(r.out, "GAME     COM")) << r.out;
  r = RunArgs({"extract", pro, "game.com", "-d", dir.Path()});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto saved = ReadBytes(dir / "GAME    COM.cpm");
  ASSERT_EQ(saved.size(), 20096u);  // whole records
  EXPECT_TRUE(std::equal(game.begin(), game.end(), saved.begin()));

  r = RunArgs({"screen", pro, "screen.scr", dir / "s.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  test::RgbPicture png;
  ASSERT_TRUE(test::DecodePng(ReadBytes(dir / "s.png"), png));
  EXPECT_EQ(png.rgb[0], 228);
  EXPECT_EQ(png.rgb[256 * 3], 0);
}

}  // namespace
}  // namespace kelvara
