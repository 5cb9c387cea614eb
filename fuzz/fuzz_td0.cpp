// TD0 reader on arbitrary bytes, plain and packed: no read or write past the
// file, the unpacked body or the image. The first byte picks how the rest
// becomes a file, so that the header checks do not stop most inputs:
//   0: a valid plain header (comment flag from bit 7), then the bytes
//   1: a valid "td" header, then the bytes packed (the parser behind the codec)
//   2: a valid "td" header, then the bytes as they are (the decoder on junk)
//   3: the bytes as the whole file
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "formats/LZH.h"
#include "formats/Td0.h"
#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  if (size == 0) return 0;
  const uint8_t mode = data[0] & 3;
  const std::span<const uint8_t> rest(data + 1, size - 1);
  std::vector<uint8_t> file;
  if (mode == 3) {
    file.assign(rest.begin(), rest.end());
  } else {
    const bool packed = mode != 0;
    file = {static_cast<uint8_t>(packed ? 't' : 'T'),
            static_cast<uint8_t>(packed ? 'd' : 'D'),
            0,
            0,
            21,
            0,
            3,
            static_cast<uint8_t>(data[0] & 0x80),
            0,
            2};
    const uint16_t crc = kelvara::Td0Crc(file);
    file.push_back(static_cast<uint8_t>(crc));
    file.push_back(static_cast<uint8_t>(crc >> 8));
    if (mode == 1) {
      kelvara::LzhPack(rest, file);
    } else {
      file.insert(file.end(), rest.begin(), rest.end());
    }
  }
  if (ReadTd0Bytes(*disk, file)) {
    std::vector<uint8_t> out;
    BuildTd0Bytes(*disk, out, {(data[0] & 4) != 0});
  }
  return 0;
}
