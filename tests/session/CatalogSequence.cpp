#include "session/CatalogSequence.h"

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "session/Settings.h"
#include "session/TrdosCatalog.h"
#include "support/FakePrompt.h"

namespace kelvara::test {

namespace {

constexpr int kTracks = 160;

// ---- the checker: raw sector bytes, read without the volume code ----------

const TSectorRec* Slot(const TZX_Disk& disk, int linear) {
  const int track = linear / 16, sec = linear % 16 + 1;
  if (track >= kTrackCount) return nullptr;
  for (const TSectorRec& s : disk.GetTrack(static_cast<uint8_t>(track)).Sectors) {
    if (s.Sec == sec) return &s;
  }
  return nullptr;
}

struct RawEntry {
  int index = 0;
  std::array<uint8_t, 16> bytes{};
  bool live() const { return bytes[0] > 31; }
  int first() const { return bytes[15] * 16 + bytes[14]; }
  int count() const { return bytes[13]; }
  int end() const { return first() + count(); }
  // The run number the generator puts into name bytes 1..3; -1 for none.
  int serial() const {
    int n = 0;
    for (int k = 1; k <= 3; ++k) {
      if (bytes[k] < '0' || bytes[k] > '9') return -1;
      n = n * 10 + bytes[k] - '0';
    }
    return n;
  }
};

struct RawVolume {
  std::vector<RawEntry> entries;  // up to the first entry of eight zero name bytes
  int visible = 128;              // entries TR-DOS reads: up to the first whose first byte is 0
  int pointer = 0, free = 0, files = 0, deleted = 0, type = 0, id = 0;
};

// The first 256 bytes of a slot, zeros past its data.
std::array<uint8_t, 256> Head256(const TSectorRec& s) {
  std::array<uint8_t, 256> b;
  s.CopyDataPadded(b);
  return b;
}

RawVolume ReadRaw(const TZX_Disk& disk) {
  RawVolume v;
  v.entries.reserve(128);
  std::array<uint8_t, 256> sector{};
  for (int i = 0; i < 128; ++i) {
    RawEntry e;
    e.index = i;
    if (i % 16 == 0) {
      const TSectorRec* s = Slot(disk, i / 16);
      sector = s ? Head256(*s) : std::array<uint8_t, 256>{};
    }
    std::copy_n(sector.begin() + (i % 16) * 16, 16, e.bytes.begin());
    if (e.bytes[0] == 0) v.visible = std::min(v.visible, i);  // ends TR-DOS's catalog
    if (std::all_of(e.bytes.begin(), e.bytes.begin() + 8, [](uint8_t b) { return b == 0; })) break;
    v.entries.push_back(e);
  }
  if (const TSectorRec* s = Slot(disk, 8)) {
    const auto d = Head256(*s);
    v.pointer = d[0xE2] * 16 + d[0xE1];
    v.files = d[0xE4];
    v.free = d[0xE5] | d[0xE6] << 8;
    v.type = d[0xE3];
    v.id = d[0xE7];
    v.deleted = d[0xF4];
  }
  return v;
}

int TotalOf(int type) {
  return type == 0x17 || type == 0x18 ? 1280 : type == 0x19 ? 640 : 2560;
}

bool CountsAgree(const RawVolume& v) {
  return v.free == std::max(0, TotalOf(v.type) - v.pointer);
}

// Every live file listed lies where TR-DOS still reads the catalog.
bool AllVisible(const RawVolume& v) {
  return std::ranges::all_of(v.entries,
                             [&](const RawEntry& e) { return !e.live() || e.index < v.visible; });
}

// The counts say what TR-DOS reads: every entry up to the end, the deleted
// ones among them, and the free sectors after the pointer; and no live file
// lies past that end.
bool CountsConsistent(const RawVolume& v) {
  const auto dead = std::count_if(v.entries.begin(), v.entries.end(), [&](const RawEntry& e) {
    return !e.live() && e.index < v.visible;
  });
  return v.files == v.visible && v.deleted == dead && CountsAgree(v) && AllVisible(v);
}

// Files on the catalog track or past the disk type's last sector, by
// serial, live or not.
std::set<int> OutsideTheDisk(const RawVolume& v) {
  std::set<int> out;
  for (const RawEntry& e : v.entries) {
    if (e.count() > 0 && (e.first() < 16 || e.end() > TotalOf(v.type))) out.insert(e.serial());
  }
  return out;
}

bool PointerPastFiles(const RawVolume& v) {
  for (const RawEntry& e : v.entries) {
    if (e.live() && e.count() > 0 && e.end() > v.pointer) return false;
  }
  return true;
}

std::string Disjoint(const RawVolume& v) {
  struct Span {
    int first, end, index;
  };
  std::vector<Span> live;
  live.reserve(v.entries.size());
  for (const RawEntry& e : v.entries) {
    if (e.live() && e.count() > 0) live.push_back({e.first(), e.end(), e.index});
  }
  // By first sector: two files share one only if neighbours do.
  std::sort(live.begin(), live.end(), [](const Span& a, const Span& b) {
    return a.first != b.first ? a.first < b.first : a.index < b.index;
  });
  for (size_t k = 1; k < live.size(); ++k) {
    if (live[k].first < live[k - 1].end) {
      const auto [a, b] = std::minmax(live[k - 1].index, live[k].index);
      return "entries " + std::to_string(a) + " and " + std::to_string(b) + " share sectors";
    }
  }
  return {};
}

// Where two disks first differ in what a command that refused must leave
// alone: present, number, length and the first 256 data bytes of every slot
// of the TR-DOS tracks marked in `changed` (the others are as they were, by
// the disk's change counts). Empty when they agree.
std::string FirstDifference(const TZX_Disk& a, const TZX_Disk& b,
                            const std::array<bool, kTracks>& changed) {
  for (int t = 0; t < kTracks; ++t) {
    if (!changed[t]) continue;
    for (int i = 0; i < kSlotCount; ++i) {
      const TSectorRec& x = a.GetTrack(static_cast<uint8_t>(t)).Sectors[i];
      const TSectorRec& y = b.GetTrack(static_cast<uint8_t>(t)).Sectors[i];
      // One memcmp a slot: a byte loop here was most of a sequence's time
      // under the fuzzer's comparison tracing.
      const size_t n = std::min<size_t>(x.DataLength(), 256);
      if (x.Present != y.Present || x.Sec != y.Sec || x.DataLength() != y.DataLength() ||
          (n > 0 && std::memcmp(x.Data().data(), y.Data().data(), n) != 0)) {
        const auto dx = Head256(x), dy = Head256(y);
        const auto at = std::mismatch(dx.begin(), dx.end(), dy.begin()).first - dx.begin();
        return "track " + std::to_string(t) + " slot " + std::to_string(i) + " byte " +
               std::to_string(at);
      }
    }
  }
  return {};
}

// A file's bytes as the checker expects them, 256 a sector; a sector not
// `known` did not exist when the file was recorded.
struct FileBytes {
  std::vector<uint8_t> bytes;
  std::vector<bool> known;
  int sectors() const { return static_cast<int>(known.size()); }
  const uint8_t* Sector(int k) const { return bytes.data() + static_cast<size_t>(k) * 256; }
};

// ---- the run --------------------------------------------------------------

std::vector<uint8_t> RandomBytes(ByteSource& src, size_t n) {
  uint64_t x = src.Byte() * 0x100000001B3ull + 0x9E3779B97F4A7C15ull;
  std::vector<uint8_t> out(n);
  // Eight bytes a step of the generator, stored as one word (their order is
  // the machine's), with a copy of fixed size: under the fuzz build a copy of
  // variable size is a checked call, and the generator was a sixth of a
  // sequence's time.
  const auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  uint8_t* p = out.data();
  for (size_t words = n / 8; words > 0; --words, p += 8) {
    const uint64_t w = next();
    std::memcpy(p, &w, 8);
  }
  if (n % 8 != 0) {
    const uint64_t w = next();
    std::memcpy(p, &w, n % 8);
  }
  return out;
}

std::array<uint8_t, 8> NameOf(char letter, int serial) {
  std::array<uint8_t, 8> n;
  n.fill(' ');
  n[0] = static_cast<uint8_t>(letter);
  n[1] = static_cast<uint8_t>('0' + serial / 100 % 10);
  n[2] = static_cast<uint8_t>('0' + serial / 10 % 10);
  n[3] = static_cast<uint8_t>('0' + serial % 10);
  return n;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

struct NewFile {
  std::array<uint8_t, 8> name{};
  uint8_t type = 'C';
  uint16_t start = 0, length = 0;
  std::vector<uint8_t> data;  // whole sectors
  int sectors() const { return static_cast<int>(data.size() / 256); }
};

std::vector<uint8_t> Header14(const NewFile& f) {
  std::vector<uint8_t> h(f.name.begin(), f.name.end());
  h.insert(h.end(), {f.type, static_cast<uint8_t>(f.start), static_cast<uint8_t>(f.start >> 8),
                     static_cast<uint8_t>(f.length), static_cast<uint8_t>(f.length >> 8),
                     static_cast<uint8_t>(f.sectors())});
  return h;
}

std::vector<uint8_t> Hobeta(const NewFile& f) {
  std::vector<uint8_t> h = Header14(f);
  h.reserve(17 + f.data.size());
  h.back() = 0;  // byte 13 is 0, the sector count follows
  h.push_back(static_cast<uint8_t>(f.sectors()));
  unsigned sum = 0;
  for (unsigned i = 0; i < 15; ++i)
    sum += h[i] * 257u + i;
  h.push_back(static_cast<uint8_t>(sum));
  h.push_back(static_cast<uint8_t>(sum >> 8));
  h.insert(h.end(), f.data.begin(), f.data.end());
  return h;
}

std::vector<uint8_t> Scl(const std::vector<NewFile>& files) {
  std::vector<uint8_t> out = {
      'S', 'I', 'N', 'C', 'L', 'A', 'I', 'R', static_cast<uint8_t>(files.size())};
  size_t size = out.size() + 4;
  for (const NewFile& f : files)
    size += 14 + f.data.size();
  out.reserve(size);
  for (const NewFile& f : files) {
    const std::vector<uint8_t> h = Header14(f);
    out.insert(out.end(), h.begin(), h.end());
  }
  for (const NewFile& f : files)
    out.insert(out.end(), f.data.begin(), f.data.end());
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 4 <= out.size(); i += 4)
    sum += out[i] + out[i + 1] + out[i + 2] + out[i + 3];
  for (; i < out.size(); ++i)
    sum += out[i];
  for (int k = 0; k < 4; ++k)
    out.push_back(static_cast<uint8_t>(sum >> (8 * k)));
  return out;
}

class Sequence {
 public:
  Sequence(std::span<const uint8_t> bytes, std::string folder)
      : src_(bytes), folder_(std::move(folder)) {}

  SequenceResult Run(int maxSteps) {
    BuildDisk();
    if (!zx_.OpenFromImage()) return {0, "the generated disk does not open"};
    volume_ = ReadRaw(*disk_);
    for (const RawEntry& e : volume_.entries)
      Record(e);
    NoteChecked();
    disjoint_ = Disjoint(volume_).empty();
    SequenceResult r;
    while (r.steps < maxSteps && !src_.Exhausted()) {
      const RawVolume before = volume_;
      before_->CopyFrom(*disk_);  // reuses the copy's storage: cheap enough for every step
      ++r.steps;
      const std::string what = Step();
      r.failure = Check(before);
      if (!r.failure.empty()) {
        r.failure = "step " + std::to_string(r.steps) + " (" + what + "): " + r.failure;
        break;
      }
    }
    return r;
  }

 private:
  // ---- the disk ----

  TSectorRec& Sector(int linear) {
    return disk_->GetTrack(static_cast<uint8_t>(linear / 16)).Sectors[linear % 16];
  }

  void BuildDisk() {
    // A blank disk: 160 tracks of 16 zero sectors, copied into the disk of
    // the last sequence (which keeps its sectors' memory).
    static const auto blank = [] {
      auto d = std::make_unique<TZX_Disk>();
      const std::vector<uint8_t> zeros(256, 0);
      for (int t = 0; t < kTracks; ++t) {
        TTrack& track = d->GetTrack(static_cast<uint8_t>(t));
        track.Present = 0xFF;
        for (int r = 0; r < 16; ++r) {
          TSectorRec& s = track.Sectors[r];
          s.SetId(static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2),
                  static_cast<uint8_t>(r + 1), 1);
          s.SetData(zeros);
          s.DataOk = 0xFF;
        }
      }
      return d;
    }();
    disk_->CopyFrom(*blank);
    disk_->CountTracks();

    // Files one after another on the disk, sometimes with gaps, some deleted.
    const int count = src_.Below(14);
    std::vector<std::array<uint8_t, 16>> entries;
    int linear = 16, deleted = 0;
    for (int i = 0; i < count; ++i) {
      if (src_.Chance(15)) linear += src_.Below(8);
      const int sectors = src_.Chance(10) ? 0 : 1 + src_.Below(src_.Chance(20) ? 40 : 6);
      const std::vector<uint8_t> data = RandomBytes(src_, sectors * 256u);
      for (int k = 0; k < sectors; ++k)
        std::copy_n(data.begin() + k * 256, 256, Sector(linear + k).MutableData().begin());
      std::array<uint8_t, 16> e{};
      const auto name = NameOf(static_cast<char>('A' + src_.Below(26)), serial_++);
      std::copy(name.begin(), name.end(), e.begin());
      if (src_.Chance(20)) {
        e[0] = kDeletedMark;
        ++deleted;
      }
      e[8] = static_cast<uint8_t>("BCD#"[src_.Below(4)]);
      e[9] = src_.Byte();
      e[11] = static_cast<uint8_t>(sectors * 256 - src_.Below(256));
      e[12] = static_cast<uint8_t>((sectors * 256 - 1) >> 8);
      e[13] = static_cast<uint8_t>(sectors);
      e[14] = static_cast<uint8_t>(linear % 16);
      e[15] = static_cast<uint8_t>(linear / 16);
      entries.push_back(e);
      linear += sectors;
    }
    // Catalog order unlike the order on the disk.
    if (src_.Chance(30)) {
      for (size_t i = entries.size(); i > 1; --i)
        std::swap(entries[i - 1], entries[static_cast<size_t>(src_.Below(static_cast<int>(i)))]);
    }
    for (size_t i = 0; i < entries.size(); ++i)
      std::copy(
          entries[i].begin(), entries[i].end(),
          Sector(static_cast<int>(i / 16)).MutableData().begin() + static_cast<long>(i % 16) * 16);

    uint8_t* service = Sector(8).MutableData().data();
    const uint8_t types[] = {0x16, 0x16, 0x16, 0x17, 0x18, 0x19};
    const uint8_t type = types[src_.Below(6)];
    const int free = std::max(0, TotalOf(type) - linear);
    service[0xE1] = static_cast<uint8_t>(linear % 16);
    service[0xE2] = static_cast<uint8_t>(linear / 16);
    service[0xE3] = type;
    service[0xE4] = static_cast<uint8_t>(count);
    service[0xE5] = static_cast<uint8_t>(free);
    service[0xE6] = static_cast<uint8_t>(free >> 8);
    service[0xE7] = kTrdosIdByte;
    service[0xF4] = static_cast<uint8_t>(deleted);
    std::copy_n("RANDOM  ", 8, service + 0xF5);

    if (src_.Chance(50)) Damage(linear);
  }

  // What years of other programs and bad drives leave behind.
  void Damage(int used) {
    uint8_t* service = Sector(8).MutableData().data();
    if (src_.Chance(30)) service[0xE4] = static_cast<uint8_t>(service[0xE4] + src_.Below(5) - 2);
    if (src_.Chance(20)) service[0xF4] = src_.Byte();
    if (src_.Chance(20)) service[0xE5] = src_.Byte();
    if (src_.Chance(15)) {  // the pointer moved back into the files
      const int p = std::max(16, used - 1 - src_.Below(8));
      service[0xE1] = static_cast<uint8_t>(p % 16);
      service[0xE2] = static_cast<uint8_t>(p / 16);
    }
    if (src_.Chance(5))
      service[0xE1] = static_cast<uint8_t>(16 + src_.Below(240));  // no such sector
    if (src_.Chance(10)) {  // the pointer anywhere: the catalog track, past the disk's end
      const int total = TotalOf(service[0xE3]);
      const int kinds[] = {src_.Below(16), total - 4 + src_.Below(40), src_.Below(kTracks * 16)};
      const int p = kinds[src_.Below(3)];
      service[0xE1] = static_cast<uint8_t>(p % 16);
      service[0xE2] = static_cast<uint8_t>(p / 16);
      // Often with a free count to match, which lets an add go ahead.
      const int free = src_.Chance(50) ? std::max(0, total - p) : src_.Below(65536);
      service[0xE5] = static_cast<uint8_t>(free);
      service[0xE6] = static_cast<uint8_t>(free >> 8);
    }
    // Sectors that cannot be used: no data, short, or no such number.
    for (int k = src_.Below(4); k > 0; --k) {
      TSectorRec& s = Sector(16 + src_.Below(used + 24));
      switch (src_.Below(4)) {
        case 0:
          s.Present = 0;
          break;
        case 1:
          s.MutableData(128);
          break;
        case 2:
          s.DataOk = 0;
          break;  // a CRC error; still usable
        default:
          s.Sec = 17;
          break;
      }
    }
    // A catalog sector that reads (as zeros or as it is) but cannot be written.
    if (src_.Chance(15)) {
      TSectorRec& s = Sector(1 + src_.Below(7));
      if (src_.Chance(50)) {
        s.MutableData(100);
      } else if (std::ranges::all_of(Head256(s), [](uint8_t b) { return b == 0; })) {
        s.Sec = 17;
      }
    }
  }

  // ---- the checker's model ----

  void Record(const RawEntry& e) {
    const int serial = e.serial();
    if (serial < 0 || expected_.count(serial)) return;
    FileBytes& want = expected_[serial];
    want.bytes.resize(static_cast<size_t>(e.count()) * 256);
    want.known.resize(static_cast<size_t>(e.count()));
    for (int k = 0; k < e.count(); ++k) {
      if (const TSectorRec* s = Slot(*disk_, e.first() + k)) {
        std::memcpy(want.bytes.data() + static_cast<size_t>(k) * 256, Head256(*s).data(), 256);
        want.known[static_cast<size_t>(k)] = true;
      }
    }
  }

  // The tracks changed since the last check (the disk counts every
  // hand-out for writing; the checker writes nothing).
  std::array<bool, kTracks> Changed() const {
    std::array<bool, kTracks> changed;
    for (int t = 0; t < kTracks; ++t)
      changed[t] = disk_->TrackChanges(static_cast<uint8_t>(t)) != changesAtCheck_[t];
    return changed;
  }

  void NoteChecked() {
    for (int t = 0; t < kTracks; ++t)
      changesAtCheck_[t] = disk_->TrackChanges(static_cast<uint8_t>(t));
  }

  // Whether a file's sectors all lie on tracks the step left alone.
  static bool Untouched(const RawEntry& e, const std::array<bool, kTracks>& changed) {
    for (int t = e.first() / 16; t <= (e.end() - 1) / 16 && t < kTracks; ++t) {
      if (changed[t]) return false;
    }
    return true;
  }

  std::string Check(const RawVolume& before) {
    const std::array<bool, kTracks> changed = Changed();
    NoteChecked();
    volume_ = ReadRaw(*disk_);
    const RawVolume& v = volume_;
    if (const std::string at = refused_ ? FirstDifference(*disk_, *before_, changed) : "";
        !at.empty()) {
      return "a refused command changed the disk at " + at + " msgs " +
             (prompt_.messages.empty() ? std::string() : prompt_.messages.back().text);
    }
    for (const NewFile& f : added_) {
      for (const RawEntry& e : v.entries) {
        if (e.live() && std::equal(f.name.begin(), f.name.end(), e.bytes.begin()) &&
            !expected_.count(e.serial())) {
          expected_[e.serial()] = {f.data,
                                   std::vector<bool>(static_cast<size_t>(f.sectors()), true)};
        }
      }
    }
    std::bitset<1000> seen;  // by serial, three digits
    for (const RawEntry& e : v.entries) {
      if (!e.live()) continue;
      const int serial = e.serial();
      if (!expected_.count(serial)) {
        return "entry " + std::to_string(e.index) + " is a file no one added";
      }
      if (seen[static_cast<size_t>(serial)])
        return "file " + std::to_string(serial) + " listed twice";
      seen[static_cast<size_t>(serial)] = true;
      if (lost_.count(serial)) continue;
      const FileBytes& want = expected_[serial];
      if (want.sectors() != e.count()) {
        return "file " + std::to_string(serial) + " changed its sector count";
      }
      // Where the last check found the file whole and the step wrote none
      // of its tracks, its bytes are as they were.
      auto verified = verified_.find(serial);
      if (verified != verified_.end() && verified->second == e.first() && Untouched(e, changed))
        continue;
      for (int k = 0; k < e.count(); ++k) {
        const TSectorRec* s = Slot(*disk_, e.first() + k);
        if (!s || !want.known[static_cast<size_t>(k)]) continue;
        const bool same = s->DataLength() >= 256
                              ? std::memcmp(want.Sector(k), s->Data().data(), 256) == 0
                              : std::memcmp(want.Sector(k), Head256(*s).data(), 256) == 0;
        if (!same) {
          return "file " + std::to_string(serial) + " (entry " + std::to_string(e.index) +
                 ") lost its bytes at sector " + std::to_string(k);
        }
      }
      verified_[serial] = e.first();
    }
    // Two files that shared sectors before the step may still; if none did,
    // none may now.
    const bool disjointBefore = disjoint_;
    std::string overlap = Disjoint(v);
    disjoint_ = overlap.empty();
    if (disjointBefore && !overlap.empty()) return overlap;
    if (CountsAgree(before) && !CountsAgree(v)) return "the free count left the pointer";
    if (v.type != before.type || v.id != kTrdosIdByte)
      return "the service sector lost the disk type or the TR-DOS identifier";
    // The editor's revived entry is the user's: the counts are left alone.
    if (!revived_ && CountsConsistent(before) && !CountsConsistent(v))
      return "the counts no longer say what TR-DOS reads: files " + std::to_string(v.files) +
             " of " + std::to_string(v.visible) + " read, " + std::to_string(v.deleted) +
             " deleted, pointer " + std::to_string(v.pointer) + ", free " + std::to_string(v.free);
    if (!revived_ && AllVisible(before) && !AllVisible(v))
      return "a live file lies past the end of the catalog TR-DOS reads";
    const std::set<int> outside = OutsideTheDisk(before);
    for (const RawEntry& e : v.entries) {
      if (e.live() && e.count() > 0 && (e.first() < 16 || e.end() > TotalOf(v.type)) &&
          !outside.count(e.serial()))
        return "entry " + std::to_string(e.index) + " lies off the disk's file area";
    }
    // The editor revives an entry without moving the pointer: the volume is
    // then the user's to mend, and an add must refuse rather than overwrite.
    if (!revived_ && PointerPastFiles(before) && !PointerPastFiles(v))
      return "the pointer lies inside a file";
    // A file that is not live may give its sectors away; once another file
    // has them, its bytes are no longer its own.
    for (const RawEntry& e : v.entries) {
      if (e.live() || e.count() == 0 || lost_.count(e.serial())) continue;
      for (const RawEntry& o : v.entries) {
        if (o.live() && o.first() < e.end() && e.first() < o.end()) lost_.insert(e.serial());
      }
    }
    return {};
  }

  // ---- the commands ----

  std::string Step() {
    refused_ = revived_ = false;
    added_.clear();
    const int pick = src_.Below(100);
    if (pick < 25) return Add();
    if (pick < 40) return Delete();
    if (pick < 52) return Restore();
    if (pick < 62) return Rename();
    if (pick < 82) return Edit();
    return Compact();
  }

  void Note(const CatalogOutcome& r) { refused_ = !r.ok || r.cancelled; }

  int RandomRow() {
    const int rows = zx_.RowCount();
    return rows == 0 ? -1 : src_.Below(rows);
  }

  std::string Add() {
    const int count = src_.Chance(75) ? 1 : 2 + src_.Below(3);
    std::vector<NewFile> files;
    for (int i = 0; i < count; ++i) {
      NewFile f;
      const RawEntry* taken = nullptr;
      if (src_.Chance(10)) {
        for (const RawEntry& e : volume_.entries) {
          if (e.live() && e.index < volume_.files) taken = &e;
        }
      }
      if (taken) {
        std::copy_n(taken->bytes.begin(), 8, f.name.begin());
        f.type = taken->bytes[8];
      } else {
        f.name = NameOf(static_cast<char>('A' + src_.Below(26)), serial_++ % 1000);
        f.type = static_cast<uint8_t>("BCD#"[src_.Below(4)]);
      }
      const int sectors = src_.Chance(5) ? 150 + src_.Below(106) : src_.Below(9);
      f.data = RandomBytes(src_, sectors * 256u);
      f.start = static_cast<uint16_t>(src_.Below(65536));
      f.length = static_cast<uint16_t>(std::max(0, sectors * 256 - src_.Below(256)));
      files.push_back(std::move(f));
    }
    std::vector<std::string> paths;
    if (count > 1 && src_.Chance(50)) {
      paths.push_back(folder_ + "/add.scl");
      WriteFile(paths.back(), Scl(files));
    } else {
      for (int i = 0; i < count; ++i) {
        paths.push_back(folder_ + "/add" + std::to_string(i) + ".$C");
        WriteFile(paths.back(), Hobeta(files[i]));
      }
    }
    const CatalogOutcome r = zx_.AddFilesFrom(paths);
    // Files added before a failure stay; only a single file's failure must
    // leave everything as it was.
    refused_ = count == 1 && (!r.ok || r.cancelled);
    added_ = std::move(files);
    return "add " + std::to_string(count);
  }

  std::string Delete() {
    if (src_.Chance(50)) zx_.ToggleShowDeleted();
    std::vector<int> rows;
    for (int k = 1 + src_.Below(3); k > 0; --k) {
      if (const int row = RandomRow(); row >= 0) rows.push_back(row);
    }
    if (rows.empty()) return "delete nothing";
    prompt_.answers.push_back(src_.Chance(90) ? Answer::Yes : Answer::No);
    Note(zx_.DeleteFiles(rows));
    prompt_.answers.clear();
    return "delete";
  }

  std::string Restore() {
    if (!zx_.ShowDeleted()) zx_.ToggleShowDeleted();
    std::vector<int> dead;
    for (int r = 0; r < zx_.RowCount(); ++r) {
      if (!zx_.Catalog().Entries[zx_.EntryOfRow(r)].IsLive()) dead.push_back(r);
    }
    if (dead.empty()) return "restore nothing";
    const int row = dead[static_cast<size_t>(src_.Below(static_cast<int>(dead.size())))];
    prompt_.texts.push_back(
        src_.Chance(90) ? std::string(1, static_cast<char>('A' + src_.Below(26))) : std::string());
    Note(zx_.RestoreFile(row));
    prompt_.texts.clear();
    return "restore entry " + std::to_string(zx_.EntryOfRow(row));
  }

  std::string Rename() {
    std::string name;
    for (int k = src_.Below(9); k > 0; --k)
      name += static_cast<char>('A' + src_.Below(26));
    prompt_.texts.push_back(name);
    Note(zx_.RenameDisk());
    prompt_.texts.clear();
    return "rename";
  }

  // The editor changes the name's first letter, the type, start and length;
  // a file's place on the disk is the user's to break, not the program's.
  std::string Edit() {
    const int row = RandomRow();
    if (row < 0) return "edit nothing";
    const int index = zx_.EntryOfRow(row);
    const TTrdosFileEntry& e = zx_.Catalog().Entries[static_cast<size_t>(index)];
    TrdosEntryFields fields = TrdosEntryFieldsOf(e);
    RawEntry raw;
    std::copy(e.Name.begin(), e.Name.end(), raw.bytes.begin());
    const bool lost = lost_.count(raw.serial()) > 0;
    if (e.IsLive() || (!lost && src_.Chance(50))) {
      revived_ = !e.IsLive();
      fields.name[0] = static_cast<char>('A' + src_.Below(26));
    }
    fields.type = std::string(1, "BCD#"[src_.Below(4)]);
    fields.start = static_cast<uint16_t>(src_.Below(65536));
    fields.length = static_cast<uint16_t>(src_.Below(65536));
    Note(zx_.EditEntry(row, fields));
    return "edit entry " + std::to_string(index);
  }

  std::string Compact() {
    prompt_.answers.push_back(src_.Chance(90) ? Answer::Yes : Answer::No);
    const CatalogOutcome r = zx_.Compact();
    prompt_.answers.clear();
    Note(r);
    return "compact";
  }

  ByteSource src_;
  std::string folder_;
  // The disk the commands work on and the disk before a step: one each for
  // every sequence of the process, so that their storage is allocated once.
  TZX_Disk* disk_ = [] {
    static const auto disk = std::make_unique<TZX_Disk>();
    return disk.get();
  }();
  TZX_Disk* before_ = [] {
    static const auto copy = std::make_unique<TZX_Disk>();
    return copy.get();
  }();
  FakePrompt prompt_;
  TSettings settings_;
  TrdosCatalog zx_{*disk_, prompt_, settings_};
  int serial_ = 0;
  RawVolume volume_;
  std::map<int, FileBytes> expected_;
  std::set<int> lost_;
  std::map<int, int> verified_;  // a file's first sector when last found whole
  std::array<uint32_t, kTracks> changesAtCheck_{};
  bool disjoint_ = true;  // no two live files shared a sector at the last check
  bool refused_ = false;
  bool revived_ = false;
  std::vector<NewFile> added_;
};

}  // namespace

ScratchFolder::ScratchFolder() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path base =
      fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string name = (base / "kelvara-seq-XXXXXX").string();
  if (mkdtemp(name.data())) path_ = name;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

SequenceResult RunCatalogSequence(std::span<const uint8_t> bytes, int maxSteps,
                                  const std::string& folder) {
  return Sequence(bytes, folder).Run(maxSteps);
}

}  // namespace kelvara::test
