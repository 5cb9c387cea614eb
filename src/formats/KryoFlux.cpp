// A KryoFlux stream is a byte stream of blocks, told apart by the first byte:
//   00-07 b     Flux2: (b0 << 8) + b ticks      08 Nop1, 09 x Nop2, 0A x x Nop3
//   0B          Ovl16: 65536 ticks added to the next flux value
//   0C b b      Flux3: big-endian ticks         0E-FF Flux1: the byte's ticks
//   0D t u16 s  an out-of-band block of type t and s payload bytes:
//               1 StreamInfo (u32 stream position, u32 transfer ms),
//               2 Index (u32 position of the flux holding the index, u32 sample
//                 ticks from the transition before it to the index, u32 index
//                 clock), 3 StreamEnd (u32 position, u32 result: 0 good),
//               4 KFInfo ("name=value, ..." text with sck= and ick=),
//               0D end of file (its size bytes are 0D 0D, not a size).
// The stream position counts every in-band byte, operands included, and no
// out-of-band byte. Ticks are of the sample clock, 24.027 MHz by default.
#include "formats/KryoFlux.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "formats/FluxImage.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

// The sample clock: the board's master clock (18.432 MHz x 73 / 14 / 2,
// about 48.05 MHz) halved.
constexpr double kDefaultSampleHz = 18432000.0 * 73 / 14 / 2 / 2;
constexpr int kMaxCylinders = 84;
constexpr size_t kNameTail = 8;  // "NN.H.raw"

struct IndexBlock {
  uint32_t position = 0;
  uint32_t sampleTicks = 0;
};

uint32_t U32At(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}

// "sck=24027428.57" in the KFInfo text; 0 when absent or out of reason.
double SampleClock(const std::string& text) {
  const size_t at = text.find("sck=");
  if (at == std::string::npos) return 0;
  const double v = std::strtod(text.c_str() + at + 4, nullptr);
  return v >= 1e6 && v <= 1e9 ? v : 0;
}

// Cylinder and head of a name ending in "NN.H.raw"; false for any other.
bool TrackOfName(const std::string& name, int& cylinder, int& head) {
  if (name.size() < kNameTail) return false;
  const char* t = name.c_str() + name.size() - kNameTail;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!digit(t[0]) || !digit(t[1]) || t[2] != '.' || (t[3] != '0' && t[3] != '1') || ext != ".raw")
    return false;
  cylinder = (t[0] - '0') * 10 + (t[1] - '0');
  head = t[3] - '0';
  return true;
}

std::string TrackName(int cylinder, int head) {
  return std::string{static_cast<char>('0' + cylinder / 10), static_cast<char>('0' + cylinder % 10),
                     '.', static_cast<char>('0' + head)};
}

}  // namespace

void DecodeKryoFluxStream(std::span<const uint8_t> bytes, flux::FluxCapture& out, double& sampleHz,
                          std::string& note) {
  out.flux.clear();
  out.index.clear();
  sampleHz = kDefaultSampleHz;
  std::vector<uint32_t> fluxAt;  // stream position of each flux's first byte
  std::vector<IndexBlock> indexes;
  const uint8_t* p = bytes.data();
  const uint8_t* const end = p + bytes.size();
  uint32_t position = 0;     // in-band bytes so far
  uint64_t pending = 0;      // Ovl16s not yet added to a flux
  uint32_t pendingFrom = 0;  // where the flux now being built began
  bool building = false;
  bool ended = false;
  bool failed = false;
  auto fail = [&](const std::string& what) {
    note = what + " at byte " + std::to_string(p - bytes.data());
    failed = true;
  };
  auto emit = [&](uint64_t v, uint32_t size) {
    out.flux.push_back(static_cast<uint32_t>(std::min<uint64_t>(pending + v, UINT32_MAX)));
    fluxAt.push_back(building ? pendingFrom : position);
    pending = 0;
    building = false;
    position += size;
    p += size;
  };
  while (p < end) {
    const uint8_t b = *p;
    const size_t left = static_cast<size_t>(end - p);
    if (b <= 0x07) {
      if (left < 2) {
        fail("cut short");
        break;
      }
      emit(static_cast<uint64_t>(b) << 8 | p[1], 2);
    } else if (b == 0x0C) {
      if (left < 3) {
        fail("cut short");
        break;
      }
      emit(static_cast<uint64_t>(p[1]) << 8 | p[2], 3);
    } else if (b >= 0x0E) {
      emit(b, 1);
    } else if (b >= 0x08 && b <= 0x0A) {
      const size_t n = b - 0x07u;
      if (left < n) {
        fail("cut short");
        break;
      }
      position += static_cast<uint32_t>(n);
      p += n;
    } else if (b == 0x0B) {
      if (!building) pendingFrom = position;
      building = true;
      pending += 0x10000;
      ++position;
      ++p;
    } else {  // 0x0D: out of band
      if (left < 4) {
        fail("cut short");
        break;
      }
      const uint8_t type = p[1];
      if (type == 0x0D) {  // end of file: what follows is not read
        ended = true;
        break;
      }
      const size_t size = static_cast<size_t>(p[2] | p[3] << 8);
      if (left - 4 < size) {
        fail("cut short");
        break;
      }
      const uint8_t* payload = p + 4;
      if ((type == 0x01 || type == 0x03) && size >= 8 && U32At(payload) != position) {
        fail("stream position " + std::to_string(U32At(payload)) + " where " +
             std::to_string(position) + " was counted");
        break;
      }
      if (type == 0x02 && size >= 12) indexes.push_back({U32At(payload), U32At(payload + 4)});
      if (type == 0x03 && size >= 8 && U32At(payload + 4) != 0)
        note = "the capture ended with error " + std::to_string(U32At(payload + 4));
      if (type == 0x04) {
        const double sck = SampleClock(std::string(reinterpret_cast<const char*>(payload), size));
        if (sck > 0) sampleHz = sck;
      }
      p += 4 + size;
    }
  }
  if (!ended && !failed) fail("cut short");
  // Each index in the flux it falls in: the first whose block starts at or
  // after the index's position, the sample ticks into it (placed at the end
  // when it names a place past the last flux).
  uint64_t time = 0;
  size_t i = 0;
  for (const IndexBlock& x : indexes) {
    while (i < out.flux.size() && fluxAt[i] < x.position)
      time += out.flux[i++];
    const uint64_t into = i < out.flux.size() ? std::min(x.sampleTicks, out.flux[i]) : 0;
    const uint64_t at = time + into;
    if (out.index.empty() || at >= out.index.back()) out.index.push_back(at);
  }
}

bool ReadKryoFluxTracks(TZX_Disk& disk, std::span<const KryoFluxTrack> tracks,
                        const std::string& missing) {
  disk.ClearImage();
  if (tracks.empty()) {
    disk.StatusText = "KryoFlux: no track files (trackNN.H.raw) found.";
    return false;
  }
  FluxImageLoad load;
  if (!missing.empty()) load.Note(missing);
  flux::FluxCapture capture;
  flux::DecoderSettings settings;
  settings.cellsPerSecond = 500e3;
  settings.cellsPerRevolution = 100000;
  for (const KryoFluxTrack& t : tracks) {
    std::string note;
    DecodeKryoFluxStream(t.bytes, capture, settings.sampleFrequency, note);
    const std::string name = "KryoFlux track " + TrackName(t.cylinder, t.head) + ": ";
    if (!note.empty())
      load.Note(name + note + (capture.flux.empty() ? "." : "; read up to there."));
    if (capture.flux.empty()) {
      if (note.empty()) load.Note(name + "no flux.");
      continue;
    }
    load.AddCapture(t.cylinder, t.head, capture, settings);
  }
  load.Store(disk, true);
  return true;
}

bool IsKryoFluxPath(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return true;
  int cylinder = 0, head = 0;
  return TrackOfName(FileNameOf(path), cylinder, head);
}

bool LoadKryoFlux(TZX_Disk& disk, const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::string prefix;  // folder and name up to the cylinder
  int cylinder = 0, head = 0;
  if (fs::is_directory(path, ec)) {
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(path, ec)) {
      const std::string name = e.path().filename().string();
      if (TrackOfName(name, cylinder, head)) names.push_back(name);
    }
    if (names.empty()) {
      disk.ClearImage();
      disk.StatusText = "KryoFlux: no track files (trackNN.H.raw) in " + path;
      return false;
    }
    std::sort(names.begin(), names.end());
    prefix = (fs::path(path) / names.front().substr(0, names.front().size() - kNameTail)).string();
  } else {
    if (!FileExists(path) || !TrackOfName(FileNameOf(path), cylinder, head)) {
      disk.ClearImage();
      disk.StatusText = "KryoFlux: " + path + " is not a track file (trackNN.H.raw).";
      return false;
    }
    prefix = path.substr(0, path.size() - kNameTail);
  }
  std::vector<KryoFluxTrack> tracks;
  std::vector<std::pair<int, int>> absent;
  bool heads[2] = {false, false};
  int lastCylinder = -1;
  for (int c = 0; c < kMaxCylinders; ++c) {
    for (int h = 0; h < 2; ++h) {
      const std::string name = prefix + TrackName(c, h) + ".raw";
      if (!FileExists(name)) {
        absent.emplace_back(c, h);
        continue;
      }
      KryoFluxTrack t{c, h, {}};
      if (!ReadWholeFile(name, t.bytes, disk.StatusText)) {
        disk.ClearImage();
        return false;
      }
      heads[h] = true;
      lastCylinder = c;
      tracks.push_back(std::move(t));
    }
  }
  // Files missing among those the set has: below its last cylinder, of a
  // head it has.
  int missing = 0;
  std::string first;
  for (const auto& [c, h] : absent) {
    if (c > lastCylinder || !heads[h]) continue;
    if (missing++ == 0) first = TrackName(c, h);
  }
  const std::string note =
      missing ? std::to_string(missing) + " track file(s) missing (first " + first + ")." : "";
  return ReadKryoFluxTracks(disk, tracks, note);
}

}  // namespace kelvara
