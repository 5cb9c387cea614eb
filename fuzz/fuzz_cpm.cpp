// CP/M directory and file collection on an image whose bytes come from the
// input, and the viewers on the collected files: no read or write outside
// the image or the buffers, whatever the directory says.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "filesystems/CpmCatalog.h"
#include "filesystems/Viewers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvara;
  // A formatted disk made once; each input starts from a copy of it, which
  // reuses the scratch image's sectors instead of allocating them again.
  static const auto blank = [] {
    auto d = std::make_unique<TZX_Disk>();
    CreateCpmDisk(*d);
    return d;
  }();
  static auto disk = std::make_unique<TZX_Disk>();
  if (size < 2) return 0;
  disk->CopyFrom(*blank);
  for (size_t i = 2; i < size && i - 2 < static_cast<size_t>(kCpmDiskBytes); ++i) {
    const size_t a = i - 2;
    const CpmSectorPlace p = CpmSectorOf(static_cast<int>(a / kCpmSectorSize));
    disk->GetTrack(static_cast<uint8_t>(p.track))
        .Sectors[(a / kCpmSectorSize) % 5]
        .MutableData()[a % kCpmSectorSize] = data[i];
  }
  // The first two bytes damage one sector: a length other than 1024, or no
  // sector at all.
  TSectorRec& damaged = disk->GetTrack(data[0] % kCpmTracks).Sectors[data[1] % kCpmSectorsPerTrack];
  if (data[1] & 0x80) damaged.Present = 0;
  damaged.MutableData(static_cast<uint16_t>(data[0] * 5));
  const CpmCatalog cat = ReadCpmCatalog(*disk, {true, true});
  const std::vector<CpmDirEntry> dir = ReadCpmDirectory(*disk);
  std::vector<uint8_t> file;
  // Every file is collected; the viewers, which do not care where their
  // bytes came from, see one of them, and the screen viewer only a file
  // that fills the bitmap at least (a screen costs more than the rest, and
  // of a shorter file it would paint mostly its padding).
  const size_t viewed = cat.rows.empty() ? 0 : data[0] % cat.rows.size();
  for (size_t i = 0; i < cat.rows.size(); ++i) {
    const CpmFileRow& row = cat.rows[i];
    CpmSizeText(row.records, ",");
    if (!CollectCpmFile(*disk, dir, row.key, row.user, file)) __builtin_trap();
    if (i != viewed) continue;
    for (std::string& line : TextLines(file))
      KoiToAlt(line);
    HexDumpLines(std::span(file).first(std::min<size_t>(file.size(), 4096)));
    if (file.size() >= static_cast<size_t>(kZxBitmapBytes)) ZxScreenToRgb(file);
  }
  return 0;
}
