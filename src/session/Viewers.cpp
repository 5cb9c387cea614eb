#include "session/Viewers.h"

#include <algorithm>

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
  std::array<uint8_t, kZxScreenBytes> padded;  // a short file paints as if zero-filled
  if (screen.size() < padded.size()) {
    std::fill(std::copy(screen.begin(), screen.end(), padded.begin()), padded.end(), 0);
    screen = padded;
  }
  std::vector<uint8_t> rgb(static_cast<size_t>(kZxScreenWidth) * kZxScreenHeight * 3);
  constexpr int kColumns = kZxScreenWidth / 8;
  uint8_t* p = rgb.data();
  const uint8_t* in = screen.data();  // kZxScreenBytes of them
  for (int y = 0; y < kZxScreenHeight; ++y) {
    for (int col = 0; col < kColumns; ++col) {
      const uint8_t bits = in[ZxScreenOffset(y, col)];
      const uint8_t attr = in[kZxBitmapBytes + y / 8 * kColumns + col];
      const int bright = (attr & 0x40) ? 8 : 0;
      const Rgb& ink = kZxPalette[bright + (attr & 0x07)];
      const Rgb& paper = kZxPalette[bright + ((attr >> 3) & 0x07)];
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
  constexpr size_t kOffsetDigits = 2 * sizeof(size_t);
  // The offset, the bytes, the gap and the characters (at most three UTF-8
  // bytes each).
  char buf[kOffsetDigits + 1 + kHexDumpBytesPerLine * 3 + 2 + kHexDumpBytesPerLine * 3];
  size_t digits = 6;  // at least
  while (digits < kOffsetDigits && (offset >> (4 * digits)) != 0)
    ++digits;
  char* p = buf;
  for (size_t d = digits; d-- > 0;)
    *p++ = kDigits[(offset >> (4 * d)) & 0x0F];
  *p++ = ':';
  const size_t n = std::min(bytes.size(), kHexDumpBytesPerLine);
  const uint8_t* in = bytes.data();
  for (size_t i = 0; i < n; ++i) {
    *p++ = ' ';
    *p++ = kDigits[in[i] >> 4];
    *p++ = kDigits[in[i] & 0x0F];
  }
  p = std::fill_n(p, (kHexDumpBytesPerLine - n) * 3 + 2, ' ');
  for (size_t i = 0; i < n; ++i) {
    const std::string& c = HexDumpChar(in[i]);
    p = std::copy_n(c.data(), std::min<size_t>(c.size(), 3), p);
  }
  return std::string(buf, p);
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

namespace {

// Code page 866 from 0x80: the capitals, the small letters up to п, the
// box-drawing block, the small letters from р, then Ё ё Є є Ї ї Ў ў and a few
// signs.
constexpr std::array<char16_t, 128> kAltHigh = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F, 0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};

}  // namespace

std::string AltToUtf8(std::string_view line) {
  std::string out;
  out.reserve(line.size() * 2);
  for (char c : line) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x80) {
      out += c;
      continue;
    }
    AppendUtf8(out, kAltHigh[b - 0x80]);
  }
  return out;
}

}  // namespace kelvara
