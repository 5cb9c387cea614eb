#include <gtest/gtest.h>

#include <sstream>

#include "cli/Cli.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::ReadBytes;
using test::TempDir;

int RunCliArgs(std::vector<const char*> args) {
  std::ostringstream out, err;
  args.insert(args.begin(), "kelvara-cli");
  return cli::RunCli(static_cast<int>(args.size()), args.data(), out, err);
}

TEST(DemoDisk, IsATrDosDiskWithItsThreeFilesCatalogued) {
  TempDir dir;
  const std::string path = dir / "demo.trd";
  ASSERT_EQ(RunCliArgs({"demo", path.c_str()}), 0);
  const std::vector<uint8_t> d = ReadBytes(path);
  ASSERT_EQ(d.size(), 160u * 4096);
  const auto at = [&d](size_t i) { return d[i]; };
  const auto word = [&d](size_t i) { return d[i] | d[i + 1] << 8; };
  // Catalog: name, type, start, length, sectors, first sector, first track.
  EXPECT_EQ(std::string(d.begin() + 16, d.begin() + 24), "screen  ");
  EXPECT_EQ(at(24), 'C');
  EXPECT_EQ(word(25), 16384);
  EXPECT_EQ(word(27), 6912);
  EXPECT_EQ(at(29), 27);
  const size_t screen = (at(31) * 16 + at(30)) * 256;
  EXPECT_EQ(at(screen + 6144), 0x47);  // the first attribute: paper 0, ink 7, bright
  // The BASIC loader's autostart mark lies just past the program.
  const size_t boot = (at(15) * 16 + at(14)) * 256;
  EXPECT_EQ(at(boot + word(11)), 0x80);
  EXPECT_EQ(at(boot + word(11) + 1), 0xAA);
  // Service sector: the free space follows the files, three files, TR-DOS mark.
  const size_t info = 8 * 256;
  EXPECT_EQ(at(info + 0xE2) * 16 + at(info + 0xE1), 16 + 1 + 27 + 4);
  EXPECT_EQ(at(info + 0xE4), 3);
  EXPECT_EQ(word(info + 0xE5), 2544 - 32);
  EXPECT_EQ(at(info + 0xE7), 0x10);
}

TEST(DemoDisk, UnsupportedOutputTypeFails) {
  TempDir dir;
  EXPECT_EQ(RunCliArgs({"demo", (dir / "demo.dsk").c_str()}), 1);
}

}  // namespace
}  // namespace kelvara
