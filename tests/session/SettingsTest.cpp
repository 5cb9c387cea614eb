#include "session/Settings.h"

#include <SimpleIni.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/TempDir.h"

namespace kelvara {
namespace {

using test::TempDir;

class SettingsTest : public ::testing::Test {
 protected:
  void WriteIni(const std::string& body) { std::ofstream(ini) << "[Option]\n" << body; }
  TSettings LoadFresh() {
    TSettings s;
    SettingsStore(ini, dir.Path()).Load(s);
    return s;
  }
  std::string Stored(const char* key) {
    CSimpleIniA f;
    f.LoadFile(ini.c_str());
    const char* v = f.GetValue("Option", key, nullptr);
    return v ? v : "<missing>";
  }

  TempDir dir;
  std::string ini = dir / "Kelvara.ini";
};

TEST_F(SettingsTest, FirstStartCreatesEveryKeyWithDefaults) {
  const TSettings s = LoadFresh();
  ASSERT_TRUE(std::filesystem::exists(ini));
  CSimpleIniA f;
  ASSERT_GE(f.LoadFile(ini.c_str()), 0);
  CSimpleIniA::TNamesDepend keys;
  f.GetAllKeys("Option", keys);
  keys.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> names;
  for (const auto& k : keys)
    names.push_back(k.pItem);
  EXPECT_EQ(names, (std::vector<std::string>{"RetryCount",
                                             "RetryCountWithReset",
                                             "FirstTrack",
                                             "LastTrack",
                                             "CycleRead",
                                             "TimeOut",
                                             "RestoreTrack",
                                             "TD0arch",
                                             "OverlapTrackAndData",
                                             "SetSectorSizeFromHead",
                                             "Directory_1",
                                             "Directory_2",
                                             "HobetaDir",
                                             "SCLDir",
                                             "Drive",
                                             "GAP",
                                             "Rate",
                                             "FluxDevice",
                                             "FluxBus",
                                             "FluxVerify",
                                             "DoubleStep",
                                             "HeadSettleMs",
                                             "FluxSimImage",
                                             "FluxWritePasses",
                                             "PrecompCylinder",
                                             "PrecompNs",
                                             "DensitySelect"}));
  EXPECT_EQ(s.RetryCount, 10);
  EXPECT_EQ(s.RetryCountWithReset, 5);
  EXPECT_EQ(s.FirstTrack, 0);
  EXPECT_EQ(s.LastTrack, 159);
  EXPECT_EQ(s.CycleRead, 5);
  EXPECT_EQ(s.TimeOut, 10);
  EXPECT_TRUE(s.RestoreTrack);
  EXPECT_FALSE(s.TD0arch);
  EXPECT_EQ(s.Directory_1, dir.Path());
  EXPECT_EQ(s.SCLDir, dir.Path());
  EXPECT_EQ(s.Drive, "A");
  EXPECT_EQ(s.GAP, 20);
  EXPECT_EQ(s.Rate, 2);
  EXPECT_EQ(Stored("LastTrack"), "159");
  EXPECT_EQ(Stored("RestoreTrack"), "1");
  EXPECT_EQ(Stored("TD0arch"), "0");
}

TEST_F(SettingsTest, OutOfRangeValuesAreRepairedAndWrittenBack) {
  WriteIni(
      "FirstTrack=100\nLastTrack=200\nGAP=3\nRate=7\nDrive=C\nRestoreTrack=0\n"
      "RetryCount=300\nCycleRead=31\nTimeOut=0\nFluxWritePasses=30\nPrecompCylinder=90\n"
      "DensitySelect=medium\n");
  const TSettings s = LoadFresh();
  EXPECT_EQ(s.FirstTrack, 0);
  EXPECT_EQ(s.LastTrack, 167);
  EXPECT_EQ(s.GAP, 20);
  EXPECT_EQ(s.Rate, 2);
  EXPECT_EQ(s.Drive, "A");
  EXPECT_TRUE(s.RestoreTrack);
  EXPECT_EQ(s.RetryCount, 44);  // low eight bits of 300
  EXPECT_EQ(s.CycleRead, 5);
  EXPECT_EQ(s.TimeOut, 10);
  EXPECT_EQ(s.FluxWritePasses, 10);
  EXPECT_EQ(s.PrecompCylinder, 40);
  EXPECT_EQ(s.DensitySelect, "");
  EXPECT_EQ(Stored("FirstTrack"), "0");
  EXPECT_EQ(Stored("LastTrack"), "167");
  EXPECT_EQ(Stored("Drive"), "A");
}

TEST_F(SettingsTest, ZeroReadsAsTheDefaultBeforeTheRangeRepair) {
  WriteIni("Rate=0\nLastTrack=0\nGAP=25\nRetryCount=abc\nFirstTrack=82\nDrive=B\nTD0arch=5\n");
  const TSettings s = LoadFresh();
  EXPECT_EQ(s.Rate, 2);  // a stored 500K (0) comes back as 250K
  EXPECT_EQ(s.LastTrack, 159);
  EXPECT_EQ(s.GAP, 25);
  EXPECT_EQ(s.RetryCount, 10);  // non-numeric reads 0, then the default
  EXPECT_EQ(s.FirstTrack, 82);
  EXPECT_EQ(s.Drive, "B");
  EXPECT_TRUE(s.TD0arch);
}

TEST_F(SettingsTest, FluxKeysKeepAnOffVerifyAndRefuseUnknownBuses) {
  WriteIni("FluxDevice=/dev/ttyACM1\nFluxBus=scsi\nFluxVerify=0\nDoubleStep=1\n");
  TSettings s = LoadFresh();
  EXPECT_EQ(s.FluxDevice, "/dev/ttyACM1");
  EXPECT_EQ(s.FluxBus, "") << "not chosen: the environment or ibm";
  EXPECT_FALSE(s.FluxVerify);
  EXPECT_TRUE(s.DoubleStep);
  WriteIni("FluxBus=shugart\n");
  s = LoadFresh();
  EXPECT_EQ(s.FluxBus, "shugart");
  EXPECT_TRUE(s.FluxVerify) << "a missing key is on";
}

TEST_F(SettingsTest, KeysAreCaseInsensitive) {
  WriteIni("lasttrack=100\nRATE=3\n");
  const TSettings s = LoadFresh();
  EXPECT_EQ(s.LastTrack, 100);
  EXPECT_EQ(s.Rate, 3);
}

TEST_F(SettingsTest, FoldersFallBackToTheProgramFolderAndEndInSlash) {
  const std::string sub = dir / "images";
  std::filesystem::create_directory(sub);
  WriteIni("Directory_1=" + sub + "\nDirectory_2=/no/such/folder/\nHobetaDir=\n");
  const TSettings s = LoadFresh();
  EXPECT_EQ(s.Directory_1, sub + "/");
  EXPECT_EQ(s.Directory_2, dir.Path());
  EXPECT_EQ(s.HobetaDir, dir.Path());
}

TEST_F(SettingsTest, WriteFolderAndDialogKeysUpdateOnlyTheirKeys) {
  TSettings s = LoadFresh();
  SettingsStore store(ini, dir.Path());
  ASSERT_TRUE(store.WriteFolder("SCLDir", "/tmp"));
  EXPECT_EQ(Stored("SCLDir"), "/tmp/");
  s.RetryCount = 3;
  s.Drive = "B";
  s.Directory_1 = "/changed/";  // not a dialog key: not written
  ASSERT_TRUE(store.WriteDialogKeys(s));
  EXPECT_EQ(Stored("RetryCount"), "3");
  EXPECT_EQ(Stored("Drive"), "B");
  EXPECT_EQ(Stored("Directory_1"), dir.Path());
  EXPECT_EQ(Stored("SCLDir"), "/tmp/");
}

TEST_F(SettingsTest, ReadOnlyLoadDoesNotCreateTheFile) {
  TSettings s;
  EXPECT_TRUE(SettingsStore(ini, dir.Path()).Load(s, false));
  EXPECT_FALSE(std::filesystem::exists(ini));
  EXPECT_EQ(s.LastTrack, 159);
}

TEST_F(SettingsTest, IniPathFallsBackToXdgConfigWhenTheProgramFolderIsReadOnly) {
  EXPECT_EQ(SettingsStore::DefaultIniPath(dir.Path()), dir / "Kelvara.ini");
  const std::string config = dir / "config";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  // /proc is never writable, for root neither.
  EXPECT_EQ(SettingsStore::DefaultIniPath("/proc/"), config + "/Kelvara/Kelvara.ini");
  EXPECT_TRUE(std::filesystem::is_directory(config + "/Kelvara"));
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace kelvara
