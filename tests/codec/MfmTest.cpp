// The codec's cell rules, which HFE, the flux device and the flux files share.
#include <gtest/gtest.h>

#include <numeric>

#include "codec/Mfm.h"
#include "codec/MfmDecoder.h"
#include "codec/MfmEncoder.h"
#include "support/DiskBuilder.h"

namespace kelvara::flux {
namespace {

TEST(Mfm, WordsSyncsAndPairRules) {
  EXPECT_EQ(MfmWord(0xA1) & ~kMissingClockA1, kSyncA1Cells);
  EXPECT_EQ(MfmWord(0xC2) & ~kMissingClockC2, kSyncC2Cells);
  EXPECT_EQ(MfmWord(0x4E), 0x9254);
  EXPECT_EQ(MfmWord(0x00), 0xAAAA);
  for (int b = 0; b < 256; ++b) {
    const uint16_t w = MfmWord(static_cast<uint8_t>(b));
    EXPECT_EQ(DataNibble(w >> 8, PairRule::ClockVetoes) << 4 |
                  DataNibble(w & 0xFF, PairRule::ClockVetoes),
              b);
  }
  // A (1, 1) pair: a transition a PLL put in the clock cell early.
  EXPECT_EQ(DataNibble(0xC0, PairRule::DataCell), 8);
  EXPECT_EQ(DataNibble(0xC0, PairRule::ClockVetoes), 0);
}

TEST(Mfm, CellsToFluxCarriesRoundingAndHandsOnTheTail) {
  // 4, 3 and 2 cells at 2.5 ticks a cell: 10, 7.5, 5 ticks, then 3 cells
  // without a transition.
  const std::vector<uint8_t> cells = {0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 0};
  std::vector<uint32_t> flux;
  const uint32_t tail = CellsToFlux(cells, 2.5, flux);
  ASSERT_EQ(flux.size(), 3u);
  EXPECT_EQ(std::accumulate(flux.begin(), flux.end(), 0u) + tail, 30u);
  EXPECT_EQ(flux[0], 10u);
}

TEST(MfmDecoder, DataFieldEndingExactlyAtTheCaptureEndIsKept) {
  // A track cut so that its last sector's CRC is the last thing captured: a
  // final transition one cell after the CRC closes its cells. One byte
  // shorter, the field is cut off and the sector has no data.
  auto disk = std::make_unique<TZX_Disk>();
  test::FillStandardDisk(*disk, 1);
  std::vector<uint8_t> bytes, sync;
  ASSERT_TRUE(TrackRawBytes(*disk, 0, bytes, sync));
  size_t begin = 0, end = 0;
  ASSERT_TRUE(FindDataField(bytes, sync, 16, begin, end));
  const DecoderSettings settings{.sampleFrequency = 72e6, .cellsPerRevolution = 0};
  const double cellTicks = settings.sampleFrequency / settings.cellsPerSecond;
  for (const auto& [cut, kept] : {std::pair{end, true}, std::pair{end - 1, false}}) {
    std::vector<uint8_t> cells;
    MfmCells({bytes.data(), cut}, {sync.data(), cut}, cells);
    FluxCapture capture;
    const uint32_t tail = CellsToFlux(cells, cellTicks, capture.flux);
    capture.flux.push_back(tail + static_cast<uint32_t>(cellTicks));
    DecodedTrack track;
    DecoderScratch scratch;
    DecodeMfmTrack(capture, settings, track, scratch);
    ASSERT_EQ(track.sectors.size(), 16u) << cut;
    EXPECT_EQ(track.sectors.back().hasData, kept) << cut;
    EXPECT_EQ(track.sectors.back().dataOk, kept) << cut;
  }
}

}  // namespace
}  // namespace kelvara::flux
