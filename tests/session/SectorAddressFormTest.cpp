#include "session/SectorAddressForm.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace kelvara {
namespace {

TSectorRec ReadSlot() {
  TSectorRec s;
  s.SetId(7, 1, 9, 1);
  s.HeaderCrc = 0x1234;  // as read from a disk, not the ID's own CRC
  s.SetData(test::PatternBytes(256, 3));
  return s;
}

TEST(SectorAddress, NewIdAndStateLeaveTheDataAlone) {
  TSectorRec s = ReadSlot();
  SectorAddressForm f;
  f.Fill(s);
  EXPECT_EQ(f.CrcLabel(), "#1234");
  f.secText = "200";
  f.sidePosition = 0;
  f.sizePosition = 3;
  f.noErrors = true;
  f.Changed();
  f.Store(s);
  EXPECT_EQ(s.Sec, 200);
  EXPECT_EQ(s.Head, 0);
  EXPECT_EQ(s.SizeCode, 3);
  EXPECT_EQ(s.DataOk, 0xFF);
  EXPECT_EQ(s.HeaderCrc, IdFieldCrc(7, 0, 200, 3));
  EXPECT_EQ(s.DataLength(), 256);
  EXPECT_EQ(s.Data()[0], test::PatternBytes(256, 3)[0]);
}

TEST(SectorAddress, EmptyNumberFieldTurnsAcceptOffAgain) {
  SectorAddressForm f;
  f.Fill(ReadSlot());
  EXPECT_FALSE(f.AcceptEnabled());
  f.cylText = "";
  f.Changed();
  EXPECT_FALSE(f.AcceptEnabled());
  EXPECT_EQ(f.CrcLabel(), "#1234");
  f.cylText = "0";
  f.Changed();
  EXPECT_TRUE(f.AcceptEnabled());
  for (const char* bad : {"", "256", "1a", "-1", "1000"})
    EXPECT_FALSE(SectorAddressForm::ByteValue(bad)) << bad;
  EXPECT_EQ(SectorAddressForm::ByteValue("255"), 255);
}

TEST(SectorAddress, HeadAndSizeOutsideTheListsSurviveOtherChanges) {
  TSectorRec s = ReadSlot();
  s.Head = 3;
  s.SizeCode = 5;
  SectorAddressForm f;
  f.Fill(s);
  EXPECT_EQ(f.SideItems(), (std::vector<std::string>{"0", "1", "3"}));
  EXPECT_EQ(f.SizeItems(), (std::vector<std::string>{"128b", "256b", "512b", "1024b", "N=5"}));
  EXPECT_EQ(f.sidePosition, 2);
  EXPECT_EQ(f.sizePosition, 4);
  f.noErrors = true;
  f.Changed();
  f.Store(s);
  EXPECT_EQ(s.Head, 3);
  EXPECT_EQ(s.SizeCode, 5);
  EXPECT_EQ(s.HeaderCrc, IdFieldCrc(7, 3, 9, 5));
  f.sidePosition = 1;
  f.Changed();
  f.Store(s);
  EXPECT_EQ(s.Head, 1);
}

}  // namespace
}  // namespace kelvara
