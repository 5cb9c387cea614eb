// The flux stream forms, and the MFM encoder and decoder against each other
// under the faults of real drives and media.
#include <gtest/gtest.h>

#include "codec/MfmDecoder.h"
#include "codec/MfmEncoder.h"
#include "drive/flux/FluxStream.h"
#include "drive/flux/SimulatedSurface.h"
#include "drive/flux/Writeout.h"
#include "support/DiskBuilder.h"

namespace kelvara::flux {
namespace {

std::vector<uint8_t> Encode(const FluxCapture& c, int indexEarly = 0) {
  std::vector<uint8_t> out;
  EncodeFluxStream(c, 14400, indexEarly, out);
  return out;
}

TEST(FluxStream, EveryValueFormAndIndexRoundTrips) {
  FluxCapture c;
  // Each byte form and its edges, Space runs of long gaps, and index pulses
  // before the first value, between values and after the last.
  c.flux = {1, 249, 250, 251, 504, 505, 1524, 1525, 2000, 28799, 28800, 28801, 1000000, 144, 288};
  uint64_t t = 0;
  for (size_t i = 0; i < 6; ++i)
    t += c.flux[i];
  c.index = {0, t - 100, t + 3000, c.TotalTicks() + 50};
  for (int early : {0, 2}) {
    FluxCapture back;
    std::string error;
    ASSERT_TRUE(DecodeFluxStream(Encode(c, early), back, error)) << error;
    EXPECT_EQ(back.flux, c.flux) << "index sent " << early << " values early";
    EXPECT_EQ(back.index, c.index) << "index sent " << early << " values early";
  }
}

TEST(FluxStream, BytesAreTheDevicesOwn) {
  FluxCapture c;
  c.flux = {300, 2000};
  const std::vector<uint8_t> expected = {0xFA, 0x33, 0xFF, 0x02, 0xAF,
                                         0x1B, 0x01, 0x01, 0xF9, 0x00};
  EXPECT_EQ(Encode(c), expected);
  std::vector<uint8_t> n;
  PutN28(n, 14400);
  EXPECT_EQ(n, (std::vector<uint8_t>{0x81, 0xE1, 0x01, 0x01}));
}

TEST(FluxStream, WriteStreamFillsLongGapsAndEndsWithASacrificedValue) {
  const WriteStreamTiming timing = WriteStreamTiming::At(72e6);
  std::vector<uint8_t> stream;
  // Zero skipped; 150 us is kept as a value, one tick more is a gap that the
  // device fills with astable flux every 1.25 us.
  EncodeWriteStream(std::vector<uint32_t>{300, 0, 10800, 10801, 144}, timing, stream);
  std::vector<uint32_t> written;
  std::string error;
  ASSERT_TRUE(DecodeWriteStream(stream, written, error)) << error;
  std::vector<uint32_t> expected = {300, 10800};
  expected.insert(expected.end(), 10801 / 90, 90);
  expected.push_back(10801 % 90 + 144);
  expected.push_back(7200);  // the dummy 100 us value the device never writes
  EXPECT_EQ(written, expected);
  // A write stream takes no index, and a read stream no astable.
  const std::vector<uint8_t> index = {10, 255, 1, 1, 1, 1, 1, 0};
  EXPECT_FALSE(DecodeWriteStream(index, written, error));
  EXPECT_FALSE(DecodeWriteStream(std::vector<uint8_t>{10, 20}, written, error)) << "no end mark";
}

TEST(FluxStream, MalformedStreamsAreRefusedWithTheirPlace) {
  const std::vector<std::vector<uint8_t>> bad = {
      {10, 250},                // cut inside a two-byte value
      {10, 255, 2, 1, 1},       // cut inside an opcode
      {10, 0, 10},              // bytes after the end mark
      {255, 3, 1, 1, 1, 1, 0},  // Astable belongs to write streams
      {255, 9, 1, 1, 1, 1, 0},  // no such opcode
      {255, 2, 1, 0, 1, 1, 0},  // an argument byte with bit 0 clear
      {251, 0},                 // a two-byte value whose second byte is 0
  };
  for (const auto& b : bad) {
    FluxCapture c;
    std::string error;
    EXPECT_FALSE(DecodeFluxStream(b, c, error));
    EXPECT_NE(error.find("at byte"), std::string::npos) << error;
  }
}

// The writeout stage: cells at the measured revolution over a revolution's
// cells; the track stretched with its filler to 7 % past the revolution,
// however short; precompensation moving a transition towards its lone close
// neighbour, from its cylinder on.
TEST(Writeout, TimingTailAndPrecompensation) {
  const std::vector<uint8_t> cells = {0, 1, 0, 1, 0, 0, 0, 1}, filler = {0, 0, 1, 0};
  WriteoutTiming timing;       // 14.4 M ticks a revolution of 100000 cells: 144 a cell
  timing.precomp = {40, 100};  // 7.2 ticks
  Writeout out;
  for (const int cylinder : {39, 40}) {
    timing.cylinder = cylinder;
    BuildWriteout(cells, filler, timing, out);
    EXPECT_EQ(out.cells, 107000u);
    uint64_t total = 0;
    for (const uint32_t v : out.flux)
      total += v;
    EXPECT_GT(total, 1.069 * timing.revolutionTicks);
    // Cell 1's close neighbour is after it (late), cell 3's before it (early).
    const std::vector<uint32_t> head(out.flux.begin(), out.flux.begin() + 4);
    const std::vector<uint32_t> plain = {288, 288, 576, 432}, shifted = {295, 274, 583, 432};
    EXPECT_EQ(head, cylinder < 40 ? plain : shifted);
    EXPECT_TRUE(out.cueAtIndex && out.terminateAtIndex);
  }
}

struct Surface {
  std::vector<uint8_t> bytes, sync, cells;
  std::vector<CellRange> faults;
};

Surface TrackSurface(const TZX_Disk& disk, int track) {
  Surface s;
  EXPECT_TRUE(TrackRawBytes(disk, track, s.bytes, s.sync));
  MfmCells(s.bytes, s.sync, s.cells);
  return s;
}

DecodedTrack Capture(const Surface& s, const SurfaceTiming& timing, uint64_t seed,
                     uint64_t revolution = 0) {
  Rng rng(seed);
  FluxCapture c;
  CaptureSurface(s.cells, s.faults, timing, static_cast<size_t>(seed * 7919) % s.cells.size(),
                 revolution, 3, 36000, 0, rng, c);
  DecodedTrack t;
  DecoderScratch scratch;
  DecodeMfmTrack(c, DecoderSettings{}, t, scratch);
  return t;
}

void ExpectTrackOf(const TZX_Disk& disk, int track, const DecodedTrack& t) {
  const TTrack& src = disk.GetTrack(static_cast<uint8_t>(track));
  ASSERT_EQ(t.sectors.size(), src.PresentSlots()) << "track " << track;
  for (size_t i = 0; i < t.sectors.size(); ++i) {
    const TSectorRec& e = src.Sectors[i];
    const DecodedSector& d = t.sectors[i];
    EXPECT_EQ((std::vector<int>{d.cyl, d.head, d.sec, d.sizeCode}),
              (std::vector<int>{e.Cyl, e.Head, e.Sec, e.SizeCode}))
        << "track " << track << " slot " << i;
    EXPECT_TRUE(d.dataOk) << "track " << track << " sector " << int(d.sec);
    EXPECT_TRUE(std::equal(d.data.begin(), d.data.end(), e.Data().begin()));
  }
}

TEST(MfmDecoder, SpeedErrorAndJitterDecodeToTheImage) {
  TZX_Disk disk;
  test::FillStandardDisk(disk, 4);
  for (double speed : {-0.20, -0.10, 0.0, 0.10}) {
    for (int track = 0; track < 4; ++track) {
      const Surface s = TrackSurface(disk, track);
      const DecodedTrack t = Capture(s, {144, speed, 0.05, true}, 11 + track);
      SCOPED_TRACE(testing::Message() << "speed " << speed << ": " << t.LogLine());
      ExpectTrackOf(disk, track, t);
      EXPECT_EQ(t.badIdCrc, 0);
      // The raw track is one revolution from the index, its sectors where
      // the table says, its syncs flagged.
      ASSERT_GE(t.raw.size(), 6200u);
      for (const DecodedSector& d : t.sectors) {
        ASSERT_GT(d.rawDataOffset, 0);
        EXPECT_TRUE(std::equal(d.data.begin(), d.data.end(), t.raw.begin() + d.rawDataOffset));
        EXPECT_EQ(t.raw[d.rawDataOffset - 2], 0xA1);
        EXPECT_TRUE(t.marks[(d.rawDataOffset - 2) / 8] >> ((d.rawDataOffset - 2) % 8) & 1);
      }
    }
  }
}

TEST(MfmDecoder, WeakSectorKeepsItsGoodCopyAndDropoutStaysBad) {
  TZX_Disk disk;
  test::FillStandardDisk(disk, 1);
  Surface s = TrackSurface(disk, 0);
  size_t begin = 0, end = 0;
  ASSERT_TRUE(FindDataField(s.bytes, s.sync, 5, begin, end));
  s.faults.push_back({(begin + 8) * 16, (begin + 40) * 16, true});
  ASSERT_TRUE(FindDataField(s.bytes, s.sync, 9, begin, end));
  s.faults.push_back({(begin + 8) * 16, (begin + 40) * 16, false});
  const DecodedTrack t = Capture(s, {144, 0.02, 0.03, true}, 5);
  ASSERT_EQ(t.sectors.size(), 16u);
  EXPECT_TRUE(t.sectors[4].dataOk) << "weak sector 5";
  EXPECT_GE(t.sectors[4].copies, 2);
  EXPECT_FALSE(t.sectors[8].dataOk) << "sector 9 under a dropout";
  EXPECT_TRUE(t.sectors[8].hasData);
  // The weak sector really fails in the revolutions it is weak in: one
  // even revolution alone reads it bad.
  Surface once = s;
  once.faults.pop_back();
  Rng rng(1);
  FluxCapture c;
  uint64_t rev = 0;
  CaptureSurface(once.cells, once.faults, {144, 0, 0, false}, 0, rev, 0, 0,
                 static_cast<uint64_t>(once.cells.size()) * 144, rng, c);
  DecodedTrack single;
  DecoderScratch scratch;
  DecodeMfmTrack(c, DecoderSettings{}, single, scratch);
  ASSERT_EQ(single.sectors.size(), 16u);
  EXPECT_FALSE(single.sectors[4].dataOk);
  EXPECT_TRUE(single.sectors[5].dataOk);
}

}  // namespace
}  // namespace kelvara::flux
