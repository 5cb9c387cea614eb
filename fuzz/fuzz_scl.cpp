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
  // A refused archive leaves the image as it was, already written after the
  // input that made it; the writer runs on every image the reader replaced.
  const uint32_t before = disk->TrackChanges(0);
  ReadSclBytes(*disk, {data, size});
  if (disk->TrackChanges(0) == before) return 0;
  std::vector<uint8_t> out;
  BuildSclBytes(*disk, out);
  return 0;
}
