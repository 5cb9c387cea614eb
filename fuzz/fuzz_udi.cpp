// UDI reader on arbitrary bytes, then every loaded track built again over its
// own raw layout: no read or write past the file, the image or a buffer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/Udi.h"
#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  // The checksum would stop almost every input at the door: the last four
  // bytes are replaced by the right one, so the fuzzer reaches the tracks.
  std::vector<uint8_t> file(data, data + size);
  if (file.size() >= 20) {
    const uint32_t crc = kelvara::CalcCrc32({file.data(), file.size() - 4});
    for (size_t i = 0; i < 4; ++i)
      file[file.size() - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
  }
  if (ReadUdiBytes(*disk, file)) {
    disk->KeepRawBytes = size % 2;
    disk->UseBaseTemplate = size % 3 == 0;
    disk->BaseTrack = static_cast<uint8_t>(size % 170);
    std::vector<uint8_t> out;
    BuildUdiBytes(*disk, out);
  }
  return 0;
}
