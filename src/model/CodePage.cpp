#include "model/CodePage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace kelvara {

namespace {

// Converts with iconv, replacing each unconvertible input sequence by
// `replacement` and skipping `skip(input)` bytes of it.
template <typename SkipFn>
std::string Convert(const char* to, const char* from, std::string_view text,
                    std::string_view replacement, SkipFn skip) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char buffer[1024];
  while (inLeft > 0) {
    char* o = buffer;
    size_t oLeft = sizeof buffer;
    const size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buffer, static_cast<size_t>(o - buffer));
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      // EILSEQ or EINVAL (a sequence cut at the end): replace and go on.
      out.append(replacement);
      const size_t n = std::min(inLeft, skip(std::string_view(in, inLeft)));
      in += n;
      inLeft -= n;
    }
  }
  iconv_close(cd);
  return out;
}

size_t Utf8SequenceLength(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  // Never skip past bytes that are not continuation bytes.
  size_t i = 1;
  while (i < n && i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80)
    ++i;
  return i;
}

}  // namespace

std::string Cp1251ToUtf8(std::string_view text) {
  return Convert("UTF-8", "CP1251", text, "\xEF\xBF\xBD",
                 [](std::string_view) -> size_t { return 1; });
}

std::string Utf8ToCp1251(std::string_view text) {
  return Convert("CP1251", "UTF-8", text, "?", Utf8SequenceLength);
}

}  // namespace kelvara
