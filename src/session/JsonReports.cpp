#include "session/JsonReports.h"

#include <algorithm>

namespace kelvara {

namespace {

void Numbers(JsonWriter& w, std::string_view key, const std::vector<int>& values) {
  w.Key(key).BeginArray();
  for (const int v : values)
    w.Number(v);
  w.EndArray();
}

void Strings(JsonWriter& w, std::string_view key, const std::vector<std::string>& values) {
  w.Key(key).BeginArray();
  for (const std::string& v : values)
    w.String(v);
  w.EndArray();
}

std::string Trimmed(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

void CheckObject(JsonWriter& w, const std::string& path, const ImageCheck& c) {
  w.BeginObject()
      .Field("file", path)
      .Field("format", c.format)
      .Field("status", VerdictName(c.verdict))
      .Field("error", c.error)
      .Field("note", c.note)
      .Field("fileSystem", c.fileSystem)
      .Field("tracks", c.tracks);
  Numbers(w, "missingTracks", c.missingTracks);
  std::vector<std::string> cylSides;
  for (const int t : c.missingTracks)
    cylSides.push_back(CylSideText(t));
  Strings(w, "missingCylSides", cylSides);
  w.Key("damage").BeginArray();
  for (const TrackDamage& d : c.damage) {
    w.BeginObject().Field("track", d.track).Field("cylSide", CylSideText(d.track));
    Numbers(w, "bad", d.bad);
    Numbers(w, "noData", d.noData);
    Numbers(w, "missing", d.missing);
    Numbers(w, "badId", d.badId);
    w.EndObject();
  }
  w.EndArray();
  Strings(w, "problems", c.problems);
  w.EndObject();
}

void Skipped(JsonWriter& w, const std::vector<BatchInputError>& skipped) {
  w.Key("skipped").BeginArray();
  for (const BatchInputError& s : skipped)
    w.BeginObject().Field("file", s.path).Field("reason", s.reason).EndObject();
  w.EndArray();
}

}  // namespace

std::string InfoJson(const TZX_Disk& disk, const std::string& path) {
  int first = -1, last = -1, minSectors = 0, maxSectors = 0, raw = 0, tracks = 0;
  for (int t = 0; t < kTrackCount; ++t) {
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    if (!track.Present) continue;
    const int n = track.PresentSlots();
    minSectors = tracks ? std::min(minSectors, n) : n;
    maxSectors = std::max(maxSectors, n);
    if (first < 0) first = t;
    last = t;
    raw += track.RawLength() != 0;
    ++tracks;
  }
  const DataStateCounts states = disk.CountDataStates();
  JsonWriter w;
  w.BeginObject()
      .Field("file", path)
      .Field("format", ExtensionKey(path))
      .Field("tracks", tracks)
      .Field("firstTrack", first)
      .Field("lastTrack", last)
      .Field("firstCylSide", first < 0 ? std::string() : CylSideText(first))
      .Field("lastCylSide", last < 0 ? std::string() : CylSideText(last))
      .Field("sectorsMin", minSectors)
      .Field("sectorsMax", maxSectors)
      .Field("good", states.good)
      .Field("bad", states.bad)
      .Field("noData", states.noData)
      .Field("rawTracks", raw)
      .Field("note", disk.StatusText);
  Strings(w, "comment", disk.Comment);
  w.EndObject();
  return w.Text();
}

std::string TrdosCatJson(const TTrdosCatalog& cat, const std::string& path, bool showDeleted) {
  JsonWriter w;
  w.BeginObject()
      .Field("file", path)
      .Field("fileSystem", "trdos")
      .Field("diskName", Trimmed(TrdosNameText(cat.DiskName)))
      .Field("diskType", int{cat.DiskType})
      .Field("fileCount", int{cat.FileCount})
      .Field("deletedCount", int{cat.DeletedCount})
      .Field("freeSectors", int{cat.FreeSectors})
      .Field("firstFreeTrack", int{cat.FirstFreeTrack})
      .Field("firstFreeSector", int{cat.FirstFreeSector});
  w.Key("files").BeginArray();
  for (int i = 0; i < cat.ListedBound(); ++i) {
    const TTrdosFileEntry& e = cat.Entries[i];
    if (!showDeleted && !e.IsLive()) continue;
    w.BeginObject()
        .Field("name", Trimmed(TrdosNameText(e.Name)))
        .Field("type", TrdosTypeText(e.FileType))
        .Field("start", int{e.Start})
        .Field("length", int{e.Length})
        .Field("sectors", int{e.SectorCount})
        .Field("firstSector", int{e.FirstSector})
        .Field("firstTrack", int{e.FirstTrack})
        .Field("deleted", !e.IsLive())
        .EndObject();
  }
  w.EndArray().EndObject();
  return w.Text();
}

std::string CpmCatJson(const CpmCatalog& cat, const std::string& path) {
  JsonWriter w;
  w.BeginObject()
      .Field("file", path)
      .Field("fileSystem", "cpm")
      .Field("usedKb", cat.UsedKb())
      .Field("freeKb", cat.FreeKb())
      .Field("label", cat.Label());
  w.Key("files").BeginArray();
  for (const CpmFileRow& row : cat.rows) {
    w.BeginObject()
        .Field("name", Trimmed(row.Name()))
        .Field("ext", Trimmed(row.Ext()))
        .Field("user", int{row.user})
        .Field("extent", int{row.extent})
        .Field("records", static_cast<int64_t>(row.records))
        .Field("bytes", static_cast<int64_t>(row.bytes));
    Strings(w, "attributes", row.Attributes());
    w.EndObject();
  }
  w.EndArray().Key("others").BeginArray();
  for (const CpmOtherEntry& e : cat.others) {
    w.BeginObject()
        .Field("kind", e.KindName())
        .Field("user", int{e.user})
        .Field("name", CpmTypedName(e.key))
        .EndObject();
  }
  w.EndArray().EndObject();
  return w.Text();
}

std::string VerifyJson(const std::vector<std::pair<std::string, ImageCheck>>& checks,
                       const std::vector<BatchInputError>& skipped) {
  int counts[3] = {0, 0, 0};
  JsonWriter w;
  w.BeginObject().Key("images").BeginArray();
  for (const auto& [path, check] : checks) {
    CheckObject(w, path, check);
    ++counts[static_cast<int>(check.verdict)];
  }
  w.EndArray().Field("clean", counts[0]).Field("damaged", counts[1]).Field("unreadable", counts[2]);
  Skipped(w, skipped);
  w.EndObject();
  return w.Text();
}

std::string DiffJson(const ImageDifference& diff, const std::string& a, const std::string& b) {
  JsonWriter w;
  w.BeginObject().Field("a", a).Field("b", b).Field("same", diff.Same());
  w.Key("sectors").BeginArray();
  for (const SectorDifference& d : diff.sectors) {
    w.BeginObject()
        .Field("kind", KindName(d.kind))
        .Field("track", d.track)
        .Field("cylSide", CylSideText(d.track))
        .Field("sector", d.sector)
        .Field("a", d.a)
        .Field("b", d.b)
        .Field("firstOffset", d.firstOffset)
        .Field("differing", d.differing)
        .EndObject();
  }
  w.EndArray().Field("trdos", diff.trdos).Key("files").BeginArray();
  for (const FileDifference& f : diff.files)
    w.BeginObject().Field("kind", KindName(f.kind)).Field("name", f.name).EndObject();
  w.EndArray().EndObject();
  return w.Text();
}

std::string ConvertJson(const std::vector<ConvertRecord>& records,
                        const std::vector<BatchInputError>& skipped) {
  const auto converted = std::ranges::count_if(records, [](auto& r) { return r.outcome.ok; });
  JsonWriter w;
  w.BeginObject()
      .Field("converted", static_cast<int64_t>(converted))
      .Field("failed", static_cast<int64_t>(records.size()) - converted);
  w.Key("files").BeginArray();
  for (const ConvertRecord& r : records) {
    w.BeginObject()
        .Field("input", r.input)
        .Field("output", r.output)
        .Field("status", r.outcome.ok ? "converted" : "failed")
        .Field("reason", r.outcome.reason)
        .Field("note", r.outcome.note);
    Strings(w, "notes", r.outcome.notes);
    w.EndObject();
  }
  w.EndArray();
  Skipped(w, skipped);
  w.EndObject();
  return w.Text();
}

}  // namespace kelvara
