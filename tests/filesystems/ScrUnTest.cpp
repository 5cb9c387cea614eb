#include <gtest/gtest.h>
#include <iconv.h>

#include <vector>

#include "filesystems/ScrUn.h"

namespace kelvara {
namespace {

using Bytes = std::vector<uint8_t>;

Rgb PixelAt(const std::vector<uint8_t>& rgb, int x, int y) {
  const size_t i = (static_cast<size_t>(y) * kZxScreenWidth + x) * 3;
  return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

Bytes Screen(uint8_t bitmap, uint8_t attribute) {
  Bytes s(kZxScreenBytes, bitmap);
  std::fill(s.begin() + kZxBitmapBytes, s.end(), attribute);
  return s;
}

// ---- the ZX screen ----

TEST(ZxScreen, ZeroBytesDrawABlackPicture) {
  const auto rgb = ZxScreenToRgb(Bytes(kZxScreenBytes, 0));
  ASSERT_EQ(rgb.size(), 256u * 192 * 3);
  EXPECT_TRUE(std::all_of(rgb.begin(), rgb.end(), [](uint8_t b) { return b == 0; }));
}

TEST(ZxScreen, InkAndPaperFollowTheAttributeWithBright) {
  constexpr Rgb kBlack{0, 0, 0}, kWhite{228, 228, 228}, kBrightWhite{255, 255, 255};
  // 0xAA: the leftmost pixel of each byte set, then alternating.
  auto rgb = ZxScreenToRgb(Screen(0xAA, 0x47));
  EXPECT_EQ(PixelAt(rgb, 0, 0), kBrightWhite);
  EXPECT_EQ(PixelAt(rgb, 1, 0), kBlack);
  EXPECT_EQ(PixelAt(rgb, 254, 191), kBrightWhite);
  EXPECT_EQ(PixelAt(rgb, 255, 191), kBlack);

  rgb = ZxScreenToRgb(Screen(0xAA, 0x07));
  EXPECT_EQ(PixelAt(rgb, 0, 0), kWhite);
  EXPECT_EQ(PixelAt(rgb, 1, 0), kBlack);

  // Paper from bits 3 to 5: blue ink on yellow paper, bright and not.
  rgb = ZxScreenToRgb(Screen(0x80, 0x31));
  EXPECT_EQ(PixelAt(rgb, 0, 0), (Rgb{0, 82, 164}));
  EXPECT_EQ(PixelAt(rgb, 1, 0), (Rgb{216, 216, 16}));
  rgb = ZxScreenToRgb(Screen(0x80, 0x71));
  EXPECT_EQ(PixelAt(rgb, 0, 0), (Rgb{95, 136, 243}));
  EXPECT_EQ(PixelAt(rgb, 1, 0), (Rgb{255, 255, 128}));
}

TEST(ZxScreen, FlashIsIgnored) {
  EXPECT_EQ(ZxScreenToRgb(Screen(0x5C, 0xC7)), ZxScreenToRgb(Screen(0x5C, 0x47)));
  EXPECT_EQ(ZxScreenToRgb(Screen(0x3E, 0x8A)), ZxScreenToRgb(Screen(0x3E, 0x0A)));
}

TEST(ZxScreen, DisplayFileOffsetsMapToTheirRows) {
  struct Case {
    int offset, row;
  } cases[] = {{0x0000, 0}, {0x0100, 1}, {0x0020, 8}, {0x0800, 64}, {0x17E0, 191}};
  for (const Case& c : cases) {
    EXPECT_EQ(ZxScreenOffset(c.row, 0), c.offset) << c.row;
    Bytes screen = Screen(0, 0x07);
    screen[c.offset] = 0x81;
    const auto rgb = ZxScreenToRgb(screen);
    for (int y = 0; y < kZxScreenHeight; ++y) {
      const bool lit = y == c.row;
      ASSERT_EQ(PixelAt(rgb, 0, y).r == 228, lit) << "offset " << c.offset << " row " << y;
      ASSERT_EQ(PixelAt(rgb, 7, y).r == 228, lit);
      ASSERT_EQ(PixelAt(rgb, 1, y).r, 0);
    }
  }
  // The byte column is the low five bits.
  EXPECT_EQ(ZxScreenOffset(1, 31), 0x011F);
}

TEST(ZxScreen, EachCharacterRowTakesItsOwnAttributes) {
  Bytes screen = Screen(0xFF, 0x00);
  screen[kZxBitmapBytes + 32 + 3] = 0x02;  // character row 1, column 3: red ink
  const auto rgb = ZxScreenToRgb(screen);
  EXPECT_EQ(PixelAt(rgb, 24, 7), (Rgb{0, 0, 0}));
  EXPECT_EQ(PixelAt(rgb, 24, 8), (Rgb{213, 30, 85}));
  EXPECT_EQ(PixelAt(rgb, 31, 15), (Rgb{213, 30, 85}));
  EXPECT_EQ(PixelAt(rgb, 32, 8), (Rgb{0, 0, 0}));
  EXPECT_EQ(PixelAt(rgb, 24, 16), (Rgb{0, 0, 0}));
}

TEST(ZxScreen, ShortBlockReadsItsMissingBytesAsZero) {
  Bytes part(kZxBitmapBytes, 0xFF);
  const auto rgb = ZxScreenToRgb(part);
  ASSERT_EQ(rgb.size(), 256u * 192 * 3);
  EXPECT_TRUE(std::all_of(rgb.begin(), rgb.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(ZxScreenToRgb({}).size(), rgb.size());
}

// ---- the hexadecimal dump ----

TEST(HexDump, LinesShowOffsetBytesAndCharacters) {
  Bytes bytes;
  for (int i = 0; i < 16; ++i)
    bytes.push_back(static_cast<uint8_t>('A' + i));
  bytes.insert(bytes.end(), {0x00, 0x1F, 0x7F, 0x98, 0xC0, 0xFF, 0x20});
  const auto lines = HexDumpLines(bytes);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "000000: 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50  ABCDEFGHIJKLMNOP");
  // The short last line keeps its characters in the same column.
  EXPECT_EQ(lines[1],
            "000010: 00 1F 7F 98 C0 FF 20" + std::string(27, ' ') + "  ....\u0410\u044f ");
  EXPECT_TRUE(HexDumpLines({}).empty());
  EXPECT_EQ(HexDumpLines(Bytes(0x10001, 0)).back().substr(0, 7), "010000:");
}

// ---- text ----

TEST(TextView, LinesBreakAtCrLfAndCrLfAndEndAtZero) {
  auto lines = [](std::string_view s) { return TextLines(Bytes(s.begin(), s.end())); };
  using V = std::vector<std::string>;
  EXPECT_EQ(lines("one\rtwo\nthree\r\nfour"), (V{"one", "two", "three", "four"}));
  EXPECT_EQ(lines("a\n\rb"), (V{"a", "", "b"})) << "LF CR is two breaks";
  EXPECT_EQ(lines("a\r\n\r\nb\r\n"), (V{"a", "", "b"}));
  EXPECT_EQ(lines("\n"), (V{""}));
  EXPECT_EQ(lines(""), V{});
  EXPECT_EQ(lines(std::string_view("ab\0cd\nef", 8)), (V{"ab"}));
  EXPECT_EQ(lines(std::string_view("ab\r\0\n", 5)), (V{"ab"}));
  EXPECT_EQ(lines("\xC1\xD2\x1A"), (V{"\xC1\xD2\x1A"})) << "bytes kept as they are";
}

TEST(TextView, KoiToAltMovesTheHighBytes) {
  EXPECT_EQ(KoiToAlt(0xC1), 0xA0);
  EXPECT_EQ(KoiToAlt(0x80), 0xB0);
  EXPECT_EQ(KoiToAlt(0xAF), 0xDF);
  EXPECT_EQ(KoiToAlt(0xB0), 0xF0);
  EXPECT_EQ(KoiToAlt(0xBF), 0xFF);
  for (int b = 0; b < 0x80; ++b)
    EXPECT_EQ(KoiToAlt(static_cast<uint8_t>(b)), b);

  std::string line = "A\xC1\x80";
  KoiToAlt(line);
  EXPECT_EQ(line, "A\xA0\xB0");
  KoiToAlt(line);  // each press converts again
  EXPECT_EQ(line, "A\xD0\xF0");
}

TEST(TextView, KoiToAltLettersAgreeWithTheSystemTables) {
  iconv_t cd = iconv_open("CP866", "KOI8-R");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no KOI8-R in iconv";
  for (int b = 0xC0; b <= 0xFF; ++b) {
    char in = static_cast<char>(b), out = 0;
    char* ip = &in;
    char* op = &out;
    size_t inLeft = 1, outLeft = 1;
    ASSERT_NE(iconv(cd, &ip, &inLeft, &op, &outLeft), static_cast<size_t>(-1)) << b;
    EXPECT_EQ(KoiToAlt(static_cast<uint8_t>(b)), static_cast<uint8_t>(out)) << std::hex << b;
  }
  iconv_close(cd);
}

}  // namespace
}  // namespace kelvara
