#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "cli/Cli.h"
#include "filesystems/Trdos.h"
#include "formats/Trd.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::TempDir;

int RunCliArgs(std::vector<const char*> args) {
  std::ostringstream out, err;
  args.insert(args.begin(), "kelvara-cli");
  return cli::RunCli(static_cast<int>(args.size()), args.data(), out, err);
}

TEST(DemoDisk, IsATrDosDiskWithALoaderAScreenAndCode) {
  TempDir dir;
  const std::string path = dir / "demo.trd";
  ASSERT_EQ(RunCliArgs({"demo", path.c_str()}), 0);
  auto disk = std::make_unique<TZX_Disk>();
  ASSERT_TRUE(LoadTRD(*disk, path));
  TTrdosCatalog cat;
  ASSERT_TRUE(ReadTrdosCatalog(*disk, cat));
  ASSERT_EQ(cat.FileCount, 3);
  EXPECT_EQ(TrdosNameText(cat.DiskName), "DEMO    ");
  const TTrdosFileEntry& boot = cat.Entries[0];
  const TTrdosFileEntry& screen = cat.Entries[1];
  EXPECT_EQ(boot.FileType, 'B');
  EXPECT_EQ(screen.FileType, 'C');
  EXPECT_EQ(screen.Start, 16384);
  EXPECT_EQ(screen.Length, 6912);
  EXPECT_EQ(cat.FreeSectors, 2544 - 1 - 27 - 4);
  // The BASIC program is followed by TR-DOS's autostart mark.
  const TSectorRec* first = GetLogicalSector(*disk, boot.FirstTrack, boot.FirstSector + 1);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Data()[boot.Length], 0x80);
  EXPECT_EQ(first->Data()[boot.Length + 1], 0xAA);
}

}  // namespace
}  // namespace kelvara
