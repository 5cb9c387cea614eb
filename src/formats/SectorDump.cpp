#include "formats/SectorDump.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "formats/TrackImage.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

// The dump's bytes in file order: fills the span given, or says why not.
using DumpFetch = std::function<bool(std::span<uint8_t> into)>;

bool ReadDump(TZX_Disk& disk, size_t fileSize, const DumpFetch& fetch, const DumpGeometry& g) {
  const size_t sectorSize = static_cast<size_t>(g.SectorSize());
  const size_t spt = static_cast<size_t>(g.sectorsPerTrack);
  const size_t wholeSectors = fileSize / sectorSize;
  const size_t fragment = fileSize % sectorSize;
  const size_t sectors = wholeSectors + (fragment ? 1 : 0);
  const size_t fileTracks = (sectors + spt - 1) / spt;
  const size_t tracks = std::min(fileTracks, static_cast<size_t>(kTrackCount));

  disk.ClearImage();
  std::vector<uint8_t> bytes(spt * sectorSize);  // one track of the file
  size_t offset = 0;
  for (size_t t = 0; t < tracks; ++t) {
    const std::span<uint8_t> here =
        std::span(bytes).first(std::min(bytes.size(), fileSize - offset));
    if (!fetch(here)) return false;
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    track.Present = 0xFF;
    const uint8_t* numbers = g.numbers(static_cast<int>(t));
    for (size_t k = 0; k * sectorSize < here.size(); ++k) {
      TSectorRec& s = track.SectorHeader(static_cast<uint8_t>(k));
      s.SetId(static_cast<uint8_t>(t / 2), g.headIsSide ? static_cast<uint8_t>(t % 2) : 0,
              numbers[k], g.sizeCode);
      const size_t n = std::min(sectorSize, here.size() - k * sectorSize);
      s.SetData(here.subspan(k * sectorSize, n));
      s.MutableData(sectorSize);
      // A sector the file cuts short keeps its bytes; the zeros after them
      // are not the disk's, so its data do not count as good.
      s.DataOk = n == sectorSize ? 0xFF : 0;
    }
    offset += here.size();
  }

  std::string note;
  if (fileTracks > tracks) {
    TrackNotes beyond;
    beyond.TracksBeyondImage(static_cast<int>(fileTracks - tracks));
    note = beyond.Text();
  } else if (sectors % spt != 0 || fragment) {
    const size_t lastTrack = tracks - 1;
    const size_t inLast = wholeSectors - lastTrack * spt;
    note = std::string(g.name) + " file ends inside track " +
           CylSideText(static_cast<int>(lastTrack)) + ": " + std::to_string(inLast) + " of " +
           std::to_string(spt) + " sectors read";
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

}  // namespace

bool ReadSectorDump(TZX_Disk& disk, std::span<const uint8_t> file, const DumpGeometry& g) {
  size_t offset = 0;
  return ReadDump(
      disk, file.size(),
      [&](std::span<uint8_t> into) {
        const std::span<const uint8_t> part = file.subspan(offset, into.size());
        if (!part.empty()) std::memcpy(into.data(), part.data(), part.size());
        offset += into.size();
        return true;
      },
      g);
}

bool LoadSectorDump(TZX_Disk& disk, const std::string& path, const DumpGeometry& g) {
  if (!FileExists(path)) return false;
  FileReader file;
  if (!file.Open(path, disk.StatusText)) return false;
  const size_t size = file.Size();
  return ReadDump(
      disk, size,
      [&](std::span<uint8_t> into) {
        const size_t got = file.Read(into, disk.StatusText);
        if (got == FileReader::kReadFailed) return false;
        if (got < into.size()) {
          disk.StatusText = std::string(g.name) + " file " + path + " shrank while it was read.";
          return false;
        }
        return true;
      },
      g);
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

// "1-16", or "1, 2, 3, 4, 9" when the numbers do not run in a row.
std::string NumbersText(std::vector<int> numbers) {
  std::ranges::sort(numbers);
  const bool run = numbers.back() - numbers.front() + 1 == static_cast<int>(numbers.size());
  if (run)
    return numbers.size() == 1
               ? std::to_string(numbers.front())
               : std::to_string(numbers.front()) + "-" + std::to_string(numbers.back());
  std::string text;
  for (const int n : numbers)
    text += (text.empty() ? "" : ", ") + std::to_string(n);
  return text;
}

// Whether no present slot of the track is a sector of the dump's layout
// there: the disk is of another format (a +3 or CPC disk, a Profi disk to
// TRD), not a dump's track with a sector lost.
bool ForeignTrack(const TTrack& track, int t, const DumpGeometry& g) {
  const uint8_t* numbers = g.numbers(t);
  return std::none_of(track.Sectors.begin(), track.Sectors.end(), [&](const TSectorRec& s) {
    return s.Present && ControllerSectorBytes(s.SizeCode) == g.SectorSize() &&
           std::find(numbers, numbers + g.sectorsPerTrack, s.Sec) != numbers + g.sectorsPerTrack;
  });
}

// The one refusal of a track of another format, whatever the difference
// met first: what the track holds beside what the dump needs. "Track 0.0
// holds 9 sector(s) of 512 bytes (numbers 1-9); a TRD file needs sectors
// 1-16 of 256 bytes there!"
std::string LayoutRefusal(const TTrack& track, int t, const DumpGeometry& g) {
  std::vector<int> numbers, sizes;
  for (const TSectorRec& s : track.Sectors) {
    if (!s.Present) continue;
    numbers.push_back(s.Sec);
    const int size = ControllerSectorBytes(s.SizeCode);
    if (std::ranges::find(sizes, size) == sizes.end()) sizes.push_back(size);
  }
  std::string held = "no sectors";
  if (!numbers.empty()) {
    std::ranges::sort(sizes);
    std::string bytes;
    for (size_t i = 0; i < sizes.size(); ++i)
      bytes += (i == 0 ? "" : i + 1 == sizes.size() ? " and " : ", ") + std::to_string(sizes[i]);
    held = std::to_string(numbers.size()) + " sector(s) of " + bytes + " bytes (numbers " +
           NumbersText(numbers) + ")";
  }
  const uint8_t* want = g.numbers(t);
  return "Track " + CylSideText(t) + " holds " + held + "; a " + g.name + " file needs sectors " +
         NumbersText(std::vector<int>(want, want + g.sectorsPerTrack)) + " of " +
         std::to_string(g.SectorSize()) + " bytes there!";
}

}  // namespace

WriteResult BuildSectorDump(const TZX_Disk& disk, std::vector<uint8_t>& out,
                            const DumpGeometry& g) {
  out.clear();
  const int last = disk.LastPresentTrack();
  // An empty file would load as no disk at all.
  if (last < 0) return WriteResult::Failed("The image has no tracks to save!");
  const size_t sectorSize = static_cast<size_t>(g.SectorSize());
  out.reserve(static_cast<size_t>(last + 1) * g.sectorsPerTrack * sectorSize);
  const std::string format = g.name;
  auto fail = [&out](std::string text) {
    out.clear();
    return WriteResult::Failed(std::move(text));
  };
  // Slots that hold no data are saved as zeros, which the file cannot tell
  // from data: the note says how many, and where the first is.
  int empty = 0;
  std::string firstEmpty;
  // By index up to the last present track: a dump has no way to leave out a
  // track, so an absent one before it refuses the save.
  for (int t = 0; t <= last; ++t) {
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    if (!track.Present) {
      return fail("Track " + CylSideText(t) + " is absent: a " + format +
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
        if (ForeignTrack(track, t, g)) return fail(LayoutRefusal(track, t, g));
        return fail("Track " + CylSideText(t) + " has no sector " + std::to_string(numbers[k]) +
                    " among its first " + std::to_string(g.sectorsPerTrack) + " slots!");
      }
      const int size = ControllerSectorBytes(s->SizeCode);
      if (static_cast<size_t>(size) != sectorSize) {
        if (ForeignTrack(track, t, g)) return fail(LayoutRefusal(track, t, g));
        return fail("Track " + CylSideText(t) + ", sector " + std::to_string(numbers[k]) + ": a " +
                    std::to_string(size) + "-byte sector does not fit a " + format + " file of " +
                    std::to_string(sectorSize) + "-byte sectors!");
      }
      if (s->DataLength() == 0 && empty++ == 0) {
        firstEmpty = "track " + CylSideText(t) + ", sector " + std::to_string(numbers[k]);
      }
      const size_t start = out.size();
      out.resize(start + sectorSize);
      s->CopyDataPadded(std::span(out).subspan(start));
    }
  }
  WriteResult r;
  if (empty) {
    r.note = format + " file: " + std::to_string(empty) +
             " sector(s) without data saved as zeros (the first: " + firstEmpty + ").";
  }
  return r;
}

}  // namespace kelvara
