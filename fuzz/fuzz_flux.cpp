// The flux stream parser and the MFM decoder on arbitrary bytes: no read
// past the stream, no runaway buffer; and a stream that parses, encoded again
// as the device would send it, parses to the same flux and index times.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/MfmDecoder.h"
#include "drive/flux/FluxStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvara::flux;
  static FluxCapture capture, again;
  static DecodedTrack track;
  static DecoderScratch scratch;
  std::string error;
  if (!DecodeFluxStream({data, size}, capture, error)) return 0;
  DecodeMfmTrack(capture, DecoderSettings{}, track, scratch);
  // The round trip holds where every number fits the device's forms.
  uint64_t cursor = 0;
  for (uint32_t v : capture.flux) {
    if (v >= (1u << 27)) return 0;
    cursor += v;
  }
  if (!std::is_sorted(capture.index.begin(), capture.index.end())) return 0;
  for (uint64_t at : capture.index)
    if (at > cursor || at >= (1u << 27)) return 0;
  std::vector<uint8_t> stream;
  EncodeFluxStream(capture, 14400, static_cast<int>(size % 3), stream);
  if (!DecodeFluxStream(stream, again, error) || again.flux != capture.flux ||
      again.index != capture.index)
    __builtin_trap();
  return 0;
}
