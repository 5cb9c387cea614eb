#include "session/PendingLoads.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

// Files wait while any of the nested windows is open, then come in the
// order they arrived, also those added after the windows closed.
TEST(PendingLoads, FilesWaitForTheLastModalWindowAndKeepTheirOrder) {
  PendingLoads loads;
  loads.WindowOpened();  // the catalog window
  loads.Add("a.trd");
  loads.WindowOpened();  // the entry editor over it
  loads.Add("b.trd");
  EXPECT_FALSE(loads.WindowClosed());  // the catalog window is still open
  EXPECT_EQ(loads.Next(), std::nullopt);
  EXPECT_TRUE(loads.WindowClosed());
  loads.Add("c.trd");
  for (const char* path : {"a.trd", "b.trd", "c.trd"})
    EXPECT_EQ(loads.Next(), path);
  EXPECT_EQ(loads.Next(), std::nullopt);
  // Nothing waits: closing a window has nothing to start.
  loads.WindowOpened();
  EXPECT_FALSE(loads.WindowClosed());
  EXPECT_FALSE(loads.WindowsOpen());
}

}  // namespace
}  // namespace kelvara
