#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

#include "model/ZXDisk.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::AddSector;
using test::PatternBytes;

struct Built {
  bool ok = false;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> marks;

  bool Flagged(int pos) const { return (marks[pos / 8] >> (pos % 8)) & 1; }
  int FlagCount() const {
    int n = 0;
    for (int p = 0; p < kRawTrackSize; ++p)
      n += Flagged(p);
    return n;
  }
  // Positions of the first A1 of every A1 A1 A1 <mark> run.
  std::vector<int> Fields(uint8_t mark) const {
    std::vector<int> at;
    for (int p = 0; p + 3 < kRawTrackSize; ++p) {
      if (bytes[p + 1] == 0xA1 && bytes[p + 2] == 0xA1 && bytes[p + 3] == mark &&
          (bytes[p] == 0xA1 || bytes[p] == 0x14)) {
        at.push_back(p);
      }
    }
    return at;
  }
  // The stored CRC of the data field whose sync starts at a1, and the CRC of
  // its bytes as they would read with a proper first sync byte.
  std::pair<uint16_t, uint16_t> DataCrcs(int a1, int size) const {
    std::vector<uint8_t> field(bytes.begin() + a1, bytes.begin() + a1 + 4 + size);
    field[0] = 0xA1;
    const int c = a1 + 4 + size;
    return {static_cast<uint16_t>(bytes[c] << 8 | bytes[c + 1]), CalcCrc16(field)};
  }
};

Built Build(TZX_Disk& disk, uint8_t track, uint8_t fill = 0x4E) {
  Built b;
  b.bytes.assign(kRawTrackSize, fill);
  b.marks.assign(kRawTrackSize / 8, 0xEE);
  b.ok = disk.BuildRawTrack(track, b.bytes.data(), b.marks.data());
  return b;
}

// Gives a track the raw layout of what synthesis made for it.
void KeepAsRaw(TZX_Disk& disk, uint8_t track, const Built& b) {
  TTrack& t = disk.GetTrack(track);
  t.SetRaw(b.bytes);
  t.RawValid = 1;
}

class RawTrackTest : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();

  void AddSectors(uint8_t track, int count, uint8_t sizeCode) {
    for (int r = 1; r <= count; ++r)
      AddSector(*disk, track, 0, 0, static_cast<uint8_t>(r), sizeCode,
                PatternBytes(SectorBytes(sizeCode), r));
  }
};

TEST_F(RawTrackTest, AbsentTrackIsAllGapWithNoMarks) {
  const Built b = Build(*disk, 7, 0x00);
  ASSERT_TRUE(b.ok);
  EXPECT_TRUE(std::all_of(b.bytes.begin(), b.bytes.end(), [](uint8_t x) { return x == 0x4E; }));
  EXPECT_TRUE(std::all_of(b.marks.begin(), b.marks.end(), [](uint8_t x) { return x == 0; }));
}

TEST_F(RawTrackTest, StandardTrDosTrackFromTheFormatTable) {
  test::FillStandardDisk(*disk, 2);
  const Built b = Build(*disk, 1);
  ASSERT_TRUE(b.ok);
  // 80 x 4E, 12 x 00, index mark, 50 x 4E, then the first sector.
  EXPECT_EQ(b.bytes[79], 0x4E);
  EXPECT_EQ(b.bytes[80], 0x00);
  for (int p = 92; p <= 94; ++p) {
    EXPECT_EQ(b.bytes[p], 0xC2);
    EXPECT_TRUE(b.Flagged(p));
  }
  EXPECT_EQ(b.bytes[95], 0xFC);
  for (int p = 158; p <= 160; ++p) {
    EXPECT_EQ(b.bytes[p], 0xA1);
    EXPECT_TRUE(b.Flagged(p));
  }
  EXPECT_EQ(b.bytes[161], 0xFE);
  EXPECT_EQ(b.bytes[162], 0);  // C of track 1
  EXPECT_EQ(b.bytes[164], 1);  // R
  EXPECT_EQ(b.bytes[166] << 8 | b.bytes[167], IdFieldCrc(0, 0, 1, 1));
  // Only the sync bytes are flagged: 3 C2 and 6 A1 a sector.
  EXPECT_EQ(b.FlagCount(), 3 + 16 * 6);

  const auto data = b.Fields(0xFB);
  ASSERT_EQ(data.size(), 16u);
  for (size_t i = 0; i < data.size(); ++i) {
    const auto [stored, computed] = b.DataCrcs(data[i], 256);
    EXPECT_EQ(stored, computed) << "sector " << i + 1;
    EXPECT_TRUE(std::equal(b.bytes.begin() + data[i] + 4, b.bytes.begin() + data[i] + 260,
                           disk->GetTrack(1).Sectors[i].Data.begin()));
  }
  // 146 + 16 x 372 = 6098: the rest is GAP 4b.
  EXPECT_TRUE(
      std::all_of(b.bytes.begin() + 6098, b.bytes.end(), [](uint8_t x) { return x == 0x4E; }));
}

TEST_F(RawTrackTest, ShortDataIsZeroFilledAndCoveredByTheCrc) {
  AddSector(*disk, 0, 0, 0, 1, 1, PatternBytes(100, 9));
  const Built b = Build(*disk, 0);
  ASSERT_TRUE(b.ok);
  const int a1 = b.Fields(0xFB).at(0);
  const auto& data = disk->GetTrack(0).Sectors[0].Data;
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 100, b.bytes.begin() + a1 + 4));
  EXPECT_TRUE(std::all_of(b.bytes.begin() + a1 + 104, b.bytes.begin() + a1 + 260,
                          [](uint8_t x) { return x == 0; }));
  const auto [stored, computed] = b.DataCrcs(a1, 256);
  EXPECT_EQ(stored, computed);
}

TEST_F(RawTrackTest, BadSectorIsMarkedByTheCrcAndInKeptLayoutsByItsSync) {
  AddSectors(0, 3, 1);
  disk->GetTrack(0).Sectors[1].DataOk = 0;
  const Built synth = Build(*disk, 0);
  ASSERT_TRUE(synth.ok);
  const auto fields = synth.Fields(0xFB);
  ASSERT_EQ(fields.size(), 3u);
  const int bad = fields[1];
  EXPECT_EQ(synth.bytes[bad], 0xA1);
  auto [stored, computed] = synth.DataCrcs(bad, 256);
  EXPECT_EQ(stored, static_cast<uint16_t>(~computed));
  std::tie(stored, computed) = synth.DataCrcs(fields[0], 256);
  EXPECT_EQ(stored, computed);

  // The same layout kept as the track's own raw bytes, and as a template.
  KeepAsRaw(*disk, 0, synth);
  const Built own = Build(*disk, 0);
  AddSectors(2, 3, 1);
  disk->GetTrack(2).Sectors[1].DataOk = 0;
  disk->UseBaseTemplate = true;
  disk->BaseTrack = 0;
  const Built templ = Build(*disk, 2);
  for (const Built* b : {&own, &templ}) {
    ASSERT_TRUE(b->ok);
    EXPECT_EQ(b->bytes[bad], 0x14);
    EXPECT_TRUE(b->Flagged(bad));
    std::tie(stored, computed) = b->DataCrcs(bad, 256);
    EXPECT_EQ(stored, static_cast<uint16_t>(~computed));
    EXPECT_EQ(b->bytes[fields[0]], 0xA1);
  }
}

TEST_F(RawTrackTest, CrowdedTracksShortenTheLeadInThenGap3) {
  // 8 x 128, 2 x 256, 3 x 1024 plan 6262 bytes: x = 6, both lead-in runs lose 5.
  AddSectors(0, 8, 0);
  AddSectors(0, 2, 1);
  AddSectors(0, 3, 3);
  Built b = Build(*disk, 0);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.bytes[74], 0x4E);
  EXPECT_EQ(b.bytes[75], 0x00);
  EXPECT_EQ(b.bytes[87], 0xC2);
  EXPECT_EQ(b.bytes[90], 0xFC);
  EXPECT_EQ(b.bytes[135], 0x4E);
  EXPECT_EQ(b.bytes[136], 0x00);
  EXPECT_EQ(b.bytes[151], 0xFE);

  // 10 x 512 plan 6426: lead-in runs lose 25, GAP 3 is Round(120 / 10) = 12 shorter.
  AddSectors(2, 10, 2);
  b = Build(*disk, 2);
  ASSERT_TRUE(b.ok);
  const auto data = b.Fields(0xFB);
  ASSERT_EQ(data.size(), 10u);
  const auto ids = b.Fields(0xFE);
  const int gap3 = ids[1] - 12 - (data[0] + 4 + 512 + 2);
  EXPECT_EQ(gap3, 42);
  EXPECT_EQ(ids[0], 55 + 12 + 4 + 25 + 12);
  for (int a1 : data) {
    const auto [stored, computed] = b.DataCrcs(a1, 512);
    EXPECT_EQ(stored, computed);
  }
}

TEST_F(RawTrackTest, FailuresSayWhere) {
  // 11 x 512 would need GAP 3 shortened by 68: no fit; the slot stays as it was.
  AddSectors(3, 11, 2);
  disk->ErrSector = 9;
  EXPECT_FALSE(Build(*disk, 3).ok);
  EXPECT_EQ(disk->ErrTrack, 3);
  EXPECT_EQ(disk->ErrSector, 9);

  AddSectors(4, 3, 1);
  disk->GetTrack(4).Sectors[2].SizeCode = 4;
  EXPECT_FALSE(Build(*disk, 4).ok);
  EXPECT_EQ(disk->ErrTrack, 4);
  EXPECT_EQ(disk->ErrSector, 2);
}

TEST_F(RawTrackTest, TemplateNeedsABaseTrackUpTo160WithRawBytes) {
  AddSectors(161, 2, 1);
  Built layout = Build(*disk, 161);
  KeepAsRaw(*disk, 161, layout);
  disk->GetTrack(161).RawValid = 0;
  AddSectors(5, 16, 1);
  const Built synth = Build(*disk, 5);
  disk->UseBaseTemplate = true;
  disk->BaseTrack = 161;
  const Built b = Build(*disk, 5);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.bytes, synth.bytes);  // synthesis, not the 2-sector layout
  EXPECT_EQ(b.Fields(0xFB).size(), 16u);
}

TEST_F(RawTrackTest, TemplateOnAnAbsentTrackWritesOnlyTheIndexMark) {
  test::FillStandardDisk(*disk, 1);
  KeepAsRaw(*disk, 0, Build(*disk, 0));
  disk->UseBaseTemplate = true;
  disk->BaseTrack = 0;
  // Slots left behind by a removed track are not written either.
  AddSectors(9, 2, 1);
  disk->GetTrack(9).Present = 0;
  const Built b = Build(*disk, 9, 0x55);
  ASSERT_TRUE(b.ok);
  for (int p = 0; p < kRawTrackSize; ++p) {
    const uint8_t expected = p >= 80 && p < 92   ? 0x00
                             : p >= 92 && p < 95 ? 0xC2
                             : p == 95           ? 0xFC
                                                 : 0x55;
    ASSERT_EQ(b.bytes[p], expected) << p;
  }
  EXPECT_EQ(b.FlagCount(), 3);
}

TEST_F(RawTrackTest, OwnLayoutKeepsItsBytesOnlyWhenAsked) {
  AddSectors(0, 2, 1);
  Built layout = Build(*disk, 0);
  layout.bytes[175] = 0x77;  // inside GAP 2 of the first sector
  layout.bytes[1] = 0x66;
  const int deleted = layout.Fields(0xFB)[1];
  layout.bytes[deleted + 3] = 0xF8;
  KeepAsRaw(*disk, 0, layout);
  disk->GetTrack(0).RawLength = 100;  // the copy stops at the recorded bytes

  disk->KeepRawBytes = false;
  Built b = Build(*disk, 0, 0x4E);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.bytes[175], 0x4E);
  EXPECT_EQ(b.bytes[deleted + 3], 0xF8);  // the layout's mark byte

  disk->KeepRawBytes = true;
  b = Build(*disk, 0, 0x4E);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.bytes[1], 0x66);
  EXPECT_EQ(b.bytes[175], 0x4E);
  disk->GetTrack(0).RawLength = kRawTrackSize;
  b = Build(*disk, 0, 0x4E);
  EXPECT_EQ(b.bytes[175], 0x77);
}

// A hand-made layout: an index mark at idx (0 = none), an ID at id and a
// data mark at data, as the searches see them (last two syncs and the mark).
TTrack& Layout(TZX_Disk& disk, uint8_t track, int idx, int id, int data) {
  TTrack& t = disk.GetTrack(track);
  t.RawData.fill(0x4E);
  auto put = [&](int p, uint8_t a, uint8_t b, uint8_t c) {
    t.RawData[p] = a;
    t.RawData[p + 1] = b;
    t.RawData[p + 2] = c;
  };
  if (idx) put(idx, 0xC2, 0xC2, 0xFC);
  put(id, 0xA1, 0xA1, 0xFE);
  put(data, 0xA1, 0xA1, 0xFB);
  t.RawLength = kRawTrackSize;
  t.RawValid = 1;
  return t;
}

TEST_F(RawTrackTest, KeptLayoutsAreCheckedBeforeUse) {
  AddSector(*disk, 0, 0, 0, 1, 1, PatternBytes(256, 1));
  Layout(*disk, 0, 14, 100, 200);
  EXPECT_FALSE(Build(*disk, 0).ok) << "index mark before 15";
  EXPECT_EQ(disk->ErrTrack, 0);

  // An own layout may put the ID 5 bytes after the index mark, with a short zero run.
  Layout(*disk, 0, 40, 47, 200);
  Built b = Build(*disk, 0);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.bytes[42], 0xFC);
  EXPECT_EQ(b.bytes[43], 0x00);
  EXPECT_EQ(b.bytes[45], 0x00);
  EXPECT_EQ(b.bytes[46], 0xA1);
  Layout(*disk, 0, 40, 46, 200);
  EXPECT_FALSE(Build(*disk, 0).ok);

  // A template needs room for the full zero run.
  AddSector(*disk, 1, 0, 1, 1, 1, PatternBytes(256, 1));
  disk->UseBaseTemplate = true;
  disk->BaseTrack = 0;
  Layout(*disk, 0, 40, 56, 200);
  EXPECT_FALSE(Build(*disk, 1).ok);
  Layout(*disk, 0, 40, 57, 200);
  EXPECT_TRUE(Build(*disk, 1).ok);

  // A data mark too close to its ID, and none at all.
  Layout(*disk, 0, 40, 100, 122);
  disk->ErrSector = 7;
  EXPECT_FALSE(Build(*disk, 1).ok);
  EXPECT_EQ(disk->ErrSector, 0);
  Layout(*disk, 0, 40, 100, 123);
  EXPECT_TRUE(Build(*disk, 1).ok);
  disk->GetTrack(0).RawData[124] = 0x4E;
  EXPECT_FALSE(Build(*disk, 1).ok);
}

TEST_F(RawTrackTest, OnlyABadLastSectorMayRunPastTheTrackEnd) {
  TSectorRec& s = AddSector(*disk, 0, 0, 0, 1, 1, PatternBytes(256, 3));
  disk->UseBaseTemplate = true;
  disk->BaseTrack = 1;
  Layout(*disk, 1, 40, 100, 5990).RawValid = 0;  // 5990 + 256 reaches 6240
  EXPECT_FALSE(Build(*disk, 0).ok);
  EXPECT_EQ(disk->ErrSector, 0);

  s.DataOk = 0;
  s.DataLength = 10;  // the cut field takes the buffer whatever the length
  const Built b = Build(*disk, 0);
  ASSERT_TRUE(b.ok);
  EXPECT_TRUE(std::equal(b.bytes.begin() + 5993, b.bytes.begin() + 6249, s.Data.begin()));
  EXPECT_EQ(b.bytes[6249], 0x4E);

  // The own layout writes nothing of such a field.
  Layout(*disk, 0, 40, 100, 5990);
  const Built own = Build(*disk, 0);
  ASSERT_TRUE(own.ok);
  EXPECT_EQ(own.bytes[5993], 0x4E);
}

}  // namespace
}  // namespace kelvara
