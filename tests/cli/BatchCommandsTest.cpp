// convert --to, verify and diff run as a user runs them: exit codes and
// summaries over a small collection.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/CliRun.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::CliRun;
using test::WriteBytes;

CliRun Cli(std::vector<std::string> args) {
  return test::RunCliArgs(std::move(args));
}

class BatchCli : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string in = dir / "in", out = dir / "out";

  void SetUp() override {
    std::filesystem::create_directories(in + "/sub");
    ASSERT_EQ(Cli({"demo", in + "/demo.trd"}).status, 0);
    ASSERT_EQ(Cli({"new", "trdos", in + "/sub/empty.fdi"}).status, 0);
    ASSERT_EQ(Cli({"new", "trdos", in + "/sub/empty.trd"}).status, 0);  // the same output
    WriteBytes(in + "/broken.udi", {1, 2, 3});
  }
};

// A damaged file, a name collision and an existing output: the rest is
// converted, each failure is listed with its reason, the exit status says
// "some failed"; a run that converts nothing says so.
TEST_F(BatchCli, ConvertGoesOnPastFailures) {
  std::filesystem::create_directories(out);
  WriteBytes(out + "/demo.udi", {7});
  CliRun r = Cli({"convert", "--to", "UDI", "-o", out, "-r", "--jobs", "2", in});
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.out.find("Converted 1 of 4 file(s)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("broken.udi: Error UDI file!"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("empty.trd: the same output as " + in + "/sub/empty.fdi"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("demo.udi exists (--force replaces it)"), std::string::npos) << r.out;
  EXPECT_TRUE(std::filesystem::exists(out + "/sub/empty.udi"));
  EXPECT_EQ(std::filesystem::file_size(out + "/demo.udi"), 1u);

  EXPECT_EQ(Cli({"convert", "--to", "udi", "-o", out, in + "/broken.udi"}).status, 1);
  r = Cli({"convert", "--to", "udi", "-o", out, "--force", "--json", in + "/demo.trd"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with(R"({"converted":1,"failed":0,"files":[{"input":")")) << r.out;
  EXPECT_GT(std::filesystem::file_size(out + "/demo.udi"), 1u);
}

TEST_F(BatchCli, UsageOfTheTwoConvertForms) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"convert", in + "/demo.trd"},
        {"convert", "--to", "udi", in + "/demo.trd"},
        {"convert", "-o", out, in + "/demo.trd", out + "/x.udi"},
        {"convert", "--to", "xyz", "-o", out, in + "/demo.trd"},
        {"convert", "-r", in + "/demo.trd", out + "/x.udi"}})
    EXPECT_EQ(Cli(args).status, 2) << args.back();
  EXPECT_EQ(Cli({"convert", in + "/demo.trd", dir / "single.udi"}).status, 0);
}

TEST_F(BatchCli, VerifyAndDiffExitStatus) {
  const std::string demo = in + "/demo.trd", empty = in + "/sub/empty.trd";
  std::vector<uint8_t> damaged(655360 - 100);  // the last sector cut short
  WriteBytes(dir / "cut.trd", damaged);
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"verify", demo}, 0},
      {{"verify", dir / "cut.trd"}, 2},
      {{"verify", in + "/broken.udi"}, 1},
      {{"verify", demo, in + "/broken.udi"}, 2},
      {{"verify", "-r", in}, 2},
      {{"diff", demo, demo}, 0},
      {{"diff", demo, in + "/sub/empty.fdi"}, 2},
      {{"diff", demo, in + "/broken.udi"}, 1},
  };
  for (const Case& c : cases) {
    const CliRun r = Cli(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args.back() << "\n" << r.out << r.err;
  }
  CliRun r = Cli({"verify", dir / "cut.trd"});
  EXPECT_NE(r.out.find("track 159: bad 16"), std::string::npos) << r.out;
  r = Cli({"diff", demo, in + "/sub/empty.fdi", "--json"});
  EXPECT_NE(r.out.find(R"({"kind":"only-in-a","name":"boot.B"})"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace kelvara
