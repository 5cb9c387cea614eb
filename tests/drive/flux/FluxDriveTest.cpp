// The whole flux path: the host's link over a pseudo-terminal to the
// simulated Greaseweazle, the flux backend under the reading run, and
// kelvara-cli read --flux-sim.
#include <gtest/gtest.h>

#include <sstream>

#include "drive/flux/FluxFloppy.h"
#include "drive/flux/GreaseweazleLink.h"
#include "drive/flux/SimulatedGreaseweazle.h"
#include "formats/ImageFiles.h"
#include "session/StartupRules.h"
#include "support/CliRun.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"
#include "support/TrdosBuilder.h"

namespace kelvara::flux {
namespace {

using test::RunCliArgs;
using test::TempDir;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::unique_ptr<SimulatedGreaseweazle> StartDevice(SimulatedMedia media = {}) {
  auto disk = std::make_unique<TZX_Disk>();
  test::FillStandardDisk(*disk, 4);
  auto device = std::make_unique<SimulatedGreaseweazle>(std::move(disk), media);
  std::string error;
  EXPECT_TRUE(device->Start(error)) << error;
  return device;
}

TEST(GreaseweazleLink, OpensWithAResetAndNamesTheDevicesRefusals) {
  auto device = StartDevice();
  GreaseweazleLink link;
  link.Timeouts().commandMs = 10000;  // generous: a loaded machine answers late
  ASSERT_TRUE(link.Open(device->DevicePath())) << link.Error();
  EXPECT_GE(device->ResetCount(), 1) << "the baud-rate reset reached the device";
  EXPECT_EQ(link.Info().sampleFrequency, 72000000u);
  EXPECT_TRUE(link.Info().mainFirmware);

  // Out of order, the device refuses with its status; the host says which.
  EXPECT_FALSE(link.Seek(3));
  EXPECT_TRUE(Has(link.Error(), "NoUnit")) << link.Error();
  EXPECT_FALSE(link.Select(0));
  EXPECT_TRUE(Has(link.Error(), "NoBus")) << link.Error();
  ASSERT_TRUE(link.SetBusType(GwBus::Ibm));
  EXPECT_FALSE(link.Select(2));
  EXPECT_TRUE(Has(link.Error(), "BadUnit")) << link.Error();
  EXPECT_FALSE(link.Head(2));
  EXPECT_TRUE(Has(link.Error(), "BadCommand")) << link.Error();

  // The motor off: no index comes, and the read says so in words.
  ASSERT_TRUE(link.Select(0) && link.Seek(1) && link.Head(0));
  std::vector<uint8_t> stream;
  EXPECT_FALSE(link.ReadFlux(0, 3, stream));
  EXPECT_EQ(link.Status(), kGwNoIndex);
  EXPECT_TRUE(Has(link.Error(), "no index pulse")) << link.Error();

  ASSERT_TRUE(link.Motor(0, true));
  ASSERT_TRUE(link.ReadFlux(0, 3, stream)) << link.Error();
  FluxCapture capture;
  std::string error;
  ASSERT_TRUE(DecodeFluxStream(stream, capture, error)) << error;
  EXPECT_EQ(capture.index.size(), 3u);
}

TEST(GreaseweazleLink, OverflowIsRetriedAndAGoneDeviceTimesOut) {
  SimulatedMedia media;
  media.overflows = 2;
  auto device = StartDevice(media);
  GreaseweazleLink link;
  ASSERT_TRUE(link.Open(device->DevicePath())) << link.Error();
  ASSERT_TRUE(link.SetBusType(GwBus::Ibm) && link.Select(0) && link.Motor(0, true) && link.Seek(0));
  std::vector<uint8_t> stream;
  EXPECT_TRUE(link.ReadFlux(0, 3, stream)) << link.Error();
  EXPECT_EQ(device->ReadFluxCount(), 3);

  // A device that stops answering: every wait ends.
  device->Stop();
  link.Timeouts().commandMs = 200;
  EXPECT_FALSE(link.Head(1));
  EXPECT_NE(link.Fault(), LinkFault::None);
}

TEST(FluxRead, CliReadsATrdosDiskToTheSameTrdAndAUdiWithRawTracks) {
  TempDir dir;
  TZX_Disk source;
  test::BuildTrdosDisk(source,
                       {test::PatternFile("game", 'C', 40), test::PatternFile("scr", 'C', 27)});
  ASSERT_TRUE(SaveImageFile(source, dir / "src.trd", {}).ok);
  // A drive 10 % slow with a jittery read, and one sector that reads badly
  // every other revolution.
  test::CliRun r = RunCliArgs({"read", "--flux-sim", dir / "src.trd", dir / "out.udi",
                               "--flux-media", "speed=-0.1,jitter=0.05,weak=2:7"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "Greaseweazle F7 firmware 1.6, 72 MHz (simulated")) << r.err;
  EXPECT_TRUE(Has(r.out, "Флюкс: оборотов - ")) << r.out.substr(0, 400);
  EXPECT_FALSE(Has(r.out, "Сбойных секторов"));

  TZX_Disk read;
  ASSERT_TRUE(LoadImageFile(read, dir / "out.udi").ok);
  test::ExpectSameSectors(source, read);
  for (int t = 0; t < 160; ++t)
    EXPECT_GT(read.GetTrack(static_cast<uint8_t>(t)).RawLength(), 6000) << "track " << t;
  ASSERT_TRUE(SaveImageFile(read, dir / "back.trd", {}).ok);
  EXPECT_EQ(test::ReadBytes(dir / "back.trd"), test::ReadBytes(dir / "src.trd"));
}

TEST(FluxRead, DeviceFaultsAreClearAndWritingIsRefused) {
  TempDir dir;
  TZX_Disk source;
  test::FillStandardDisk(source, 2);
  ASSERT_TRUE(SaveImageFile(source, dir / "src.trd", {}).ok);
  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"read", dir / "o.trd", "--flux-media", "noindex"}, 1, "(NoIndex, status 2)"},
      {{"read", dir / "o.trd", "--flux-media", "overflow=9"}, 1, "(FluxOverflow, status 4)"},
      {{"read", dir / "o.trd", "--flux-media", "dropout=1:3"}, 2, "Сбойных секторов - 1"},
      {{"write", dir / "src.trd"}, 1, "только чтение"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--flux-sim", dir / "src.trd", "--last", "1", "--retries", "2"});
    const test::CliRun r = RunCliArgs(args);
    EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args) << "\n" << r.out << r.err;
    EXPECT_TRUE(Has(r.out + r.err, c.says)) << testing::PrintToString(c.args) << "\n"
                                            << r.out << r.err;
  }
}

TEST(FluxRead, DesktopCommandLineTakesTheFluxDevice) {
  const CommandLine a = ParseCommandLine({"--flux", "/dev/ttyACM0", "disk.trd"});
  EXPECT_EQ(a.flux, "/dev/ttyACM0");
  EXPECT_EQ(a.image, "disk.trd");
  const CommandLine b = ParseCommandLine({"--flux-sim=demo.udi"});
  EXPECT_EQ(b.fluxSim, "demo.udi");
  EXPECT_TRUE(b.image.empty());
}

}  // namespace
}  // namespace kelvara::flux
