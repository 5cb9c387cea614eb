// CP/M directory and file collection on an image whose bytes come from the
// input, and the viewers on the collected files: no read or write outside
// the image or the buffers, whatever the directory says. Then the writer on
// the same directory: a file added (once the first listed file is deleted
// and the second renamed) reads back as it was written.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "filesystems/CpmCatalog.h"
#include "filesystems/CpmWrite.h"
#include "session/CpmCatalogWindow.h"
#include "session/Viewers.h"

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
  const size_t body = std::min<size_t>(size - 2, kCpmDiskBytes);
  for (size_t a = 0; a < body; a += kCpmSectorSize) {
    const int sector = static_cast<int>(a / kCpmSectorSize);
    const CpmSectorPlace p = CpmSectorOf(sector);
    std::memcpy(disk->GetTrack(static_cast<uint8_t>(p.track))
                    .Sectors[sector % kCpmSectorsPerTrack]
                    .MutableData()
                    .data(),
                data + 2 + a, std::min<size_t>(kCpmSectorSize, body - a));
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
  // bytes came from, see one of them. Their work is the same for every line
  // and every screen, so the dump sees the first kilobyte (64 lines) and the
  // screen viewer paints for one input in four, a file that fills the bitmap
  // at least (of a shorter one it would paint mostly its padding).
  const size_t viewed = cat.rows.empty() ? 0 : data[0] % cat.rows.size();
  const bool paint = (data[1] & 0x30) == 0;
  for (size_t i = 0; i < cat.rows.size(); ++i) {
    const CpmFileRow& row = cat.rows[i];
    CpmSizeText(row.records, ",");
    if (!CollectCpmFile(*disk, dir, row.key, row.user, file)) __builtin_trap();
    if (i != viewed) continue;
    for (std::string& line : TextLines(file))
      KoiToAlt(line);
    HexDumpLines(std::span(file).first(std::min<size_t>(file.size(), 1024)));
    if (paint && file.size() >= static_cast<size_t>(kZxBitmapBytes)) ZxScreenToRgb(file);
  }

  CpmVolume volume;
  std::string error;
  if (!volume.Open(*disk, error)) return 0;
  if (!cat.rows.empty()) volume.Remove({cat.rows[0].user, cat.rows[0].key}, error);
  if (cat.rows.size() > 1) {
    CpmName renamed{cat.rows[1].user, cat.rows[1].key};
    renamed.key[0] = 'Q';
    volume.Rename({cat.rows[1].user, cat.rows[1].key}, renamed, error);
  }
  const CpmName added{0, {'F', 'U', 'Z', 'Z', 'N', 'E', 'W', ' ', 'B', 'I', 'N'}};
  const std::span<const uint8_t> bytes(data, std::min<size_t>(size, 40000));
  if (!volume.Add(added, bytes, error) || !volume.Save(error)) return 0;
  if (!CollectCpmFile(*disk, added.key, 0, file) || file.size() < bytes.size() ||
      !std::equal(bytes.begin(), bytes.end(), file.begin())) {
    __builtin_trap();
  }
  return 0;
}
