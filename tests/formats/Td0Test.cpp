#include "formats/Td0.h"
#include "formats/Trd.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "cli/Cli.h"
#include "formats/ImageFiles.h"
#include "formats/LZH.h"
#include "model/ZXDisk.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using Bytes = std::vector<uint8_t>;
using test::PatternBytes;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// A TD0 file put together record by record.
struct Td0File {
  Bytes bytes;

  explicit Td0File(const char* signature = "TD", uint8_t version = 21, uint8_t stepping = 0)
      : bytes{static_cast<uint8_t>(signature[0]),
              static_cast<uint8_t>(signature[1]),
              0,
              0,
              version,
              0,
              3,
              stepping,
              0,
              2} {
    const uint16_t crc = Td0Crc(bytes);
    Add({static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
  }
  Td0File& Add(const Bytes& b) {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
  }
  Td0File& Comment(const Bytes& text) {
    return Add({0, 0, static_cast<uint8_t>(text.size()), 0, 124, 3, 5, 7, 8, 9}).Add(text);
  }
  Td0File& Track(uint8_t count, uint8_t cyl, uint8_t head) { return Add({count, cyl, head, 0}); }
  Td0File& Sector(uint8_t r, uint8_t n = 1, uint8_t flags = 0) {
    return Add({0, 0, r, n, flags, 0});
  }
  // A data block: its length field, the encoding and the encoded bytes.
  Td0File& Block(uint8_t encoding, const Bytes& payload) {
    const size_t length = payload.size() + 1;
    Add({static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), encoding});
    return Add(payload);
  }
  Td0File& RawSector(uint8_t r, uint8_t fill, uint8_t flags = 0) {
    return Sector(r, 1, flags).Block(0, Bytes(256, fill));
  }
  Td0File& End() { return Add({0xFF, 0, 0, 0}); }
};

class Td0Test : public ::testing::Test {
 protected:
  bool Read(const Bytes& file) { return ReadTd0Bytes(*disk, file); }
  const TSectorRec& Slot(int track, int slot) {
    return disk->GetTrack(static_cast<uint8_t>(track)).Sectors[slot];
  }

  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  TempDir dir;
};

TEST_F(Td0Test, HeaderChecksComeInOrderWithTheirTexts) {
  const std::pair<Bytes, const char*> cases[] = {
      {Bytes{'T'}, "No TD0 file."},
      {Td0File("XD", 9).bytes, "No TD0 file."},
      {Bytes{'T', 'D', 0, 0, 21}, "TD0 file ends inside the file header."},
      {Td0File("TD", 9).bytes, "Version TD0 not allowed."},
      {Td0File("td", 22).bytes, "Version TD0 not allowed."},
      {Td0File("td", 19).bytes,
       "TD0 file of TeleDisk 1.x with \"advanced\" compression: that packing is not supported, the "
       "file cannot be read."},
  };
  for (const auto& [file, text] : cases) {
    EXPECT_FALSE(Read(file));
    EXPECT_EQ(disk->StatusText, text);
  }
  Bytes badCrc = Td0File("TD", 9).End().bytes;
  badCrc[11] ^= 1;
  EXPECT_FALSE(Read(badCrc));
  EXPECT_EQ(disk->StatusText, "Version TD0 not allowed.");
  badCrc = Td0File().End().bytes;
  badCrc[10] ^= 1;
  EXPECT_FALSE(Read(badCrc));
  EXPECT_EQ(disk->StatusText, "TD0 header CRC error.");
}

TEST_F(Td0Test, ReadsSignaturesCommentTracksAndEncodings) {
  Td0File f("Td", 10, 0x80);                         // not exactly "td": plain
  f.Comment({'A', 0, 0, 'B', 0, 0xCF, 0xF0, 0xE8});  // the last line ends without NUL
  f.Track(3, 0, 0).Sector(1, 2).Block(1, {10, 0, 0xE5, 0xF6});
  f.Sector(2).Block(2, {0, 3, 'a', 'b', 'c', 1, 2, 0x12, 0x34, 0, 0});
  f.RawSector(3, 0x77);
  f.Track(0, 2, 1);  // no sectors
  ASSERT_TRUE(Read(f.End().bytes)) << disk->StatusText;

  EXPECT_EQ(disk->StatusText, "Создан: 5.3.2024 7:8:9");
  EXPECT_EQ(disk->Comment, (std::vector<std::string>{"A", "B", "При"}));
  const TSectorRec& s = Slot(0, 0);
  EXPECT_EQ(s.Sec, 1);
  EXPECT_EQ(s.DataLength(), 512);
  EXPECT_EQ(s.DataOk, 0xFF);
  EXPECT_EQ(s.HeaderCrc, IdFieldCrc(0, 0, 1, 2));
  for (int i = 0; i < 512; ++i)
    ASSERT_EQ(s.Data()[i], i >= 20 ? 0 : (i % 2 ? 0xF6 : 0xE5)) << i;
  EXPECT_EQ(Bytes(Slot(0, 1).Data().begin(), Slot(0, 1).Data().begin() + 8),
            (Bytes{'a', 'b', 'c', 0x12, 0x34, 0x12, 0x34, 0}));
  EXPECT_EQ(Slot(0, 1).DataLength(), 256);
  EXPECT_EQ(Slot(0, 2).Data()[255], 0x77);
  EXPECT_EQ(disk->GetTrack(5).Present, 0xFF);
  EXPECT_EQ(disk->GetTrack(5).CountSectors(), 0);
  EXPECT_EQ(disk->TrackCount, 6) << "(highest cylinder + 1) x (highest head + 1)";
}

TEST_F(Td0Test, FlagsDecideTheDataStateAndWhetherABlockFollows) {
  Td0File f;
  f.Track(5, 0, 0);
  f.RawSector(1, 0x11, 0x02);  // read with a CRC error
  f.Sector(2, 1, 0x20);        // ID without data: no block
  f.RawSector(3, 0x33, 0x10);  // an older writer's bad sector, with its block
  f.Sector(4, 1, 0x10);        // skipped by DOS allocation: no block
  f.RawSector(5, 0x55);
  f.Track(1, 0, 0x81).RawSector(9, 0x99);  // bit 7: single density, side 1
  ASSERT_TRUE(Read(f.End().bytes)) << disk->StatusText;
  const std::pair<uint8_t, uint16_t> expected[] = {{0, 256}, {0, 0}, {0, 256}, {0, 0}, {0xFF, 256}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Slot(0, i).Sec, i + 1);
    EXPECT_EQ(Slot(0, i).DataOk, expected[i].first) << i;
    EXPECT_EQ(Slot(0, i).DataLength(), expected[i].second) << i;
  }
  EXPECT_EQ(Slot(0, 2).Data()[0], 0x33);
  EXPECT_EQ(Slot(0, 4).Data()[0], 0x55);
  EXPECT_EQ(Slot(1, 0).Data()[0], 0x99);
}

TEST_F(Td0Test, WhatTheImageCannotHoldIsReadPastAndNoted) {
  Td0File f("TD", 21, 0x80);
  f.Comment({});
  f.Track(22, 0, 0);
  for (int r = 1; r <= 22; ++r)
    f.RawSector(static_cast<uint8_t>(r), static_cast<uint8_t>(r));
  f.Track(1, 90, 0).RawSector(1, 0);  // cylinder 90: past track 167
  f.Track(1, 1, 2).RawSector(1, 0);   // no side 2
  f.Track(2, 1, 0).Sector(1, 3).Block(2, {1, 255, 1, 2, 1, 255, 3, 4, 1, 255, 5, 6});
  f.Sector(2, 4).Block(0, Bytes(1500, 0xAB));
  ASSERT_TRUE(Read(f.End().bytes));
  EXPECT_EQ(disk->StatusText,
            "Создан: 5.3.2024 7:8:9; tracks outside the image skipped: 2, sectors beyond 20 on "
            "a track dropped: 2, sectors cut to 1100 bytes: 2");
  EXPECT_EQ(disk->GetTrack(0).CountSectors(), 20);
  EXPECT_EQ(Slot(0, 19).Data()[0], 20);
  EXPECT_EQ(disk->CountTracks(), 2);
  EXPECT_EQ(Slot(2, 0).DataLength(), 1100);
  EXPECT_EQ(Slot(2, 0).Data()[1099], 6) << "the third run, second byte of its pattern";
  EXPECT_EQ(Slot(2, 1).DataLength(), 1100);
  EXPECT_EQ(Slot(2, 1).Data()[1099], 0xAB);
}

// A size code above 3 reads as a WD179x reads it, 128 << (N & 3): a block of
// that size is the whole sector, not one cut short, and saving it again
// writes the same block.
TEST_F(Td0Test, SizeCodesAboveThreeReadAsTheControllerReadsThem) {
  for (const uint8_t n : {uint8_t{4}, uint8_t{5}, uint8_t{7}, uint8_t{0xFD}}) {
    const size_t size = size_t{128} << (n & 3);
    ASSERT_TRUE(Read(Td0File().Track(1, 0, 0).Sector(1, n).Block(0, Bytes(size, n)).End().bytes));
    EXPECT_EQ(disk->StatusText, "") << int{n};
    EXPECT_EQ(Slot(0, 0).DataLength(), size) << int{n};
    Bytes saved, again;
    ASSERT_TRUE(BuildTd0Bytes(*disk, saved, {false}));
    ASSERT_TRUE(Read(saved));
    EXPECT_EQ(Slot(0, 0).DataLength(), size) << int{n};
    ASSERT_TRUE(BuildTd0Bytes(*disk, again, {false}));
    EXPECT_EQ(again.size(), saved.size()) << int{n};
  }
}

TEST_F(Td0Test, BadRecordsAndShortFilesFailWithTheirTexts) {
  auto sector = [] { return Td0File().Track(1, 0, 0).Sector(1); };
  const std::pair<Bytes, const char*> cases[] = {
      {Td0File("TD", 21, 0x80).Add({0, 0, 5}).bytes, "TD0 file ends inside the comment header."},
      {Td0File("TD", 21, 0x80).Add({0, 0, 5, 0, 1, 1, 1, 1, 1, 1, 'x'}).bytes,
       "TD0 file ends inside the comment."},
      {Td0File().Add({1, 0}).bytes, "TD0 file ends inside a track record."},
      {Td0File().Track(1, 0, 0).Add({0, 0, 1}).bytes, "TD0 file ends inside a sector record."},
      {sector().Add({7}).bytes, "TD0 file ends inside a data block."},
      {sector().Add({9, 0, 0, 1}).bytes, "Size Error."},
      {sector().Block(0, Bytes(5000, 1)).End().bytes, "Sector Size Error!"},
      {sector().Block(1, {0xC5, 0x09, 1, 2}).End().bytes, "Sector Size Error!"},
      {sector().Block(3, {}).End().bytes, "TD0 format error!"},
      {sector().Block(2, {2, 1, 0}).End().bytes, "TD0 format error!"},
      {sector().Block(2, {0, 5, 1}).End().bytes, "TD0 format error!"},
      {sector().Block(1, {1, 0}).End().bytes, "TD0 format error!"},
      {sector().Add({0, 0}).End().bytes, "TD0 format error!"},
  };
  for (const auto& [file, text] : cases) {
    EXPECT_FALSE(Read(file)) << text;
    EXPECT_EQ(disk->StatusText, text);
  }
  // Cut off at a track boundary, without the end record: what is there
  // loads, and the note says the file may be short.
  ASSERT_TRUE(Read(sector().Block(0, Bytes(256, 1)).bytes));
  EXPECT_EQ(disk->StatusText,
            "TD0 file ends without its end-of-image record after 1 track(s): it may be cut short");
  EXPECT_TRUE(Read(sector().Block(0, Bytes(256, 1)).End().bytes));
  EXPECT_EQ(disk->StatusText, "");
  // Within the limits: 4999 raw bytes, 2500 repeats.
  EXPECT_TRUE(Read(sector().Block(0, Bytes(4999, 1)).End().bytes));
  EXPECT_TRUE(Read(sector().Block(1, {0xC4, 0x09, 1, 2}).End().bytes));
}

TEST_F(Td0Test, SavedHeaderAndComment) {
  disk->Comment = {"", "Диск", std::string(1011, 'x'), "over the budget", "also"};
  Bytes file;
  ASSERT_TRUE(BuildTd0Bytes(*disk, file, {false}));
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 10), (Bytes{'T', 'D', 0, 0, 21, 0, 3, 0x80, 0, 2}));
  EXPECT_EQ(file[10] | file[11] << 8, Td0Crc(std::span(file).first(10)));
  // "Диск" is four bytes in the file: with its NUL and the 1011 x's the text
  // reaches the budget of 1016 bytes, the next line would pass it, and
  // nothing after that line is written either.
  const size_t length = file[14] | file[15] << 8;
  EXPECT_EQ(length, 4 + 1 + 1011 + 1 + 2);
  EXPECT_EQ(file[12] | file[13] << 8, Td0Crc(std::span(file).subspan(14, 8 + length)));
  EXPECT_EQ(Bytes(file.begin() + 22, file.begin() + 27), (Bytes{0xC4, 0xE8, 0xF1, 0xEA, 0}));
  EXPECT_TRUE(file[17] >= 1 && file[17] <= 12) << "month 1..12";
  EXPECT_EQ(Bytes(file.end() - 4, file.end()), (Bytes{0xFF, 0, 0, 0}));

  disk->Comment.clear();
  ASSERT_TRUE(BuildTd0Bytes(*disk, file, {true}));
  EXPECT_EQ(file[0], 't');
  EXPECT_EQ(file[1], 'd');
  Bytes body;
  LzhUnpack(file, 12, body);
  EXPECT_EQ(body[2] | body[3] << 8, 0) << "no lines: an empty text";
}

TEST_F(Td0Test, SaveMarksBadSectorsAndSectorsWithoutData) {
  test::AddSector(*disk, 3, 9, 9, 1, 1, PatternBytes(256, 1), false);
  test::AddSector(*disk, 3, 9, 9, 2, 1, {}, false);
  Bytes file;
  BuildTd0Bytes(*disk, file, {false});
  const size_t track = 12 + 10;
  // The track's index names it: cylinder 1, side 1, whatever the IDs say.
  EXPECT_EQ(Bytes(file.begin() + track, file.begin() + track + 3), (Bytes{2, 1, 1}));
  const size_t bad = track + 4;
  EXPECT_EQ(Bytes(file.begin() + bad, file.begin() + bad + 5), (Bytes{9, 9, 1, 1, 0x02}));
  EXPECT_EQ(Bytes(file.begin() + bad + 6, file.begin() + bad + 9), (Bytes{1, 1, 0}));
  const size_t noData = bad + 6 + 3 + 256;
  EXPECT_EQ(file[noData + 4], 0x20);
  EXPECT_EQ(file[noData + 6], 0xFF) << "no data block after an ID-only sector";
}

TEST_F(Td0Test, SaveAndLoadKeepSectorsStatesAndComment) {
  for (bool compress : {false, true}) {
    test::FillStandardDisk(*disk, 160, 3);
    test::AddSector(*disk, 161, 80, 1, 1, 1, PatternBytes(256, 5), false);
    test::AddSector(*disk, 161, 80, 1, 2, 0, {}, false);
    test::AddSector(*disk, 161, 80, 1, 3, 4, PatternBytes(1100, 6));
    disk->Comment = {"первая", "second"};
    ASSERT_TRUE(SaveTD0(*disk, dir / "a.td0", {compress}));
    auto loaded = std::make_unique<TZX_Disk>();
    ASSERT_TRUE(LoadTD0(*loaded, dir / "a.td0")) << loaded->StatusText;
    EXPECT_EQ(loaded->StatusText.rfind("Создан: ", 0), 0u);
    test::ExpectSameSectors(*disk, *loaded);
    EXPECT_EQ(loaded->Comment, disk->Comment);
    EXPECT_EQ(loaded->TrackCount, 162);
  }
  const WriteResult failed = SaveTD0(*disk, dir / "no/such/folder/a.td0", {true});
  EXPECT_FALSE(failed);
  EXPECT_FALSE(failed.text.empty());
  EXPECT_FALSE(LoadTD0(*disk, dir / "missing.td0"));
}

TEST_F(Td0Test, ChosenByExtensionWithTheCompressSetting) {
  test::FillStandardDisk(*disk, 4, 8);
  SaveOptions options;
  options.td0Compress = true;
  ASSERT_TRUE(SaveImageFile(*disk, dir / "x.Td0", options).ok);
  EXPECT_EQ(ReadBytes(dir / "x.Td0")[0], 't');
  auto loaded = std::make_unique<TZX_Disk>();
  const LoadResult r = LoadImageFile(*loaded, dir / "x.Td0");
  ASSERT_TRUE(r.ok) << r.errorText;
  EXPECT_EQ(r.statusPanel2, loaded->StatusText);
  test::ExpectSameSectors(*disk, *loaded);

  WriteBytes(dir / "bad.td0", Td0File("TD", 30).bytes);
  EXPECT_EQ(LoadImageFile(*loaded, dir / "bad.td0").logLine,
            "Error load TD0 -\"Version TD0 not allowed.\"");
}

TEST_F(Td0Test, ConvertOptionOverridesTheSetting) {
  WriteBytes(dir / "a.trd", PatternBytes(16 * 4096, 4));
  for (const auto& [flag, first] : {std::pair{"--td0-compress", 't'}, {"--no-td0-compress", 'T'}}) {
    const std::string in = dir / "a.trd", out = dir / "b.td0", back = dir / "c.trd";
    std::ostringstream o, e;
    const char* to[] = {"kelvara-cli", "convert", in.c_str(), out.c_str(), flag};
    ASSERT_EQ(cli::RunCli(5, to, o, e), 0) << e.str();
    EXPECT_EQ(ReadBytes(out)[0], first);
    const char* from[] = {"kelvara-cli", "convert", out.c_str(), back.c_str()};
    ASSERT_EQ(cli::RunCli(4, from, o, e), 0) << e.str();
    EXPECT_EQ(ReadBytes(back), ReadBytes(in));
  }
}

TEST_F(Td0Test, RealTrdosDiskSurvivesBothKinds) {
  const std::string path = std::string(KELVARA_TESTDATA_DIR) + "/EyeAche.trd";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no sample images";
  ASSERT_TRUE(LoadTRD(*disk, path));
  for (bool compress : {false, true}) {
    ASSERT_TRUE(SaveTD0(*disk, dir / "e.td0", {compress}));
    auto loaded = std::make_unique<TZX_Disk>();
    ASSERT_TRUE(LoadTD0(*loaded, dir / "e.td0"));
    ASSERT_TRUE(SaveTRD(*loaded, dir / "e.trd"));
    EXPECT_EQ(ReadBytes(dir / "e.trd"), ReadBytes(path));
  }
}

}  // namespace
}  // namespace kelvara
