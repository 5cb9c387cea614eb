#include <gtest/gtest.h>

#include "model/Png.h"
#include "support/PngRead.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

TEST(Png, PixelsSurviveTheRoundTrip) {
  const auto rgb = test::PatternBytes(7 * 5 * 3, 2);
  std::vector<uint8_t> file;
  std::string error;
  ASSERT_TRUE(EncodePngRgb(rgb, 7, 5, file, error)) << error;
  test::RgbPicture picture;
  ASSERT_TRUE(test::DecodePng(file, picture));
  EXPECT_EQ(picture.width, 7);
  EXPECT_EQ(picture.height, 5);
  EXPECT_EQ(picture.rgb, rgb);

  test::TempDir dir;
  ASSERT_TRUE(WritePngRgb(dir / "a.png", rgb, 7, 5, error)) << error;
  EXPECT_EQ(test::ReadBytes(dir / "a.png"), file);
}

TEST(Png, MismatchedSizesAreRefusedAndWriteNothing) {
  test::TempDir dir;
  std::string error;
  test::WriteBytes(dir / "old.png", {1, 2, 3});
  EXPECT_FALSE(WritePngRgb(dir / "old.png", std::vector<uint8_t>(10), 2, 2, error));
  EXPECT_NE(error.find("PNG"), std::string::npos) << error;
  EXPECT_EQ(test::ReadBytes(dir / "old.png"), (std::vector<uint8_t>{1, 2, 3}));
  std::vector<uint8_t> file;
  EXPECT_FALSE(EncodePngRgb({}, 0, 0, file, error));
  EXPECT_FALSE(EncodePngRgb(std::vector<uint8_t>(12), -2, -2, file, error));
  EXPECT_TRUE(file.empty());
}

TEST(Png, ScalingMakesEachPixelASquare) {
  // 2 x 2 pixels: red, green / blue, white.
  const std::vector<uint8_t> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  const auto big = ScaleRgb(rgb, 2, 2, 3);
  ASSERT_EQ(big.size(), 6u * 6 * 3);
  auto at = [&](int x, int y) {
    const size_t i = (static_cast<size_t>(y) * 6 + x) * 3;
    return std::vector<uint8_t>(big.begin() + i, big.begin() + i + 3);
  };
  using P = std::vector<uint8_t>;
  EXPECT_EQ(at(0, 0), (P{255, 0, 0}));
  EXPECT_EQ(at(2, 2), (P{255, 0, 0}));
  EXPECT_EQ(at(3, 0), (P{0, 255, 0}));
  EXPECT_EQ(at(5, 2), (P{0, 255, 0}));
  EXPECT_EQ(at(0, 3), (P{0, 0, 255}));
  EXPECT_EQ(at(2, 5), (P{0, 0, 255}));
  EXPECT_EQ(at(5, 5), (P{255, 255, 255}));
  EXPECT_EQ(ScaleRgb(rgb, 2, 2, 1), rgb);
}

}  // namespace
}  // namespace kelvara
