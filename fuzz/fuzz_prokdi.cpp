// PRO and KDI readers on arbitrary bytes: no read or write past the file or
// the image; whatever loads is written back.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  std::vector<uint8_t> out;
  if (disk->ReadProBytes({data, size})) disk->BuildProBytes(out);
  if (disk->ReadKdiBytes({data, size})) disk->BuildKdiBytes(out);
  return 0;
}
