// read, write and drive-cat of kelvara-cli over the virtual drive.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "formats/Trd.h"
#include "support/CliRun.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

using test::CliRun;
using test::RunCliArgs;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

TEST(CliDrive, ReadReproducesTheDiskAndPrintsTheLog) {
  TempDir dir;
  const auto disk = PatternBytes(160 * 4096, 8);
  WriteBytes(dir / "in.trd", disk);
  CliRun r = RunCliArgs({"read", dir / "out.trd", "--virtual-drive", dir / "in.trd"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "out.trd"), disk);
  const auto log = Lines(r.out);
  ASSERT_EQ(log.size(), 2u + 2u * 160u);
  EXPECT_EQ(log.front(), "Начало операции!");
  EXPECT_EQ(log[1], "Начало сканирования дорожки - 0");
  EXPECT_EQ(log[2], "Данные приняты - 65 bytes");
  EXPECT_EQ(log.back(), "Операция выполнена!");
  EXPECT_NE(r.err.find("Driver version - 01000100 / FDC Type - 82077AA"), std::string::npos);
  EXPECT_NE(r.err.find("Simulated drive time: "), std::string::npos);

  // Sector 5 of track 0 fails all ten attempts; track 1 is read again later
  // by its labels alone.
  r = RunCliArgs({"read", dir / "bad.trd", "--virtual-drive", dir / "in.trd", "--last", "1",
                  "--fault", "read:5-14:23"});
  ASSERT_EQ(r.status, 2) << r.err;
  const auto lines = Lines(r.out);
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), "Ошибка чтения сектора  - 23 (Track - 0 / Sector - 5)"),
      lines.end());
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
            (std::vector<std::string>{"Операция выполнена!", "Сбойных секторов - 1"}));
  r = RunCliArgs({"read", dir / "bad.trd", "--virtual-drive", dir / "in.trd", "--sectors-only",
                  "--first", "1", "--last", "1", "--retries", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Начало операции!", "Операция выполнена!"}));
}

// --fast reads the same file in less drive time, and only with the scan.
TEST(CliDrive, FastReadIsTheSameFileSooner) {
  TempDir dir;
  const auto disk = PatternBytes(160 * 4096, 5);
  WriteBytes(dir / "in.trd", disk);
  const CliRun r =
      RunCliArgs({"read", dir / "out.trd", "--virtual-drive", dir / "in.trd", "--fast"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "out.trd"), disk);
  EXPECT_NE(r.err.find("Simulated drive time: 64.0 s"), std::string::npos) << r.err;
  for (const char* other : {"--scan-only", "--sectors-only"})
    EXPECT_EQ(
        RunCliArgs({"read", dir / "out.trd", "--virtual-drive", dir / "in.trd", "--fast", other})
            .status,
        1)
        << other;
}

TEST(CliDrive, WriteChangesTheVirtualDiskFile) {
  TempDir dir;
  const auto image = PatternBytes(4 * 4096, 2);
  WriteBytes(dir / "image.trd", image);
  CliRun r = RunCliArgs({"write", dir / "image.trd", "--virtual-drive", dir / "disk.trd"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("does not exist: the drive holds an unformatted disk"), std::string::npos);
  EXPECT_EQ(ReadBytes(dir / "disk.trd"), image);

  // A write that no sector survives fails the command: an unformatted disk,
  // a write-protected one. A disk file of a type that cannot be written is
  // refused before the drive is touched.
  const struct {
    std::vector<std::string> args;
    const char* firstLine;
  } failing[] = {
      {{"--no-format", "--virtual-drive", dir / "blank.trd"},
       "Ошибка записи сектора  - 27 (Track - 0 / Sector - 1)"},
      {{"--virtual-drive", dir / "disk.trd", "--fault", "format:1-1000:19", "--fault",
        "write:1-1000:19"},
       "Ошибка форматирования - 19 (Track - 0)"},
  };
  for (const auto& f : failing) {
    std::vector<std::string> args = {"write", dir / "image.trd", "--last", "0", "--retries", "1"};
    args.insert(args.end(), f.args.begin(), f.args.end());
    r = RunCliArgs(args);
    EXPECT_EQ(r.status, 1) << f.firstLine;
    ASSERT_GE(Lines(r.out).size(), 2u);
    EXPECT_EQ(Lines(r.out)[1], f.firstLine);
    EXPECT_NE(r.err.find("write-protected"), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadBytes(dir / "disk.trd"), image);
  r = RunCliArgs({"write", dir / "image.trd", "--virtual-drive", dir / "disk.xyz"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_NE(r.err.find("Данный тип файлов не поддерживается!"), std::string::npos) << r.err;
}

TEST(CliDrive, DriveCatAndRefusals) {
  TempDir dir;
  auto image = std::make_unique<TZX_Disk>();
  test::BuildTrdosDisk(
      *image, {test::PatternFile("GAME", 'B', 3), test::PatternFile("PIC", 'C', 27)}, "DRIVECAT");
  ASSERT_TRUE(SaveTRD(*image, dir / "in.trd"));
  CliRun r = RunCliArgs({"drive-cat", "--virtual-drive", dir / "in.trd"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("DRIVECAT"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("GAME"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("PIC"), std::string::npos) << r.out;

  // A disk that is no TR-DOS volume is said to be so.
  WriteBytes(dir / "junk.trd", PatternBytes(2 * 4096, 5));
  r = RunCliArgs({"drive-cat", "--virtual-drive", dir / "junk.trd"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err).back(), "Ошибка! Диск не соответствует формату TR-DOS!.");
  EXPECT_EQ(r.err.find("TR-DOS"), r.err.rfind("TR-DOS")) << "the refusal is said once: " << r.err;

  r = RunCliArgs({"drive-cat", "--virtual-drive", dir / "in.trd", "--fault", "read:1-5:21"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Ошибка! Ошибка - 21 при чтении 0 дорожки!"), std::string::npos);

  // An empty drive: nothing read, no file, and the command fails.
  r = RunCliArgs({"read", dir / "none.trd", "--virtual-drive", dir / "absent.trd", "--last", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("was not written"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "none.trd"));

  r = RunCliArgs(
      {"read", dir / "out.trd", "--virtual-drive", dir / "in.trd", "--fault", "open-driver:1:2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Ошибка! Ошибка загрузки драйвера!"), std::string::npos);
  EXPECT_TRUE(ReadBytes(dir / "out.trd").empty());

  EXPECT_EQ(RunCliArgs({"read", dir / "x.trd", "--sectors-only"}).status,
            1);  // x.trd has no labels
  EXPECT_EQ(RunCliArgs({"read", dir / "x.trd", "--fault", "read:1"}).status, 1);
}

// 0 when every sector was done, 2 when the run finished with some not done
// (counted on the last line), 1 when nothing was done: a write whose every
// sector write failed after its tracks were formatted did nothing.
TEST(CliDrive, ExitStatusSaysHowMuchWasDone) {
  TempDir dir;
  WriteBytes(dir / "in.trd", PatternBytes(2 * 4096, 3));
  const struct {
    std::vector<std::string> args;
    int status;
    const char* lastLine;
  } cases[] = {
      {{"read", dir / "out.trd", "--fault", "read:5:23"},
       2,
       "kelvara-cli: finished with 1 sector(s) bad or missing"},
      {{"read", dir / "out.trd", "--fault", "scan:2:21", "--fault", "read:3:23"},
       2,
       "kelvara-cli: finished with 1 sector(s) bad or missing, 1 track(s) not scanned"},
      {{"read", dir / "out.trd", "--fault", "read:1-1000:23"},
       1,
       "kelvara-cli: no sector of the disk could be read"},
      {{"read", dir / "out.trd", "--scan-only", "--fault", "scan:1-1000:21"},
       1,
       "kelvara-cli: no track of the disk was read; "},
      {{"write", dir / "in.trd", "--fault", "write:3:19"},
       2,
       "kelvara-cli: finished with 1 sector(s) not written"},
      {{"write", dir / "in.trd", "--fault", "write:1-1000:19"},
       1,
       "kelvara-cli: nothing could be written onto the disk (is it write-protected, or not "
       "formatted?)"},
      {{"write", dir / "in.trd", "--format-only", "--fault", "format:2:19"},
       2,
       "kelvara-cli: finished with 1 track(s) not formatted"},
  };
  for (const auto& c : cases) {
    WriteBytes(dir / "disk.trd", PatternBytes(2 * 4096, 4));
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--virtual-drive", dir / "disk.trd", "--last", "1", "--retries", "1"});
    const CliRun r = RunCliArgs(args);
    EXPECT_EQ(r.status, c.status) << c.lastLine << "\n" << r.err;
    ASSERT_FALSE(Lines(r.err).empty()) << c.lastLine;
    EXPECT_EQ(Lines(r.err).back().rfind(c.lastLine, 0), 0u) << Lines(r.err).back();
  }
}

}  // namespace
}  // namespace kelvara
