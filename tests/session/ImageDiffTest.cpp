#include "session/ImageDiff.h"

#include <gtest/gtest.h>

#include <functional>

#include "filesystems/Trdos.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

void Build(TZX_Disk& disk) {
  test::BuildTrdosDisk(disk, {test::PatternFile("A", 'C', 2), test::PatternFile("B", 'C', 3, 2)});
}

// An image against itself and against one change of each kind.
TEST(ImageDiff, OneChangeGivesOneDifference) {
  using K = SectorDifference::Kind;
  struct Case {
    const char* what;
    std::function<void(TZX_Disk&)> change;
    K kind;
    int track, sector;
    std::vector<FileDifference> files;
  };
  const Case cases[] = {
      {"a byte of a free sector",
       [](TZX_Disk& d) { GetLogicalSector(d, 9, 3)->MutableData()[7] ^= 1; },
       K::Bytes,
       9,
       3,
       {}},
      {"a byte of file B",
       [](TZX_Disk& d) { GetLogicalSector(d, 1, 4)->MutableData()[0] ^= 1; },
       K::Bytes,
       1,
       4,
       {{FileDifference::Kind::Bytes, "B.C"}}},
      {"a track removed",
       [](TZX_Disk& d) { d.GetTrack(20).Present = 0; },
       K::TrackOnlyInA,
       20,
       -1,
       {}},
      {"a sector removed",
       [](TZX_Disk& d) { GetLogicalSector(d, 30, 16)->Present = 0; },
       K::OnlyInA,
       30,
       16,
       {}},
      {"a bad CRC",
       [](TZX_Disk& d) { GetLogicalSector(d, 40, 1)->DataOk = 0; },
       K::State,
       40,
       1,
       {}},
      {"a size code",
       [](TZX_Disk& d) { GetLogicalSector(d, 50, 2)->SizeCode = 2; },
       K::Id,
       50,
       2,
       {}},
  };
  auto a = std::make_unique<TZX_Disk>(), b = std::make_unique<TZX_Disk>();
  Build(*a);
  Build(*b);
  EXPECT_TRUE(DiffImages(*a, *b).Same());
  for (const Case& c : cases) {
    Build(*b);
    c.change(*b);
    const ImageDifference d = DiffImages(*a, *b);
    ASSERT_EQ(d.sectors.size(), 1u) << c.what;
    EXPECT_EQ(d.sectors[0].kind, c.kind) << c.what;
    EXPECT_EQ(d.sectors[0].track, c.track) << c.what;
    EXPECT_EQ(d.sectors[0].sector, c.sector) << c.what;
    ASSERT_EQ(d.files.size(), c.files.size()) << c.what;
    for (size_t i = 0; i < c.files.size(); ++i) {
      EXPECT_EQ(d.files[i].kind, c.files[i].kind) << c.what;
      EXPECT_EQ(d.files[i].name, c.files[i].name) << c.what;
    }
  }
  // Where the bytes differ and how many.
  Build(*b);
  GetLogicalSector(*b, 9, 3)->MutableData()[7] ^= 1;
  GetLogicalSector(*b, 9, 3)->MutableData()[9] ^= 1;
  const SectorDifference s = DiffImages(*a, *b).sectors.at(0);
  EXPECT_EQ(s.firstOffset, 7);
  EXPECT_EQ(s.differing, 2);
}

TEST(ImageDiff, FilesOnOneSideAndChangedEntries) {
  auto a = std::make_unique<TZX_Disk>(), b = std::make_unique<TZX_Disk>();
  Build(*a);
  test::BuildTrdosDisk(*b, {test::PatternFile("A", 'C', 2), test::PatternFile("C", 'C', 3, 2)});
  const ImageDifference d = DiffImages(*a, *b);
  EXPECT_TRUE(d.trdos);
  ASSERT_EQ(d.files.size(), 2u);
  EXPECT_EQ(d.files[0].kind, FileDifference::Kind::OnlyInA);
  EXPECT_EQ(d.files[0].name, "B.C");
  EXPECT_EQ(d.files[1].kind, FileDifference::Kind::OnlyInB);
  EXPECT_EQ(d.files[1].name, "C.C");
}

}  // namespace
}  // namespace kelvara
