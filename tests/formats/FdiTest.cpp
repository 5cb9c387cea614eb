#include <gtest/gtest.h>

#include <memory>

#include "formats/Fdi.h"
#include "formats/Trd.h"
#include "model/ByteReader.h"
#include "model/ZXDisk.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::TempDir;
using test::WriteBytes;

struct Entry {
  uint8_t c, h, r, n, flags;
  uint32_t dataBytes;  // bytes of data placed for it
};

// An FDI file whose tracks all list `entries`, each with its own data laid
// out one after the other; `extra` header bytes follow the 14.
std::vector<uint8_t> MakeFdi(uint16_t cylinders, uint16_t heads, const std::vector<Entry>& entries,
                             uint16_t extra = 0) {
  ByteWriter w, data;
  const size_t tracks = size_t{cylinders} * heads;
  const size_t dataArea = 14 + extra + tracks * (7 + 7 * entries.size());
  for (uint8_t b : {'f', 'd', 'i', '\0'})  // any case; not write-protected
    w.U8(b);
  w.U16(cylinders);
  w.U16(heads);
  w.U16(static_cast<uint16_t>(dataArea));
  w.U16(static_cast<uint16_t>(dataArea));
  w.U16(extra);
  w.Fill(extra, 0xEE);
  for (size_t t = 0; t < tracks; ++t) {
    const size_t trackStart = data.Size();
    w.U32(static_cast<uint32_t>(trackStart));
    w.U16(0);
    w.U8(static_cast<uint8_t>(entries.size()));
    for (const Entry& e : entries) {
      for (uint8_t b : {e.c, e.h, e.r, e.n, e.flags})
        w.U8(b);
      w.U16(static_cast<uint16_t>(data.Size() - trackStart));
      data.Bytes(PatternBytes(e.dataBytes, static_cast<uint32_t>(t * 100 + e.r)));
    }
  }
  w.Bytes(data.Data());
  return w.Take();
}

class FdiTest : public ::testing::Test {
 protected:
  bool Load(const std::vector<uint8_t>& file) { return ReadFdiBytes(*disk, file); }
  std::vector<uint8_t> Build() {
    std::vector<uint8_t> out;
    EXPECT_TRUE(BuildFdiBytes(*disk, out));
    return out;
  }
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
};

TEST_F(FdiTest, SingleHeadedFileFillsEvenTracksAndSkipsExtraHeaderBytes) {
  ASSERT_TRUE(Load(MakeFdi(80, 1, {{7, 1, 3, 2, 0x04, 512}, {7, 1, 4, 0, 0x01, 128}}, 9)));
  EXPECT_EQ(disk->CountTracks(), 80);
  EXPECT_TRUE(disk->GetTrack(158).Present);
  EXPECT_FALSE(disk->GetTrack(1).Present);
  EXPECT_FALSE(disk->GetTrack(159).Present);
  const TSectorRec& s = disk->GetTrack(4).Sectors[0];
  EXPECT_EQ(s.Cyl, 7);
  EXPECT_EQ(s.Head, 1);
  EXPECT_EQ(s.Sec, 3);
  EXPECT_EQ(s.SizeCode, 2);
  EXPECT_EQ(s.HeaderCrc, IdFieldCrc(7, 1, 3, 2));
  EXPECT_EQ(s.DataOk, 0xFF);
  ASSERT_EQ(s.DataLength(), 512);
  const auto expected = PatternBytes(512, 2 * 100 + 3);  // the third header is track 4
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), s.Data().begin()));
  EXPECT_EQ(disk->GetTrack(4).Sectors[1].DataLength(), 128);
}

TEST_F(FdiTest, AnyOfFlagBitsZeroToFiveMeansGoodData) {
  const uint8_t flags[] = {0x01, 0x08, 0x20, 0x82, 0x80, 0x40, 0x00};
  std::vector<Entry> entries;
  for (uint8_t f : flags)
    entries.push_back({0, 0, f, 0, f, 128});
  ASSERT_TRUE(Load(MakeFdi(1, 1, entries)));
  for (size_t i = 0; i < entries.size(); ++i)
    EXPECT_EQ(disk->GetTrack(0).Sectors[i].DataOk, i < 4 ? 0xFF : 0) << int{flags[i]};
}

TEST_F(FdiTest, HeaderChecksComeInOrderWithTheirTexts) {
  const std::vector<uint8_t> emptyFile;
  EXPECT_FALSE(Load(emptyFile));
  EXPECT_EQ(disk->StatusText, "FDI file read error!");
  EXPECT_FALSE(Load({'F', 'D', 'X', 0, 1, 0}));
  EXPECT_EQ(disk->StatusText, "Not FDI file!");
  EXPECT_FALSE(Load({'F', 'D'}));
  EXPECT_EQ(disk->StatusText, "Not FDI file!");
  EXPECT_FALSE(Load({'F', 'D', 'I', 0, 1, 0, 1}));  // header cut short
  EXPECT_EQ(disk->StatusText, "FDI file size error!");

  // 84 cylinders, as the writer makes them, load; a file shorter than its
  // track headers is a size error first.
  auto file = MakeFdi(84, 2, {{0, 0, 1, 1, 2, 256}});
  EXPECT_TRUE(Load(file));
  EXPECT_EQ(disk->CountTracks(), 168);
  file.resize(14 + 168 * 14 - 1);
  EXPECT_FALSE(Load(file));
  EXPECT_EQ(disk->StatusText, "FDI file size error!");
  EXPECT_FALSE(Load(MakeFdi(2, 3, {})));
  EXPECT_EQ(disk->StatusText, "FDI image geometry error!");
  // More cylinders than the image holds: the first 84 load, the note says so.
  EXPECT_TRUE(Load(MakeFdi(86, 2, {{0, 0, 1, 1, 2, 256}})));
  EXPECT_EQ(disk->CountTracks(), 168);
  EXPECT_EQ(disk->StatusText, "4 track(s) beyond track 83.1 not loaded.");
  // A track listing no sector is unformatted: absent.
  EXPECT_TRUE(Load(MakeFdi(3, 2, {})));
  EXPECT_EQ(disk->CountTracks(), 0);
}

TEST_F(FdiTest, DataOutsideTheFileIsASizeError) {
  const auto good = MakeFdi(1, 1, {{0, 0, 1, 1, 2, 256}});
  const auto sizeError = [&](size_t at, uint8_t value, size_t cut = 0) {
    auto file = good;
    file[at] = value;
    file.resize(file.size() - cut);
    return !Load(file) && disk->StatusText == "FDI file size error!";
  };
  ASSERT_TRUE(Load(good));
  EXPECT_TRUE(sizeError(0, 'F', 1)) << "data starting inside the file run past its end";
  EXPECT_TRUE(sizeError(14 + 7 + 6, 2)) << "data starting past the end";
  EXPECT_TRUE(sizeError(14 + 2, 1)) << "track data starting past the end";
  EXPECT_TRUE(sizeError(14 + 6, 200)) << "entries running past the end";
}

TEST_F(FdiTest, TrackOfMoreThanTwentySectorsKeepsTwentyAndSaysSo) {
  std::vector<Entry> entries;
  for (uint8_t r = 1; r <= 23; ++r)
    entries.push_back({0, 0, r, 0, 1, 128});
  ASSERT_TRUE(Load(MakeFdi(2, 1, entries)));
  EXPECT_EQ(disk->GetTrack(0).CountSectors(), 20);
  EXPECT_EQ(disk->GetTrack(0).Sectors[19].Sec, 20);
  EXPECT_EQ(disk->GetTrack(2).CountSectors(), 20) << "the next track header is found";
  EXPECT_EQ(disk->StatusText,
            "FDI file lists more than 20 sectors on a track: 6 sector(s) not kept, the first on "
            "track 0.");
}

TEST_F(FdiTest, OversizedSizeCodesKeepTheSlotsWorthOfData) {
  ASSERT_TRUE(Load(MakeFdi(1, 1, {{0, 0, 1, 6, 0x01, 1100}, {0, 0, 2, 0xFF, 0x01, 1100}})));
  const TTrack& t = disk->GetTrack(0);
  EXPECT_EQ(t.Sectors[0].DataLength(), 1100);
  EXPECT_EQ(t.Sectors[1].SizeCode, 0xFF);
  EXPECT_EQ(t.Sectors[1].DataLength(), 1100);
  // Size code 255 announces more than an FDI track can hold: refused.
  std::vector<uint8_t> out;
  EXPECT_EQ(BuildFdiBytes(*disk, out).text,
            "Track 0.0, sector 2: size code 255 does not fit an FDI track!");
  // Written back, the slot's 1100 bytes return, with the good flag in bit 0.
  disk->GetTrack(0).Sectors[1].Present = 0;
  const std::vector<uint8_t> data(t.Sectors[0].Data().begin(), t.Sectors[0].Data().end());
  out = Build();
  EXPECT_EQ(out[14 + 7 + 4], 0x01);
  ASSERT_TRUE(Load(out));
  EXPECT_TRUE(std::ranges::equal(disk->GetTrack(0).Sectors[0].Data(), data));
}

TEST_F(FdiTest, WriterGeometryFlagsAndOffsets) {
  test::FillStandardDisk(*disk, 161);
  test::AddSector(*disk, 0, 0, 0, 17, 2, PatternBytes(512, 1));
  test::AddSector(*disk, 0, 0, 0, 18, 1, PatternBytes(256, 1), false);
  test::AddSector(*disk, 0, 0, 0, 19, 4, PatternBytes(1100, 1));
  const auto out = Build();
  ByteReader r(out);
  uint16_t cylinders, heads, textOffset, dataOffset;
  r.Skip(4);
  r.U16(cylinders);
  r.U16(heads);
  r.U16(textOffset);
  r.U16(dataOffset);
  EXPECT_EQ(cylinders, 81);
  EXPECT_EQ(heads, 2);
  // 162 track headers: 161 of 16 sectors, track 0 of 19, track 161 empty.
  EXPECT_EQ(textOffset, 14 + 162 * 7 + (160 * 16 + 19) * 7);
  EXPECT_EQ(dataOffset, textOffset + 1);
  // A size code above 3 gets the bytes its ID announces.
  EXPECT_EQ(out.size(), dataOffset + 161 * 16 * 256 + 512 + 256 + 2048);
  const size_t entries = 14 + 7;  // track 0
  EXPECT_EQ(out[entries + 0 * 7 + 4], 0x02) << "good sector of size code 1";
  EXPECT_EQ(out[entries + 16 * 7 + 4], 0x04) << "good sector of size code 2";
  EXPECT_EQ(out[entries + 17 * 7 + 4], 0x00) << "bad sector";
  EXPECT_EQ(out[entries + 18 * 7 + 4], 0x10) << "good sector of size code 4";
}

TEST_F(FdiTest, DescriptionIsTheStartOfTheCommentInCp1251) {
  const auto textOf = [&] {
    const auto out = Build();
    const size_t at = out[8] | out[9] << 8;
    const size_t end = out[10] | out[11] << 8;
    return std::string(out.begin() + at, out.begin() + end);
  };
  EXPECT_EQ(textOf(), std::string(1, '\0'));
  disk->Comment = {std::string(40, 'a'), std::string(40, 'b')};
  EXPECT_EQ(textOf(), std::string(40, 'a') + "\r\n" + std::string(21, 'b') + '\0');
  disk->Comment = {"Диск"};
  EXPECT_EQ(textOf(), "\xC4\xE8\xF1\xEA\r\n" + std::string(1, '\0'));
}

TEST_F(FdiTest, RoundTripsKeepIdsDataAndState) {
  // A TRD file through FDI comes back byte for byte.
  const auto trd = PatternBytes(655360, 9);
  ASSERT_TRUE(ReadTrdBytes(*disk, trd));
  ASSERT_TRUE(Load(Build()));
  std::vector<uint8_t> back;
  ASSERT_TRUE(BuildTrdBytes(*disk, back));
  EXPECT_EQ(back, trd);

  // Mixed sizes, bad sectors, and more than 1050000 bytes of data.
  auto original = std::make_unique<TZX_Disk>();
  for (int t = 0; t < 160; ++t) {
    for (int r = 1; r <= 9; ++r) {
      test::AddSector(*original, static_cast<uint8_t>(t), static_cast<uint8_t>(t / 2), t % 2,
                      static_cast<uint8_t>(r), static_cast<uint8_t>(r < 9 ? 3 : r % 4),
                      PatternBytes(SectorBytes(r < 9 ? 3 : r % 4), t * 10 + r), r != 5);
    }
  }
  std::vector<uint8_t> out;
  ASSERT_TRUE(BuildFdiBytes(*original, out));
  ASSERT_TRUE(Load(out));
  test::ExpectSameSectors(*original, *disk);
}

TEST_F(FdiTest, WriterKeepsTracksBeyondAGapAndSectorsBeyondASlotGap) {
  test::AddSector(*disk, 5, 2, 1, 1, 1, PatternBytes(256, 1));
  test::AddSector(*disk, 5, 2, 1, 2, 1, PatternBytes(256, 2));
  disk->GetTrack(5).Sectors[0].Present = 0;
  ASSERT_TRUE(Load(Build()));
  EXPECT_EQ(disk->CountTracks(), 1) << "tracks 0-4 written without sectors, read as absent";
  EXPECT_EQ(disk->GetTrack(5).CountSectors(), 1);
  EXPECT_EQ(disk->GetTrack(5).Sectors[0].Sec, 2);
}

TEST_F(FdiTest, MissingFileLeavesTheImageAndEmptyFileIsAReadError) {
  TempDir dir;
  test::FillStandardDisk(*disk, 4);
  EXPECT_FALSE(LoadFDI(*disk, dir / "none.fdi"));
  EXPECT_EQ(disk->CountTracks(), 4);
  WriteBytes(dir / "empty.fdi", {});
  EXPECT_FALSE(LoadFDI(*disk, dir / "empty.fdi"));
  EXPECT_EQ(disk->StatusText, "FDI file read error!");
}

}  // namespace
}  // namespace kelvara
