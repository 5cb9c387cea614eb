// SCL reader on arbitrary bytes, and the writer on whatever it unpacked: no
// read or write past the file or the image.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/Scl.h"
#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  ReadSclBytes(*disk, {data, size});
  std::vector<uint8_t> out;
  BuildSclBytes(*disk, out);
  return 0;
}
