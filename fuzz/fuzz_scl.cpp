// SCL reader on arbitrary bytes, and the writer on whatever it unpacked: no
// read or write past the file or the image.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  disk->ReadSclBytes({data, size});
  std::vector<uint8_t> out;
  disk->BuildSclBytes(out);
  return 0;
}
