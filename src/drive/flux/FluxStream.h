// The flux stream of a Greaseweazle: the bytes a ReadFlux sends and a
// WriteFlux takes. Each value is the time in sample ticks since the previous
// flux transition:
//
//   0            end of stream (no other byte of a stream is 0)
//   1..249       a value of that many ticks
//   250..254, b  250 + (b0 - 250) * 255 + (b - 1): values 250..1524
//   255, op, N28 an opcode with a 28-bit argument in four bytes, bit 0 of
//                each set, bits 7..1 carrying seven bits of N, low first:
//                  1 Index  an index pulse N ticks after the sample cursor
//                           (the cursor does not move: flux values that
//                           follow in the stream may lie before it)
//                  2 Space  N ticks without a transition, added to the next
//                           value
//                  3 Astable (write streams only)
//
// The sample cursor is the sum of the values so far plus the pending Space.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codec/Flux.h"

namespace kelvara::flux {

inline constexpr uint32_t kMaxN28 = (1u << 28) - 1;
inline constexpr uint32_t kLargestShortValue = 1524;
inline constexpr uint8_t kOpIndex = 1;
inline constexpr uint8_t kOpSpace = 2;
inline constexpr uint8_t kOpAstable = 3;

// Decodes a read stream. `bytes` may end with the terminating 0 or not; the
// 0 must be the last byte when present. False with the reason in `error` for
// a stream cut inside a value or opcode, a byte after the 0, an unknown or
// write-only opcode, or a malformed N28. `out` is emptied first.
bool DecodeFluxStream(std::span<const uint8_t> bytes, FluxCapture& out, std::string& error);

// Encodes a capture as a device sends it: values of 1525 ticks and more as
// Space + 249, gaps of more than 400 us (`spaceTicks` * 2) as a run of
// Space(spaceTicks) first, each index as an Index opcode sent `indexEarly`
// values before the flux transition that follows it. Values of 0 are dropped.
// Appends the terminating 0.
void EncodeFluxStream(const FluxCapture& capture, uint32_t spaceTicks, int indexEarly,
                      std::vector<uint8_t>& out);

// The stream a WriteFlux sends for `flux` (ticks between transitions, the
// first from the index): values of 0 are skipped; a value longer than
// `longGapTicks` (150 us) is a stretch without data, sent as Space(value)
// and Astable at `astableTicks` (1.25 us) so the head keeps writing flux
// there rather than leave a region that reads as noise; `tailTicks` (100 us)
// is added as a last value, sacrificed because the device stops the write as
// soon as it loads the last value; then the terminating 0.
struct WriteStreamTiming {
  uint32_t longGapTicks = 10800;
  uint32_t astableTicks = 90;
  uint32_t tailTicks = 7200;
  // The same at another tick rate (the defaults are for 72 MHz).
  static WriteStreamTiming At(double sampleFrequency);
};
void EncodeWriteStream(std::span<const uint32_t> flux, const WriteStreamTiming& timing,
                       std::vector<uint8_t>& out);

// What a device makes of a write stream: the transitions it writes, in ticks
// from the start of the write (an Astable fills the time of the Spaces before
// it with transitions every N ticks). False with the reason for a stream cut
// inside a value or opcode, an Index opcode (not allowed in a write) or an
// unknown one, an Astable period of 0, or a stream without its 0.
bool DecodeWriteStream(std::span<const uint8_t> bytes, std::vector<uint32_t>& flux,
                       std::string& error);

// One opcode argument, and a whole opcode: 255, op, N28.
void PutN28(std::vector<uint8_t>& out, uint32_t n);
uint32_t GetN28(const uint8_t* p);
void PutOpcode(std::vector<uint8_t>& out, uint8_t op, uint32_t n);

}  // namespace kelvara::flux
