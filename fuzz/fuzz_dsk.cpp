// DSK and EDSK reader on arbitrary bytes; whatever loads is written back as
// EDSK, read again and looked at as a +3DOS or CPC disk: no read or write
// past the file, the image or a buffer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "filesystems/CpmCatalog.h"
#include "formats/Dsk.h"
#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  if (!kelvara::ReadDskBytes(*disk, {data, size})) return 0;
  std::vector<uint8_t> out;
  if (kelvara::BuildDskBytes(*disk, out) && !kelvara::ReadDskBytes(*disk, out)) __builtin_trap();
  if (kelvara::IsCpmImage(*disk)) {
    const kelvara::CpmCatalog cat =
        kelvara::ReadCpmCatalog(*disk, {.deleted = true, .hidden = true});
    std::vector<uint8_t> bytes;
    for (const kelvara::CpmFileRow& row : cat.rows)
      kelvara::CollectCpmFile(*disk, row.key, row.user, bytes);
  }
  return 0;
}
