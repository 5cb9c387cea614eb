// A fixture for the tests of one image format: an image to save, a second
// to read back into, a temporary folder, and the format's in-memory writer.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "formats/WriteResult.h"
#include "model/ZXDisk.h"
#include "support/TempDir.h"

namespace kelvara::test {

template <auto Build>
class ImageFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  std::unique_ptr<TZX_Disk> back = std::make_unique<TZX_Disk>();
  TempDir dir;

  // The file the writer makes of `disk`.
  std::vector<uint8_t> Saved() {
    std::vector<uint8_t> out;
    const WriteResult r = Build(*disk, out, {});
    EXPECT_TRUE(r) << r.text;
    return out;
  }
};

}  // namespace kelvara::test
