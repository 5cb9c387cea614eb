// PRO and KDI readers on arbitrary bytes: no read or write past the file or
// the image; whatever loads is written back.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/ProKdi.h"
#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  std::vector<uint8_t> out;
  if (ReadProBytes(*disk, {data, size})) BuildProBytes(*disk, out);
  if (ReadKdiBytes(*disk, {data, size})) BuildKdiBytes(*disk, out);
  return 0;
}
