#include <gtest/gtest.h>
#include <iconv.h>

#include <vector>

#include "session/Viewers.h"

namespace kelvara {
namespace {

using Bytes = std::vector<uint8_t>;

Rgb PixelAt(const Bytes& rgb, int x, int y) {
  const size_t i = (static_cast<size_t>(y) * kZxScreenWidth + x) * 3;
  return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

Bytes Screen(uint8_t bitmap, uint8_t attribute) {
  Bytes s(kZxScreenBytes, bitmap);
  std::fill(s.begin() + kZxBitmapBytes, s.end(), attribute);
  return s;
}

TEST(ZxScreen, ColoursComeFromInkPaperAndBrightButNotFlash) {
  const Bytes black = ZxScreenToRgb(Bytes(kZxScreenBytes, 0));
  ASSERT_EQ(black.size(), 256u * 192 * 3);
  EXPECT_TRUE(std::all_of(black.begin(), black.end(), [](uint8_t b) { return b == 0; }));

  // 0xAA: the leftmost pixel of each byte is set.
  Bytes rgb = ZxScreenToRgb(Screen(0xAA, 0x47));
  EXPECT_EQ(PixelAt(rgb, 0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(PixelAt(rgb, 255, 191), (Rgb{0, 0, 0}));
  EXPECT_EQ(rgb, ZxScreenToRgb(Screen(0xAA, 0xC7)));
  rgb = ZxScreenToRgb(Screen(0xAA, 0x07));
  EXPECT_EQ(rgb, ZxScreenToRgb(Screen(0xAA, 0x87))) << "flash is ignored";
  EXPECT_EQ(PixelAt(rgb, 0, 0), (Rgb{228, 228, 228}));
  rgb = ZxScreenToRgb(Screen(0x80, 0x71));  // bright blue on bright yellow
  EXPECT_EQ(PixelAt(rgb, 0, 0), (Rgb{95, 136, 243}));
  EXPECT_EQ(PixelAt(rgb, 1, 0), (Rgb{255, 255, 128}));
}

TEST(ZxScreen, DisplayFileOffsetsAndAttributesMapToTheirRows) {
  const int cases[][2] = {{0x0100, 1}, {0x0020, 8}, {0x0800, 64}, {0x17E0, 191}};
  for (const auto& [offset, row] : cases) {
    Bytes screen = Screen(0, 0x07);
    screen[offset] = 0x80;
    const Bytes rgb = ZxScreenToRgb(screen);
    for (int y = 0; y < kZxScreenHeight; ++y)
      ASSERT_EQ(PixelAt(rgb, 0, y).r == 228, y == row) << "offset " << offset << " row " << y;
  }
  Bytes screen = Screen(0xFF, 0x00);
  screen[kZxBitmapBytes + 32 + 3] = 0x02;  // character row 1, column 3: red ink
  const Bytes rgb = ZxScreenToRgb(screen);
  EXPECT_EQ(PixelAt(rgb, 24, 8), (Rgb{213, 30, 85}));
  EXPECT_EQ(PixelAt(rgb, 31, 15), (Rgb{213, 30, 85}));
  EXPECT_EQ(PixelAt(rgb, 24, 7), (Rgb{0, 0, 0}));
  EXPECT_EQ(PixelAt(rgb, 32, 8), (Rgb{0, 0, 0}));
  // A short file paints as its zero-filled screen.
  screen.resize(kZxBitmapBytes + 40);
  Bytes padded = screen;
  padded.resize(kZxScreenBytes, 0);
  EXPECT_EQ(ZxScreenToRgb(screen), ZxScreenToRgb(padded));
}

TEST(HexDump, LinesShowOffsetBytesAndCharacters) {
  Bytes bytes;
  for (int i = 0; i < 16; ++i)
    bytes.push_back(static_cast<uint8_t>('A' + i));
  bytes.insert(bytes.end(), {0x00, 0x7F, 0x98, 0xC0, 0xFF, 0x20});
  const auto lines = HexDumpLines(bytes);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "000000: 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50  ABCDEFGHIJKLMNOP");
  // The short last line keeps its characters in the same column.
  EXPECT_EQ(lines[1], "000010: 00 7F 98 C0 FF 20" + std::string(30, ' ') + "  ...\u0410\u044f ");
  EXPECT_EQ(HexDumpLine(Bytes{0x41}, 0x1234567), "1234567: 41" + std::string(45, ' ') + "  A");
}

TEST(TextView, LinesBreakAtCrLfOrCrLfAndEndAtZero) {
  auto lines = [](std::string_view s) { return TextLines(Bytes(s.begin(), s.end())); };
  using V = std::vector<std::string>;
  EXPECT_EQ(lines("one\rtwo\nthree\r\nfour"), (V{"one", "two", "three", "four"}));
  EXPECT_EQ(lines("a\n\rb\r\n"), (V{"a", "", "b"})) << "LF CR is two breaks";
  EXPECT_EQ(lines(std::string_view("ab\r\0\ncd", 7)), (V{"ab"}));
  EXPECT_EQ(lines(""), V{});
}

TEST(TextView, KoiToAltMovesTheHighBytesAsTheSystemTablesDo) {
  EXPECT_EQ(KoiToAlt(0xC1), 0xA0);
  EXPECT_EQ(KoiToAlt(0x80), 0xB0);
  EXPECT_EQ(KoiToAlt(0xBF), 0xFF);
  EXPECT_EQ(KoiToAlt(0x41), 0x41);
  std::string line = "A\xC1\x80";
  KoiToAlt(line);
  KoiToAlt(line);  // each press converts again
  EXPECT_EQ(line, "A\xD0\xF0");

  iconv_t cd = iconv_open("CP866", "KOI8-R");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no KOI8-R in iconv";
  for (int b = 0xC0; b <= 0xFF; ++b) {
    char in = static_cast<char>(b), out = 0;
    char *ip = &in, *op = &out;
    size_t inLeft = 1, outLeft = 1;
    ASSERT_NE(iconv(cd, &ip, &inLeft, &op, &outLeft), static_cast<size_t>(-1)) << b;
    EXPECT_EQ(KoiToAlt(static_cast<uint8_t>(b)), static_cast<uint8_t>(out)) << std::hex << b;
  }
  iconv_close(cd);
}

TEST(TextView, AltToUtf8AgreesWithTheSystemTable) {
  EXPECT_EQ(AltToUtf8("A\x80\xA0"), "AАа");
  iconv_t cd = iconv_open("UTF-8", "CP866");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no CP866 in iconv";
  for (int b = 0x80; b <= 0xFF; ++b) {
    char in = static_cast<char>(b), out[4] = {};
    char *ip = &in, *op = out;
    size_t inLeft = 1, outLeft = sizeof out;
    ASSERT_NE(iconv(cd, &ip, &inLeft, &op, &outLeft), static_cast<size_t>(-1)) << b;
    EXPECT_EQ(AltToUtf8(std::string(1, in)), std::string(out, op)) << std::hex << b;
  }
  iconv_close(cd);
}

}  // namespace
}  // namespace kelvara
