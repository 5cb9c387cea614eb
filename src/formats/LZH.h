// LZHUF, the compression of "td" TeleDisk images: LZSS string matching over a
// 4096-byte ring (matches of 3 to 60 bytes), literals and match lengths sent
// with an adaptive Huffman code of 314 symbols, match distances with a fixed
// prefix code for their upper six bits. Bits run most significant first.
//
// The stream carries no header and no length. The decoder runs until it has
// fetched as many bytes as the whole input holds, counted from the input's
// start rather than from where decoding began; fetches past the end supply
// zero. A TeleDisk file decodes from offset 12 with the file as input, so the
// twelve extra zero bytes are what flush the last real bits, and a few bytes
// of junk follow the true end of the data.
//
// Each call builds its own state; calls share nothing and may run in parallel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kelvara {

// Decodes `input` from byte `start` and appends the bytes to `out`, at most
// `maxOut` of them (the decoder stops there). An empty input gives nothing.
void LzhUnpack(std::span<const uint8_t> input, size_t start, std::vector<uint8_t>& out,
               size_t maxOut = SIZE_MAX);

// Encodes all of `input` and appends the code to `out`, the last partial byte
// padded with zero bits. An empty input gives nothing.
void LzhPack(std::span<const uint8_t> input, std::vector<uint8_t>& out);

}  // namespace kelvara
