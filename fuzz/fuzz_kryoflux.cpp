// KryoFlux stream reader on arbitrary bytes: the input is split in two at
// its first byte's share, a stream for each side of cylinder 0, decoded and
// put into the image; no read past a stream, no runaway buffer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/KryoFlux.h"
#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  if (size == 0) return 0;
  const size_t split = 1 + (size - 1) * data[0] / 255;
  std::vector<kelvara::KryoFluxTrack> tracks = {
      {0, 0, std::vector<uint8_t>(data + 1, data + split)},
      {0, 1, std::vector<uint8_t>(data + split, data + size)}};
  ReadKryoFluxTracks(*disk, tracks);
  return 0;
}
