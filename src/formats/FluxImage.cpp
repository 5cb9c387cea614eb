#include "formats/FluxImage.h"

#include <algorithm>
#include <array>
#include <vector>

#include "model/RawTrack.h"

namespace kelvara {

namespace {

// The cylinder most of the track's IDs name; -1 without sectors.
int IdCylinder(const flux::DecodedTrack& t) {
  std::array<int, 256> count{};
  int best = -1;
  for (const flux::DecodedSector& s : t.sectors) {
    ++count[s.cyl];
    if (best < 0 || count[s.cyl] > count[static_cast<size_t>(best)]) best = s.cyl;
  }
  return best;
}

// A decoded track into image track `index`: its sectors (the first 20), the
// track log line, and the raw revolution with the data offsets where raw
// track synthesis over it keeps every sector (as a read through the flux
// device stores it).
void StoreTrack(TZX_Disk& disk, int index, const flux::DecodedTrack& d) {
  const auto n = static_cast<uint8_t>(index);
  TTrack& track = disk.GetTrack(n);
  track.Present = 0xFF;
  track.Log.push_back(d.LogLine());
  const size_t stored = std::min<size_t>(d.sectors.size(), kSlotCount);
  for (size_t k = 0; k < stored; ++k) {
    const flux::DecodedSector& s = d.sectors[k];
    TSectorRec& slot = track.Sectors[k];
    slot.SetId(s.cyl, s.head, s.sec, s.sizeCode);
    if (s.hasData) {
      slot.SetData(s.data);
      slot.DataOk = s.dataOk ? 0xFF : 0;
    }
    slot.DataOffset = static_cast<uint16_t>(s.rawDataOffset);
  }
  if (d.sectors.size() > stored)
    track.Log.push_back("Найдено меток секторов - " + std::to_string(d.sectors.size()) +
                        ", в образ записаны первые " + std::to_string(kSlotCount));
  track.CountSectors();
  bool rawKept = false;
  if (!d.raw.empty() && stored >= 2) {
    track.RawValid = 1;
    track.SetRaw(d.raw);
    std::vector<uint8_t> check(kRawTrackSize, 0x4E);
    RawTrackFault fault;
    rawKept = BuildRawTrack(disk, n, check.data(), nullptr, {}, fault);
    if (!rawKept)
      track.Log.push_back("Сырая дорожка не сохранена: в ней нет всех найденных секторов.");
  }
  if (!rawKept) {
    TTrack& t = disk.GetTrack(n);
    t.RawValid = 0;
    t.ClearRaw();
    for (size_t k = 0; k < stored; ++k)
      t.Sectors[k].DataOffset = 0;
  }
}

}  // namespace

void FluxImageLoad::AddCapture(int cylinder, int head, const flux::FluxCapture& capture,
                               const flux::DecoderSettings& settings) {
  Track t;
  t.cylinder = cylinder;
  t.head = head;
  flux::DecodeMfmTrack(capture, settings, t.decoded, scratch_);
  tracks_.push_back(std::move(t));
}

void FluxImageLoad::Note(const std::string& text) {
  notes_.push_back(text);
}

bool FluxImageLoad::DoubleStepped() const {
  int half = 0, own = 0;
  for (const Track& t : tracks_) {
    const int id = IdCylinder(t.decoded);
    if (id < 0 || t.cylinder < 2) continue;
    if (t.cylinder % 2 == 0 && id == t.cylinder / 2) ++half;
    if (id == t.cylinder) ++own;
  }
  return half > 0 && own == 0;
}

void FluxImageLoad::Store(TZX_Disk& disk, bool mayDoubleStep) {
  disk.ClearImage();
  const bool doubleStep = mayDoubleStep && DoubleStepped();
  if (doubleStep)
    notes_.insert(notes_.begin(),
                  "A 40-track disk read in an 80-track drive: the even cylinders are taken.");
  int beyond = 0, blank = 0;
  for (const Track& t : tracks_) {
    if (doubleStep && t.cylinder % 2) continue;
    const int index = (doubleStep ? t.cylinder / 2 : t.cylinder) * 2 + t.head;
    if (index >= kTrackCount) {
      ++beyond;
      continue;
    }
    if (t.decoded.sectors.empty()) {
      ++blank;
      continue;
    }
    StoreTrack(disk, index, t.decoded);
  }
  if (blank) notes_.push_back(std::to_string(blank) + " track(s) without sectors left out.");
  if (beyond)
    notes_.push_back(std::to_string(beyond) + " track(s) beyond track " +
                     std::to_string(kTrackCount - 1) + " not loaded.");
  std::string text;
  for (const std::string& n : notes_)
    text += (text.empty() ? "" : " ") + n;
  disk.StatusText = text;
  disk.CountTracks();
}

}  // namespace kelvara
