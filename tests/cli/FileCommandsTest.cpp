// cat, extract and screen choose the file system by the image.
#include <gtest/gtest.h>

#include <memory>

#include "formats/Trd.h"
#include "support/CliRun.h"
#include "support/PngRead.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

using test::CliRun;
using test::RunCliArgs;
using test::TempDir;

TEST(FileCommands, TrdosScreenFileBecomesAPicture) {
  TempDir dir;
  test::TrdosFile screen{"PIC", 'C', 16384, std::vector<uint8_t>(6912, 0)};
  for (int i = 6144; i < 6912; ++i)
    screen.data[i] = 0x47;  // bright white ink on black paper
  screen.data[0] = 0x80;    // the top-left pixel is ink
  auto disk = std::make_unique<TZX_Disk>();
  test::BuildTrdosDisk(*disk, {test::PatternFile("GAME", 'B', 2), screen});
  ASSERT_TRUE(SaveTRD(*disk, dir / "d.trd"));

  CliRun r = RunCliArgs({"screen", dir / "d.trd", "PIC.C", dir / "p.png", "--scale", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  test::RgbPicture pic;
  ASSERT_TRUE(test::DecodePng(test::ReadBytes(dir / "p.png"), pic));
  ASSERT_EQ(pic.width, 512);
  ASSERT_EQ(pic.height, 384);
  EXPECT_EQ(pic.rgb[0], 255);  // ink, scaled to 2 x 2
  EXPECT_EQ(pic.rgb[3 * 513], 255);
  EXPECT_EQ(pic.rgb[3 * 2], 0);  // paper

  r = RunCliArgs({"screen", dir / "d.trd", "NONE.C", dir / "q.png"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no file NONE.C"), std::string::npos) << r.err;

  r = RunCliArgs({"cat", dir / "d.trd"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("PIC"), std::string::npos);
}

}  // namespace
}  // namespace kelvara
