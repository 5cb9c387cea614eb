// A fixture for the tests of one image format: an image to save, a second
// to read back into, a temporary folder, and the format's in-memory writer.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "model/ZXDisk.h"
#include "support/TempDir.h"

namespace kelvara::test {

template <bool (TZX_Disk::*Build)(std::vector<uint8_t>&)>
class ImageFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<TZX_Disk> disk = std::make_unique<TZX_Disk>();
  std::unique_ptr<TZX_Disk> back = std::make_unique<TZX_Disk>();
  TempDir dir;

  // The file the writer makes of `disk`.
  std::vector<uint8_t> Saved() {
    std::vector<uint8_t> out;
    EXPECT_TRUE(((*disk).*Build)(out)) << disk->StatusText;
    return out;
  }
};

}  // namespace kelvara::test
