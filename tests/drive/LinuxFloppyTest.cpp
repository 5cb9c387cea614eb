// The Linux backend without hardware: its 82077 command blocks byte by byte,
// the errno of each result status, and the opening sequence against stand-in
// files for /proc/devices and the drive nodes.
#include <gtest/gtest.h>
#include <linux/fd.h>
#include <linux/fdreg.h>

#include <cerrno>

#include "drive/DriveSession.h"
#include "drive/LinuxFloppy.h"
#include "support/FakeOperationHost.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const FdcCommand& c) {
  return {c.Bytes().begin(), c.Bytes().end()};
}

constexpr unsigned kData = FD_RAW_INTR | FD_RAW_SPIN;

TEST(LinuxFdcCommands, BlocksOfThe82077CommandSet) {
  // A seek is the kernel's: no command bytes, no flags of its own.
  FdcCommand c = SeekCommand();
  EXPECT_EQ(c.length, 0);
  EXPECT_EQ(c.rawFlags, 0u);

  // READ ID with MFM.
  c = ReadIdCommand(0, {FD_OPTION_MFM, 1});
  EXPECT_EQ(Of(c), (Bytes{0x4A, 0x04}));
  EXPECT_EQ(c.rawFlags, kData);

  // READ DATA of one sector: the controller's EOT is the sector itself.
  c = ReadDataCommand(0, {FD_OPTION_MFM, 1, 5, 0, 3, 1, 4, 0x0E, 0xFF});
  EXPECT_EQ(Of(c), (Bytes{0x46, 0x04, 5, 0, 3, 1, 3, 0x0E, 0xFF}));
  EXPECT_EQ(c.rawFlags, kData | FD_RAW_READ);
  EXPECT_EQ(c.dataLength, 256u);
  // The catalog read: sectors 1 to 16 of drive B in one command.
  c = ReadDataCommand(1, {FD_OPTION_MFM, 0, 0, 0, 1, 1, 17, 0x0E, 0xFF});
  EXPECT_EQ(Of(c), (Bytes{0x46, 0x01, 0, 0, 1, 1, 16, 0x0E, 0xFF}));
  EXPECT_EQ(c.dataLength, 4096u);
  // Sector 255's end-of-track number wraps to 0: still that one sector.
  c = ReadDataCommand(0, {FD_OPTION_MFM, 0, 0, 0, 255, 2, 0, 0x0E, 0xFF});
  EXPECT_EQ(c.bytes[6], 255);
  EXPECT_EQ(c.dataLength, 512u);
  // With N = 0 the data length byte is the sector's 128 bytes.
  EXPECT_EQ(ReadDataCommand(0, {FD_OPTION_MFM, 0, 0, 0, 1, 0, 2, 0x0E, 0xFF}).bytes[8], 0x80);
  // The option bits land where the command byte has them.
  EXPECT_EQ(ReadDataCommand(0, {0xE0, 0, 0, 0, 1, 2, 2, 0x1B, 0xFF}).bytes[0], FD_READ);
  EXPECT_EQ(WriteDataCommand(0, {0xE0, 0, 0, 0, 1, 2, 2, 0x1B, 0xFF}).bytes[0], FD_WRITE);

  c = WriteDataCommand(1, {FD_OPTION_MFM, 0, 10, 0, 9, 2, 10, 0x14, 0xFF});
  EXPECT_EQ(Of(c), (Bytes{0x45, 0x01, 10, 0, 9, 2, 9, 0x14, 0xFF}));
  EXPECT_EQ(c.rawFlags, kData | FD_RAW_WRITE);
  EXPECT_EQ(c.dataLength, 512u);

  // FORMAT TRACK: N, sectors, gap, filler; the data phase is C H R N each.
  FD_FORMAT_PARAMS f{FD_OPTION_MFM, 1, 1, 16, 0x14, 0x00, {}};
  c = FormatCommand(0, f);
  EXPECT_EQ(Of(c), (Bytes{FD_FORMAT, 0x04, 1, 16, 0x14, 0x00}));
  EXPECT_EQ(c.rawFlags, kData | FD_RAW_WRITE);
  EXPECT_EQ(c.dataLength, 64u);
}

TEST(LinuxFdcCommands, ResultStatusAndControllerType) {
  // The codes the virtual drive gives for the same faults.
  struct Case {
    Bytes reply;
    bool allMoved;
    uint32_t code;
  };
  const Case cases[] = {
      {{0x00, 0x00, 0x00, 1, 0, 1, 1}, true, 0},
      {{0x40, ST1_WP, 0}, true, kErrorWriteProtect},
      {{0x40, ST1_CRC, ST2_CRC}, true, kErrorCrc},
      {{0x40, ST1_CRC, 0}, true, kErrorCrc},  // the ID field's CRC
      {{0x40, ST1_MAM, 0}, true, kErrorIdMarkNotFound},
      {{0x40, ST1_MAM, ST2_MAM}, true, kErrorSectorNotFound},  // an ID without data
      {{0x40, ST1_ND, 0}, true, kErrorSectorNotFound},
      {{0x40, 0, ST2_WC}, true, kErrorSectorNotFound},
      {{0xC8, 0}, true, kErrorNotReady},
      {{0x40, ST1_OR, 0}, true, kErrorIoDevice},
      {{}, true, kErrorIoDevice},
      // End of cylinder alone: how a whole transfer ends under pseudo-DMA.
      {{0x40, ST1_EOC, 0}, true, 0},
      {{0x40, ST1_EOC, 0}, false, kErrorSectorNotFound},
      // A deleted-data sector read whole is read.
      {{0x40, 0, ST2_CM}, true, 0},
      {{0x40, ST1_EOC | ST1_CRC, ST2_CRC}, true, kErrorCrc},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FdcResultError(c.reply, c.allMoved), c.code) << testing::PrintToString(c.reply);

  EXPECT_STREQ(ControllerTypeName(ControllerTypeOfLinuxFdc(FDC_82077)), "82077AA");
  EXPECT_STREQ(ControllerTypeName(ControllerTypeOfLinuxFdc(FDC_82077_ORIG)), "82077");
  EXPECT_STREQ(ControllerTypeName(ControllerTypeOfLinuxFdc(FDC_8272A)), "NORMAL");
  EXPECT_STREQ(ControllerTypeName(ControllerTypeOfLinuxFdc(FDC_87306)), "NATIONAL");
  EXPECT_STREQ(ControllerTypeName(ControllerTypeOfLinuxFdc(0x99)), "UNKNOWN3");
}

TEST(LinuxFloppyOpening, DriverAndDriveNodes) {
  test::TempDir dir;
  const auto write = [](const std::string& path, const std::string& text) {
    test::WriteBytes(path, Bytes(text.begin(), text.end()));
  };
  write(dir / "no-fd", "Character devices:\n  2 fd\n\nBlock devices:\n  8 sd\n");
  write(dir / "with-fd", "Character devices:\n  1 mem\n\nBlock devices:\n  2 fd\n  8 sd\n");
  write(dir / "node", "");
  const TSettings settings;

  DriveSession absent(std::make_unique<LinuxFloppy>(LinuxFloppyPaths{dir / "no-fd", "", ""}));
  DriveOpenReport r = absent.OpenAtStartup(settings);
  EXPECT_EQ(r.messages, std::vector<std::string>{"Ошибка загрузки драйвера!"});
  EXPECT_EQ(r.panel0, "  Driver load error");

  DriveSession missing(std::make_unique<LinuxFloppy>(
      LinuxFloppyPaths{dir / "with-fd", dir / "fd0-missing", dir / "node"}));
  r = missing.OpenAtStartup(settings);
  ASSERT_EQ(r.messages.size(), 2u);
  EXPECT_EQ(r.messages[0].substr(0, r.messages[0].find('\n')), "Дисковод A не найден!");
  EXPECT_NE(r.messages[0].find("fd0-missing: no such node"), std::string::npos);
  EXPECT_EQ(r.messages[1], "Ошибка получения информации о контроллере FDC!");
  EXPECT_EQ(r.panel0, "  Driver version - 01000200 / FDC info read error");

  // Drive B opens the second node; a plain file answers no floppy ioctl.
  TSettings b = settings;
  b.Drive = "B";
  r = missing.Reopen(b);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_TRUE(missing.DriveValid());
  test::FakeOperationHost host;
  EXPECT_FALSE(missing.ResetController(host));
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{"Ошибка сброса контроллера - (" +
                                                          std::to_string(ENOTTY) + ")!"});
}

}  // namespace
}  // namespace kelvara
