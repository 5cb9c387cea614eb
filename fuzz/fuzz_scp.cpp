// SCP reader on arbitrary bytes, then every loaded track built again over
// its own raw layout: no read past the file, no runaway buffer, and raw
// tracks kept only where synthesis over them succeeds.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "formats/Scp.h"
#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  if (!ReadScpBytes(*disk, {data, size})) return 0;
  std::array<uint8_t, kelvara::kRawTrackSize> out;
  std::array<uint8_t, kelvara::kRawTrackSize / 8> marks;
  for (int t = 0; t < kelvara::kTrackCount; ++t) {
    // Looked at read-only: a writable look marks the track as used.
    if (std::as_const(*disk).GetTrack(static_cast<uint8_t>(t)).RawValid) {
      out.fill(0x4E);
      if (!disk->BuildRawTrack(static_cast<uint8_t>(t), out.data(), marks.data())) __builtin_trap();
    }
  }
  return 0;
}
