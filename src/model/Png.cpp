#include "model/Png.h"

#include <png.h>

#include <algorithm>
#include <cstring>

#include "model/FileIO.h"

namespace kelvara {

namespace {

bool SizesMatch(std::span<const uint8_t> rgb, int width, int height) {
  return width > 0 && height > 0 &&
         rgb.size() == static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
}

}  // namespace

bool EncodePngRgb(std::span<const uint8_t> rgb, int width, int height, std::vector<uint8_t>& out,
                  std::string& error) {
  out.clear();
  if (!SizesMatch(rgb, width, height)) {
    error = "PNG: " + std::to_string(rgb.size()) + " bytes are not " + std::to_string(width) +
            " x " + std::to_string(height) + " RGB pixels";
    return false;
  }
  // The simplified API reports failures in the image record rather than
  // through longjmp, which would skip C++ destructors.
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  const png_int_32 stride = width * 3;
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), stride, nullptr)) {
    out.resize(size);
    if (png_image_write_to_memory(&image, out.data(), &size, 0, rgb.data(), stride, nullptr)) {
      out.resize(size);
      return true;
    }
  }
  error = std::string("PNG: ") + image.message;
  png_image_free(&image);
  out.clear();
  return false;
}

bool WritePngRgb(const std::string& path, std::span<const uint8_t> rgb, int width, int height,
                 std::string& error) {
  std::vector<uint8_t> file;
  return EncodePngRgb(rgb, width, height, file, error) && WriteFileAtomic(path, file, error);
}

std::vector<uint8_t> ScaleRgb(std::span<const uint8_t> rgb, int width, int height, int factor) {
  if (factor <= 1 || !SizesMatch(rgb, width, height)) return {rgb.begin(), rgb.end()};
  const size_t outRow = static_cast<size_t>(width) * factor * 3;
  std::vector<uint8_t> out(outRow * height * factor);
  for (int y = 0; y < height; ++y) {
    uint8_t* first = &out[outRow * y * factor];
    uint8_t* q = first;
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      for (int i = 0; i < factor; ++i, q += 3)
        std::copy_n(p, 3, q);
    }
    for (int i = 1; i < factor; ++i)
      std::copy_n(first, outRow, first + outRow * i);
  }
  return out;
}

}  // namespace kelvara
