#include "model/Png.h"

#include <zlib.h>

#include <algorithm>
#include <array>

#include "model/FileIO.h"

namespace kelvara {

namespace {

bool SizesMatch(std::span<const uint8_t> rgb, int width, int height) {
  return width > 0 && height > 0 &&
         rgb.size() == static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<uint8_t>(v >> shift));
}

// A chunk: length, type, data, and the CRC-32 of type and data.
void PutChunk(std::vector<uint8_t>& out, const char (&type)[5], std::span<const uint8_t> data) {
  PutU32(out, static_cast<uint32_t>(data.size()));
  const size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(0L, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
  PutU32(out, static_cast<uint32_t>(crc));
}

}  // namespace

// A PNG of one IHDR, one IDAT and IEND: 8-bit RGB, no interlace, every row
// with filter 0 (screen pictures are small; zlib's own matching finds their
// repeats). The row bytes are one zlib stream.
bool EncodePngRgb(std::span<const uint8_t> rgb, int width, int height, std::vector<uint8_t>& out,
                  std::string& error) {
  out.clear();
  if (!SizesMatch(rgb, width, height)) {
    error = "PNG: " + std::to_string(rgb.size()) + " bytes are not " + std::to_string(width) +
            " x " + std::to_string(height) + " RGB pixels";
    return false;
  }
  const size_t row = static_cast<size_t>(width) * 3;
  std::vector<uint8_t> rows;
  rows.reserve((row + 1) * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    rows.push_back(0);  // filter: none
    const auto first = rgb.begin() + static_cast<ptrdiff_t>(row * static_cast<size_t>(y));
    rows.insert(rows.end(), first, first + static_cast<ptrdiff_t>(row));
  }
  uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
  std::vector<uint8_t> packed(packedSize);
  if (rows.size() > UINT32_MAX ||
      compress2(packed.data(), &packedSize, rows.data(), static_cast<uLong>(rows.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    error = "PNG: the picture could not be packed";
    return false;
  }
  packed.resize(packedSize);

  static constexpr std::array<uint8_t, 8> kSignature = {0x89, 'P',  'N',  'G',
                                                        0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> header;
  PutU32(header, static_cast<uint32_t>(width));
  PutU32(header, static_cast<uint32_t>(height));
  header.insert(header.end(),
                {8, 2, 0, 0, 0});  // depth 8, RGB, deflate, filter set 0, no interlace
  out.reserve(packed.size() + 64);
  out.assign(kSignature.begin(), kSignature.end());
  PutChunk(out, "IHDR", header);
  PutChunk(out, "IDAT", packed);
  PutChunk(out, "IEND", {});
  return true;
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
