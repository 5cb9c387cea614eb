#include "filesystems/SclArchive.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "model/ByteReader.h"

namespace kelvara {

uint32_t SclSum(std::span<const uint8_t> bytes) {
  // Eight bytes at a time: the even and odd bytes of a word add into four
  // 16-bit lanes, which hold 128 words' worth (at most 128 * 510) before they
  // are folded into the sum.
  constexpr uint64_t kLow = 0x00FF00FF00FF00FFull;
  uint32_t sum = 0;
  const uint8_t* p = bytes.data();
  size_t words = bytes.size() / 8;
  while (words > 0) {
    uint64_t lanes = 0;
    for (size_t n = std::min<size_t>(words, 128); n > 0; --n, --words, p += 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      lanes += (w & kLow) + (w >> 8 & kLow);
    }
    sum += static_cast<uint32_t>((lanes & 0xFFFF) + (lanes >> 16 & 0xFFFF) +
                                 (lanes >> 32 & 0xFFFF) + (lanes >> 48));
  }
  return std::accumulate(p, bytes.data() + bytes.size(), sum);
}

SclArchive::Status SclArchive::Open(std::span<const uint8_t> file) {
  file_ = file;
  count_ = 0;
  headers_.clear();
  offsets_.clear();
  // A file too short to hold a checksum has none that could hold.
  if (file.size() < kSclChecksumSize) return Status::BadChecksum;
  const size_t body = file.size() - kSclChecksumSize;
  ByteReader tail(file.subspan(body));
  uint32_t stored = 0;
  tail.U32(stored);
  if (SclSum(file.first(body)) != stored) return Status::BadChecksum;

  ByteReader r(file);
  std::span<const uint8_t> signature;
  uint8_t n = 0;
  if (!r.View(kSclSignature.size(), signature) ||
      !std::equal(signature.begin(), signature.end(), kSclSignature.begin()) || !r.U8(n)) {
    return Status::BadSignature;
  }
  count_ = n;
  // The headers may run into the checksum bytes; only the file's end bounds them.
  if (file.size() < kSclSignature.size() + 1 + kSclHeaderSize * n) return Status::TooShort;

  size_t offset = kSclSignature.size() + 1 + kSclHeaderSize * n;
  for (int i = 0; i < n; ++i) {
    std::array<uint8_t, kTrdosEntrySize> bytes{};
    r.Bytes(std::span(bytes).first(kSclHeaderSize));
    headers_.push_back(TTrdosFileEntry::Decode(bytes));
    offsets_.push_back(offset);
    offset += static_cast<size_t>(headers_.back().SectorCount) * kTrdosSectorSize;
  }
  return Status::Ok;
}

bool SclArchive::Data(int i, std::span<const uint8_t>& out) const {
  const size_t body = file_.size() - kSclChecksumSize;
  const size_t need = static_cast<size_t>(Header(i).SectorCount) * kTrdosSectorSize;
  const size_t at = offsets_[static_cast<size_t>(i)];
  if (at > body || body - at < need) return false;
  out = file_.subspan(at, need);
  return true;
}

bool BuildSclArchive(const TZX_Disk& disk, std::span<const TTrdosFileEntry> files,
                     std::vector<uint8_t>& out, TrdosSectorAddress& failed) {
  ByteWriter w;
  size_t size = kSclSignature.size() + 1 + kSclChecksumSize;
  for (const TTrdosFileEntry& e : files)
    size += kSclHeaderSize + static_cast<size_t>(e.SectorCount) * kTrdosSectorSize;
  w.Data().reserve(size);
  w.Bytes(kSclSignature);
  w.U8(static_cast<uint8_t>(files.size()));
  for (const TTrdosFileEntry& e : files) {
    std::array<uint8_t, kTrdosEntrySize> bytes{};
    e.Encode(bytes);
    w.Bytes(std::span(bytes).first(kSclHeaderSize));
  }
  std::vector<uint8_t> data;
  for (const TTrdosFileEntry& e : files) {
    if (!ReadTrdosRun(disk, e.FirstTrack, e.FirstSector, e.SectorCount, data, failed)) {
      out.clear();
      return false;
    }
    w.Bytes(data);
  }
  w.U32(SclSum(w.Data()));
  out = w.Take();
  return true;
}

}  // namespace kelvara
