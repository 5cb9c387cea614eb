// The TR-DOS file commands of kelvara-cli, run as a user runs them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "cli/Cli.h"
#include "support/CliRun.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

using test::HobetaBytes;
using test::PatternFile;
using test::ReadBytes;
using test::SclBytes;
using test::WriteBytes;

using test::CliRun;

CliRun Cli(std::vector<std::string> args) {
  return test::RunCliArgs(std::move(args));
}

class TrdosCli : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string image = dir / "d.trd";
  test::TrdosFile boot = PatternFile("boot", 'B', 2, 1);
  test::TrdosFile code = PatternFile("code", 'C', 20, 2);
  test::TrdosFile x = PatternFile("x", 'C', 1, 3);

  void SetUp() override {
    WriteBytes(dir / "game.scl", SclBytes({boot, code}));
    WriteBytes(dir / "x.$C", HobetaBytes(x));
    ASSERT_EQ(Cli({"new", "trdos", image, "--name", "TEST"}).status, 0);
    const CliRun r = Cli({"add", image, dir / "game.scl", dir / "x.$C"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
};

TEST_F(TrdosCli, CommandsAgreeWithEachOther) {
  CliRun r = Cli({"cat", image});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Название дискеты:   TEST"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Количество файлов:  3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("code      C     8000   1400    14       02     01"), std::string::npos)
      << r.out;

  r = Cli({"extract", image, "--hobeta", "-o", dir / "out/"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "out/x.$C"), HobetaBytes(x));
  EXPECT_EQ(ReadBytes(dir / "out/code.$C"), HobetaBytes(code));

  ASSERT_EQ(Cli({"rm", image, "boot.B"}).status, 0);
  r = Cli({"cat", image, "--deleted"});
  EXPECT_NE(r.out.find("?oot      B"), std::string::npos) << r.out;
  ASSERT_EQ(Cli({"compact", image}).status, 0);
  r = Cli({"cat", image, "--deleted"});
  EXPECT_EQ(r.out.find("?oot"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Свободных секторов: 2523"), std::string::npos) << r.out;

  ASSERT_EQ(Cli({"convert", image, dir / "d.scl"}).status, 0);
  EXPECT_EQ(ReadBytes(dir / "d.scl"), SclBytes({code, x}));
  r = Cli({"extract", image, "x.C", "code.C", "--scl", dir / "pick.scl"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "pick.scl"), SclBytes({x, code}));
}

TEST_F(TrdosCli, AFailedCommandLeavesTheImageAsItWas) {
  const auto before = ReadBytes(image);
  WriteBytes(dir / "y.$C", HobetaBytes(PatternFile("y", 'C', 1)));
  CliRun r = Cli({"add", image, dir / "y.$C", dir / "x.$C"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Файл с именем x       .C в образе уже существует..!"), std::string::npos)
      << r.err;
  r = Cli({"rm", image, "boot.B", "nope.C"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no file nope.C on the disk"), std::string::npos) << r.err;
  EXPECT_EQ(ReadBytes(image), before);

  // A free pointer on the catalog track: the file would land in the catalog.
  std::vector<uint8_t> broken = before;
  broken[8 * 256 + 0xE1] = 3;
  broken[8 * 256 + 0xE2] = 0;
  WriteBytes(image, broken);
  r = Cli({"add", image, dir / "y.$C"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Каталог диска поврежден..!"), std::string::npos) << r.err;
  EXPECT_EQ(ReadBytes(image), broken);

  WriteBytes(dir / "plain.trd", std::vector<uint8_t>(655360, 0));
  r = Cli({"cat", dir / "plain.trd"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Образ не соответствует стандартному TR-DOS диску!"), std::string::npos);
}

TEST_F(TrdosCli, ExtractOverwritesOnlyWhenTold) {
  CliRun r = Cli({"extract", image, "code.C", "--raw", "-o", dir.Path()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "code.C"), code.data);
  WriteBytes(dir / "code.C", {1});
  // As a script runs it: no terminal to ask.
  const std::string cmd = std::string(KELVARA_CLI_PATH) + " extract " + image +
                          " code.C --raw -o " + dir.Path() + " </dev/null 2>/dev/null";
  EXPECT_NE(std::system(cmd.c_str()), 0);
  EXPECT_EQ(ReadBytes(dir / "code.C"), std::vector<uint8_t>{1});
  ASSERT_EQ(Cli({"extract", image, "code.C", "--raw", "-f", "-o", dir.Path()}).status, 0);
  EXPECT_EQ(ReadBytes(dir / "code.C"), code.data);
}

}  // namespace
}  // namespace kelvara
