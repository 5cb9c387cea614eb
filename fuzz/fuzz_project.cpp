// Project file reader on arbitrary bytes: no read or write past the file or
// the image. Whatever loads in full (good CRC or not) is written back.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/Project.h"
#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  // A failed read leaves an empty image, the same every time: its writing is
  // covered by the first such input.
  static bool emptyWritten = false;
  const bool loaded =
      ReadProjectBytes(*disk, {data, size}) || disk->StatusText == "Project file CRC error!";
  if (!loaded && emptyWritten) return 0;
  emptyWritten = emptyWritten || !loaded;
  std::vector<uint8_t> out;
  BuildProjectBytes(*disk, out);
  return 0;
}
