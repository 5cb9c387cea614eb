#include "session/ImageDiff.h"

#include <algorithm>
#include <array>
#include <map>

#include "filesystems/Trdos.h"

namespace kelvara {

namespace {

std::string IdText(const TSectorRec& s) {
  return std::to_string(s.Cyl) + "/" + std::to_string(s.Head) + "/" + std::to_string(s.Sec) + "/" +
         std::to_string(s.SizeCode);
}

void DiffSectors(const TSectorRec& a, const TSectorRec& b, int track,
                 std::vector<SectorDifference>& out) {
  SectorDifference d;
  d.track = track;
  d.sector = a.Sec;
  if (a.Cyl != b.Cyl || a.Head != b.Head || a.SizeCode != b.SizeCode) {
    d.kind = SectorDifference::Kind::Id;
    d.a = IdText(a);
    d.b = IdText(b);
    out.push_back(d);
  }
  const DataState sa = SectorDataState(a), sb = SectorDataState(b);
  if (sa != sb) {
    d.kind = SectorDifference::Kind::State;
    d.a = DataStateName(sa);
    d.b = DataStateName(sb);
    out.push_back(d);
  }
  if (!a.DataLength() || !b.DataLength()) return;
  const auto da = a.Data(), db = b.Data();
  const size_t common = std::min(da.size(), db.size());
  int differing = static_cast<int>(std::max(da.size(), db.size()) - common);
  int first = differing ? static_cast<int>(common) : -1;
  const auto [ia, ib] = std::ranges::mismatch(da.first(common), db.first(common));
  if (ia != da.begin() + static_cast<ptrdiff_t>(common)) {
    first = static_cast<int>(ia - da.begin());
    for (size_t i = static_cast<size_t>(first); i < common; ++i)
      differing += da[i] != db[i];
  }
  (void)ib;
  if (!differing) return;
  d.kind = SectorDifference::Kind::Bytes;
  d.a = std::to_string(da.size());
  d.b = std::to_string(db.size());
  d.firstOffset = first;
  d.differing = differing;
  out.push_back(d);
}

// The present slots of a track in slot order; the k-th slot of a number on
// one side is matched with the k-th of the same number on the other.
void DiffTrack(const TTrack& a, const TTrack& b, int track, std::vector<SectorDifference>& out) {
  std::array<bool, kSlotCount> matched{};
  for (const TSectorRec& sa : a.Sectors) {
    if (!sa.Present) continue;
    const TSectorRec* partner = nullptr;
    for (size_t j = 0; j < b.Sectors.size(); ++j) {
      if (!matched[j] && b.Sectors[j].Present && b.Sectors[j].Sec == sa.Sec) {
        matched[j] = true;
        partner = &b.Sectors[j];
        break;
      }
    }
    if (partner) {
      DiffSectors(sa, *partner, track, out);
    } else {
      out.push_back({SectorDifference::Kind::OnlyInA, track, sa.Sec, IdText(sa), {}, -1, 0});
    }
  }
  for (size_t j = 0; j < b.Sectors.size(); ++j) {
    const TSectorRec& sb = b.Sectors[j];
    if (sb.Present && !matched[j])
      out.push_back({SectorDifference::Kind::OnlyInB, track, sb.Sec, {}, IdText(sb), -1, 0});
  }
}

std::string FileName(const TTrdosFileEntry& e) {
  std::string name = TrdosNameText(e.Name);
  name.erase(name.find_last_not_of(' ') + 1);
  return name + "." + TrdosTypeText(e.FileType);
}

// Live files by name; a name the catalog holds twice gets "#2", "#3" ...
std::map<std::string, TTrdosFileEntry> LiveFiles(const TTrdosCatalog& cat) {
  std::map<std::string, TTrdosFileEntry> files;
  for (int i = 0; i < cat.ListedBound(); ++i) {
    const TTrdosFileEntry& e = cat.Entries[i];
    if (!e.IsLive()) continue;
    std::string key = FileName(e);
    for (int n = 2; files.contains(key); ++n)
      key = FileName(e) + "#" + std::to_string(n);
    files.emplace(key, e);
  }
  return files;
}

void DiffFiles(const TZX_Disk& a, const TZX_Disk& b, ImageDifference& out) {
  TTrdosCatalog ca, cb;
  out.trdos = ReadTrdosCatalog(a, ca) && ReadTrdosCatalog(b, cb);
  if (!out.trdos) return;
  const auto fa = LiveFiles(ca), fb = LiveFiles(cb);
  std::vector<uint8_t> ba, bb;
  TrdosSectorAddress failed;
  for (const auto& [name, ea] : fa) {
    const auto it = fb.find(name);
    if (it == fb.end()) {
      out.files.push_back({FileDifference::Kind::OnlyInA, name});
      continue;
    }
    const TTrdosFileEntry& eb = it->second;
    if (ea.Start != eb.Start || ea.Length != eb.Length || ea.SectorCount != eb.SectorCount) {
      out.files.push_back({FileDifference::Kind::Entry, name});
      continue;
    }
    // A sector that cannot be read ends the file's bytes on that side.
    ba.clear();
    bb.clear();
    AppendTrdosRun(a, ea.FirstTrack, ea.FirstSector, ea.SectorCount, ba, failed);
    AppendTrdosRun(b, eb.FirstTrack, eb.FirstSector, eb.SectorCount, bb, failed);
    if (ba != bb) out.files.push_back({FileDifference::Kind::Bytes, name});
  }
  for (const auto& [name, eb] : fb) {
    if (!fa.contains(name)) out.files.push_back({FileDifference::Kind::OnlyInB, name});
  }
}

}  // namespace

const char* KindName(SectorDifference::Kind kind) {
  switch (kind) {
    case SectorDifference::Kind::TrackOnlyInA:
      return "track-only-in-a";
    case SectorDifference::Kind::TrackOnlyInB:
      return "track-only-in-b";
    case SectorDifference::Kind::OnlyInA:
      return "only-in-a";
    case SectorDifference::Kind::OnlyInB:
      return "only-in-b";
    case SectorDifference::Kind::Id:
      return "id";
    case SectorDifference::Kind::State:
      return "state";
    case SectorDifference::Kind::Bytes:
      return "bytes";
  }
  return "";
}

const char* KindName(FileDifference::Kind kind) {
  switch (kind) {
    case FileDifference::Kind::OnlyInA:
      return "only-in-a";
    case FileDifference::Kind::OnlyInB:
      return "only-in-b";
    case FileDifference::Kind::Entry:
      return "entry";
    case FileDifference::Kind::Bytes:
      return "bytes";
  }
  return "";
}

const char* DataStateName(DataState state) {
  switch (state) {
    case DataState::Good:
      return "good";
    case DataState::Bad:
      return "bad";
    case DataState::NoData:
      return "no-data";
  }
  return "";
}

ImageDifference DiffImages(const TZX_Disk& a, const TZX_Disk& b) {
  ImageDifference out;
  for (int t = 0; t < kTrackCount; ++t) {
    const TTrack& ta = a.GetTrack(static_cast<uint8_t>(t));
    const TTrack& tb = b.GetTrack(static_cast<uint8_t>(t));
    if (ta.Present && tb.Present) {
      DiffTrack(ta, tb, t, out.sectors);
    } else if (ta.Present || tb.Present) {
      out.sectors.push_back(
          {ta.Present ? SectorDifference::Kind::TrackOnlyInA : SectorDifference::Kind::TrackOnlyInB,
           t,
           -1,
           {},
           {},
           -1,
           0});
    }
  }
  DiffFiles(a, b, out);
  return out;
}

}  // namespace kelvara
