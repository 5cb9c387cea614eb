// Hobeta import on arbitrary bytes onto a disk whose catalog track is hostile
// too: the first 2304 input bytes become sectors 1..9 of track 0, the rest is
// the Hobeta file. Then the catalog commands run on what came of it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "../tests/support/FakePrompt.h"
#include "session/Settings.h"
#include "session/TrdosCatalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvara;
  constexpr size_t kTrack0 = 9 * 256;
  static const auto blank = [] {  // copied for each input: no allocation per sector
    auto d = std::make_unique<TZX_Disk>();
    CreateTrdosDisk(*d, "FUZZ");
    return d;
  }();
  static auto disk = std::make_unique<TZX_Disk>();
  static TSettings settings;
  test::FakePrompt prompt;  // answers Yes; a fresh one keeps no messages from run to run
  prompt.texts = {"R"};
  disk->CopyFrom(*blank);
  const size_t head = std::min(size, kTrack0);
  TTrack& track0 = disk->GetTrack(0);
  for (size_t at = 0; at < head; at += 256)
    std::memcpy(track0.Sectors[at / 256].MutableData().data(), data + at,
                std::min<size_t>(256, head - at));

  TrdosCatalog zx(*disk, prompt, settings);
  if (!zx.OpenFromImage()) return 0;
  zx.ImportBytes("fuzz.$C", {data + head, size - head});
  zx.ToggleShowDeleted();
  const int last[] = {zx.RowCount() - 1};
  zx.RestoreFile(last[0]);
  zx.DeleteFiles(last);
  zx.CompactVolume();
  return 0;
}
