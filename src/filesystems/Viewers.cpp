#include "filesystems/Viewers.h"

#include <algorithm>
#include <cstdio>

#include "model/CodePage.h"

namespace kelvara {

const std::array<Rgb, 16> kZxPalette = {{
    {0, 0, 0},
    {0, 82, 164},
    {213, 30, 85},
    {164, 47, 170},
    {68, 149, 82},
    {47, 189, 182},
    {216, 216, 16},
    {228, 228, 228},
    {0, 0, 0},
    {95, 136, 243},
    {250, 88, 92},
    {83, 255, 83},
    {255, 66, 255},
    {107, 239, 239},
    {255, 255, 128},
    {255, 255, 255},
}};

namespace {

// KOI8-R puts the Cyrillic letters in the order of their Latin look-alikes
// (0xC0 = ю, 0xC1 = а, 0xC2 = б, 0xC3 = ц, ...), small letters first; code
// page 866 keeps the alphabet's order. Each entry is the alphabet position
// (а = 0 .. я = 31) of the KOI8-R letter at 0xC0 + i and, for capitals, at
// 0xE0 + i.
constexpr std::array<uint8_t, 32> kKoiLetterOrder = {
    30, 0,  1,  22, 4,  5,  20, 3, 21, 8,  9, 10, 11, 12, 13, 14,
    15, 31, 16, 17, 18, 19, 6,  2, 28, 27, 7, 24, 29, 25, 23, 26,
};

}  // namespace

std::vector<uint8_t> ZxScreenToRgb(std::span<const uint8_t> screen) {
  auto at = [&](size_t i) -> uint8_t { return i < screen.size() ? screen[i] : 0; };
  std::vector<uint8_t> rgb(static_cast<size_t>(kZxScreenWidth) * kZxScreenHeight * 3);
  constexpr int kColumns = kZxScreenWidth / 8;
  for (int y = 0; y < kZxScreenHeight; ++y) {
    for (int col = 0; col < kColumns; ++col) {
      const uint8_t bits = at(static_cast<size_t>(ZxScreenOffset(y, col)));
      const uint8_t attr = at(static_cast<size_t>(kZxBitmapBytes + y / 8 * kColumns + col));
      const int bright = (attr & 0x40) ? 8 : 0;
      const Rgb& ink = kZxPalette[bright + (attr & 0x07)];
      const Rgb& paper = kZxPalette[bright + ((attr >> 3) & 0x07)];
      uint8_t* p = &rgb[(static_cast<size_t>(y) * kZxScreenWidth + col * 8) * 3];
      for (int bit = 7; bit >= 0; --bit) {
        const Rgb& c = (bits >> bit) & 1 ? ink : paper;
        *p++ = c.r;
        *p++ = c.g;
        *p++ = c.b;
      }
    }
  }
  return rgb;
}

const std::string& HexDumpChar(uint8_t byte) {
  // Converted once: a dump of a whole disk asks for a character per byte.
  static const std::array<std::string, 256> kChars = [] {
    std::array<std::string, 256> chars;
    for (int b = 0; b < 256; ++b) {
      const bool shown = b >= 0x20 && b != 0x7F && b != 0x98;
      chars[b] = shown ? Cp1251ToUtf8(std::string(1, static_cast<char>(b))) : ".";
    }
    return chars;
  }();
  return kChars[byte];
}

std::string HexDumpLine(std::span<const uint8_t> bytes, size_t offset) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char head[24];
  std::snprintf(head, sizeof head, "%06zX:", offset);
  std::string line = head;
  std::string text;
  line.reserve(line.size() + kHexDumpBytesPerLine * 3 + 2 + kHexDumpBytesPerLine * 2);
  for (size_t i = 0; i < kHexDumpBytesPerLine; ++i) {
    if (i < bytes.size()) {
      line += ' ';
      line += kDigits[bytes[i] >> 4];
      line += kDigits[bytes[i] & 0x0F];
      text += HexDumpChar(bytes[i]);
    } else {
      line += "   ";
    }
  }
  return line.append("  ").append(text);
}

std::vector<std::string> HexDumpLines(std::span<const uint8_t> bytes) {
  std::vector<std::string> lines;
  lines.reserve((bytes.size() + kHexDumpBytesPerLine - 1) / kHexDumpBytesPerLine);
  for (size_t off = 0; off < bytes.size(); off += kHexDumpBytesPerLine)
    lines.push_back(HexDumpLine(
        bytes.subspan(off).first(std::min(kHexDumpBytesPerLine, bytes.size() - off)), off));
  return lines;
}

std::vector<std::string> TextLines(std::span<const uint8_t> bytes) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;  // a line has started that no break has ended yet
  for (size_t i = 0; i < bytes.size() && bytes[i] != 0; ++i) {
    const uint8_t b = bytes[i];
    if (b == '\r' || b == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      open = false;
      if (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      line += static_cast<char>(b);
      open = true;
    }
  }
  if (open) lines.push_back(std::move(line));
  return lines;
}

uint8_t KoiToAlt(uint8_t byte) {
  if (byte >= 0xC0) {
    const int pos = kKoiLetterOrder[byte & 0x1F];
    if (byte >= 0xE0) return static_cast<uint8_t>(0x80 + pos);  // capitals А..Я
    return static_cast<uint8_t>(pos < 16 ? 0xA0 + pos : 0xE0 + pos - 16);
  }
  if (byte >= 0xB0) return static_cast<uint8_t>(byte + 0x40);
  if (byte >= 0x80) return static_cast<uint8_t>(byte + 0x30);
  return byte;
}

void KoiToAlt(std::string& line) {
  for (char& c : line)
    c = static_cast<char>(KoiToAlt(static_cast<uint8_t>(c)));
}

}  // namespace kelvara
