// kelvara-cli run as a user runs it: as a process, reading and writing files.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sstream>

#include "cli/Cli.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::PatternBytes;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

struct ProcessRun {
  int status;
  std::string output;  // stdout and stderr together
};

ProcessRun RunCliProcess(const std::string& args) {
  const std::string command = std::string(KELVARA_CLI_PATH) + " " + args + " 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  ProcessRun r{-1, {}};
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
    r.output.append(buf.data(), n);
  const int status = ::pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(CliProcess, ConvertReproducesATrdAndInfoSummarisesIt) {
  TempDir dir;
  const auto file = PatternBytes(655360, 42);
  WriteBytes(dir / "a.trd", file);
  ProcessRun r = RunCliProcess("convert " + dir / "a.trd" + " " + dir / "b.trd");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadBytes(dir / "b.trd"), file);

  r = RunCliProcess("info " + dir / "b.trd");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Format:    TRD"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Tracks:    160 present (0.0-79.1)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Sectors:   16 per track"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Good:      2560"), std::string::npos) << r.output;
}

TEST(CliProcess, FailuresAndBadUsageHaveTheirExitCodes) {
  TempDir dir;
  WriteBytes(dir / "bad.udi", {1, 2, 3});
  ProcessRun r = RunCliProcess("info " + dir / "bad.udi");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Error UDI file!"), std::string::npos) << r.output;

  r = RunCliProcess("convert " + dir / "bad.udi" + " " + dir / "x.xyz");
  EXPECT_EQ(r.status, 1);

  WriteBytes(dir / "a.trd", PatternBytes(4096, 1));
  r = RunCliProcess("convert " + dir / "a.trd" + " " + dir / "x.xyz");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Данный тип файлов не поддерживается!"), std::string::npos);

  // Bad usage is a refusal, as for every command.
  EXPECT_EQ(RunCliProcess("").status, 1);
  EXPECT_EQ(RunCliProcess("frobnicate").status, 1);
  EXPECT_EQ(RunCliProcess("convert onlyone.trd").status, 1);
  r = RunCliProcess("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("convert"), std::string::npos);
}

TEST(CliInProcess, InfoListsTheCommentLinesAndNotes) {
  TempDir dir;
  WriteBytes(dir / "s.trd", PatternBytes(6144, 1));
  std::ostringstream out, err;
  const std::string path = dir / "s.trd";
  const char* argv[] = {"kelvara-cli", "info", path.c_str()};
  EXPECT_EQ(cli::RunCli(3, argv, out, err), 0) << err.str();
  EXPECT_NE(out.str().find("Sectors:   8-16 per track"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("Note:      TRD file ends inside track 0.1"), std::string::npos);
}

}  // namespace
}  // namespace kelvara
