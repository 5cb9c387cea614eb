// SCL: several TR-DOS files in one archive. The text "SINCLAIR", the file
// count N, N headers of 14 bytes (a catalog entry without its first sector
// and track), the files' whole sectors in header order, and last the 32-bit
// little-endian sum of every byte before it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "filesystems/Trdos.h"

namespace kelvara {

inline constexpr std::array<uint8_t, 8> kSclSignature = {'S', 'I', 'N', 'C', 'L', 'A', 'I', 'R'};
inline constexpr size_t kSclHeaderSize = 14;
inline constexpr size_t kSclChecksumSize = 4;

// The unsigned 32-bit sum of the bytes.
uint32_t SclSum(std::span<const uint8_t> bytes);

// An SCL file read in place: the checks every reader makes in the same order,
// then the headers and the data of each packed file.
class SclArchive {
 public:
  enum class Status { Ok, BadChecksum, BadSignature, TooShort };

  // Checks the checksum, then the signature, then that the file holds its N
  // headers. The file must outlive the archive.
  Status Open(std::span<const uint8_t> file);
  // N; known once the signature has passed.
  int Count() const { return count_; }
  // Header i (0 <= i < Count(), after Open gave Ok), first sector and track 0.
  TTrdosFileEntry Header(int i) const;
  // The 256 x sector count bytes of file i, or false when fewer than that lie
  // between its data position and the checksum.
  bool Data(int i, std::span<const uint8_t>& out) const;

 private:
  // Header i's position in the file.
  static size_t HeaderAt(int i) {
    return kSclSignature.size() + 1 + kSclHeaderSize * static_cast<size_t>(i);
  }

  std::span<const uint8_t> file_;
  int count_ = 0;
  // Data position of each file; the first Count() are set. An archive of
  // 255 files of 255 sectors ends before 2^24.
  std::array<uint32_t, 255> offsets_;
};

// An SCL file of the given entries, each one's data collected from the disk
// along its run. False at the first sector that is not usable, `failed`
// naming it, with `out` empty.
bool BuildSclArchive(const TZX_Disk& disk, std::span<const TTrdosFileEntry> files,
                     std::vector<uint8_t>& out, TrdosSectorAddress& failed);

}  // namespace kelvara
