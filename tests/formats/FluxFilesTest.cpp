// SCP and KryoFlux stream files: files built here byte by byte from the
// layouts (not by the program's writer), captures of other tools, the SCP
// writer read back, and damaged files.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "codec/MfmEncoder.h"
#include "drive/flux/SimulatedSurface.h"
#include "formats/ImageFiles.h"
#include "formats/KryoFlux.h"
#include "formats/Scp.h"
#include "formats/Trd.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using flux::FluxCapture;

constexpr double kScpCell = 80;                      // 2 us in 25 ns ticks
constexpr double kKfCell = 2e-6 * 24027428.5714286;  // 2 us in sample ticks

// `revs` revolutions of a track, each index-cued, split at the index pulses.
std::vector<std::vector<uint32_t>> Revolutions(const TZX_Disk& disk, int track, double cellTicks,
                                               int revs, flux::SurfaceTiming timing = {},
                                               std::vector<flux::CellRange> faults = {}) {
  std::vector<uint8_t> bytes, sync, cells;
  EXPECT_TRUE(flux::TrackRawBytes(disk, track, bytes, sync));
  flux::MfmCells(bytes, sync, cells);
  timing.cellTicks = cellTicks;
  flux::Rng rng(static_cast<uint64_t>(track) + 3);
  FluxCapture c;
  uint64_t revolution = 0;
  flux::CaptureSurface(cells, faults, timing, 0, revolution, revs + 1, 0, 0, rng, c);
  std::vector<std::vector<uint32_t>> out(1);
  uint64_t t = 0;
  size_t next = 1;
  for (uint32_t f : c.flux) {
    t += f;
    if (next < c.index.size() && t > c.index[next]) {
      if (++next > static_cast<size_t>(revs)) break;
      out.emplace_back();
    }
    out.back().push_back(f);
  }
  return out;
}

void PutBe16(std::vector<uint8_t>& f, uint32_t v) {
  f.push_back(static_cast<uint8_t>(v >> 8));
  f.push_back(static_cast<uint8_t>(v));
}
void PutLe(std::vector<uint8_t>& f, uint32_t v, int n) {
  for (int i = 0; i < n; ++i)
    f.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PatchLe32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    f[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// An SCP file: header, 168-entry table, a track header and big-endian flux
// per entry; checksum over everything from byte 16.
struct ScpTrack {
  int entry;
  std::vector<std::vector<uint32_t>> revs;
};
std::vector<uint8_t> ScpFile(const std::vector<ScpTrack>& tracks, uint8_t flags = 0x03,
                             uint8_t heads = 0, bool checksum = true) {
  std::vector<uint8_t> f = {'S', 'C', 'P', 0x19, 0x80};
  f.push_back(static_cast<uint8_t>(tracks.front().revs.size()));
  f.insert(f.end(), {0, static_cast<uint8_t>(tracks.back().entry), flags, 0, heads, 0});
  PutLe(f, 0, 4);
  f.resize(0x2B0, 0);
  for (const ScpTrack& t : tracks) {
    const size_t tdh = f.size();
    PatchLe32(f, 0x10 + 4 * static_cast<size_t>(t.entry), static_cast<uint32_t>(tdh));
    f.insert(f.end(), {'T', 'R', 'K', static_cast<uint8_t>(t.entry)});
    f.resize(f.size() + 12 * t.revs.size(), 0);
    for (size_t r = 0; r < t.revs.size(); ++r) {
      const size_t start = f.size();
      uint32_t entries = 0, ticks = 0;
      for (uint32_t v : t.revs[r]) {
        ticks += v;
        for (; v >= 65536; v -= 65536, ++entries)
          PutBe16(f, 0);
        PutBe16(f, v);
        ++entries;
      }
      PatchLe32(f, tdh + 4 + 12 * r, ticks);
      PatchLe32(f, tdh + 8 + 12 * r, entries);
      PatchLe32(f, tdh + 12 + 12 * r, static_cast<uint32_t>(start - tdh));
    }
  }
  uint32_t sum = 0;
  for (size_t i = 0x10; i < f.size(); ++i)
    sum += f[i];
  if (checksum) PatchLe32(f, 12, sum);
  return f;
}

// A KryoFlux stream: KFInfo with the sample clock (unless left out), an
// Index block before the flux that holds each index, StreamInfo blocks,
// StreamEnd and EOF.
std::vector<uint8_t> KfStream(const std::vector<std::vector<uint32_t>>& revs, bool kfInfo = true) {
  std::vector<uint8_t> f;
  auto oob = [&](uint8_t type, const std::vector<uint8_t>& payload) {
    f.insert(f.end(), {0x0D, type});
    PutLe(f, static_cast<uint32_t>(payload.size()), 2);
    f.insert(f.end(), payload.begin(), payload.end());
  };
  auto words = [](std::initializer_list<uint32_t> ws) {
    std::vector<uint8_t> p;
    for (uint32_t w : ws)
      PutLe(p, w, 4);
    return p;
  };
  const std::string info = "name=test, sck=24027428.5714286, ick=3003428.5714286";
  if (kfInfo) oob(0x04, std::vector<uint8_t>(info.c_str(), info.c_str() + info.size() + 1));
  uint32_t pos = 0, indexClock = 0;
  size_t n = 0;
  for (size_t r = 0; r <= revs.size(); ++r) {
    // The index falls 10 ticks into the first flux of the revolution.
    oob(0x02, words({pos, 10, indexClock}));
    indexClock += 600686;
    if (r == revs.size()) break;
    for (uint32_t v : revs[r]) {
      for (; v > 0xFFFF; v -= 0x10000, ++pos)
        f.push_back(0x0B);
      if (v >= 0x0E && v <= 0xFF) {
        f.push_back(static_cast<uint8_t>(v));
        pos += 1;
      } else if (v <= 0x7FF) {
        f.insert(f.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
        pos += 2;
      } else {
        f.insert(f.end(), {0x0C, static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
        pos += 3;
      }
      if (++n % 1000 == 0) {
        f.insert(f.end(), {0x08, 0x09, 0x00});  // Nop1, Nop2
        pos += 3;
        oob(0x01, words({pos, 5}));
      }
    }
  }
  f.push_back(0x40);  // the flux after the last index
  ++pos;
  oob(0x03, words({pos, 0}));
  f.insert(f.end(), {0x0D, 0x0D, 0x0D, 0x0D});
  return f;
}

class FluxFilesTest : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  std::unique_ptr<TZX_Disk> back = std::make_unique<TZX_Disk>();
  test::TempDir dir;

  std::vector<uint8_t> ScpOf(int tracks, int revs, flux::SurfaceTiming timing = {}) {
    std::vector<ScpTrack> t;
    for (int i = 0; i < tracks; ++i)
      t.push_back({i, Revolutions(*disk, i, kScpCell, revs, timing)});
    return ScpFile(t);
  }
};

TEST_F(FluxFilesTest, HandBuiltCapturesLoadWithTheImagesSectors) {
  test::FillStandardDisk(*disk, 2);
  ASSERT_TRUE(ReadScpBytes(*back, ScpOf(2, 2))) << back->StatusText;
  test::ExpectSameSectors(*disk, *back);
  EXPECT_EQ(back->StatusText, "");
  EXPECT_EQ(back->GetTrack(1).RawValid, 1);
  ASSERT_EQ(back->GetTrack(1).Log.size(), 1u);
  EXPECT_NE(back->GetTrack(1).Log[0].find("оборотов - 2"), std::string::npos);

  std::vector<KryoFluxTrack> kf;
  for (int t = 0; t < 2; ++t)
    kf.push_back({0, t, KfStream(Revolutions(*disk, t, kKfCell, 2))});
  ASSERT_TRUE(ReadKryoFluxTracks(*back, kf)) << back->StatusText;
  test::ExpectSameSectors(*disk, *back);
  EXPECT_EQ(back->StatusText, "");
  EXPECT_EQ(back->GetTrack(0).RawValid, 1);
}

// The edges of the headers: a KryoFlux stream without KFInfo is timed by
// the board's sample clock; an SCP heads byte of 1 or 2 puts an old
// writer's consecutive entries on that side; one revolution without the
// index-cued flag is all the capture there is, and stays.
TEST_F(FluxFilesTest, HeaderDefaultsAndOneSidedFiles) {
  test::FillStandardDisk(*disk, 4);
  std::vector<KryoFluxTrack> kf = {{0, 0, KfStream(Revolutions(*disk, 0, kKfCell, 1), false)}};
  ASSERT_TRUE(ReadKryoFluxTracks(*back, kf)) << back->StatusText;
  EXPECT_EQ(back->GetTrack(0).PresentSlots(), 16) << back->StatusText;

  for (const uint8_t heads : {1, 2}) {
    SCOPED_TRACE(heads);
    const std::vector<ScpTrack> tracks = {{0, Revolutions(*disk, 0, kScpCell, 1)},
                                          {1, Revolutions(*disk, 2, kScpCell, 1)}};
    ASSERT_TRUE(ReadScpBytes(*back, ScpFile(tracks, 0x01, heads)));
    for (const int cylinder : {0, 1}) {
      EXPECT_EQ(back->GetTrack(static_cast<uint8_t>(2 * cylinder + heads - 1)).PresentSlots(), 16);
      EXPECT_FALSE(back->GetTrack(static_cast<uint8_t>(2 * cylinder + 2 - heads)).Present);
    }
  }
  ASSERT_TRUE(ReadScpBytes(*back, ScpFile({{0, Revolutions(*disk, 0, kScpCell, 1)}}, 0x00)));
  EXPECT_EQ(back->GetTrack(0).PresentSlots(), 16) << back->StatusText;
}

TEST_F(FluxFilesTest, JitterSpeedErrorAndWeakSectorRecoverAsTheDeviceReads) {
  test::FillStandardDisk(*disk, 1);
  std::vector<uint8_t> bytes, sync;
  ASSERT_TRUE(flux::TrackRawBytes(*disk, 0, bytes, sync));
  size_t begin = 0, end = 0;
  ASSERT_TRUE(flux::FindDataField(bytes, sync, 5, begin, end));
  // Weak in the even revolutions: the second of the two reads it well.
  const auto revs = Revolutions(*disk, 0, kScpCell, 2, {0, -0.03, 0.04, true},
                                {{(begin + 8) * 16, (begin + 40) * 16, true}});
  ASSERT_TRUE(ReadScpBytes(*back, ScpFile({{0, revs}}))) << back->StatusText;
  test::ExpectSameSectors(*disk, *back);
  // The first revolution alone reads sector 5 bad.
  ASSERT_TRUE(ReadScpBytes(*back, ScpFile({{0, {revs[0]}}})));
  EXPECT_EQ(back->GetTrack(0).Sectors[4].DataOk, 0);
  EXPECT_EQ(back->GetTrack(0).Sectors[5].DataOk, 0xFF);
}

TEST_F(FluxFilesTest, OwnScpLoadsBackWithEverySectorAndItsHeader) {
  test::FillStandardDisk(*disk, 6);
  disk->GetTrack(3).ClearTrack();  // an absent track
  std::vector<uint8_t> f;
  ASSERT_TRUE(BuildScpBytes(*disk, f, {2}));
  EXPECT_EQ(f[5], 2);     // revolutions
  EXPECT_EQ(f[7], 5);     // last track
  EXPECT_EQ(f[8], 0x03);  // index-cued, 96 tpi
  EXPECT_EQ(f[0x10 + 4 * 3], 0);
  uint32_t sum = 0;
  for (size_t i = 0x10; i < f.size(); ++i)
    sum += f[i];
  EXPECT_EQ(f[12] | f[13] << 8 | f[14] << 16 | uint32_t(f[15]) << 24, sum);
  ASSERT_TRUE(ReadScpBytes(*back, f)) << back->StatusText;
  test::ExpectSameSectors(*disk, *back);
  EXPECT_EQ(back->StatusText, "");
}

TEST_F(FluxFilesTest, CapturesOfOtherToolsGiveTheSectorImage) {
  const std::string data = std::string(KELVARA_TESTDATA_DIR) + "/flux/";
  if (!std::filesystem::exists(data + "four-tracks.trd")) GTEST_SKIP() << "no test data";
  ASSERT_TRUE(LoadTRD(*disk, data + "four-tracks.trd"));
  for (const char* name :
       {"four-tracks.scp", "four-tracks-205ms.scp", "kf/track01.1.raw", "kf", "kf/"}) {
    SCOPED_TRACE(name);
    const LoadResult r = LoadImageFile(*back, data + name);
    ASSERT_TRUE(r.ok) << r.errorText;
    test::ExpectSameSectors(*disk, *back);
    EXPECT_EQ(back->StatusText, "");
  }
}

TEST_F(FluxFilesTest, FortyTrackDiskIn80TrackDriveLandsOnItsOwnCylinders) {
  // Cylinders 0..2 of a 40-track disk: in a 48-tpi SCP on their own
  // entries, in a KryoFlux set (96 tpi) in the even files, odd ones blank.
  test::FillStandardDisk(*disk, 6);
  std::vector<ScpTrack> scp;
  std::vector<KryoFluxTrack> kf;
  TZX_Disk blank;
  test::AddSector(blank, 0, 77, 0, 1, 1, test::PatternBytes(256, 9));
  for (int t = 0; t < 6; ++t) {
    scp.push_back({t, Revolutions(*disk, t, kScpCell, 1)});
    kf.push_back({t / 2 * 2, t % 2, KfStream(Revolutions(*disk, t, kKfCell, 1))});
    kf.push_back({t / 2 * 2 + 1, t % 2, KfStream(Revolutions(blank, 0, kKfCell, 1))});
  }
  ASSERT_TRUE(ReadScpBytes(*back, ScpFile(scp, 0x01)));
  test::ExpectSameSectors(*disk, *back);
  ASSERT_TRUE(ReadKryoFluxTracks(*back, kf));
  test::ExpectSameSectors(*disk, *back);
  EXPECT_NE(back->StatusText.find("40-track"), std::string::npos) << back->StatusText;
}

TEST_F(FluxFilesTest, MalformedScpFilesAreRefusedOrNoted) {
  test::FillStandardDisk(*disk, 2);
  const std::vector<uint8_t> good = ScpOf(2, 1);
  const uint32_t second = good[0x14] | good[0x15] << 8 | good[0x16] << 16;
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    const char* text;  // in the error, or in the note when the file loads
    bool loads;
  };
  const std::vector<Case> cases = {
      {"signature", [](auto& f) { f[0] = 'X'; }, "SCP header error!", false},
      {"no revolutions", [](auto& f) { f[5] = 0; }, "0 revolutions", false},
      {"sample width", [](auto& f) { f[9] = 8; }, "8 bits", false},
      {"table cut", [](auto& f) { f.resize(0x40); }, "track table is cut short", false},
      {"offset past the end", [](auto& f) { PatchLe32(f, 0x14, 0x7FFFFFF0); }, "past the end",
       false},
      {"flux past the end", [&](auto& f) { f.resize(second + 100); }, "past the end", false},
      {"track number", [&](auto& f) { f[second + 3] = 7; }, "no track header", false},
      {"checksum", [](auto& f) { f[12] ^= 1; }, "checksum mismatch", true},
      {"endless overflow run", [&](auto& f) { std::fill(f.begin() + second + 16, f.end(), 0); },
       "run of overflows", true},
      {"revolution of no flux",
       [&](auto& f) {
         f.resize(second + 16);
         PatchLe32(f, second + 8, 0);
       },
       "no flux", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> f = good;
    c.damage(f);
    EXPECT_EQ(ReadScpBytes(*back, f), c.loads);
    EXPECT_NE(back->StatusText.find(c.text), std::string::npos) << back->StatusText;
    if (c.loads) {
      EXPECT_EQ(back->GetTrack(0).PresentSlots(), 16);
    }
  }
}

TEST_F(FluxFilesTest, DamagedStreamsLoadWhatTheyCanWithANoteNamingTheTrack) {
  test::FillStandardDisk(*disk, 2);
  const std::vector<uint8_t> good = KfStream(Revolutions(*disk, 1, kKfCell, 2));
  // A StreamInfo block that disagrees with the count of in-band bytes.
  std::vector<uint8_t> mismatch = good;
  for (size_t i = 80; i + 4 < mismatch.size(); ++i) {
    if (mismatch[i] == 0x0D && mismatch[i + 1] == 0x01 && mismatch[i + 2] == 0x08) {
      mismatch[i + 4] ^= 0x40;
      break;
    }
  }
  const std::vector<uint8_t> cut(good.begin(),
                                 good.begin() + static_cast<long>(good.size() * 3 / 4));
  for (const auto& [stream, text] : {std::pair{mismatch, "stream position"}, {cut, "cut short"}}) {
    std::vector<KryoFluxTrack> kf = {{0, 0, KfStream(Revolutions(*disk, 0, kKfCell, 2))},
                                     {0, 1, stream}};
    ASSERT_TRUE(ReadKryoFluxTracks(*back, kf));
    EXPECT_NE(back->StatusText.find(std::string("KryoFlux track 00.1: ") + text), std::string::npos)
        << back->StatusText;
    EXPECT_EQ(back->GetTrack(0).PresentSlots(), 16);
  }
  // A set with a file missing: the track stays absent, the note names it.
  for (const int t : {0, 1})
    test::WriteBytes(
        dir / ("track0" + std::to_string(t / 2) + "." + std::to_string(t % 2) + ".raw"),
        KfStream(Revolutions(*disk, t, kKfCell, 1)));
  test::WriteBytes(dir / "track02.1.raw", KfStream(Revolutions(*disk, 1, kKfCell, 1)));
  ASSERT_TRUE(LoadImageFile(*back, dir / "track02.1.raw").ok);
  EXPECT_NE(back->StatusText.find("missing (first 01.0)"), std::string::npos) << back->StatusText;
  EXPECT_FALSE(back->GetTrack(2).Present);
}

}  // namespace
}  // namespace kelvara
