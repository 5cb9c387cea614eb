#include "formats/LZH.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "model/ZXDisk.h"
#include "support/TempDir.h"

namespace kelvara {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pack(const Bytes& in) {
  Bytes out;
  LzhPack(in, out);
  return out;
}

// As a TD0 file holds a stream: after 12 bytes of header.
Bytes UnpackAfterHeader(const Bytes& packed) {
  Bytes file(12, 0x55);
  file.insert(file.end(), packed.begin(), packed.end());
  Bytes out;
  LzhUnpack(file, 12, out);
  return out;
}

bool StartsWith(const Bytes& whole, const Bytes& prefix) {
  return whole.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

Bytes TextLike(size_t n) {
  static const std::string kWords[] = {"LOAD ", "track ", "sector ", "the ", "\r", "10 PRINT "};
  Bytes out;
  for (size_t i = 0; out.size() < n; ++i) {
    const std::string& w = kWords[(i * 7 + i / 5) % 6];
    out.insert(out.end(), w.begin(), w.end());
  }
  out.resize(n);
  return out;
}

Bytes Repetitive(size_t n) {
  Bytes out(n, 0);
  for (size_t i = 0; i < n; i += 997)
    out[i] = static_cast<uint8_t>(i);
  return out;
}

// Pieces that each repeat a unit of random bytes: periods from one byte to
// nearly the whole window, units from small and full alphabets, a flipped
// byte now and then, and the input ending inside a repeat.
Bytes Repeats() {
  static constexpr size_t kPeriods[] = {1, 2, 3, 7, 59, 60, 61, 256, 1000, 4000, 4094, 4095};
  uint32_t x = 2024;
  const auto next = [&x] {
    x = x * 1103515245u + 12345u;
    return x >> 16;
  };
  Bytes out;
  for (int round = 0; round < 2; ++round) {
    for (size_t period : kPeriods) {
      Bytes unit(period);
      const uint32_t alphabet = round == 0 ? 3 : 256;
      for (uint8_t& b : unit)
        b = static_cast<uint8_t>(next() % alphabet);
      for (size_t n = 0; n < 2 + 6000 / period; ++n)
        out.insert(out.end(), unit.begin(), unit.end());
      if (next() % 2) out[out.size() - 1 - next() % out.size() / 2] ^= 0x40;
    }
  }
  out.resize(out.size() - 30);
  return out;
}

// Free space as a TD0 body holds it: 256 zeros per sector behind a header
// that counts up, now and then a sector of data; it ends in zeros.
Bytes EmptySectors() {
  Bytes out;
  for (uint8_t sector = 0; sector < 200; ++sector) {
    const auto cylinder = static_cast<uint8_t>(sector / 16);
    const auto number = static_cast<uint8_t>(1 + sector % 16);
    const auto crc = static_cast<uint8_t>(sector * 37);
    const uint8_t header[] = {cylinder, 0, number, 1, 0, crc, 1, 1, 0};
    out.insert(out.end(), std::begin(header), std::end(header));
    const Bytes data = sector % 9 == 4 ? test::PatternBytes(256, sector) : Bytes(256, 0);
    out.insert(out.end(), data.begin(), data.end());
  }
  return out;
}

TEST(Lzh, EmptyInputGivesNothingEitherWay) {
  Bytes out;
  LzhPack({}, out);
  LzhUnpack({}, 0, out);
  EXPECT_TRUE(out.empty());
}

// Both streams follow by hand from the starting tree: every symbol has
// count 1, symbol 65 sits nine levels deep (1 1 1 0 0 1 1 0 1) and symbol
// 313, a 60-byte match, eight (1 1 0 0 0 1 0 1).
TEST(Lzh, FirstSymbolsCodeAsTheStartingTreeSays) {
  EXPECT_EQ(Pack({'A'}), (Bytes{0xE6, 0x80}));

  // The ring starts as spaces, so 60 spaces are one match. Position 4036 -
  // 60 is the one of the identical start positions left in the finder's tree
  // (each full match replaces the node it meets), hence distance 59: prefix
  // code 000 and low bits 111011.
  const Bytes spaces(60, 0x20);
  EXPECT_EQ(Pack(spaces), (Bytes{0xC5, 0x1D, 0x80}));
  const Bytes longer = Pack(Bytes(100, 0x20));
  EXPECT_EQ(Bytes(longer.begin(), longer.begin() + 2), (Bytes{0xC5, 0x1D}));
  EXPECT_TRUE(StartsWith(UnpackAfterHeader({0xC5, 0x1D, 0x80}), spaces));
  EXPECT_TRUE(StartsWith(UnpackAfterHeader({0xE6, 0x80}), {'A'}));
}

TEST(Lzh, DecodingRunsUntilTheWholeInputLengthHasBeenFetched) {
  const Bytes data = test::PatternBytes(3000, 2);
  const Bytes packed = Pack(data);
  // From offset 12 of a stream, twelve zero bytes are fetched past its end:
  // the same as decoding the stream followed by twelve real zero bytes.
  Bytes file(12, 0xAA);
  file.insert(file.end(), packed.begin(), packed.end());
  Bytes padded = packed;
  padded.insert(padded.end(), 12, 0);
  Bytes fromOffset, fromStart;
  LzhUnpack(file, 12, fromOffset);
  LzhUnpack(padded, 0, fromStart);
  EXPECT_EQ(fromOffset, fromStart);
  EXPECT_GT(fromOffset.size(), 3000u) << "a tail follows the true end";

  // From offset 0 nothing is fetched past the end, and the last literal's
  // bits stay undecoded.
  Bytes bare;
  LzhUnpack(packed, 0, bare);
  EXPECT_EQ(bare, Bytes(data.begin(), data.end() - 1));

  // The count starts at nothing fetched: a one-byte input decodes a symbol.
  Bytes one;
  LzhUnpack(Bytes{0}, 0, one);
  EXPECT_EQ(one.size(), 1u);

  // The output cut stops the decoder exactly there.
  Bytes cut;
  LzhUnpack(file, 12, cut, 1000);
  EXPECT_EQ(cut, Bytes(fromOffset.begin(), fromOffset.begin() + 1000));
}

TEST(Lzh, RunsShareNoState) {
  const Bytes a = TextLike(5000);
  const Bytes b = test::PatternBytes(300, 9);
  const Bytes first = Pack(a);
  Pack(b);
  EXPECT_EQ(Pack(a), first);
}

TEST(Lzh, PackThenUnpackGivesTheInputBack) {
  for (size_t n : {0u, 1u, 59u, 60u, 61u, 4095u, 4096u, 4097u, 700000u}) {
    const Bytes inputs[] = {test::PatternBytes(n, static_cast<uint32_t>(n)), TextLike(n),
                            Repetitive(n)};
    for (const Bytes& in : inputs) {
      const Bytes packed = Pack(in);
      ASSERT_TRUE(StartsWith(UnpackAfterHeader(packed), in)) << "size " << n;
      if (n == 700000 && &in != &inputs[0]) {
        EXPECT_LT(packed.size(), n / 4);
      }
    }
  }
}

// Pins the bit stream: any change to the tree, the match finder or the bit
// order changes these bytes, and files would no longer read elsewhere.
TEST(Lzh, GoldenStream) {
  const std::string text = "TD0 images pack with LZHUF; TD0 images pack with LZHUF!";
  EXPECT_EQ(Pack(Bytes(text.begin(), text.end())),
            (Bytes{0xF0, 0x74, 0x37, 0x9A, 0xCF, 0xAF, 0xE7, 0xDB, 0xF3, 0xF8, 0xFF,
                   0xF0, 0xBF, 0x97, 0xFE, 0xFF, 0xBD, 0xC0, 0x3C, 0x10, 0x0F, 0xA5,
                   0xCE, 0xC7, 0x9B, 0xA9, 0xE1, 0xE9, 0x71, 0xEE, 0x01, 0xBD, 0x68}));

  // A larger input that reaches the tree rebuild (0x8000 symbols), far
  // distances and every match length.
  Bytes big = TextLike(60000);
  const Bytes noise = test::PatternBytes(40000, 77);
  big.insert(big.end(), noise.begin(), noise.end());
  const Bytes runs = Repetitive(30000);
  big.insert(big.end(), runs.begin(), runs.end());
  const Bytes packed = Pack(big);
  EXPECT_EQ(packed.size(), 43173u);
  EXPECT_EQ(CalcCrc32(packed), 4190011650u);
  const Bytes unpacked = UnpackAfterHeader(packed);
  EXPECT_EQ(unpacked.size(), 130011u);
  EXPECT_TRUE(StartsWith(unpacked, big));

  // Inputs where most keys equal the one a match's distance back, which the
  // packer inserts without walking its trees.
  const Bytes inputs[] = {Repeats(), EmptySectors()};
  const size_t sizes[] = {44097, 8255};
  const uint32_t crcs[] = {355772662u, 3784010856u};
  for (int k = 0; k < 2; ++k) {
    const Bytes repacked = Pack(inputs[k]);
    EXPECT_EQ(repacked.size(), sizes[k]) << "input " << k;
    EXPECT_EQ(CalcCrc32(repacked), crcs[k]) << "input " << k;
    EXPECT_TRUE(StartsWith(UnpackAfterHeader(repacked), inputs[k])) << "input " << k;
  }
}

TEST(Lzh, GoldenStreamOfARealDisk) {
  const std::string path = std::string(KELVARA_TESTDATA_DIR) + "/EyeAche.trd";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no sample images";
  const Bytes packed = Pack(test::ReadBytes(path));
  EXPECT_EQ(packed.size(), 52009u);
  EXPECT_EQ(CalcCrc32(packed), 8271249u);
}

}  // namespace
}  // namespace kelvara
