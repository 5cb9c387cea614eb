// PNG files of 8-bit RGB pixels, packed with zlib, built whole in memory and
// written atomically like every other file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvara {

// rgb: width * height pixels of three bytes (R, G, B), rows from the top.
// False with a reason when the sizes do not match or zlib refuses.
bool EncodePngRgb(std::span<const uint8_t> rgb, int width, int height, std::vector<uint8_t>& out,
                  std::string& error);
bool WritePngRgb(const std::string& path, std::span<const uint8_t> rgb, int width, int height,
                 std::string& error);

// The picture enlarged `factor` times in each direction, each pixel a
// factor x factor square (no smoothing: screen pixels stay sharp).
std::vector<uint8_t> ScaleRgb(std::span<const uint8_t> rgb, int width, int height, int factor);

}  // namespace kelvara
