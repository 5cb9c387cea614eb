// The LZH decoder on arbitrary bytes, from an offset the first byte picks; and
// the codec's round trip on the same bytes, which must give them back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "formats/LZH.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> input(data, size);
  std::vector<uint8_t> out;
  kelvara::LzhUnpack(input, data[0] % 16, out);

  std::vector<uint8_t> file(12, 0);
  kelvara::LzhPack(input, file);
  out.clear();
  kelvara::LzhUnpack(file, 12, out);
  if (out.size() < size || !std::equal(input.begin(), input.end(), out.begin())) std::abort();
  return 0;
}
