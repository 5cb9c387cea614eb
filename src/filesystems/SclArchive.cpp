#include "filesystems/SclArchive.h"

#include <algorithm>
#include <numeric>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/ByteReader.h"

namespace kelvara {

uint32_t SclSum(std::span<const uint8_t> bytes) {
  const uint8_t* p = bytes.data();
  const uint8_t* const end = p + bytes.size();
  uint32_t sum = 0;
#if defined(__SSE2__)
  // Sixteen bytes at a time: PSADBW against zero adds each half of a block
  // into a 64-bit lane.
  __m128i lanes = _mm_setzero_si128();
  for (; end - p >= 16; p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    lanes = _mm_add_epi64(lanes, _mm_sad_epu8(block, _mm_setzero_si128()));
  }
  std::array<uint64_t, 2> halves{};
  _mm_storeu_si128(reinterpret_cast<__m128i*>(halves.data()), lanes);
  sum = static_cast<uint32_t>(halves[0] + halves[1]);
#endif
  return std::accumulate(p, end, sum);
}

SclArchive::Status SclArchive::Open(std::span<const uint8_t> file) {
  file_ = file;
  count_ = 0;
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
  size_t offset = HeaderAt(n);
  if (file.size() < offset) return Status::TooShort;
  for (int i = 0; i < n; ++i) {
    offsets_[static_cast<size_t>(i)] = static_cast<uint32_t>(offset);
    offset += static_cast<size_t>(Header(i).SectorCount) * kTrdosSectorSize;
  }
  return Status::Ok;
}

TTrdosFileEntry SclArchive::Header(int i) const {
  std::array<uint8_t, kTrdosEntrySize> bytes{};
  const auto header = file_.subspan(HeaderAt(i), kSclHeaderSize);
  std::copy(header.begin(), header.end(), bytes.begin());
  return TTrdosFileEntry::Decode(bytes);
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
  for (const TTrdosFileEntry& e : files) {
    if (!AppendTrdosRun(disk, e.FirstTrack, e.FirstSector, e.SectorCount, w.Data(), failed)) {
      out.clear();
      return false;
    }
  }
  w.U32(SclSum(w.Data()));
  out = w.Take();
  return true;
}

}  // namespace kelvara
