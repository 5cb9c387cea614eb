// HFE reader on arbitrary bytes, then the image written again: no read or
// write past the file, the image or a buffer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  if (disk->ReadHfeBytes({data, size})) {
    disk->KeepRawBytes = size % 2;
    std::vector<uint8_t> out;
    disk->BuildHfeBytes(out);
  }
  return 0;
}
