// The Linux backend against a simulated kernel floppy driver and drive: the
// kernel's positioning rules, the results of pseudo-DMA and of deleted data,
// the scan of a spinning track, a timeout, and a whole disk read as the
// virtual drive reads it.
#include <gtest/gtest.h>

#include <set>

#include <cerrno>
#include <map>
#include <memory>

#include "drive/DriveRig.h"
#include "drive/LinuxFloppy.h"
#include "drive/SimulatedFloppyKernel.h"
#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::SimId;
using test::SimulatedFloppyKernel;

// The program's drive session on LinuxFloppy over the simulated kernel.
class KernelRig {
 public:
  KernelRig() {
    const std::string devices = "Block devices:\n  2 fd\n";
    test::WriteBytes(dir / "devices", {devices.begin(), devices.end()});
    auto system = std::make_unique<SimulatedFloppyKernel>();
    kernel = system.get();
    session = std::make_unique<DriveSession>(std::make_unique<LinuxFloppy>(
        LinuxFloppyPaths{dir / "devices", "/dev/fd0", "/dev/fd1"}, std::move(system)));
  }

  DriveOpenReport Open() { return session->OpenAtStartup(settings); }
  OperationResult Run(int mode, int first, int last, bool fastRead = false) {
    settings.FirstTrack = first;
    settings.LastTrack = last;
    DriveRunPlan plan = session->Plan(mode, *image, settings);
    plan.fastRead = fastRead;
    return session->Run(plan, *image, settings, host);
  }
  // The R of each present slot of a track of the image.
  std::vector<int> Scanned(int track) const {
    std::vector<int> out;
    for (const TSectorRec& s : image->GetTrack(static_cast<uint8_t>(track)).Sectors)
      if (s.Present) out.push_back(s.Sec);
    return out;
  }

  test::TempDir dir;
  SimulatedFloppyKernel* kernel = nullptr;
  std::unique_ptr<DriveSession> session;
  TSettings settings;
  test::FakeOperationHost host;
  std::unique_ptr<TZX_Disk> image = std::make_unique<TZX_Disk>();
};

// Tracks 0..11 of 16 sectors, with the faults a reading run has to report:
// a bad data CRC, an ID without data, a track of 128-byte sectors and a
// track with no ID fields.
void BuildDisk(TZX_Disk& disk) {
  test::FillStandardDisk(disk, 12);
  disk.GetTrack(3).Sectors[5].DataOk = 0;
  disk.GetTrack(4).Sectors[2].ClearData();
  disk.GetTrack(6).ClearTrack();
  for (uint8_t r = 1; r <= 16; ++r)
    test::AddSector(disk, 6, 3, 0, r, 0, test::PatternBytes(128, r));
  disk.GetTrack(9).ClearTrack();
  disk.CountTracks();
}

// Each slot of tracks first..last of `read` holds the ID and data of the
// same slot of `disk`.
void ExpectTracksRead(const TZX_Disk& disk, const TZX_Disk& read, int first, int last) {
  for (int t = first; t <= last; ++t) {
    const TTrack& want = disk.GetTrack(static_cast<uint8_t>(t));
    const TTrack& got = read.GetTrack(static_cast<uint8_t>(t));
    for (int i = 0; i < kSlotCount; ++i) {
      const TSectorRec& w = want.Sectors[i];
      const TSectorRec& g = got.Sectors[i];
      ASSERT_EQ(g.Present, w.Present) << t << "/" << i;
      EXPECT_EQ(std::vector<uint8_t>({g.Cyl, g.Head, g.Sec, g.SizeCode}),
                std::vector<uint8_t>({w.Cyl, w.Head, w.Sec, w.SizeCode}))
          << t << "/" << i;
      if (w.Present) {
        EXPECT_TRUE(g.DataOk) << t << "/" << i;
        EXPECT_TRUE(std::equal(w.Data().begin(), w.Data().end(), g.Data().begin()))
            << t << "/" << i;
      }
    }
  }
}

TEST(LinuxFloppyKernel, ReadsTheDiskTheVirtualDriveReads) {
  test::DriveRig virt;
  BuildDisk(virt.Disk());
  virt.settings.LastTrack = 11;
  virt.Run(kModeScan | kModeRead);

  auto disk = std::make_unique<TZX_Disk>();
  BuildDisk(*disk);
  KernelRig rig;
  rig.kernel->LoadImage(*disk);
  rig.kernel->headCylinder = 6;  // where the last program left it
  rig.Open();
  rig.Run(kModeScan | kModeRead, 0, 11);

  test::ExpectSameSectors(*virt.image, *rig.image);
  for (int t = 0; t < 12; ++t)
    EXPECT_EQ(rig.image->GetTrack(static_cast<uint8_t>(t)).Log,
              virt.image->GetTrack(static_cast<uint8_t>(t)).Log)
        << t;
  // The same LOG, error codes included: 23, 27 and 1122.
  EXPECT_EQ(rig.host.LogTexts(), virt.host.LogTexts());
  EXPECT_TRUE(rig.host.Logged("Ошибка чтения сектора  - 23 (Track - 3 / Sector - 6)", true));
  EXPECT_TRUE(rig.host.Logged("Ошибка сканирования - 1122 (Track - 9)", true));
}

// The fast read reads the same. Each track's data come in READ DATA blocks
// that start at the sector under the head once the scan is over: on track 0
// sectors R..16, then 1..R-1.
TEST(LinuxFloppyKernel, FastReadStartsAtTheSectorUnderTheHead) {
  test::DriveRig virt;
  BuildDisk(virt.Disk());
  virt.settings.LastTrack = 11;
  virt.Run(kModeScan | kModeRead);

  auto disk = std::make_unique<TZX_Disk>();
  BuildDisk(*disk);
  KernelRig rig;
  rig.kernel->LoadImage(*disk);
  rig.Open();
  rig.Run(kModeScan | kModeRead, 0, 11, true);
  test::ExpectSameSectors(*virt.image, *rig.image);
  EXPECT_TRUE(rig.host.Logged("Ошибка чтения сектора  - 23 (Track - 3 / Sector - 6)", true));

  const std::vector<test::SimCall>& calls = rig.kernel->calls;
  const auto first = std::find_if(calls.begin(), calls.end(),
                                  [](const test::SimCall& c) { return c.opcode == 0x06; });
  ASSERT_NE(first, calls.end());
  const uint8_t r = first->bytes[4];
  ASSERT_GT(r, 1);
  using Bytes = std::vector<uint8_t>;
  EXPECT_EQ(first[0].bytes, (Bytes{0x46, 0x00, 0, 0, r, 1, 16, 0x0E, 0xFF}));
  EXPECT_EQ(first[1].bytes,
            (Bytes{0x46, 0x00, 0, 0, 1, 1, static_cast<uint8_t>(r - 1), 0x0E, 0xFF}));
  EXPECT_NE(first[2].opcode, 0x06);
  // R is the sector whose ID comes next when the first block starts.
  constexpr int kBytes = SimulatedFloppyKernel::kTrackBytes;
  const int pos = static_cast<int>(first->atUs / SimulatedFloppyKernel::kUsPerByte) % kBytes;
  const std::vector<SimId>& ids = rig.kernel->tracks[0];
  const auto ahead = [&](const SimId& id) { return (id.start - pos + kBytes) % kBytes; };
  EXPECT_EQ(r, std::min_element(ids.begin(), ids.end(), [&](const SimId& a, const SimId& b) {
                 return ahead(a) < ahead(b);
               })->r);
}

// After the reset every drive's place is unknown to the kernel; a disk-change
// line may be active, or not work at all. The head must still be on the
// track's cylinder for every command, and the kernel told so: the first
// command after a seek carries NEED_SEEK and the cylinder, later ones
// neither, and none NEED_DISK.
TEST(LinuxFloppyKernel, HeadIsWhereTheKernelPutIt) {
  struct Case {
    int headLeftAt;
    bool changeLine;
    bool lineBroken;
  };
  for (const Case& c :
       {Case{5, false, false}, Case{40, false, false}, Case{0, true, false}, Case{2, true, true}}) {
    SCOPED_TRACE(c.headLeftAt);
    auto disk = std::make_unique<TZX_Disk>();
    test::FillStandardDisk(*disk, 20);
    KernelRig rig;
    rig.kernel->LoadImage(*disk);
    rig.kernel->headCylinder = c.headLeftAt;
    rig.kernel->changeLine = c.changeLine;
    rig.kernel->changeLineBroken = c.lineBroken;
    rig.Open();
    rig.Run(kModeScan | kModeRead, 4, 19);
    ExpectTracksRead(*disk, *rig.image, 4, 19);
    EXPECT_EQ(rig.session->Driver().LastError(), 0u);

    int cylinder = -1;
    bool first = false;
    for (const test::SimCall& call : rig.kernel->calls) {
      EXPECT_EQ(call.flags & FD_RAW_NEED_DISK, 0u);
      if (call.opcode == 0) {
        cylinder = call.track;
        first = true;
        continue;
      }
      EXPECT_EQ((call.flags & FD_RAW_NEED_SEEK) != 0, first);
      EXPECT_EQ(call.track, cylinder);
      EXPECT_EQ(call.headCylinder, cylinder);
      first = false;
    }
  }
}

// What the kernel does not do for raw commands, each read through: a
// settle time after a seek (the simulated head rings for 15 ms and reads
// nothing meanwhile), a scan timed from the motor's spin-up, and a head moved
// to cylinder 0 by another program's open of the drive.
TEST(LinuxFloppyKernel, RulesTheKernelLeavesToRawCommands) {
  const struct {
    const char* rule;
    int64_t idleUs;
    std::set<int> foreignOpens;
  } cases[] = {
      {"settle after a seek", 0, {}},
      {"scan timed from the first ID", 10000000, {}},
      {"head moved by another open", 0, {1, 40}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    auto disk = std::make_unique<TZX_Disk>();
    test::FillStandardDisk(*disk, 8);
    KernelRig rig;
    rig.kernel->LoadImage(*disk);
    rig.kernel->motorOffAfterUs = 3000000;
    rig.kernel->nowUs = c.idleUs;
    rig.kernel->foreignOpens = c.foreignOpens;
    rig.Open();
    rig.Run(kModeScan | kModeRead, 4, 7);
    ExpectTracksRead(*disk, *rig.image, 4, 7);
  }
}

// A 40-track disk in an 80-track drive: its cylinder n lies under the
// drive's 2n, and the image keeps the disk's numbering.
TEST(LinuxFloppyKernel, DoubleSteppingReadsAFortyTrackDisk) {
  auto disk = std::make_unique<TZX_Disk>();
  test::FillStandardDisk(*disk, 8);
  KernelRig rig;
  rig.kernel->LoadImage(*disk);
  for (int c = 3; c >= 1; --c) {
    for (int h = 0; h < 2; ++h) {
      rig.kernel->tracks[static_cast<size_t>(4 * c + h)] =
          rig.kernel->tracks[static_cast<size_t>(2 * c + h)];
      rig.kernel->tracks[static_cast<size_t>(2 * c + h)].clear();
    }
  }
  rig.settings.DoubleStep = true;
  rig.Open();
  rig.Run(kModeScan | kModeRead, 0, 7);
  ExpectTracksRead(*disk, *rig.image, 0, 7);
  // The disk's cylinder 42 would lie past the drive's last: a seek error.
  DriveRunPlan past = rig.session->Plan(kModeScan, *rig.image, rig.settings);
  past.firstTrack = past.lastTrack = 84;
  EXPECT_EQ(rig.session->Run(past, *rig.image, rig.settings, rig.host).end, OperationEnd::Stopped);
  EXPECT_EQ(rig.host.MessageTexts(), std::vector<std::string>{"Ошибка позиционирования - (25)!"});
}

// Under pseudo-DMA a whole transfer ends with "end of cylinder"; a sector
// with a deleted-data mark is read like any other.
TEST(LinuxFloppyKernel, WholeTransfersThatEndAbnormallyAreRead) {
  auto disk = std::make_unique<TZX_Disk>();
  test::FillStandardDisk(*disk, 4);
  KernelRig rig;
  rig.kernel->LoadImage(*disk);
  rig.kernel->pseudoDma = true;
  rig.kernel->tracks[1][3].deleted = true;
  rig.Open();
  const OperationResult r = rig.Run(kModeScan | kModeRead, 0, 3);
  EXPECT_EQ(r.badSectors, 0);
  ExpectTracksRead(*disk, *rig.image, 0, 3);
}

// The scan lists every ID field once, in its order from the index, whatever
// comes round first after the seek: bad ID CRCs are left out, an ID a
// protected track repeats is listed twice, and an ID missed by a late READ
// ID is caught on a second turn.
TEST(LinuxFloppyKernel, ScanListsEveryIdFieldInTrackOrder) {
  const auto ids = [](std::vector<int> rs) {
    std::vector<SimId> out;
    for (int r : rs)
      out.push_back({0, 0, static_cast<uint8_t>(r), 1, 0, true, true, true, false,
                     std::vector<uint8_t>(256, 0xE5)});
    return out;
  };
  const std::vector<int> interleaved = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};
  struct Case {
    const char* name;
    std::vector<SimId> track;
    std::vector<int> badCrcAt;           // slots with a bad ID CRC
    std::map<int, int64_t> lateReadIds;  // READ ID call -> delay, us
    int64_t startAfterUs;                // where the turn is when the scan starts
    std::vector<int> expected;
  };
  std::vector<int> withoutFirst(interleaved.begin() + 1, interleaved.end());
  std::vector<int> withoutTenth = interleaved;
  withoutTenth.erase(withoutTenth.begin() + 9);
  const std::vector<Case> cases = {
      {"interleaved, scan from mid-track", ids(interleaved), {}, {}, 93000, interleaved},
      {"bad CRC in the first ID", ids(interleaved), {0}, {}, 0, withoutFirst},
      {"bad CRC in the tenth ID", ids(interleaved), {9}, {}, 0, withoutTenth},
      {"an ID repeated", ids({1, 2, 3, 4, 5, 6, 7, 8, 1}), {}, {}, 0, {1, 2, 3, 4, 5, 6, 7, 8, 1}},
      {"late READ ID", ids(interleaved), {}, {{3, 15000}}, 0, interleaved},
      {"two late READ IDs", ids(interleaved), {}, {{2, 15000}, {9, 15000}}, 50000, interleaved},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KernelRig rig;
    std::vector<SimId> track = c.track;
    for (int i : c.badCrcAt)
      track[i].idCrcOk = false;
    rig.kernel->tracks[0] = SimulatedFloppyKernel::Spread(track);
    rig.kernel->lateReadIds = c.lateReadIds;
    rig.kernel->nowUs = c.startAfterUs;
    rig.Open();
    rig.Run(kModeScan, 0, 0);
    EXPECT_EQ(rig.Scanned(0), c.expected);
  }
}

// With no disk a READ ID never ends: the kernel times out and leaves the
// controller to be reset. The scan fails with "not ready" (21), and once a
// disk is in the next track is read from the right cylinder.
TEST(LinuxFloppyKernel, TimeoutWithoutADiskLeavesTheDriveUsable) {
  auto disk = std::make_unique<TZX_Disk>();
  test::FillStandardDisk(*disk, 8);
  KernelRig rig;
  rig.kernel->LoadImage(*disk);
  rig.kernel->diskIn = false;
  rig.Open();
  rig.Run(kModeScan, 2, 2);
  EXPECT_TRUE(rig.host.Logged("Ошибка сканирования - 21 (Track - 2)", true));

  // The disk goes in; the run goes on without a reset of its own.
  rig.kernel->diskIn = true;
  uint32_t bytes = 0;
  std::vector<uint8_t> io(kIoBufferSize);
  DriveChannel drive(rig.session->Driver(), 3, io);
  ASSERT_TRUE(drive.Seek(3, 0));
  ASSERT_TRUE(drive.Scan(0, bytes)) << drive.LastError();
  EXPECT_EQ(bytes, 1u + 4 * 16);
  EXPECT_EQ(drive.Buffer()[1], 3);  // C of the first ID: cylinder 3
}

// A present track with no sectors has nothing to format: both drives refuse
// it (87) before the kernel, which would refuse a data phase of no bytes.
TEST(LinuxFloppyKernel, FormatOfATrackWithNoSectorsIsRefused) {
  test::DriveRig virt;
  KernelRig rig;
  rig.Open();
  for (TZX_Disk* image : {virt.image.get(), rig.image.get()}) {
    image->GetTrack(0).Present = 0xFF;
    image->CountTracks();
  }
  virt.settings.LastTrack = 0;
  virt.Run(kModeFormat);
  rig.Run(kModeFormat, 0, 0);
  const std::string refused = "Ошибка форматирования - 87 (Track - 0)";
  EXPECT_TRUE(virt.host.Logged(refused, true));
  EXPECT_TRUE(rig.host.Logged(refused, true));
  for (const test::SimCall& call : rig.kernel->calls)
    EXPECT_NE(call.opcode, 0x0D);
}

TEST(LinuxFloppyKernel, FailedOpenSaysWhy) {
  const std::map<int, std::string> reasons = {
      {EACCES, "the group that owns it"}, {EBUSY, "mounted"}, {ENXIO, "BIOS"}};
  for (const auto& [error, words] : reasons) {
    KernelRig rig;
    rig.kernel->openError = error;
    const DriveOpenReport r = rig.Open();
    ASSERT_FALSE(r.messages.empty());
    EXPECT_EQ(r.messages[0].rfind("Дисковод A не найден!\n/dev/fd0: ", 0), 0u) << r.messages[0];
    EXPECT_NE(r.messages[0].find(words), std::string::npos) << r.messages[0];
  }
}

}  // namespace
}  // namespace kelvara
