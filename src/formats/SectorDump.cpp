#include "formats/SectorDump.h"

#include <algorithm>
#include <string>

#include "formats/TrackImage.h"

namespace kelvara {

bool ReadSectorDump(TZX_Disk& disk, std::span<const uint8_t> file, const DumpGeometry& g) {
  const size_t sectorSize = static_cast<size_t>(g.SectorSize());
  const size_t spt = static_cast<size_t>(g.sectorsPerTrack);
  const size_t wholeSectors = file.size() / sectorSize;
  const size_t fragment = file.size() % sectorSize;
  const size_t sectors = wholeSectors + (fragment ? 1 : 0);
  const size_t fileTracks = (sectors + spt - 1) / spt;
  const size_t tracks = std::min(fileTracks, static_cast<size_t>(kTrackCount));

  disk.ClearImage();
  size_t offset = 0;
  for (size_t t = 0; t < tracks; ++t) {
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    track.Present = 0xFF;
    const uint8_t* numbers = g.numbers(static_cast<int>(t));
    for (size_t k = 0; k < spt && offset < file.size(); ++k) {
      TSectorRec& s = track.SectorHeader(static_cast<uint8_t>(k));
      s.SetId(static_cast<uint8_t>(t / 2), g.headIsSide ? static_cast<uint8_t>(t % 2) : 0,
              numbers[k], g.sizeCode);
      const size_t n = std::min(sectorSize, file.size() - offset);
      s.Data.fill(0);
      s.SetData(file.subspan(offset, n));
      s.DataLength = static_cast<uint16_t>(sectorSize);
      // A sector the file cuts short keeps its bytes; the zeros after them
      // are not the disk's, so its data do not count as good.
      s.DataOk = n == sectorSize ? 0xFF : 0;
      offset += n;
    }
  }

  std::string note;
  if (fileTracks > tracks) {
    TrackNotes beyond;
    beyond.TracksBeyondImage(static_cast<int>(fileTracks - tracks));
    note = beyond.Text();
  } else if (sectors % spt != 0 || fragment) {
    const size_t lastTrack = tracks - 1;
    const size_t inLast = wholeSectors - lastTrack * spt;
    note = std::string(g.name) + " file ends inside track " + std::to_string(lastTrack) + ": " +
           std::to_string(inLast) + " of " + std::to_string(spt) + " sectors read";
    if (fragment) {
      note += ", and " + std::to_string(fragment) + " bytes of sector " +
              std::to_string(g.numbers(static_cast<int>(lastTrack))[inLast]) +
              " (padded with zeros, marked bad)";
    }
    note += ".";
  }
  disk.StatusText = note;
  return true;
}

namespace {

// The first present slot among the track's first sectorsPerTrack slots
// that holds sector `sec`.
const TSectorRec* FindSector(const TTrack& track, uint8_t sec, int slots) {
  for (int i = 0; i < slots; ++i) {
    const TSectorRec& s = track.Sectors[i];
    if (s.Present && s.Sec == sec) return &s;
  }
  return nullptr;
}

}  // namespace

WriteResult BuildSectorDump(const TZX_Disk& disk, std::vector<uint8_t>& out,
                            const DumpGeometry& g) {
  out.clear();
  const int last = disk.LastPresentTrack();
  const size_t sectorSize = static_cast<size_t>(g.SectorSize());
  out.reserve(static_cast<size_t>(last + 1) * g.sectorsPerTrack * sectorSize);
  const std::string format = g.name;
  auto fail = [&out](std::string text) {
    out.clear();
    return WriteResult::Failed(std::move(text));
  };
  // By index up to the last present track: a dump has no way to leave out a
  // track, so an absent one before it refuses the save.
  for (int t = 0; t <= last; ++t) {
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    if (!track.Present) {
      return fail("Track " + std::to_string(t) + " is absent: a " + format +
                  " file cannot leave out a track!");
    }
    const uint8_t* numbers = g.numbers(t);
    for (int k = 0; k < g.sectorsPerTrack; ++k) {
      const TSectorRec* s = FindSector(track, numbers[k], g.sectorsPerTrack);
      if (!s) {
        // The last track may stop early, as a file cut inside it loads.
        const bool restMissing = std::none_of(
            numbers + k, numbers + g.sectorsPerTrack,
            [&](uint8_t r) { return FindSector(track, r, g.sectorsPerTrack) != nullptr; });
        if (t == last && k > 0 && restMissing) break;
        return fail("Track " + std::to_string(t) + " has no sector " + std::to_string(numbers[k]) +
                    " among its first " + std::to_string(g.sectorsPerTrack) + " slots!");
      }
      const int size = ControllerSectorBytes(s->SizeCode);
      if (static_cast<size_t>(size) != sectorSize) {
        return fail("Track " + std::to_string(t) + ", sector " + std::to_string(numbers[k]) +
                    ": a " + std::to_string(size) + "-byte sector does not fit a " + format +
                    " file of " + std::to_string(sectorSize) + "-byte sectors!");
      }
      out.insert(out.end(), s->Data.begin(), s->Data.begin() + sectorSize);
    }
  }
  return {};
}

}  // namespace kelvara
