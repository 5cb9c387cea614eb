// HFE reader on arbitrary bytes, then every loaded track built again over its
// own raw layout: no read or write past the file, the image or a buffer. (The
// writer's 2 MB file is too slow to build on every run; its encoding reads
// only what synthesis produced.)
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "formats/Hfe.h"
#include "model/ZXDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto disk = std::make_unique<kelvara::TZX_Disk>();
  if (!ReadHfeBytes(*disk, {data, size})) return 0;
  disk->KeepRawBytes = size % 2;
  std::array<uint8_t, kelvara::kRawTrackSize> out;
  std::array<uint8_t, kelvara::kRawTrackSize / 8> marks;
  for (int t = 0; t < kelvara::kTrackCount; ++t) {
    // Looked at read-only: a writable look marks the track as used, and the
    // next load would clear all 168.
    if (std::as_const(*disk).GetTrack(static_cast<uint8_t>(t)).Present) {
      out.fill(0x4E);
      disk->BuildRawTrack(static_cast<uint8_t>(t), out.data(), marks.data());
    }
  }
  return 0;
}
