#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include <zlib.h>

#include "formats/ImageFiles.h"
#include "formats/Udi.h"
#include "model/ZXDisk.h"
#include "support/DiskBuilder.h"
#include "support/ImageFileTest.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// A track of a hand-made UDI file: its bytes and which of them are sync bytes.
struct FileTrack {
  std::vector<uint8_t> bytes;
  std::vector<bool> sync;

  void Put(uint8_t b, int count = 1, bool isSync = false) {
    bytes.insert(bytes.end(), count, b);
    sync.insert(sync.end(), count, isSync);
  }
  void PutCrc(size_t from) {
    const uint16_t crc = CalcCrc16({bytes.data() + from, bytes.size() - from});
    Put(static_cast<uint8_t>(crc >> 8));
    Put(static_cast<uint8_t>(crc));
  }
  void Id(uint8_t r, uint8_t n = 1) {
    Put(0x00, 12);
    const size_t from = bytes.size();
    Put(0xA1, 3, true);
    for (uint8_t b : {uint8_t{0xFE}, uint8_t{0}, uint8_t{0}, r, n})
      Put(b);
    PutCrc(from);
    Put(0x4E, 22);
  }
  void Data(const std::vector<uint8_t>& data, uint8_t mark = 0xFB, bool gapAfter = true) {
    Put(0x00, 12);
    const size_t from = bytes.size();
    Put(0xA1, 3, true);
    Put(mark);
    for (uint8_t b : data)
      Put(b);
    PutCrc(from);
    if (gapAfter) Put(0x4E, 24);
  }
};

std::vector<uint8_t> Seal(std::vector<uint8_t> body) {
  const uint32_t crc = CalcCrc32(body);
  for (int i = 0; i < 4; ++i)
    body.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  return body;
}

// Recomputes the length field and the checksum after a change.
std::vector<uint8_t> Reseal(std::vector<uint8_t> file, bool fixLength = true) {
  file.resize(file.size() - 4);
  if (fixLength) {
    for (int i = 0; i < 4; ++i)
      file[4 + i] = static_cast<uint8_t>(file.size() >> (8 * i));
  }
  return Seal(std::move(file));
}

// One track record. Type bit 1 adds an FM-mark bitmap, bit 7 a weak-bit
// bitmap (filled here so that a reader that takes one for the clock bitmap
// finds marks where there are none). Packed, it is stored as the Fuse
// emulator stores it: 0xF0, u16 stream length - 1, the type, u16 track
// length, then a zlib stream of what follows the length in a plain record.
std::vector<uint8_t> Record(const FileTrack& t, uint8_t type = 0, bool packed = false) {
  const size_t length = t.bytes.size(), bitmap = (length + 7) / 8;
  std::vector<uint8_t> payload = t.bytes;
  payload.resize(length + bitmap);
  for (size_t i = 0; i < t.sync.size(); ++i)
    payload[length + i / 8] |= static_cast<uint8_t>(t.sync[i] << (i % 8));
  if (type & 0x02) payload.insert(payload.end(), bitmap, 0x5A);
  if (type & 0x80) payload.insert(payload.end(), bitmap, 0xA5);
  const uint8_t lo = static_cast<uint8_t>(length), hi = static_cast<uint8_t>(length >> 8);
  if (!packed) {
    payload.insert(payload.begin(), {type, lo, hi});
    return payload;
  }
  uLongf size = compressBound(payload.size());
  std::vector<uint8_t> z(size);
  EXPECT_EQ(compress(z.data(), &size, payload.data(), payload.size()), Z_OK);
  z.resize(size);
  z.insert(z.begin(), {0xF0, static_cast<uint8_t>(size - 1), static_cast<uint8_t>((size - 1) >> 8),
                       type, lo, hi});
  return z;
}

std::vector<uint8_t> UdiFileOf(const std::vector<std::vector<uint8_t>>& records, int lastCyl,
                               int lastSide) {
  std::vector<uint8_t> f(16);
  f[0] = 'U', f[1] = 'D', f[2] = 'I', f[3] = '!';
  f[9] = static_cast<uint8_t>(lastCyl);
  f[10] = static_cast<uint8_t>(lastSide);
  for (const auto& record : records)
    f.insert(f.end(), record.begin(), record.end());
  f.resize(f.size() + 4);
  return Reseal(std::move(f));
}

std::vector<uint8_t> UdiFile(const std::vector<FileTrack>& tracks, int lastCyl, int lastSide) {
  std::vector<std::vector<uint8_t>> records;
  for (const FileTrack& t : tracks)
    records.push_back(Record(t));
  return UdiFileOf(records, lastCyl, lastSide);
}

uint32_t U32At(const std::vector<uint8_t>& f, size_t at) {
  return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | static_cast<uint32_t>(f[at + 3]) << 24;
}

class UdiTest : public test::ImageFileTest<BuildUdiBytes> {};

TEST_F(UdiTest, HeaderChecksInOrderWithTheirTexts) {
  FileTrack t;  // an index mark: a formatted track
  t.Put(0xC2, 3, true);
  t.Put(0xFC);
  t.Put(0x4E, 36);
  const auto good = UdiFile({t, t}, 0, 1);
  ASSERT_TRUE(ReadUdiBytes(*disk, good)) << disk->StatusText;
  EXPECT_FALSE(ReadUdiBytes(*disk, std::vector<uint8_t>(good.begin(), good.begin() + 19)));
  EXPECT_EQ(disk->StatusText, "Error UDI file!");

  // A byte changed (and the file sealed again, or not) and the text it gives.
  // The checksum comes first, even with the header intact; the second
  // track's length runs past the file, with the first track loaded.
  const struct {
    size_t at;
    uint8_t value;
    bool reseal, fixLength;
    const char* text;
  } cases[] = {
      {good.size() - 1, static_cast<uint8_t>(good.back() ^ 1), false, false, "UDI file CRC error!"},
      {3, '?', true, true, "No UDI format!"},
      {8, 1, true, true, "Error UDI format!"},
      {10, 2, true, true, "Error UDI format!"},  // three sides
      {11, 2, true, true, "Error UDI format!"},  // bit 0 alone is the description
      {15, 1, true, true, "Error UDI format!"},
      {4, static_cast<uint8_t>(good[4] + 1), true, false, "Error UDI file length!"},
      {16 + 3 + 40 + 5 + 2, 41, true, true, "Error UDI file length!"},
  };
  for (const auto& c : cases) {
    auto f = good;
    f[c.at] = c.value;
    EXPECT_FALSE(ReadUdiBytes(*disk, c.reseal ? Reseal(f, c.fixLength) : f));
    EXPECT_EQ(disk->StatusText, c.text) << c.at;
  }
  EXPECT_TRUE(disk->GetTrack(0).Present);
}

TEST_F(UdiTest, SectorScanFollowsTheSyncBytes) {
  FileTrack t;
  t.Put(0x4E, 30);
  t.Id(1);
  t.Data(PatternBytes(256, 1));
  t.Id(2);
  t.Data(PatternBytes(256, 2), 0xF8);  // deleted data reads like any other
  t.Id(3);
  auto bad = PatternBytes(256, 3);
  t.Data(bad);
  t.bytes[t.bytes.size() - 25] ^= 0xFF;  // a data CRC error
  t.Id(4, 5);  // no data field (and N = 5, which a WD179x reads as 256 bytes):
  t.Id(5);     // this ID is passed over
  t.Data(PatternBytes(256, 5));
  t.Put(0xA1, 3);  // A1 bytes that are not sync bytes
  t.Put(0xFB);
  t.Put(0x4E, 300);
  ASSERT_TRUE(ReadUdiBytes(*disk, UdiFile({t}, 0, 0))) << disk->StatusText;

  const TTrack& track = disk->GetTrack(0);
  EXPECT_EQ(track.RawValid, 1);
  EXPECT_EQ(track.RawLength(), t.bytes.size());
  EXPECT_EQ(track.SectorCount, 4);
  const uint8_t ids[] = {1, 2, 3, 4};
  for (int i = 0; i < 4; ++i) {
    const TSectorRec& s = track.Sectors[i];
    EXPECT_EQ(s.Sec, ids[i]);
    EXPECT_EQ(s.HeaderCrc, IdFieldCrc(0, 0, ids[i], i == 3 ? 5 : 1));
    EXPECT_EQ(s.DataLength(), 256);
    EXPECT_EQ(s.ErrorCount, 0);
    EXPECT_EQ(s.DataOk, i == 2 ? 0 : 0xFF) << i;
    EXPECT_EQ(track.RawData()[s.DataOffset - 1], i == 1 ? 0xF8 : 0xFB);
  }
  EXPECT_TRUE(std::equal(bad.begin() + 1, bad.end(), track.Sectors[2].Data().begin() + 1));
  EXPECT_TRUE(std::equal(track.Sectors[3].Data().begin(), track.Sectors[3].Data().begin() + 256,
                         PatternBytes(256, 5).begin()));
  EXPECT_FALSE(track.Sectors[4].Present);
}

TEST_F(UdiTest, FieldsAtTheTrackEnd) {
  // The data CRC's second byte is the track's last: taken as running past it.
  FileTrack t;
  t.Put(0x4E, 10);
  t.Id(1);
  t.Data(PatternBytes(256, 1), 0xFB, false);
  // A data mark in the last bytes, and an ID cut short.
  FileTrack u, v;
  u.Id(1);
  u.Put(0xA1, 3, true);
  u.Put(0xFB);
  u.Put(0x00);
  v.Put(0xA1, 3, true);
  v.Put(0xFE);
  v.Put(0x00, 5);
  ASSERT_TRUE(ReadUdiBytes(*disk, UdiFile({t, u, v}, 2, 0))) << disk->StatusText;

  const TSectorRec& s = disk->GetTrack(0).Sectors[0];
  EXPECT_TRUE(s.DataOk == 0 && s.DataLength() == 256);
  const TSectorRec& e = disk->GetTrack(2).Sectors[0];
  EXPECT_TRUE(e.Present && e.DataOk == 0 && e.DataLength() == 0);
  EXPECT_FALSE(disk->GetTrack(4).Sectors[0].Present);
}

TEST_F(UdiTest, WhatTheImageCannotHoldIsLeftOutAndNoted) {
  // A single-sided file keeps the image's numbering: its tracks go to the even indexes.
  FileTrack small;  // an index mark and no sector
  small.Put(0xC2, 3, true);
  small.Put(0xFC);
  ASSERT_TRUE(ReadUdiBytes(*disk, UdiFile(std::vector<FileTrack>(3, small), 2, 0)));
  EXPECT_TRUE(disk->GetTrack(4).Present);
  EXPECT_FALSE(disk->GetTrack(1).Present);
  EXPECT_EQ(disk->StatusText, "");

  // 85 cylinders: the last two tracks have no place.
  ASSERT_TRUE(ReadUdiBytes(*disk, UdiFile(std::vector<FileTrack>(170, small), 84, 1)));
  EXPECT_EQ(disk->CountTracks(), 168);
  EXPECT_EQ(disk->StatusText, "2 track(s) beyond track 83.1 not loaded.");

  // A track longer than the raw buffer, and one of 21 sectors.
  FileTrack longTrack;
  longTrack.Put(0x4E, kRawTrackCapacity - 20);
  longTrack.Id(1);
  longTrack.Data(PatternBytes(128, 1));
  FileTrack crowded;
  for (int r = 1; r <= 21; ++r) {
    crowded.Id(static_cast<uint8_t>(r), 0);
    crowded.Data(PatternBytes(128, r));
  }
  ASSERT_TRUE(ReadUdiBytes(*disk, UdiFile({longTrack, crowded}, 0, 1)));
  EXPECT_EQ(disk->GetTrack(0).RawLength(), kRawTrackCapacity);
  EXPECT_FALSE(disk->GetTrack(0).Sectors[0].Present);
  EXPECT_EQ(disk->GetTrack(1).CountSectors(), 20);
  EXPECT_EQ(disk->GetTrack(1).Sectors[19].Sec, 20);
  EXPECT_EQ(disk->StatusText,
            "Track 0.0 cut to 14002 bytes. Track 0.1: sectors after the 20th not loaded.");
}

TEST_F(UdiTest, WriterCountsCylindersAndFillsHoles) {
  test::FillStandardDisk(*disk, 161);
  auto f = Saved();
  EXPECT_EQ(U32At(f, 4), 16u + 81 * 14082);
  EXPECT_EQ(f.size(), 16u + 81 * 14082 + 4);
  EXPECT_EQ(f[9], 80);
  EXPECT_EQ(f[10], 1);
  EXPECT_EQ(U32At(f, f.size() - 4), CalcCrc32({f.data(), f.size() - 4}));
  // Every record: type 0, 6256 bytes, a 782-byte bitmap.
  EXPECT_EQ(f[16], 0);
  EXPECT_EQ(f[17] | f[18] << 8, kRawTrackSize);
  ASSERT_TRUE(ReadUdiBytes(*back, f));
  EXPECT_EQ(back->CountTracks(), 161) << "the filler track stays absent";
  EXPECT_FALSE(back->GetTrack(161).Present);

  test::FillStandardDisk(*disk, 3);
  EXPECT_EQ(Saved()[9], 1);

  // Tracks after a hole are not lost.
  disk->ClearImage();
  test::AddSector(*disk, 0, 0, 0, 1, 1, PatternBytes(256, 1));
  test::AddSector(*disk, 5, 2, 1, 1, 1, PatternBytes(256, 2));
  f = Saved();
  EXPECT_EQ(f[9], 2);
  ASSERT_TRUE(ReadUdiBytes(*back, f));
  EXPECT_EQ(back->GetTrack(5).Sectors[0].Cyl, 2);

  disk->ClearImage();
  std::vector<uint8_t> out;
  EXPECT_EQ(BuildUdiBytes(*disk, out).text, "The image has no tracks to save!");
}

TEST_F(UdiTest, RoundTripKeepsSectorsAndTheirState) {
  test::FillStandardDisk(*disk, 6, 4);
  disk->GetTrack(2).Sectors[3].DataOk = 0;
  ASSERT_TRUE(SaveUDI(*disk, dir / "a.udi"));
  ASSERT_TRUE(LoadUDI(*back, dir / "a.udi")) << back->StatusText;
  test::ExpectSameSectors(*disk, *back);
  for (int t = 0; t < 6; ++t)
    EXPECT_EQ(back->GetTrack(static_cast<uint8_t>(t)).RawLength(), kRawTrackSize);
  // Saved again over its own raw tracks, it is the same file but for the
  // bad sector's first data sync byte.
  back->KeepRawBytes = true;
  ASSERT_TRUE(SaveUDI(*back, dir / "b.udi"));
  auto a = ReadBytes(dir / "a.udi");
  const auto b = ReadBytes(dir / "b.udi");
  const auto differ = std::mismatch(a.begin(), a.end(), b.begin());
  ASSERT_NE(differ.first, a.end());
  EXPECT_TRUE(*differ.first == 0xA1 && *differ.second == 0x14);
  *differ.first = 0x14;
  EXPECT_TRUE(std::equal(a.begin(), a.end() - 4, b.begin()));
}

TEST_F(UdiTest, DispatchSetsKeepRawBytesAndReportsFailures) {
  FileTrack t;
  t.Put(0x4E, 20);
  t.Put(0x33, 10);  // bytes of the track's own, in its lead-in
  t.Id(1);
  t.Data(PatternBytes(256, 1));
  t.Put(0x4E, 6000);
  WriteBytes(dir / "in.udi", UdiFile({t}, 0, 0));
  ASSERT_TRUE(LoadImageFile(*disk, dir / "in.udi").ok);
  SaveOptions options;
  options.restoreTrack = false;
  ASSERT_TRUE(SaveImageFile(*disk, dir / "keep.udi", options).ok);
  EXPECT_TRUE(disk->KeepRawBytes);
  EXPECT_EQ(ReadBytes(dir / "keep.udi")[16 + 3 + 25], 0x33);
  options.restoreTrack = true;
  ASSERT_TRUE(SaveImageFile(*disk, dir / "fresh.udi", options).ok);
  EXPECT_EQ(ReadBytes(dir / "fresh.udi")[16 + 3 + 25], 0x4E);

  // A sector the track's own layout has no place for: nothing written, the
  // LOG line says where.
  WriteBytes(dir / "old.udi", {1, 2, 3});
  test::AddSector(*disk, 0, 0, 0, 2, 1, PatternBytes(256, 2));
  const SaveResult r = SaveImageFile(*disk, dir / "old.udi", options);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.errorText, "Ошибка создания образа UDI");
  EXPECT_EQ(r.logLine, "Ошибка в дорожке - 0 / Сектор - 1");
  EXPECT_EQ(disk->ErrSector, 1);
  EXPECT_EQ(ReadBytes(dir / "old.udi"), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(UdiTest, TrackWithoutSyncBytesIsUnformattedAndAbsent) {
  FileTrack blank, formatted;
  blank.Put(0x4E, 100);
  formatted.Id(1);
  formatted.Data(PatternBytes(256, 1));
  ASSERT_TRUE(ReadUdiBytes(*disk, UdiFile({formatted, blank, formatted, blank}, 1, 1)));
  EXPECT_EQ(disk->CountTracks(), 2);
  EXPECT_FALSE(disk->GetTrack(1).Present);
  EXPECT_TRUE(disk->GetTrack(2).Present);
}

// UDI 1.1: header flag bit 0, a zero-terminated text between the last track
// and the CRC. It becomes the comment and is written back the same way.
TEST_F(UdiTest, DescriptionIsTheComment) {
  FileTrack t;
  t.Id(1);
  t.Data(PatternBytes(256, 1));
  auto f = UdiFile({t}, 0, 0);
  f.resize(f.size() - 4);
  f[11] = 1;
  for (char c : std::string("Disk one\r\nside A"))
    f.push_back(static_cast<uint8_t>(c));
  f.push_back(0);
  f.resize(f.size() + 4);  // the CRC's place
  ASSERT_TRUE(ReadUdiBytes(*disk, Reseal(f))) << disk->StatusText;
  EXPECT_EQ(disk->Comment, (std::vector<std::string>{"Disk one", "side A"}));
  EXPECT_EQ(disk->GetTrack(0).CountSectors(), 1);

  const auto saved = Saved();
  EXPECT_EQ(saved[11], 1);
  const std::string tail(saved.end() - 4 - 19, saved.end() - 4);
  EXPECT_EQ(tail, std::string("Disk one\r\nside A\r\n", 18) + '\0');
  ASSERT_TRUE(ReadUdiBytes(*back, saved)) << back->StatusText;
  EXPECT_EQ(back->Comment, disk->Comment);
  disk->Comment.clear();
  EXPECT_EQ(Saved()[11], 0) << "no comment, no description: UDI 1.0";
}

// Plain and compressed records of every track type in one file, as the
// Fuse emulator mixes them; the extra bitmaps are passed over with a note.
TEST_F(UdiTest, CompressedAndPlainRecordsOfEachType) {
  const struct {
    uint8_t type;
    bool packed;
  } records[] = {{0x00, false}, {0x00, true},  {0x02, true},
                 {0x80, true},  {0x82, false}, {0x82, true}};
  std::vector<std::vector<uint8_t>> stored;
  for (int k = 0; k < 6; ++k) {
    FileTrack t;
    t.Put(0x4E, 40);
    t.Id(static_cast<uint8_t>(k + 1));
    t.Data(PatternBytes(256, k));
    stored.push_back(Record(t, records[k].type, records[k].packed));
  }
  auto file = UdiFileOf(stored, 2, 1);
  ASSERT_TRUE(ReadUdiBytes(*disk, file)) << disk->StatusText;
  for (int k = 0; k < 6; ++k) {
    TTrack& track = disk->GetTrack(static_cast<uint8_t>(k));
    ASSERT_EQ(track.CountSectors(), 1) << k;
    EXPECT_EQ(track.Sectors[0].Sec, k + 1);
    EXPECT_EQ(track.Sectors[0].DataOk, 0xFF) << k;
    const auto data = track.Sectors[0].Data();
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.end()), PatternBytes(256, k)) << k;
    const size_t notes = (records[k].type & 0x02 ? 1 : 0) + (records[k].type & 0x80 ? 1 : 0);
    EXPECT_EQ(track.Log.size(), notes) << k;
  }
  // The writer stores every track plain, as type 0.
  const auto saved = Saved();
  EXPECT_EQ(saved[16], 0);
  ASSERT_TRUE(ReadUdiBytes(*back, saved)) << back->StatusText;
  test::ExpectSameSectors(*disk, *back);

  file[16 + stored[0].size() + 6 + 10] ^= 0xFF;  // inside the first stream
  EXPECT_FALSE(ReadUdiBytes(*back, Reseal(file)));
  EXPECT_EQ(back->StatusText, "UDI compressed track error!");
}

TEST_F(UdiTest, RealEmptyTrDosDisk) {
  const std::string path = std::string(KELVARA_TESTDATA_DIR) + "/beta128-empty.udi";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no sample images";
  const LoadResult r = LoadImageFile(*disk, path);
  ASSERT_TRUE(r.ok) << r.errorText;
  EXPECT_EQ(disk->CountTracks(), 168);  // of the file's 86 cylinders
  EXPECT_EQ(r.statusPanel2, "4 track(s) beyond track 83.1 not loaded.");
  for (int t = 0; t < kTrackCount; ++t) {
    TTrack& track = disk->GetTrack(static_cast<uint8_t>(t));
    ASSERT_EQ(track.CountSectors(), 16) << t;
    for (int i = 0; i < 16; ++i)
      ASSERT_EQ(track.Sectors[i].DataOk, 0xFF) << t << "/" << i;
  }
  const auto& slots = disk->GetTrack(0).Sectors;
  const auto info =
      std::find_if(slots.begin(), slots.end(), [](const TSectorRec& s) { return s.Sec == 9; });
  ASSERT_NE(info, slots.end());
  EXPECT_EQ(info->Data()[0xE7], 0x10);  // the TR-DOS disk id
  ASSERT_TRUE(SaveUDI(*disk, dir / "copy.udi"));
  ASSERT_TRUE(LoadUDI(*back, dir / "copy.udi"));
  test::ExpectSameSectors(*disk, *back);
}

}  // namespace
}  // namespace kelvara
