// kelvara-cli's CP/M and screen commands, run in process from the command
// line parser down to the files they write.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "cli/CpmCommands.h"
#include "formats/ImageFiles.h"
#include "session/CpmCatalogWindow.h"
#include "session/Viewers.h"
#include "support/CliRun.h"
#include "support/CpmDiskBuilder.h"
#include "support/PngRead.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::PutCpmFile;
using test::ReadBytes;
using Bytes = std::vector<uint8_t>;

using test::CliRun;
using test::RunCliArgs;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class CpmCliTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateCpmDisk(*disk); }

  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  std::ostringstream out, err;
  cli::Context ctx{out, err, 0, {}};
  test::TempDir dir;
};

TEST_F(CpmCliTest, CatShowsTheRowsAndTheSpace) {
  PutCpmFile(*disk, 0, 2, "GAME    COM", PatternBytes(17664, 1));
  PutCpmFile(*disk, 2, 11, "NOTES   TXT", PatternBytes(256, 2), 3);
  EXPECT_EQ(cli::CpmCat(ctx, *disk, {}), 0);
  const std::string sep = SystemDecimalSeparator();
  EXPECT_EQ(out.str(),
            "Filename Ext    Length Atrib №  Flags\n"
            "GAME     COM    17" +
                sep +
                "256 00    00\n"
                "Количество файлов: 1\n"
                "Занято: 24 кБ\n"
                "Свободно: 776 кБ\n");
}

TEST_F(CpmCliTest, ExtractSavesFilesUnderTheirKeysAndNeverOverwritesUnasked) {
  const Bytes game = PatternBytes(17664, 1), notes = PatternBytes(256, 2);
  PutCpmFile(*disk, 0, 2, "GAME    COM", game);
  PutCpmFile(*disk, 2, 11, "NOTES   TXT", notes);
  // The read-only bit on the extension is no part of the typed name; the
  // saved file's name keeps the stored bytes.
  PutCpmFile(*disk, 3, 12, "PROG    \xC3OM", notes);
  EXPECT_EQ(cli::CpmExtract(ctx, *disk, {}, dir.Path(), {}, false), 0) << err.str();
  EXPECT_EQ(ReadBytes(dir / "GAME    COM.cpm"), game);
  EXPECT_EQ(ReadBytes(dir / "PROG    \u0413OM.cpm"), notes);

  test::WriteBytes(dir / "NOTES   TXT.cpm", {1});
  EXPECT_EQ(cli::CpmExtract(ctx, *disk, {"notes.txt"}, dir.Path(), {}, false), 1);
  EXPECT_EQ(ReadBytes(dir / "NOTES   TXT.cpm"), Bytes{1});
  EXPECT_EQ(cli::CpmExtract(ctx, *disk, {"prog.com", "notes.txt"}, dir.Path(), {}, true), 0);
  EXPECT_EQ(ReadBytes(dir / "NOTES   TXT.cpm"), notes);
  EXPECT_EQ(cli::CpmExtract(ctx, *disk, {"NOPE.TXT"}, dir.Path(), {}, true), 1);
  EXPECT_TRUE(Contains(err.str(), "NOPE.TXT: no such file")) << err.str();

  // Namesakes of two users: the other user's goes into its own folder, and
  // is named on a command line with its user.
  PutCpmFile(*disk, 4, 13, "GAME    COM", Bytes(128, 'b'), 7);
  EXPECT_EQ(cli::CpmExtract(ctx, *disk, {}, dir.Path(), {.hidden = true}, true), 0) << err.str();
  EXPECT_EQ(ReadBytes(dir / "GAME    COM.cpm"), game);
  EXPECT_EQ(ReadBytes(dir / "7/GAME    COM.cpm"), Bytes(128, 'b'));
  EXPECT_EQ(cli::CpmExtract(ctx, *disk, {"7:game.com"}, dir / "named", {}, false), 0);
  EXPECT_EQ(ReadBytes(dir / "named/7/GAME    COM.cpm"), Bytes(128, 'b'));
  // Some files written, one refused: partly done.
  std::filesystem::create_directories(dir / "part");
  test::WriteBytes(dir / "part/NOTES   TXT.cpm", {1});
  EXPECT_EQ(cli::CpmExtract(ctx, *disk, {"game.com", "notes.txt"}, dir / "part", {}, false), 2);
}

// The label is listed as what it is, never as a file; the attribute bits
// are attributes, in cat and in its JSON.
TEST_F(CpmCliTest, CatShowsTheLabelAndTheAttributes) {
  PutCpmFile(*disk, 0, 2, "J10LOCO \xC5\xCDS", PatternBytes(300, 1));
  test::PutCpmEntry(*disk, 1, {0x20, "MYDISK  VOL", 0, 0, {}});
  ASSERT_TRUE(SaveImageFile(*disk, dir / "a.pro", {}).ok);
  CliRun r = RunCliArgs({"cat", dir / "a.pro"});
  EXPECT_TRUE(Contains(r.out, "J10LOCO  EMS     0" + SystemDecimalSeparator() +
                                  "384 00    00  R/O SYS\nLabel: MYDISK.VOL\n"))
      << r.out;
  r = RunCliArgs({"cat", dir / "a.pro", "--json"});
  EXPECT_TRUE(Contains(r.out, R"("label":"MYDISK.VOL","files":[{"name":"J10LOCO","ext":"EMS",)"
                              R"("user":0,"extent":0,"records":3,"bytes":384,)"
                              R"("attributes":["R/O","SYS"]}],"others":[{"kind":"label","user":32,)"
                              R"("name":"MYDISK.VOL"}]})"))
      << r.out;
  r = RunCliArgs({"extract", dir / "a.pro", "-d", dir / "x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "x"), {}), 1);
}

TEST_F(CpmCliTest, ScreenWritesTheColoursOfAScreenFile) {
  Bytes scr(kZxScreenBytes, 0);
  scr[ZxScreenOffset(100, 5)] = 0x80;                    // the pixel at (40, 100)
  scr[kZxBitmapBytes + 100 / 8 * 32 + 5] = 0x47 | 0x10;  // bright white on red
  test::WriteBytes(dir / "a.scr", scr);
  CliRun r = RunCliArgs({"screen", dir / "a.scr", dir / "a.png", "--scale", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  test::RgbPicture png;
  ASSERT_TRUE(test::DecodePng(ReadBytes(dir / "a.png"), png));
  ASSERT_EQ(png.width * png.height, 512 * 384);
  // Pixel (40, 100) becomes the square (80..81, 200..201).
  auto pixel = [&](int x, int y) {
    return Bytes(&png.rgb[(y * 512 + x) * 3], &png.rgb[(y * 512 + x) * 3 + 3]);
  };
  EXPECT_EQ(pixel(81, 201), (Bytes{255, 255, 255}));
  EXPECT_EQ(pixel(82, 200), (Bytes{250, 88, 92}));
  EXPECT_EQ(pixel(79, 200), (Bytes{0, 0, 0}));

  test::WriteBytes(dir / "short.scr", Bytes(6000));
  EXPECT_EQ(RunCliArgs({"screen", dir / "short.scr", dir / "b.png"}).status, 1);
  EXPECT_EQ(cli::ScreenToPng(ctx, Bytes(6911), dir / "b.png", 1), 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "b.png"));
}

TEST_F(CpmCliTest, ImagesThatAreNeitherCpmNorTrdosAreRefused) {
  EXPECT_EQ(RunCliArgs({"new", "cpm", dir / "x.trd"}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.trd"));
  test::WriteBytes(dir / "t.trd", {});  // a TRD image of no tracks
  const CliRun r = RunCliArgs({"cat", dir / "t.trd"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "Образ не соответствует стандартному TR-DOS диску!")) << r.err;
}

TEST_F(CpmCliTest, NewCatExtractAndScreenOfAProImage) {
  const std::string pro = dir / "p.pro";
  CliRun r = RunCliArgs({"new", "cpm", pro});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunCliArgs({"cat", pro});
  EXPECT_TRUE(Contains(r.out, "Количество файлов: 0\nЗанято: 4 кБ\nСвободно: 796 кБ\n")) << r.out;

  ASSERT_TRUE(LoadImageFile(*disk, pro).ok);
  const Bytes game = PatternBytes(20000, 5);
  Bytes scr(kZxScreenBytes, 0);
  std::fill(scr.begin() + kZxBitmapBytes, scr.end(), 0x07);
  std::fill(scr.begin(), scr.begin() + 32, 0xFF);  // the top row lit
  PutCpmFile(*disk, 0, 2, "GAME    COM", game);
  PutCpmFile(*disk, 2, 20, "SCREEN  SCR", scr);
  ASSERT_TRUE(SaveImageFile(*disk, pro, {}).ok);

  // A missing output folder is created, as for TR-DOS disks.
  r = RunCliArgs({"extract", pro, "game.com", "-d", dir / "out/sub"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Bytes saved = ReadBytes(dir / "out/sub/GAME    COM.cpm");
  ASSERT_EQ(saved.size(), 20096u);  // whole records
  EXPECT_TRUE(std::equal(game.begin(), game.end(), saved.begin()));

  r = RunCliArgs({"screen", pro, "screen.scr", dir / "s.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  test::RgbPicture png;
  ASSERT_TRUE(test::DecodePng(ReadBytes(dir / "s.png"), png));
  EXPECT_EQ(png.rgb[0], 228);
  EXPECT_EQ(png.rgb[256 * 3], 0);
}

}  // namespace
}  // namespace kelvara
