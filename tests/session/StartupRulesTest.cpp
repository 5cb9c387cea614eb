#include "session/StartupRules.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

TEST(CommandLine, FirstPlainArgumentIsTheImageBesideTheVirtualDrive) {
  EXPECT_EQ(ParseCommandLine({}).image, "");
  CommandLine line = ParseCommandLine({"--virtual-drive", "d.trd", "a.udi", "b.trd"});
  EXPECT_EQ(line.image, "a.udi");
  EXPECT_EQ(line.virtualDrive, "d.trd");
  line = ParseCommandLine({"a.udi", "--virtual-drive=d.trd"});
  EXPECT_EQ(line.image, "a.udi");
  EXPECT_EQ(line.virtualDrive, "d.trd");
}

TEST(Handoff, MessageCarriesTheImageOrJustRaises) {
  EXPECT_EQ(HandoffMessage("", "/home/u"), "s");
  EXPECT_EQ(HandoffMessage("/img/disk.trd", "/home/u"), "v/img/disk.trd");
  // Bytes of any code page travel unchanged.
  EXPECT_EQ(HandoffMessage("/img/\xD0\x94\xE9.trd", "/"), "v/img/\xD0\x94\xE9.trd");
  // The running copy's folder is not the sender's.
  EXPECT_EQ(HandoffMessage("disk.trd", "/home/u/games"), "v/home/u/games/disk.trd");
  EXPECT_EQ(HandoffMessage("sub/disk.trd", "/home/u/"), "v/home/u/sub/disk.trd");
}

TEST(Handoff, OnlyLoadMessagesWithAPathWithinTheLimitGiveAPath) {
  EXPECT_EQ(HandoffPath("v/img/disk.trd"), "/img/disk.trd");
  EXPECT_EQ(HandoffPath("s"), std::nullopt);
  EXPECT_EQ(HandoffPath("x/img/disk.trd"), std::nullopt);
  EXPECT_EQ(HandoffPath("v"), std::nullopt);
  EXPECT_EQ(HandoffPath(""), std::nullopt);
  const std::string longest = "v/" + std::string(kMaxHandoffMessage - 2, 'a');
  EXPECT_EQ(HandoffPath(longest), longest.substr(1));
  EXPECT_EQ(HandoffPath(longest + "a"), std::nullopt);
}

TEST(Drop, OneFileOnTheMapLoadsAnythingElseBeeps) {
  const MapArea map{0, 34, 700, 400};
  EXPECT_EQ(ClassifyDrop(10, 40, map, 1), DropAction::Load);
  EXPECT_EQ(ClassifyDrop(699, 433, map, 1), DropAction::Load);
  EXPECT_EQ(ClassifyDrop(10, 40, map, 2), DropAction::Beep);
  EXPECT_EQ(ClassifyDrop(10, 20, map, 1), DropAction::Beep);   // the header strip
  EXPECT_EQ(ClassifyDrop(10, 434, map, 1), DropAction::Beep);  // the LOG list below
  EXPECT_EQ(ClassifyDrop(700, 40, map, 1), DropAction::Beep);  // the hex panel
  EXPECT_EQ(ClassifyDrop(10, 40, map, 0), DropAction::Ignore);
}

TEST(MainWindowPlacement, MaximizedOnlyWhenTheDesignedSizeDoesNotFit) {
  EXPECT_FALSE(PlaceMainWindow(1920, 1080, 10, 40).maximized);
  EXPECT_EQ(PlaceMainWindow(1920, 1080, 10, 40).minimumWidth, 1200);
  EXPECT_TRUE(PlaceMainWindow(1317, 1080, 10, 40).maximized);  // the frame does not fit
  EXPECT_TRUE(PlaceMainWindow(1920, 660, 10, 40).maximized);
  EXPECT_EQ(PlaceMainWindow(1024, 768, 10, 40).minimumWidth, 1014);
}

TEST(FixedWindowWidth, GrowsOnlyForACaptionThatWouldBeCut) {
  EXPECT_EQ(FixedWindowWidth(245, 100, 30), 245);
  EXPECT_EQ(FixedWindowWidth(245, 125, 30), 245);
  EXPECT_EQ(FixedWindowWidth(245, 126, 30), 246);
}

// Restored from maximized, the window and its frame fit the room; the
// designed size stays where it fits.
TEST(MainWindowPlacement, RestoredSizeFitsTheAvailableArea) {
  const struct {
    int screenWidth, screenHeight, width, height;
  } cases[] = {{1920, 1080, 1313, 646},
               {1024, 768, 1014, 646},
               {1920, 600, 1313, 560},
               {1322, 685, 1312, 645}};
  for (const auto& c : cases) {
    const MainWindowPlacement p = PlaceMainWindow(c.screenWidth, c.screenHeight, 10, 40);
    EXPECT_EQ(p.width, c.width) << c.screenWidth << "x" << c.screenHeight;
    EXPECT_EQ(p.height, c.height) << c.screenWidth << "x" << c.screenHeight;
  }
}

}  // namespace
}  // namespace kelvara
