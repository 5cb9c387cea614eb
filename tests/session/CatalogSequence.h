// Random runs of the TR-DOS catalog commands over random, often damaged,
// disks, checked after every step by a reader of the raw sector bytes that
// shares no code with the volume code. The unit test runs a fixed set of
// seeds; fuzz/fuzz_catalog_sequence.cpp steers the same runs by fuzzer bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kelvara::test {

// Bytes that steer a run; once they are used up every draw is 0.
class ByteSource {
 public:
  explicit ByteSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint8_t Byte() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }
  // 0..n-1 (n > 0).
  int Below(int n) { return static_cast<int>((Byte() << 8 | Byte()) % n); }
  bool Chance(int percent) { return Below(100) < percent; }
  bool Exhausted() const { return pos_ >= bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

// A folder for the files an add reads, in memory (/dev/shm) where the system
// has one: a run writes thousands of small files. Removed with the object.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

struct SequenceResult {
  int steps = 0;        // commands run
  std::string failure;  // empty: every check held after every step
};

// Builds a TR-DOS disk from the first bytes (damaged when they say so), then
// runs up to maxSteps catalog commands chosen by the bytes that follow.
// Files to add are written into `folder`.
SequenceResult RunCatalogSequence(std::span<const uint8_t> bytes, int maxSteps,
                                  const std::string& folder);

}  // namespace kelvara::test
