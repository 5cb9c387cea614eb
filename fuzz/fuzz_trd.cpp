// TRD reader on arbitrary bytes: no read or write past the file or the image.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/Trd.h"
#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  if (ReadTrdBytes(*disk, {data, size})) {
    std::vector<uint8_t> out;
    BuildTrdBytes(*disk, out);
  }
  return 0;
}
