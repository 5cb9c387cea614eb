// The viewers' core: a ZX Spectrum screen as RGB pixels, the lines of a
// hexadecimal dump, a file's bytes as lines of text, and the KOI-8 to
// alternative (code page 866) conversion of those lines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara {

inline constexpr int kZxScreenWidth = 256;
inline constexpr int kZxScreenHeight = 192;
inline constexpr int kZxBitmapBytes = kZxScreenWidth / 8 * kZxScreenHeight;  // 6144
inline constexpr int kZxScreenBytes = kZxBitmapBytes + kZxBitmapBytes / 8;   // + 768 attributes

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

// Index = bright * 8 + colour (0 black, 1 blue, 2 red, 3 magenta, 4 green,
// 5 cyan, 6 yellow, 7 white).
extern const std::array<Rgb, 16> kZxPalette;

// The display file's offset of pixel row y (0..191), byte column col (0..31):
// the screen is three thirds of 64 rows; within a third the character row
// steps by 32 bytes and the pixel line within it by 256.
constexpr int ZxScreenOffset(int y, int col) {
  return ((y & 0xC0) << 5) | ((y & 0x07) << 8) | ((y & 0x38) << 2) | col;
}

// The screen (6144 bitmap bytes, then 768 attributes) as 256 x 192 pixels of
// three bytes (R, G, B), rows from the top. Flash is ignored. Bytes missing
// from a shorter block read as zero.
std::vector<uint8_t> ZxScreenToRgb(std::span<const uint8_t> screen);

inline constexpr size_t kHexDumpBytesPerLine = 16;
// The character column's text for one byte: its Windows-1251 character as
// UTF-8, or "." for control codes and the one unassigned code.
const std::string& HexDumpChar(uint8_t byte);
// "0001F0: 41 42 ...  AB..": the offset in hexadecimal and ":", up to 16
// bytes in hexadecimal (a short last line padded so its characters align)
// and the bytes as characters.
std::string HexDumpLine(std::span<const uint8_t> bytes, size_t offset);
std::vector<std::string> HexDumpLines(std::span<const uint8_t> bytes);

// The bytes as lines of text, unconverted: a line ends at CR, LF or CR LF,
// the text at the first zero byte; a break at the very end opens no further
// line.
std::vector<std::string> TextLines(std::span<const uint8_t> bytes);

// KOI-8 to the alternative code: the KOI8-R letters (0xC0..0xFF) become the
// same letters of code page 866; 0x80..0xAF move up by 0x30 and 0xB0..0xBF by
// 0x40; bytes below 0x80 stay.
uint8_t KoiToAlt(uint8_t byte);
void KoiToAlt(std::string& line);

// A line in the alternative code (code page 866, the code page of Russian
// CP/M and DOS texts) as UTF-8 for the screen; bytes below 0x80 stay.
std::string AltToUtf8(std::string_view line);

}  // namespace kelvara
