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

constexpr unsigned kData = FD_RAW_INTR | FD_RAW_NEED_DISK | FD_RAW_SPIN;

TEST(LinuxFdcCommands, BlocksOfThe82077CommandSet) {
  // SEEK: opcode, head << 2 | unit, new cylinder; no data phase.
  FdcCommand c = SeekCommand(1, {40, 1});
  EXPECT_EQ(Of(c), (Bytes{0x0F, 0x05, 40}));
  EXPECT_EQ(c.rawFlags, unsigned{FD_RAW_INTR});
  EXPECT_EQ(c.dataLength, 0u);

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
  EXPECT_EQ(FdcResultErrno(Bytes{0x00, 0x00, 0x00, 1, 0, 1, 1}), 0);
  EXPECT_EQ(FdcResultErrno(Bytes{0x20, 40}), 0);  // SENSE INTERRUPT after a seek
  EXPECT_EQ(FdcResultErrno(Bytes{0x40, ST1_WP, 0}), EROFS);
  EXPECT_EQ(FdcResultErrno(Bytes{0x40, ST1_CRC, ST2_CRC}), EBADMSG);
  EXPECT_EQ(FdcResultErrno(Bytes{0x40, ST1_MAM, 0}), ENODATA);
  EXPECT_EQ(FdcResultErrno(Bytes{0x40, 0, ST2_MAM}), ENODATA);
  EXPECT_EQ(FdcResultErrno(Bytes{0x40, ST1_ND, 0}), ENXIO);
  EXPECT_EQ(FdcResultErrno(Bytes{0x40, 0, ST2_WC}), ENXIO);
  EXPECT_EQ(FdcResultErrno(Bytes{0x40, ST1_EOC, 0}), EIO);
  EXPECT_EQ(FdcResultErrno(Bytes{0xC8, 0}), ENOMEDIUM);
  EXPECT_EQ(FdcResultErrno(Bytes{}), EIO);

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
  EXPECT_EQ(r.messages,
            (std::vector<std::string>{"Дисковод A не найден!",
                                      "Ошибка получения информации о контроллере FDC!"}));
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
