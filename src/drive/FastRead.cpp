#include "drive/FastRead.h"

#include <algorithm>

namespace kelvara {

namespace {

bool SameId(const FD_ID_HEADER& a, const FD_ID_HEADER& b) {
  return a.cyl == b.cyl && a.head == b.head && a.sector == b.sector && a.size == b.size;
}

// b may follow a in one READ DATA: the same C, H and N, the next number. The
// call's end-of-track number is one past its last sector, so that stays
// below 256.
bool Follows(const FD_ID_HEADER& a, const FD_ID_HEADER& b) {
  return a.cyl == b.cyl && a.head == b.head && a.size == b.size && b.sector == a.sector + 1 &&
         b.sector < 255;
}

}  // namespace

std::vector<SectorRun> FastReadRuns(std::span<const FD_ID_HEADER> ids, size_t next) {
  const size_t n = ids.size();
  if (n == 0 || next >= n) return {};
  for (size_t i = 0; i < n; ++i) {
    if (ids[i].size > 3) return {};
    for (size_t j = i + 1; j < n; ++j)
      if (SameId(ids[i], ids[j])) return {};
  }
  std::vector<SectorRun> runs;
  for (size_t k = 0; k < n;) {
    SectorRun run{(next + k) % n, 1};
    while (k + run.count < n &&
           Follows(ids[(next + k + run.count - 1) % n], ids[(next + k + run.count) % n]))
      ++run.count;
    runs.push_back(run);
    k += run.count;
  }
  return runs;
}

}  // namespace kelvara
