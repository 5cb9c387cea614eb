// Reads a PNG file back as 8-bit RGB pixels, for tests of what was written.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvara::test {

struct RgbPicture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // rows from the top, three bytes a pixel
};
bool DecodePng(const std::vector<uint8_t>& file, RgbPicture& out);

}  // namespace kelvara::test
