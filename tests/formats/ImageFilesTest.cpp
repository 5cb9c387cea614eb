#include "formats/ImageFiles.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::TempDir;
using test::WriteBytes;

TEST(ExtensionKey, UpperCasedCutToThreeAfterTheLastDotOfTheName) {
  EXPECT_EQ(ExtensionKey("disk.udi"), "UDI");
  EXPECT_EQ(ExtensionKey("DISK.UDI"), "UDI");
  EXPECT_EQ(ExtensionKey("disk.udix"), "UDI");
  EXPECT_EQ(ExtensionKey("image.Td0"), "TD0");
  EXPECT_EQ(ExtensionKey("/some.folder/disk"), "");
  EXPECT_EQ(ExtensionKey("a.b.trd"), "TRD");
  EXPECT_EQ(ExtensionKey("disk."), "");
}

TEST(FindImageFormat, TrdIsKnownAndOtherKeysAreNot) {
  ASSERT_NE(FindImageFormat("TRD"), nullptr);
  EXPECT_EQ(FindImageFormat("XYZ"), nullptr);
  EXPECT_EQ(FindImageFormat(""), nullptr);
}

class LoadImageFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  TempDir dir;
};

TEST_F(LoadImageFileTest, SuccessReportsPathAndTrackCount) {
  const std::string path = dir / "game.trdx";  // the key is cut to three letters
  WriteBytes(path, PatternBytes(655360, 2));
  const LoadResult r = LoadImageFile(*disk, path);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.statusPanel1, "Disk Image - " + path + " (Дорожек - 160)");
  // Any bytes load as a TRD; without a catalog the note says what they are.
  EXPECT_EQ(r.statusPanel2,
            "Track 0.0 holds no TR-DOS catalog: the file's bytes are kept as plain sectors.");
  EXPECT_EQ(r.imageFileName, "game.trdx");
  EXPECT_TRUE(r.logLine.empty());
}

TEST_F(LoadImageFileTest, UnsupportedExtensionLeavesAnEmptyImage) {
  test::FillStandardDisk(*disk, 2);
  WriteBytes(dir / "a.xyz", PatternBytes(100, 1));
  const LoadResult r = LoadImageFile(*disk, dir / "a.xyz");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.errorText, "Данный тип файлов не поддерживается!");
  EXPECT_TRUE(r.logLine.empty());
  EXPECT_TRUE(r.statusPanel1.empty());
  EXPECT_EQ(disk->CountTracks(), 0);
}

TEST_F(LoadImageFileTest, FailedReaderWritesItsLogLineAndEmptiesTheImage) {
  test::FillStandardDisk(*disk, 2);
  WriteBytes(dir / "bad.fdi", {'F', 'D', 'X'});
  const LoadResult r = LoadImageFile(*disk, dir / "bad.fdi");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.errorText, "Not FDI file!");
  EXPECT_EQ(r.logLine, "Error load FDI -\"Not FDI file!\"");
  EXPECT_EQ(r.statusPanel1, "Disk Image load error");
  EXPECT_EQ(disk->CountTracks(), 0);
}

TEST_F(LoadImageFileTest, MissingTrdFileIsAFailure) {
  test::FillStandardDisk(*disk, 2);
  const LoadResult r = LoadImageFile(*disk, dir / "none.trd");
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.errorText.empty());
  EXPECT_EQ(disk->CountTracks(), 0);
}

TEST_F(LoadImageFileTest, SaveReportsRefusalsAndUnknownTypes) {
  SaveOptions options;
  SaveResult r = SaveImageFile(*disk, dir / "x.xyz", options);
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.knownType);

  disk->GetTrack(0).Present = 0xFF;  // a track without sectors
  r = SaveImageFile(*disk, dir / "x.trd", options);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.knownType);
  EXPECT_EQ(r.errorText,
            "Track 0.0 holds no sectors; a TRD file needs sectors 1-16 of 256 bytes there!");

  test::FillStandardDisk(*disk, 4);
  r = SaveImageFile(*disk, dir / "x.trd", options);
  EXPECT_TRUE(r.ok) << r.errorText;
}

}  // namespace
}  // namespace kelvara
