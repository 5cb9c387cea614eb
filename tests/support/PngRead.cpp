#include "support/PngRead.h"

#include <png.h>

namespace kelvara::test {

bool DecodePng(const std::vector<uint8_t>& file, RgbPicture& out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return false;
  image.format = PNG_FORMAT_RGB;
  out = {static_cast<int>(image.width), static_cast<int>(image.height), {}};
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr) != 0;
}

}  // namespace kelvara::test
