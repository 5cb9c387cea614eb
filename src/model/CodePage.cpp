#include "model/CodePage.h"

#include <array>
#include <cstdint>

namespace kelvara {

namespace {

// Unicode code points of Windows-1251 bytes 0x80-0xBF; 0 marks 0x98, the one
// byte with no character. 0xC0-0xFF are А..я, U+0410-U+044F in order.
constexpr std::array<uint16_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};
constexpr uint32_t kCyrillicA = 0x0410;

// The byte of a code point, or -1 where the code page has none.
int ByteOf(uint32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= kCyrillicA && cp < kCyrillicA + 64) return static_cast<int>(cp - kCyrillicA + 0xC0);
  for (size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == cp) return static_cast<int>(0x80 + i);
  }
  return -1;
}

// How many bytes a bad or unmappable sequence at the start of `s` covers:
// the length its lead byte claims, cut at the first byte that does not
// continue it, so that no following character is swallowed.
size_t Utf8SequenceLength(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  const size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  size_t i = 1;
  while (i < n && i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80)
    ++i;
  return i;
}

// Decodes the well-formed UTF-8 character at the start of `s` (no overlong
// forms, no surrogates, nothing past U+10FFFF); false if there is none.
bool DecodeUtf8(std::string_view s, uint32_t& cp, size_t& used) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned lead = b(0);
  size_t n;
  uint32_t min;
  if (lead < 0x80) {
    cp = lead;
    used = 1;
    return true;
  } else if (lead >= 0xC2 && lead < 0xE0) {
    n = 2, min = 0x80, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    n = 3, min = 0x800, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead < 0xF5) {
    n = 4, min = 0x10000, cp = lead & 0x07;
  } else {
    return false;
  }
  if (s.size() < n) return false;
  for (size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return false;
    cp = cp << 6 | (b(i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  used = n;
  return true;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Cp1251ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else if (byte >= 0xC0) {
      AppendUtf8(out, kCyrillicA + byte - 0xC0);
    } else if (const uint16_t cp = kHigh[byte - 0x80u]; cp != 0) {
      AppendUtf8(out, cp);
    } else {
      out += "\xEF\xBF\xBD";
    }
  }
  return out;
}

std::string Utf8ToCp1251(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    uint32_t cp = 0;
    size_t used = 0;
    const int byte = DecodeUtf8(text, cp, used) ? ByteOf(cp) : -1;
    if (byte >= 0) {
      out += static_cast<char>(byte);
    } else {
      out += '?';
      used = Utf8SequenceLength(text);
    }
    text.remove_prefix(used);
  }
  return out;
}

}  // namespace kelvara
