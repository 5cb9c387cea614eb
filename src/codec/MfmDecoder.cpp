#include "codec/MfmDecoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "codec/Mfm.h"
#include "model/Crc.h"

namespace kelvara::flux {

namespace {

// A data field belongs to the ID before it when its mark comes within this
// many bytes of the ID's mark (a WD179x waits 43 bytes after the ID's CRC).
constexpr size_t kDataWindow = 62;
// Cells emitted for one flux interval at most: 128 bytes' worth.
constexpr int kLongestGap = 2048;
// Two reads of one ID are one sector when they stand this close on the track.
constexpr uint32_t kSameSectorBytes = 100;

// The data bits of a byte of cells, as a PLL reads them.
constexpr std::array<uint8_t, 256> MakeDataNibbles() {
  std::array<uint8_t, 256> t{};
  for (int v = 0; v < 256; ++v)
    t[v] = DataNibble(static_cast<uint8_t>(v), PairRule::DataCell);
  return t;
}
constexpr std::array<uint8_t, 256> kNibble = MakeDataNibbles();

// Cells to bytes. The PLL: each interval is added to a phase accumulator;
// one under half a cell merges into the next; a 0 is emitted per cell while
// 1.5 cells or more remain, then a 1. What remains is the phase error: 60 %
// of it is taken out, and 5 % of it moves the cell period, except after a
// run of more than three zeros (no clock to trust), where the period eases
// back towards nominal instead. The period stays within 10 % of nominal.
struct CellsToBytes {
  std::vector<uint8_t>& bytes;
  std::vector<uint8_t>& sync;
  std::vector<uint32_t>& syncAt;  // positions of A1 sync bytes
  uint32_t shift = 0;
  int count = 0;  // cells since the last byte boundary
  size_t locked = 0;

  void Cell(uint32_t bit) {
    shift = (shift << 1) | bit;
    ++count;
    const uint16_t w = static_cast<uint16_t>(shift);
    if (w == kSyncA1Cells && bit) {
      syncAt.push_back(static_cast<uint32_t>(bytes.size()));
      Emit(0xA1, 1);
    } else if (w == kSyncC2Cells && (shift >> 16) == kSyncC2Cells) {
      // C2 can come out of ordinary data at an odd shift; two in a row
      // make the index mark.
      if (count == 16 && !bytes.empty() && bytes.back() == 0xC2) sync.back() = 1;
      Emit(0xC2, 1);
    } else if (count == 16) {
      Emit(static_cast<uint8_t>(kNibble[w >> 8] << 4 | kNibble[w & 0xFF]), 0);
    }
  }
  void Emit(uint8_t b, uint8_t s) {
    bytes.push_back(b);
    sync.push_back(s);
    count = 0;
  }
};

struct Instance {
  uint8_t chrn[4];
  size_t idPos;  // the ID mark in the byte stream
  int revolution;
  uint32_t angle;
  bool hasData = false;
  bool dataOk = false;
  uint8_t mark = 0;
  size_t dataPos = 0;  // the data mark
};

int RevolutionAt(const std::vector<size_t>& indexAt, size_t pos) {
  return static_cast<int>(std::upper_bound(indexAt.begin(), indexAt.end(), pos) - indexAt.begin());
}

uint32_t AngleAt(const std::vector<size_t>& indexAt, size_t revBytes, size_t pos) {
  const int r = RevolutionAt(indexAt, pos);
  if (r > 0) return static_cast<uint32_t>(pos - indexAt[r - 1]);
  if (indexAt.empty()) return static_cast<uint32_t>(pos);
  const size_t before = indexAt[0] - pos;
  return static_cast<uint32_t>(revBytes > before ? revBytes - before : 0);
}

uint32_t CircularDistance(uint32_t a, uint32_t b, size_t revBytes) {
  uint32_t d = a > b ? a - b : b - a;
  if (revBytes == 0) return d;
  d %= static_cast<uint32_t>(revBytes);
  return std::min<uint32_t>(d, static_cast<uint32_t>(revBytes) - d);
}

std::vector<Instance> FindFields(const std::vector<uint8_t>& bytes,
                                 const std::vector<uint32_t>& syncAt,
                                 const std::vector<size_t>& indexAt, size_t revBytes,
                                 int& badIdCrc) {
  std::vector<Instance> found;
  const uint16_t crc0 = SyncCrc();
  const size_t n = bytes.size();
  // A mark is the byte right after the last A1 of a sync run.
  std::vector<size_t> marks;
  for (size_t k = 0; k < syncAt.size(); ++k) {
    const size_t m = syncAt[k] + 1;
    if (k + 1 < syncAt.size() && syncAt[k + 1] == m) continue;
    if (m < n) marks.push_back(m);
  }
  for (size_t k = 0; k < marks.size(); ++k) {
    const size_t m = marks[k];
    if (bytes[m] != 0xFE || m + 7 > n) continue;
    if (CalcCrc16({bytes.data() + m, 7}, crc0) != 0) {
      ++badIdCrc;
      continue;
    }
    Instance in{};
    std::copy_n(bytes.data() + m + 1, 4, in.chrn);
    in.idPos = m;
    in.revolution = RevolutionAt(indexAt, m);
    in.angle = AngleAt(indexAt, revBytes, m);
    const size_t size = FieldBytes(in.chrn[3]);
    for (size_t j = k + 1; j < marks.size() && marks[j] < m + kDataWindow; ++j) {
      const size_t d = marks[j];
      if (bytes[d] == 0xFE) break;
      if (bytes[d] < 0xF8 || bytes[d] > 0xFB) continue;
      if (d + 1 + size + 2 > n) break;  // cut off by the end of the capture
      in.hasData = true;
      in.mark = bytes[d];
      in.dataPos = d;
      in.dataOk = CalcCrc16({bytes.data() + d, 1 + size + 2}, crc0) == 0;
      break;
    }
    found.push_back(in);
  }
  return found;
}

// The better of two reads of one sector's data.
bool Better(const Instance& a, const Instance& b) {
  if (a.dataOk != b.dataOk) return a.dataOk;
  return a.hasData && !b.hasData;
}

// The cell at the nominal speed, in ticks; where two index pulses give the
// revolution, scaled so that it holds the nominal number of cells (a drive's
// speed error does not reach the PLL). Sets the measured revolution.
double NominalCell(const FluxCapture& capture, const DecoderSettings& settings, DecodedTrack& out) {
  const double nominalCell = settings.sampleFrequency / settings.cellsPerSecond;
  const std::vector<uint64_t>& index = capture.index;
  if (index.size() < 2) return nominalCell;
  const double rev =
      static_cast<double>(index.back() - index.front()) / static_cast<double>(index.size() - 1);
  out.revolutionMs = rev / settings.sampleFrequency * 1e3;
  // The index drives the scale only when it is plausible: a bouncing sensor
  // gives pulses a few milliseconds apart.
  const double scaled = settings.cellsPerRevolution > 0 ? rev / settings.cellsPerRevolution : 0;
  return scaled > nominalCell * 0.65 && scaled < nominalCell * 1.5 ? scaled : nominalCell;
}

// The flux through the PLL into bytes, sync flags, the A1 positions and the
// byte at which each index pulse falls. Returns the transitions that fell
// within 20 % of a cell centre.
size_t RunPll(const FluxCapture& capture, double nominal, const DecoderSettings& settings,
              DecoderScratch& scratch) {
  const uint64_t total = capture.TotalTicks();
  scratch.bytes.reserve(
      std::min<size_t>(static_cast<size_t>(static_cast<double>(total) / nominal / 16), 1 << 20) +
      64);
  scratch.sync.reserve(scratch.bytes.capacity());
  const std::vector<uint64_t>& index = capture.index;
  CellsToBytes cells{scratch.bytes, scratch.sync, scratch.syncAt};
  const double minCell = nominal * 0.9, maxCell = nominal * 1.1;
  double period = nominal;
  double phase = 0;
  uint64_t time = 0;
  size_t nextIndex = 0;
  for (const uint32_t f : capture.flux) {
    time += f;
    while (nextIndex < index.size() && index[nextIndex] <= time) {
      scratch.indexAt.push_back(scratch.bytes.size());
      ++nextIndex;
    }
    phase += f;
    if (phase < period * 0.5) continue;
    int zeros = 0;
    while (phase >= period * 1.5) {
      cells.Cell(0);
      phase -= period;
      // A stretch without flux longer than this (a dropout, an unformatted
      // band, a stream that is not a disk's) holds nothing to decode.
      if (++zeros == kLongestGap) phase = period;
    }
    cells.Cell(1);
    phase -= period;
    if (zeros <= 3)
      period += phase * settings.pllPeriod;
    else
      period += (nominal - period) * 0.05;
    period = std::clamp(period, minCell, maxCell);
    if (std::fabs(phase) < period * 0.2) ++cells.locked;
    phase *= 1 - settings.pllPhase;
  }
  while (nextIndex++ < index.size())
    scratch.indexAt.push_back(scratch.bytes.size());
  return cells.locked;
}

// The revolution kept as the raw track: the whole one with the most good
// sectors; -1 without a whole revolution.
int RawRevolution(const std::vector<Instance>& found, const std::vector<size_t>& indexAt) {
  int rawRev = -1, bestScore = -1;
  for (size_t r = 1; r < indexAt.size(); ++r) {
    int score = 0;
    for (const Instance& in : found)
      if (in.revolution == static_cast<int>(r)) score += 1 + in.dataOk;
    if (score > bestScore) bestScore = score, rawRev = static_cast<int>(r);
  }
  return rawRev;
}

// Revolution `rev`'s bytes as the raw track, and its sync flags as a bitmap.
void CopyRevolution(const DecoderScratch& scratch, int rev, DecodedTrack& out) {
  const size_t begin = scratch.indexAt[rev - 1], end = scratch.indexAt[rev];
  out.raw.assign(scratch.bytes.begin() + static_cast<long>(begin),
                 scratch.bytes.begin() + static_cast<long>(end));
  out.marks.assign((out.raw.size() + 7) / 8, 0);
  for (size_t i = 0; i < out.raw.size(); ++i)
    if (scratch.sync[begin + i]) out.marks[i / 8] |= static_cast<uint8_t>(1 << (i % 8));
}

// Reads of one sector: the same ID at (about) the same place.
std::vector<std::vector<const Instance*>> GroupReads(const std::vector<Instance>& found,
                                                     size_t revBytes) {
  std::vector<std::vector<const Instance*>> physical;
  for (const Instance& in : found) {
    std::vector<const Instance*>* same = nullptr;
    for (std::vector<const Instance*>& reads : physical) {
      const Instance& first = *reads.front();
      if (std::equal(in.chrn, in.chrn + 4, first.chrn) &&
          CircularDistance(in.angle, first.angle, revBytes) < kSameSectorBytes) {
        same = &reads;
        break;
      }
    }
    if (same)
      same->push_back(&in);
    else
      physical.push_back({&in});
  }
  return physical;
}

// A sector from its reads: the best copy's data, the place of the read in the
// raw revolution, into which the best copy is written so that the raw track
// and the sector table tell the same story.
DecodedSector BestSector(const std::vector<const Instance*>& reads, const DecoderScratch& scratch,
                         int rawRev, std::vector<uint8_t>& raw) {
  const std::vector<uint8_t>& bytes = scratch.bytes;
  const Instance* best = reads.front();
  const Instance* inRaw = nullptr;
  for (const Instance* in : reads) {
    if (Better(*in, *best) || (!Better(*best, *in) && in->revolution == rawRev)) best = in;
    if (in->revolution == rawRev && !inRaw) inRaw = in;
  }
  DecodedSector s;
  s.cyl = best->chrn[0];
  s.head = best->chrn[1];
  s.sec = best->chrn[2];
  s.sizeCode = best->chrn[3];
  s.angle = (inRaw ? inRaw : best)->angle;
  s.copies = static_cast<int>(reads.size());
  s.hasData = best->hasData;
  s.dataOk = best->dataOk;
  s.mark = best->mark;
  const size_t size = FieldBytes(s.sizeCode);
  if (best->hasData)
    s.data.assign(bytes.begin() + static_cast<long>(best->dataPos + 1),
                  bytes.begin() + static_cast<long>(best->dataPos + 1 + size));
  if (inRaw && inRaw->hasData) {
    const size_t at = inRaw->dataPos + 1 - scratch.indexAt[rawRev - 1];
    // A field that runs past the index is only partly in the raw track.
    if (at + size + 2 <= raw.size()) {
      s.rawDataOffset = static_cast<int>(at);
      if (best != inRaw && best->dataOk && inRaw->mark == best->mark)
        std::copy_n(bytes.begin() + static_cast<long>(best->dataPos + 1), size + 2,
                    raw.begin() + static_cast<long>(at));
    }
  }
  return s;
}

}  // namespace

int DecodedTrack::GoodSectors() const {
  return static_cast<int>(std::count_if(sectors.begin(), sectors.end(),
                                        [](const DecodedSector& s) { return s.dataOk; }));
}

std::string DecodedTrack::LogLine() const {
  char line[200];
  std::snprintf(line, sizeof line,
                "Флюкс: оборотов - %.2f (%.2f ms), переходов - %zu, PLL в захвате - %.1f %%, "
                "секторов - %zu, с ошибкой - %zu",
                revolutions, revolutionMs, fluxCount, lockPercent, sectors.size(),
                sectors.size() - static_cast<size_t>(GoodSectors()));
  return line;
}

void DecodeMfmTrack(const FluxCapture& capture, const DecoderSettings& settings, DecodedTrack& out,
                    DecoderScratch& scratch) {
  out = DecodedTrack{};
  scratch.bytes.clear();
  scratch.sync.clear();
  scratch.syncAt.clear();
  scratch.indexAt.clear();
  const double nominal = NominalCell(capture, settings, out);
  out.fluxCount = capture.flux.size();
  out.revolutions =
      static_cast<double>(capture.TotalTicks()) / (nominal * settings.cellsPerRevolution);
  const size_t locked = RunPll(capture, nominal, settings, scratch);
  out.lockPercent =
      out.fluxCount ? 100.0 * static_cast<double>(locked) / static_cast<double>(out.fluxCount) : 0;

  const std::vector<size_t>& indexAt = scratch.indexAt;
  const size_t revBytes =
      indexAt.size() >= 2 ? (indexAt.back() - indexAt.front()) / (indexAt.size() - 1) : 0;
  const std::vector<Instance> found =
      FindFields(scratch.bytes, scratch.syncAt, indexAt, revBytes, out.badIdCrc);
  const int rawRev = RawRevolution(found, indexAt);
  if (rawRev > 0) CopyRevolution(scratch, rawRev, out);
  for (const std::vector<const Instance*>& reads : GroupReads(found, revBytes))
    out.sectors.push_back(BestSector(reads, scratch, rawRev, out.raw));
  std::stable_sort(
      out.sectors.begin(), out.sectors.end(),
      [](const DecodedSector& a, const DecodedSector& b) { return a.angle < b.angle; });
}

}  // namespace kelvara::flux
