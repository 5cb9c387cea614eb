// SCP: flux captures, a track side per entry of a fixed table.
//
// Header (16 bytes), little-endian:
//   0 "SCP"   3 version   4 disk type   5 revolutions per track
//   6 first track   7 last track   8 flags (below)   9 bits per flux sample
//   (0 = 16)   10 heads (0 both, 1 side 0 only, 2 side 1 only)
//   11 resolution: a tick is 25 ns x (n + 1)   12 u32 sum of every byte from
//   offset 16 to the end, or 0
// Flags: 0x01 the capture starts at the index, 0x02 a 96-tpi drive (else 48),
// 0x04 a 360-rpm drive (else 300).
// Then 168 u32 offsets of the track headers, entry = cylinder x 2 + head,
// 0 = no track; a table whose first header lies inside it is that short.
// Track header: "TRK", the track number, then per revolution the index to
// index time in 25 ns ticks, the number of flux entries and the offset of
// the entries from the track header. Flux entries are big-endian u16 ticks
// since the previous transition; 0 adds 65536 ticks to the next entry.
#include "formats/Scp.h"

#include <algorithm>
#include <array>

#include "codec/MfmEncoder.h"
#include "formats/FluxImage.h"
#include "model/ByteReader.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr size_t kHeaderSize = 0x10;
constexpr size_t kTableEntries = 168;
constexpr size_t kTableEnd = kHeaderSize + 4 * kTableEntries;
constexpr int kMaxRevolutions = 10;
constexpr uint8_t kFlagIndex = 0x01;
constexpr uint8_t kFlag96Tpi = 0x02;
constexpr uint8_t kFlag360Rpm = 0x04;
constexpr double kBaseTickHz = 40e6;  // 25 ns
// The writer's cell: 2 us at 250 kbit/s, in 25 ns ticks.
constexpr double kWriterCellTicks = 80;

uint32_t Checksum(std::span<const uint8_t> file) {
  uint32_t sum = 0;
  for (size_t i = kHeaderSize; i < file.size(); ++i)
    sum += file[i];
  return sum;
}

std::string TrackText(size_t entry) {
  return "SCP track " + std::to_string(entry) + ": ";
}

struct Header {
  uint8_t revolutions = 0, flags = 0, width = 0, heads = 0, resolution = 0;
  uint32_t checksum = 0;
};

bool ReadHeader(ByteReader& r, Header& h, std::string& error) {
  std::string signature;
  r.Text(3, signature);
  r.Skip(2);  // version, disk type
  r.U8(h.revolutions);
  r.Skip(2);  // first and last track
  r.U8(h.flags);
  r.U8(h.width);
  r.U8(h.heads);
  r.U8(h.resolution);
  r.U32(h.checksum);
  if (!r.Ok() || signature != "SCP") {
    error = "SCP header error!";
  } else if (h.revolutions == 0 || h.revolutions > kMaxRevolutions) {
    error = "SCP file: " + std::to_string(h.revolutions) + " revolutions a track (1 to " +
            std::to_string(kMaxRevolutions) + " expected).";
  } else if (h.width != 0 && h.width != 16) {
    error = "SCP file: flux samples of " + std::to_string(h.width) + " bits are not supported.";
  } else if (h.heads > 2) {
    error = "SCP file: heads byte " + std::to_string(h.heads) + " (0, 1 or 2 expected).";
  }
  return error.empty();
}

// The track table, up to the lowest header offset that falls inside it.
bool ReadTable(ByteReader& r, std::vector<uint32_t>& offsets, std::string& error) {
  size_t entries = kTableEntries;
  offsets.clear();
  r.Seek(kHeaderSize);
  for (size_t i = 0; i < entries; ++i) {
    uint32_t offset = 0;
    if (!r.U32(offset)) {
      error = "SCP file: the track table is cut short.";
      return false;
    }
    if (offset >= kHeaderSize && offset < kTableEnd)
      entries = std::min(entries, std::max<size_t>((offset - kHeaderSize) / 4, i + 1));
    offsets.push_back(offset);
  }
  offsets.resize(entries);
  return true;
}

struct Revolution {
  uint32_t indexTime = 0, count = 0, offset = 0;
};

// One track's revolutions as a capture: the index at the start of each and
// at the end of the last. Notes what it had to leave out.
bool ReadTrack(std::span<const uint8_t> file, size_t entry, uint32_t at, const Header& h,
               flux::FluxCapture& capture, FluxImageLoad& load, std::string& error) {
  ByteReader r(file);
  std::string signature;
  uint8_t number = 0;
  r.Seek(at);
  r.Text(3, signature);
  r.U8(number);
  std::array<Revolution, kMaxRevolutions> revs{};
  for (int k = 0; k < h.revolutions; ++k) {
    r.U32(revs[k].indexTime);
    r.U32(revs[k].count);
    r.U32(revs[k].offset);
  }
  if (!r.Ok()) {
    error = TrackText(entry) + "its header lies past the end of the file.";
    return false;
  }
  if (signature != "TRK" || number != entry) {
    error = TrackText(entry) + "no track header at offset " + std::to_string(at) + ".";
    return false;
  }
  int count = h.revolutions;
  // Writers that reserve revolution slots leave the unused ones empty.
  while (count > 0 && revs[count - 1].count == 0)
    --count;
  // A capture that did not start at the index begins with a part revolution.
  const int first = !(h.flags & kFlagIndex) && count > 1 ? 1 : 0;
  capture.flux.clear();
  capture.index.clear();
  uint64_t time = 0;
  bool overflowRun = false, empty = false;
  for (int k = first; k < count; ++k) {
    const Revolution& rev = revs[k];
    const uint64_t begin = uint64_t{at} + rev.offset;
    const uint64_t bytes = uint64_t{rev.count} * 2;
    if (begin > file.size() || bytes > file.size() - begin) {
      error = TrackText(entry) + "the flux of revolution " + std::to_string(k + 1) +
              " lies past the end of the file.";
      return false;
    }
    const size_t before = capture.flux.size();
    capture.index.push_back(time);
    const uint8_t* p = file.data() + begin;
    uint64_t pending = 0;
    for (uint32_t i = 0; i < rev.count; ++i, p += 2) {
      const uint32_t v = static_cast<uint32_t>(p[0] << 8 | p[1]);
      if (v == 0) {
        pending += 65536;
        continue;
      }
      pending += v;
      capture.flux.push_back(static_cast<uint32_t>(std::min<uint64_t>(pending, UINT32_MAX)));
      time += pending;
      pending = 0;
    }
    overflowRun |= pending != 0;
    if (capture.flux.size() == before) {
      empty = true;
      capture.index.pop_back();
    }
  }
  if (!capture.flux.empty()) capture.index.push_back(time);
  if (overflowRun) load.Note(TrackText(entry) + "flux ends in a run of overflows, left out.");
  if (empty) load.Note(TrackText(entry) + "a revolution without flux.");
  return true;
}

bool ReadScp(TZX_Disk& disk, std::span<const uint8_t> file) {
  disk.ClearImage();
  ByteReader r(file);
  Header h;
  std::string error;
  std::vector<uint32_t> offsets;
  if (!ReadHeader(r, h, error) || !ReadTable(r, offsets, error)) {
    disk.StatusText = error;
    return false;
  }
  FluxImageLoad load;
  if (h.checksum != 0 && h.checksum != Checksum(file))
    load.Note("SCP checksum mismatch: the file may be damaged.");
  // Single-sided files of old writers number the one side's cylinders 0, 1,
  // 2...: entries of both parities in use tell them apart.
  bool even = false, odd = false;
  for (size_t i = 0; i < offsets.size(); ++i)
    if (offsets[i]) (i % 2 ? odd : even) = true;
  const bool consecutive = h.heads != 0 && even && odd;

  flux::DecoderSettings settings;
  settings.sampleFrequency = kBaseTickHz / (h.resolution + 1);
  // A double-density disk in a 360-rpm drive passes at 300 kbit/s.
  settings.cellsPerSecond = h.flags & kFlag360Rpm ? 600e3 : 500e3;
  settings.cellsPerRevolution = 100000;
  flux::FluxCapture capture;
  for (size_t i = 0; i < offsets.size(); ++i) {
    if (!offsets[i]) continue;
    if (!ReadTrack(file, i, offsets[i], h, capture, load, error)) {
      disk.StatusText = error;
      return false;
    }
    if (capture.flux.empty()) {
      load.Note(TrackText(i) + "no flux, left out.");
      continue;
    }
    const int cylinder = static_cast<int>(consecutive ? i : i / 2);
    const int head = consecutive ? h.heads - 1 : static_cast<int>(i % 2);
    load.AddCapture(cylinder, head, capture, settings);
  }
  load.Store(disk, h.flags & kFlag96Tpi);
  return true;
}

// Ticks as 16-bit entries: a 0 for every 65536, then the rest; a rest of 0
// becomes 1, since an entry of 0 cannot end an interval.
void PutFlux(ByteWriter& w, uint32_t ticks, uint32_t& entries) {
  for (; ticks > 65535; ticks -= 65536, ++entries)
    w.U16(0);
  if (ticks == 0) ticks = 1;
  w.U8(static_cast<uint8_t>(ticks >> 8));
  w.U8(static_cast<uint8_t>(ticks));
  ++entries;
}

}  // namespace

bool LoadSCP(TZX_Disk& disk, const std::string& path) {
  if (path.empty() || !FileExists(path)) return false;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, disk.StatusText)) {
    disk.ClearImage();
    return false;
  }
  return ReadScp(disk, file);
}

bool ReadScpBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  return ReadScp(disk, file);
}

WriteResult BuildScpBytes(const TZX_Disk& disk, std::vector<uint8_t>& out,
                          const ScpOptions& options) {
  out.clear();
  const int revolutions = std::clamp(options.revolutions, 1, 5);
  const int last = disk.LastPresentTrack();
  if (last < 0) return WriteResult::Failed("The image has no tracks to write as SCP!");
  bool even = false, odd = false;
  for (int t = 0; t <= last; ++t)
    if (disk.GetTrack(static_cast<uint8_t>(t)).Present) (t % 2 ? odd : even) = true;

  ByteWriter w;
  w.Text("SCP");
  w.U8(0);     // version
  w.U8(0x80);  // disk type: other
  w.U8(static_cast<uint8_t>(revolutions));
  w.U8(0);
  w.U8(static_cast<uint8_t>(last));
  w.U8(kFlagIndex | kFlag96Tpi);
  w.U8(0);  // 16-bit samples
  w.U8(even && odd ? 0 : even ? 1 : 2);
  w.U8(0);  // 25 ns
  w.U32(0);
  w.Fill(4 * kTableEntries, 0);

  std::vector<uint8_t> bytes, sync, cells;
  std::vector<uint32_t> flux;
  for (int t = 0; t <= last; ++t) {
    if (!disk.GetTrack(static_cast<uint8_t>(t)).Present) continue;
    if (!flux::TrackRawBytes(disk, t, bytes, sync)) {
      RawTrackFault fault;
      fault.track = t;
      return WriteResult::Failed("Cannot build track " + std::to_string(t) + " for the SCP file!",
                                 fault);
    }
    flux::MfmCells(bytes, sync, cells);
    const uint32_t trailing = flux::CellsToFlux(cells, kWriterCellTicks, flux);
    const auto indexTime = static_cast<uint32_t>(cells.size() * kWriterCellTicks);
    const size_t header = w.Size();
    w.PatchU32(kHeaderSize + 4 * static_cast<size_t>(t), static_cast<uint32_t>(header));
    w.Text("TRK");
    w.U8(static_cast<uint8_t>(t));
    w.Fill(12 * static_cast<size_t>(revolutions), 0);
    for (int k = 0; k < revolutions; ++k) {
      const size_t begin = w.Size();
      uint32_t entries = 0;
      // The cells after the last transition of a revolution open the next.
      for (size_t i = 0; i < flux.size(); ++i)
        PutFlux(w, flux[i] + (i == 0 && k > 0 ? trailing : 0), entries);
      const size_t slot = header + 4 + 12 * static_cast<size_t>(k);
      w.PatchU32(slot, indexTime);
      w.PatchU32(slot + 4, entries);
      w.PatchU32(slot + 8, static_cast<uint32_t>(begin - header));
    }
  }
  w.PatchU32(12, Checksum(w.Data()));
  out = w.Take();
  return {};
}

WriteResult SaveSCP(const TZX_Disk& disk, const std::string& path, const ScpOptions& options) {
  return BuildAndWrite(
      path, [&](std::vector<uint8_t>& out) { return BuildScpBytes(disk, out, options); });
}

}  // namespace kelvara
