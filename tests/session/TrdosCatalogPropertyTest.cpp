// Random command sequences over random and damaged TR-DOS disks, checked
// after every step (see CatalogSequence.h). A fixed set of seeds, so a
// failure names a seed and a step that replay exactly.
#include <gtest/gtest.h>

#include <random>

#include "session/CatalogSequence.h"

namespace kelvara {
namespace {

TEST(CatalogProperty, InvariantsHoldOverRandomSequences) {
  const test::ScratchFolder dir;
  ASSERT_FALSE(dir.Path().empty());
  int steps = 0;
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(1500);
    for (uint8_t& b : bytes)
      b = static_cast<uint8_t>(rng());
    const test::SequenceResult r = test::RunCatalogSequence(bytes, 40, dir.Path());
    ASSERT_EQ(r.failure, "") << "seed " << seed;
    steps += r.steps;
  }
  // Every sequence runs its full length: a generator that made disks the
  // catalog refuses to open would test nothing.
  EXPECT_EQ(steps, 300 * 40);
}

}  // namespace
}  // namespace kelvara
