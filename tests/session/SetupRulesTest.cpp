#include "session/SetupRules.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "support/TempDir.h"

namespace kelvara {
namespace {

TEST(SetupValues, RateCodesMapToTheirListItemsBothWays) {
  TSettings s;
  const std::pair<int, const char*> cases[] = {{0, "500K"}, {1, "300K"}, {2, "250K"}, {3, "1M"}};
  for (const auto& [code, item] : cases) {
    s.Rate = static_cast<uint8_t>(code);
    const SetupValues v = SetupValuesOf(s);
    EXPECT_STREQ(kRateItems[static_cast<size_t>(v.rateIndex)], item);
    TSettings back;
    TakeSetupValues(v, back);
    EXPECT_EQ(back.Rate, code);
  }
  SetupValues none = SetupValuesOf(s);
  none.rateIndex = -1;
  TakeSetupValues(none, s);
  EXPECT_EQ(s.Rate, 2);
}

TEST(SetupValues, FirstTrackAboveTheLastIsRefusedWithTheRunsMessage) {
  SetupValues v = SetupValuesOf(TSettings{});
  const std::pair<int, int> ranges[] = {{5, 5}, {4, 5}, {6, 5}, {0, 0}, {1, 0}};
  for (const auto& [first, last] : ranges) {
    v.numbers[2] = first;
    v.numbers[3] = last;
    EXPECT_EQ(SetupRefusal(v), first > last ? "Начальная дорожка больше конечной..." : "")
        << first << ".." << last;
  }
}

TEST(SetupValues, AcceptWritesTheDialogKeysInTheirOrder) {
  test::TempDir dir;
  const std::string ini = dir / "Kelvara.ini";
  SettingsStore store(ini, dir.Path());
  TSettings s;
  SetupValues v = SetupValuesOf(s);
  v.numbers[0] = 42;
  ASSERT_TRUE(AcceptSetup(v, s, store));
  EXPECT_EQ(s.RetryCount, 42);
  // The keys as the file lists them, which is the order they were written in.
  std::ifstream file(ini);
  std::vector<std::string> names;
  for (std::string line; std::getline(file, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos)
      names.push_back(line.substr(0, line.find_last_not_of(' ', eq - 1) + 1));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"RetryCount",
                                             "RetryCountWithReset",
                                             "FirstTrack",
                                             "LastTrack",
                                             "CycleRead",
                                             "TimeOut",
                                             "GAP",
                                             "Rate",
                                             "Drive",
                                             "RestoreTrack",
                                             "TD0arch",
                                             "OverlapTrackAndData",
                                             "SetSectorSizeFromHead",
                                             "FluxDevice",
                                             "FluxBus",
                                             "FluxVerify",
                                             "DoubleStep",
                                             "FluxSimImage",
                                             "FluxWritePasses",
                                             "PrecompCylinder",
                                             "PrecompNs",
                                             "DensitySelect"}));
}

}  // namespace
}  // namespace kelvara
