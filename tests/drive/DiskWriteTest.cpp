// The writing run against the virtual drive, and the round trip a user
// relies on: write an image onto a disk, read the disk back into a fresh one.
#include <gtest/gtest.h>

#include "drive/DriveRig.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::AddSector;
using test::DriveRig;
using test::FillStandardDisk;
using test::PatternBytes;

std::vector<uint8_t> DataOf(const TSectorRec& s) {
  return {s.Data().begin(), s.Data().begin() + s.DataLength()};
}

TEST(DiskWrite, FormatWriteThenScanReadGivesTheSameImage) {
  auto original = std::make_unique<TZX_Disk>();
  FillStandardDisk(*original, 6, 3);
  // Cylinder 3: nine 512-byte sectors on side 0, five 1024-byte ones with
  // odd IDs on side 1.
  for (int r = 1; r <= 9; ++r)
    AddSector(*original, 6, 3, 0, static_cast<uint8_t>(r), 2, PatternBytes(512, 60 + r));
  for (int r = 1; r <= 5; ++r)
    AddSector(*original, 7, 44, 7, static_cast<uint8_t>(r * 3), 3, PatternBytes(1024, 70 + r));

  DriveRig rig;
  rig.settings.LastTrack = 7;
  for (int t = 0; t < 8; ++t)
    rig.image->GetTrack(static_cast<uint8_t>(t)) = original->GetTrack(static_cast<uint8_t>(t));
  EXPECT_EQ(rig.Run(kModeFormat | kModeWrite).end, OperationEnd::Finished);
  EXPECT_EQ(rig.host.LogTexts(),
            (std::vector<std::string>{"Начало операции!", "Операция выполнена!"}));

  rig.image = std::make_unique<TZX_Disk>();
  const OperationResult r = rig.Run(kModeScan | kModeRead);
  EXPECT_EQ(r.end, OperationEnd::Finished);
  EXPECT_EQ(r.badSectors, 0);
  test::ExpectSameSectors(*original, *rig.image);
}

TEST(DiskWrite, SkipsAbsentTracksAndWritesEverySlotAsItIs) {
  DriveRig rig;
  TZX_Disk& image = *rig.image;
  FillStandardDisk(image, 5);
  image.GetTrack(2).ClearTrack();
  // A sector marked bad is written with the data it holds.
  image.GetTrack(0).Sectors[4].DataOk = 0;
  // Mixed size codes: the command takes slot 0's, each ID keeps its own.
  TTrack& t3 = image.GetTrack(3);
  t3.ClearTrack();
  AddSector(image, 3, 1, 1, 1, 1, PatternBytes(256, 1));
  AddSector(image, 3, 1, 1, 2, 3, PatternBytes(1024, 2));
  rig.settings.LastTrack = 3;

  rig.Run(kModeFormat);
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Seek), 1 + 3);
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Format), 3);
  EXPECT_EQ(rig.host.progress, 4);
  EXPECT_EQ(rig.host.progressMax, 4);
  EXPECT_FALSE(rig.Disk().GetTrack(2).Present);
  const TSectorRec& formatted = rig.Disk().GetTrack(3).Sectors[1];
  EXPECT_EQ(formatted.SizeCode, 3);
  EXPECT_EQ(formatted.DataLength(), 256);
  EXPECT_EQ(DataOf(formatted), std::vector<uint8_t>(256, 0x00));

  rig.Run(kModeWrite);
  EXPECT_EQ(rig.host.LogTexts(),
            (std::vector<std::string>{"Начало операции!", "Операция выполнена!"}));
  const TSectorRec& written = rig.Disk().GetTrack(0).Sectors[4];
  EXPECT_EQ(written.DataOk, 0xFF);
  EXPECT_EQ(DataOf(written), DataOf(image.GetTrack(0).Sectors[4]));
  EXPECT_EQ(DataOf(rig.Disk().GetTrack(3).Sectors[1]), PatternBytes(1024, 2));
  // The image itself is not changed by writing it.
  EXPECT_EQ(image.GetTrack(0).Sectors[4].DataOk, 0);
}

// Double stepping puts the disk's cylinder n under the drive's 2n: an image
// past 42 cylinders is refused before anything moves, naming the setting; a
// read ends at the drive's last cylinder and says so.
TEST(DiskWrite, DoubleSteppingRefusesAnImagePastFortyTwoCylinders) {
  DriveRig rig;
  FillStandardDisk(*rig.image, 160);
  rig.settings.DoubleStep = true;
  rig.Run(kModeFormat | kModeWrite);
  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_NE(rig.host.MessageTexts()[0].find("DoubleStep"), std::string::npos);
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Reset), 0);
  const DriveRunPlan read = rig.session.Plan(kModeScan, *rig.image, rig.settings);
  EXPECT_TRUE(read.start);
  EXPECT_EQ(read.lastTrack, 83);
  EXPECT_EQ(read.messages, std::vector<std::string>{kDoubleStepReadText});
  rig.settings.LastTrack = 83;
  EXPECT_TRUE(rig.session.Plan(kModeWrite, *rig.image, rig.settings).start);
}

TEST(DiskWrite, FailuresAreLoggedAndTheRunGoesOn) {
  DriveRig rig;
  FillStandardDisk(*rig.image, 2);
  rig.settings.LastTrack = 1;

  // An unformatted disk: every sector is not found.
  rig.Run(kModeWrite);
  const auto log = rig.host.LogTexts();
  ASSERT_EQ(log.size(), 2u + 32u);
  EXPECT_EQ(log[1], "Ошибка записи сектора  - 27 (Track - 0 / Sector - 1)");
  EXPECT_EQ(log[32], "Ошибка записи сектора  - 27 (Track - 1 / Sector - 16)");
  EXPECT_EQ(log.back(), "Операция выполнена!");
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Write), 32 * 10);

  // A slot with no data goes to the drive as an empty write and fails.
  rig.image->GetTrack(1).Sectors[0].ClearData();
  rig.Run(kModeFormat | kModeWrite);
  EXPECT_EQ(rig.host.LogTexts(),
            (std::vector<std::string>{"Начало операции!",
                                      "Ошибка записи сектора  - 87 (Track - 1 / Sector - 1)",
                                      "Операция выполнена!"}));

  // Write protection stops the run at the first refusal, with one line
  // naming it, in LOG only; nothing is retried.
  rig.drive.SetWriteProtected(true);
  const int formats = rig.drive.CallCount(DriveCall::Format);
  const OperationResult stopped = rig.Run(kModeFormat | kModeWrite);
  EXPECT_EQ(stopped.end, OperationEnd::Stopped);
  EXPECT_EQ(rig.host.LogTexts(),
            (std::vector<std::string>{"Начало операции!",
                                      "Ошибка форматирования - 19 (Track - 0): the disk is "
                                      "write-protected",
                                      "Операция остановлена!"}));
  EXPECT_EQ(rig.host.MessageTexts(), std::vector<std::string>{stopped.stopReason});
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Format), formats + 1);
  EXPECT_TRUE(rig.image->GetTrack(0).Log.empty());

  // A cancel during the format's retries ends the run there.
  rig.drive.SetWriteProtected(false);
  rig.settings.LastTrack = 0;
  rig.host.events = 0;
  rig.host.cancelAfterEvents = 2;
  const int before = rig.drive.CallCount(DriveCall::Format);
  rig.drive.AddFault({DriveCall::Format, before + 1, before + 10, 1117});
  EXPECT_EQ(rig.Run(kModeFormat | kModeWrite).end, OperationEnd::Cancelled);
  EXPECT_EQ(rig.drive.CallCount(DriveCall::Format), before + 2);
  EXPECT_EQ(rig.host.LogTexts().back(), "Операция отменена пользователем!");
}

}  // namespace
}  // namespace kelvara
