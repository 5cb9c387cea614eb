#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
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
  std::vector<uint8_t> bytes, marks;

  bool Flagged(int pos) const { return (marks[pos / 8] >> (pos % 8)) & 1; }
  int FlagCount() const {
    int n = 0;
    for (int p = 0; p < kRawTrackSize; ++p)
      n += Flagged(p);
    return n;
  }
  // Positions of the first sync byte (A1, or 0x14 for a bad sector) of
  // every field with this mark.
  std::vector<int> Fields(uint8_t mark) const {
    std::vector<int> at;
    for (int p = 0; p + 3 < kRawTrackSize; ++p) {
      if ((bytes[p] == 0xA1 || bytes[p] == 0x14) && bytes[p + 1] == 0xA1 && bytes[p + 2] == 0xA1 &&
          bytes[p + 3] == mark)
        at.push_back(p);
    }
    return at;
  }
  // 1 when the data field at a1 has its right CRC, -1 when the complement.
  int Crc(int a1, int size) const {
    std::vector<uint8_t> field(bytes.begin() + a1, bytes.begin() + a1 + 4 + size);
    field[0] = 0xA1;
    const uint16_t crc = CalcCrc16(field);
    const uint16_t stored = static_cast<uint16_t>(bytes[a1 + 4 + size] << 8 | bytes[a1 + 5 + size]);
    return stored == crc ? 1 : stored == static_cast<uint16_t>(~crc) ? -1 : 0;
  }
};

Built Build(TZX_Disk& disk, uint8_t track, uint8_t fill = 0x4E) {
  Built b;
  b.bytes.assign(kRawTrackSize, fill);
  b.marks.assign(kRawTrackSize / 8, 0xEE);
  b.ok = disk.BuildRawTrack(track, b.bytes.data(), b.marks.data());
  return b;
}

// A track's raw layout, as a file would give it: the bytes synthesis made, or
// gap with an index mark at idx (0 = none), an ID at id and a data mark at
// data, as the searches see them (the last two sync bytes and the mark).
TTrack& KeepAsRaw(TZX_Disk& disk, uint8_t track, const std::vector<uint8_t>& bytes) {
  TTrack& t = disk.GetTrack(track);
  t.SetRaw(bytes);
  t.RawValid = 1;
  return t;
}
TTrack& Layout(TZX_Disk& disk, uint8_t track, int idx, int id, int data) {
  std::vector<uint8_t> raw(kRawTrackSize, 0x4E);
  auto put = [&](int p, uint8_t a, uint8_t c) {
    raw[p] = raw[p + 1] = a;
    raw[p + 2] = c;
  };
  if (idx) put(idx, 0xC2, 0xFC);
  put(id, 0xA1, 0xFE);
  put(data, 0xA1, 0xFB);
  return KeepAsRaw(disk, track, raw);
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
  EXPECT_EQ(b.bytes, std::vector<uint8_t>(kRawTrackSize, 0x4E));
  EXPECT_EQ(b.marks, std::vector<uint8_t>(kRawTrackSize / 8, 0));
}

TEST_F(RawTrackTest, StandardTrDosTrackFromTheFormatTable) {
  test::FillStandardDisk(*disk, 2);
  const Built b = Build(*disk, 1);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.bytes[79], 0x4E);
  EXPECT_EQ(b.bytes[80], 0x00);
  for (int p = 92; p <= 94; ++p)
    EXPECT_TRUE(b.bytes[p] == 0xC2 && b.Flagged(p)) << p;
  EXPECT_EQ(b.bytes[95], 0xFC);
  for (int p = 158; p <= 160; ++p)
    EXPECT_TRUE(b.bytes[p] == 0xA1 && b.Flagged(p)) << p;
  EXPECT_EQ(std::vector<uint8_t>(b.bytes.begin() + 161, b.bytes.begin() + 168),
            (std::vector<uint8_t>{0xFE, 0, 0, 1, 1, 0xFA, 0x0C}));
  EXPECT_EQ(b.FlagCount(), 3 + 16 * 6);  // only the sync bytes

  const auto data = b.Fields(0xFB);
  ASSERT_EQ(data.size(), 16u);
  for (size_t i = 0; i < data.size(); ++i) {
    EXPECT_EQ(b.Crc(data[i], 256), 1) << "sector " << i + 1;
    EXPECT_TRUE(std::equal(b.bytes.begin() + data[i] + 4, b.bytes.begin() + data[i] + 260,
                           disk->GetTrack(1).Sectors[i].Data().begin()));
  }
  // 146 + 16 x 372 = 6098 bytes planned: the rest is gap.
  EXPECT_TRUE(
      std::all_of(b.bytes.begin() + 6098, b.bytes.end(), [](uint8_t x) { return x == 0x4E; }));
}

TEST_F(RawTrackTest, ShortDataIsZeroFilledAndCoveredByTheCrc) {
  const TSectorRec& s = AddSector(*disk, 0, 0, 0, 1, 1, PatternBytes(100, 9));
  const Built b = Build(*disk, 0);
  ASSERT_TRUE(b.ok);
  const int a1 = b.Fields(0xFB).at(0);
  EXPECT_TRUE(std::equal(s.Data().begin(), s.Data().begin() + 100, b.bytes.begin() + a1 + 4));
  EXPECT_EQ(std::count(b.bytes.begin() + a1 + 104, b.bytes.begin() + a1 + 260, 0), 156);
  EXPECT_EQ(b.Crc(a1, 256), 1);
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
  EXPECT_EQ(synth.Crc(bad, 256), -1);
  EXPECT_EQ(synth.Crc(fields[0], 256), 1);

  // The same layout as the track's own raw bytes, and as a template.
  KeepAsRaw(*disk, 0, synth.bytes);
  const Built own = Build(*disk, 0);
  AddSectors(2, 3, 1);
  disk->GetTrack(2).Sectors[1].DataOk = 0;
  disk->UseBaseTemplate = true;
  disk->BaseTrack = 0;
  for (const Built& b : {own, Build(*disk, 2)}) {
    ASSERT_TRUE(b.ok);
    EXPECT_TRUE(b.bytes[bad] == 0x14 && b.Flagged(bad));
    EXPECT_EQ(b.Crc(bad, 256), -1);
    EXPECT_EQ(b.bytes[fields[0]], 0xA1);
  }
}

TEST_F(RawTrackTest, CrowdedTracksShortenTheLeadInThenGap3) {
  // 8 x 128, 2 x 256, 3 x 1024 plan 6262 bytes: x = 6 takes 5 off both
  // lead-in runs, so the index mark starts at 87 and the first ID at 148.
  AddSectors(0, 8, 0);
  AddSectors(0, 2, 1);
  AddSectors(0, 3, 3);
  Built b = Build(*disk, 0);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.bytes[74], 0x4E);
  EXPECT_EQ(b.bytes[87], 0xC2);
  EXPECT_EQ(b.bytes[90], 0xFC);
  EXPECT_EQ(b.Fields(0xFE).at(0), 148);

  // 10 x 512 plan 6426: lead-in runs lose 25, GAP 3 Round(120 / 10) = 12.
  AddSectors(2, 10, 2);
  b = Build(*disk, 2);
  ASSERT_TRUE(b.ok);
  const auto data = b.Fields(0xFB);
  const auto ids = b.Fields(0xFE);
  ASSERT_EQ(data.size(), 10u);
  EXPECT_EQ(ids[0], 55 + 12 + 4 + 25 + 12);
  EXPECT_EQ(ids[1] - 12 - (data[0] + 4 + 512 + 2), 42);
  EXPECT_EQ(b.Crc(data[9], 512), 1);

  // 11 x 512 would need GAP 3 cut by 68: no fit, the slot left as it was.
  AddSectors(3, 11, 2);
  disk->ErrSector = 9;
  EXPECT_FALSE(Build(*disk, 3).ok);
  EXPECT_EQ(disk->ErrTrack, 3);
  EXPECT_EQ(disk->ErrSector, 9);
  // A size code above 3 has the size of its low two bits, as a WD179x
  // writes it; the ID keeps the code.
  AddSectors(4, 3, 1);
  disk->GetTrack(4).Sectors[2].SizeCode = 5;
  EXPECT_TRUE(Build(*disk, 4).ok);
}

TEST_F(RawTrackTest, TemplateFromABaseTrackUpTo160) {
  // Base track 161 has raw bytes but is not taken: synthesis follows.
  AddSectors(161, 2, 1);
  KeepAsRaw(*disk, 161, Build(*disk, 161).bytes).RawValid = 0;
  AddSectors(5, 16, 1);
  const Built synth = Build(*disk, 5);
  disk->UseBaseTemplate = true;
  disk->BaseTrack = 161;
  EXPECT_EQ(Build(*disk, 5).bytes, synth.bytes);

  // On a track that is not present (even one whose slots were left behind)
  // only the base track's index mark is written.
  disk->BaseTrack = 5;
  KeepAsRaw(*disk, 5, synth.bytes);
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
  layout.bytes[1] = 0x66;     // lead-in
  layout.bytes[6100] = 0x77;  // GAP 4
  const int deleted = layout.Fields(0xFB)[1];
  layout.bytes[deleted + 3] = 0xF8;
  KeepAsRaw(*disk, 0, layout.bytes).MutableRaw(6000);  // the copy stops at the recorded bytes

  Built b = Build(*disk, 0);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.bytes[1], 0x4E);
  EXPECT_EQ(b.bytes[deleted + 3], 0xF8);  // the layout's mark byte
  disk->KeepRawBytes = true;
  b = Build(*disk, 0);
  EXPECT_EQ(b.bytes[1], 0x66);
  EXPECT_EQ(b.bytes[6100], 0x4E);
  disk->GetTrack(0).SetRaw(layout.bytes);
  EXPECT_EQ(Build(*disk, 0).bytes[6100], 0x77);
}

TEST_F(RawTrackTest, KeptLayoutsAreCheckedBeforeUse) {
  AddSector(*disk, 0, 0, 0, 1, 1, PatternBytes(256, 1));
  Layout(*disk, 0, 14, 100, 200);
  EXPECT_FALSE(Build(*disk, 0).ok) << "index mark before 15";

  // The track's own layout may put its ID 5 bytes after the index mark,
  // with a zero run of 3.
  Layout(*disk, 0, 40, 47, 200);
  const Built b = Build(*disk, 0);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(std::vector<uint8_t>(b.bytes.begin() + 42, b.bytes.begin() + 47),
            (std::vector<uint8_t>{0xFC, 0, 0, 0, 0xA1}));
  Layout(*disk, 0, 40, 46, 200);
  EXPECT_FALSE(Build(*disk, 0).ok);

  // A template needs room for the full zero run, and a data mark 15 bytes
  // past the ID field.
  AddSector(*disk, 1, 0, 1, 1, 1, PatternBytes(256, 1));
  disk->UseBaseTemplate = true;
  disk->BaseTrack = 0;
  Layout(*disk, 0, 40, 56, 200);
  EXPECT_FALSE(Build(*disk, 1).ok);
  Layout(*disk, 0, 40, 57, 200);
  EXPECT_TRUE(Build(*disk, 1).ok);
  Layout(*disk, 0, 40, 100, 122);
  disk->ErrSector = 7;
  EXPECT_FALSE(Build(*disk, 1).ok);
  EXPECT_EQ(disk->ErrSector, 0);
  Layout(*disk, 0, 40, 100, 123).MutableRaw()[124] = 0x4E;  // no data mark at all
  EXPECT_FALSE(Build(*disk, 1).ok);
}

TEST_F(RawTrackTest, OnlyABadLastSectorMayRunPastTheTrackEnd) {
  TSectorRec& s = AddSector(*disk, 0, 0, 0, 1, 1, PatternBytes(256, 3));
  disk->UseBaseTemplate = true;
  disk->BaseTrack = 1;
  Layout(*disk, 1, 40, 100, 5990).RawValid = 0;  // 5990 + 256 reaches 6240
  EXPECT_FALSE(Build(*disk, 0).ok);

  s.DataOk = 0;
  s.MutableData(10);  // the cut field runs on past the data with zeros
  const Built b = Build(*disk, 0);
  ASSERT_TRUE(b.ok);
  EXPECT_TRUE(std::equal(b.bytes.begin() + 5993, b.bytes.begin() + 6003, s.Data().begin()));
  EXPECT_TRUE(std::all_of(b.bytes.begin() + 6003, b.bytes.begin() + 6249,
                          [](uint8_t x) { return x == 0; }));
  EXPECT_EQ(b.bytes[6249], 0x4E);
  // Over the track's own layout nothing of such a field is written.
  Layout(*disk, 0, 40, 100, 5990);
  EXPECT_EQ(Build(*disk, 0).bytes[5993], 0x4E);
}

// From the format table, a crowded track's last data field must end 16
// bytes before the track does. Ending at that limit (6240) it is refused,
// unless it is a bad last sector, which is cut; the nearest plan below it
// that 128-byte sizes and GAP 3 rounding allow ends 4 bytes earlier and is
// taken whole.
TEST_F(RawTrackTest, LastDataFieldAtTheTrackLimit) {
  const struct {
    std::vector<uint8_t> codes;
    int end;  // of the last data field
  } cases[] = {
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 3}, 6240},
      {{0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 3, 3, 3}, 6236},
  };
  for (uint8_t t = 0; t < 2; ++t) {
    for (size_t k = 0; k < cases[t].codes.size(); ++k) {
      const uint8_t code = cases[t].codes[k];
      AddSector(*disk, t, 0, 0, static_cast<uint8_t>(k + 1), code,
                PatternBytes(SectorBytes(code), static_cast<int>(k)));
    }
  }
  EXPECT_FALSE(Build(*disk, 0).ok);
  EXPECT_EQ(disk->ErrSector, 18);
  disk->GetTrack(0).Sectors[18].DataOk = 0;
  EXPECT_TRUE(Build(*disk, 0).ok) << "a bad last sector is cut";

  const Built b = Build(*disk, 1);
  ASSERT_TRUE(b.ok);
  const int last = b.Fields(0xFB).back();
  EXPECT_EQ(last + 4 + 1024, cases[1].end);
  EXPECT_EQ(b.Crc(last, 1024), 1);
}

}  // namespace
}  // namespace kelvara
