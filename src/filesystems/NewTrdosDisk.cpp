// A freshly formatted TR-DOS disk: 80 cylinders, two sides, sixteen 256-byte
// sectors per track numbered 1..16 without interleave. TR-DOS writes head 0
// into the address fields of both sides, so only the track index tells the
// sides apart. The disk is sector-level only: raw tracks are synthesised
// when the image is written.
#include <memory>

#include "filesystems/Trdos.h"
#include "model/DiskView.h"
#include "model/ZXDisk.h"

namespace kelvara {

namespace {

constexpr int kNewDiskTracks = 160;

// On a cleared track: no raw bytes, no log, every slot empty.
void FormatTrack(TTrack& track) {
  track.Present = 0xFF;
  for (int slot = 0; slot < kTrdosSectorsPerTrack; ++slot) {
    TSectorRec& s = track.SectorHeader(static_cast<uint8_t>(slot));
    s.SetId(static_cast<uint8_t>(track.TrackNo / 2), 0, static_cast<uint8_t>(slot + 1), 1);
    s.DataOk = 0xFF;
    s.MutableData(kTrdosSectorSize);
  }
}

// A new disk but for its name, made once: a new disk is a copy of it, and a
// new disk in an image that was one before copies only the tracks written
// since.
const TZX_Disk& BlankDisk() {
  static const std::unique_ptr<TZX_Disk> blank = [] {
    auto d = std::make_unique<TZX_Disk>();
    for (int t = 0; t < kNewDiskTracks; ++t)
      FormatTrack(d->GetTrack(static_cast<uint8_t>(t)));
    std::span<uint8_t> service = d->GetTrack(0).SectorHeader(kTrdosServiceSector - 1).MutableData();
    TTrdosCatalog empty;
    SetFreePointer(empty, kTrdosFirstDataTrack * kTrdosSectorsPerTrack);
    StoreVolumeCounts(service, empty);
    service[trdos_service::kDiskType] = kTrdosDiskType80x2;
    service[trdos_service::kTrdosId] = kTrdosIdByte;
    return d;
  }();
  return *blank;
}

}  // namespace

void CreateTrdosDisk(TZX_Disk& disk, const std::string& name) {
  // The image is emptied as ClearImage empties it: KeepRawBytes and
  // StatusText stay.
  const bool keepRawBytes = disk.KeepRawBytes;
  std::string status = std::move(disk.StatusText);
  disk.CopyFrom(BlankDisk());
  disk.KeepRawBytes = keepRawBytes;
  disk.StatusText = std::move(status);

  std::span<uint8_t> service = disk.GetTrack(0).SectorHeader(kTrdosServiceSector - 1).MutableData();
  const auto diskName = TrdosNameBytes(name, ' ');
  std::copy(diskName.begin(), diskName.end(), service.begin() + trdos_service::kDiskName);
  if (disk.View()) disk.View()->ScrollToTopAndRepaint();
}

}  // namespace kelvara
