// LZHUF as TeleDisk uses it. The bit stream is fixed by the format: every
// table, tie rule and update step below decides which bits a file holds, so
// none of it may change for speed.
#include "formats/LZH.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

namespace kelvara {

namespace {

constexpr int kRingSize = 4096;
constexpr int kRingMask = kRingSize - 1;
constexpr int kLookahead = 60;  // longest match
constexpr int kThreshold = 2;   // longer matches than this are worth a distance
constexpr int kSymbols = 256 - kThreshold + kLookahead;  // 256 bytes + lengths 3..60
constexpr int kNodes = 2 * kSymbols - 1;                 // 314 leaves, 313 inner nodes
constexpr int kRoot = kNodes - 1;
constexpr uint16_t kRebuildAt = 0x8000;  // root frequency that halves every count
constexpr int kFirstPosition = kRingSize - kLookahead;
constexpr uint8_t kFillByte = 0x20;  // the ring starts as spaces

// ---------------------------------------------------------------------------
// Position code: the upper six bits h of a distance get a canonical prefix
// code whose length grows with h (near matches are the common ones).

struct LengthRun {
  int below;  // h values up to this one (exclusive) ...
  int bits;   // ... have codes of this length
};
constexpr std::array<LengthRun, 6> kPositionCodeLengths = {
    {{1, 3}, {4, 4}, {12, 5}, {24, 6}, {48, 7}, {64, 8}}};

struct PositionTables {
  std::array<uint8_t, 64> code{};  // left-aligned in 8 bits
  std::array<uint8_t, 64> bits{};
  std::array<uint8_t, 256> highOf{};  // for every 8-bit value: the h whose code prefixes it
  std::array<uint8_t, 256> bitsOf{};  // and that code's length
};

constexpr PositionTables MakePositionTables() {
  PositionTables t{};
  int value = 0;
  int h = 0;
  for (const LengthRun& run : kPositionCodeLengths) {
    for (; h < run.below; ++h) {
      t.code[h] = static_cast<uint8_t>(value);
      t.bits[h] = static_cast<uint8_t>(run.bits);
      const int span = 1 << (8 - run.bits);
      for (int v = value; v < value + span; ++v) {
        t.highOf[v] = static_cast<uint8_t>(h);
        t.bitsOf[v] = static_cast<uint8_t>(run.bits);
      }
      value += span;
    }
  }
  return t;
}
constexpr PositionTables kPosition = MakePositionTables();
static_assert(kPosition.code[1] == 0x20 && kPosition.code[4] == 0x50 &&
              kPosition.code[12] == 0x90 && kPosition.code[24] == 0xC0 &&
              kPosition.code[48] == 0xF0 && kPosition.code[63] == 0xFF);

// ---------------------------------------------------------------------------
// The adaptive Huffman tree. Nodes are kept in ascending order of frequency
// (the root last); an inner node's children are son and son + 1, a leaf's son
// entry is its symbol + kNodes. parent covers nodes and, from kNodes on, the
// leaf entries of symbols.

class AdaptiveHuffman {
 public:
  AdaptiveHuffman();
  // Counts one more use of `symbol` and restores the frequency order.
  void Update(int symbol);

  std::array<uint16_t, kNodes> son;
  std::array<uint16_t, kNodes + kSymbols> parent;

 private:
  void Rebuild();

  // One more than the nodes: a sentinel above every real frequency stops the
  // upward search for a node to swap with.
  std::array<uint16_t, kNodes + 1> freq_;
};

AdaptiveHuffman::AdaptiveHuffman() {
  for (int i = 0; i < kSymbols; ++i) {
    freq_[i] = 1;
    son[i] = static_cast<uint16_t>(i + kNodes);
    parent[i + kNodes] = static_cast<uint16_t>(i);
  }
  for (int i = 0, j = kSymbols; j < kNodes; i += 2, ++j) {
    freq_[j] = static_cast<uint16_t>(freq_[i] + freq_[i + 1]);
    son[j] = static_cast<uint16_t>(i);
    parent[i] = parent[i + 1] = static_cast<uint16_t>(j);
  }
  freq_[kNodes] = 0xFFFF;
  parent[kRoot] = 0;
}

void AdaptiveHuffman::Update(int symbol) {
  if (freq_[kRoot] == kRebuildAt) Rebuild();
  int n = parent[symbol + kNodes];
  do {
    const uint16_t k = ++freq_[n];
    if (k > freq_[n + 1]) {
      // Swap n with the last node of its old frequency, so the order holds.
      int l = n + 1;
      while (k > freq_[l + 1])
        ++l;
      freq_[n] = freq_[l];
      freq_[l] = k;
      const int i = son[n];
      parent[i] = static_cast<uint16_t>(l);
      if (i < kNodes) parent[i + 1] = static_cast<uint16_t>(l);
      const int j = son[l];
      son[l] = static_cast<uint16_t>(i);
      parent[j] = static_cast<uint16_t>(n);
      if (j < kNodes) parent[j + 1] = static_cast<uint16_t>(n);
      son[n] = static_cast<uint16_t>(j);
      n = l;
    }
    n = parent[n];
  } while (n != 0);
}

void AdaptiveHuffman::Rebuild() {
  // Leaves first, in node order, each count halved (rounding up: none drops to 0).
  int leaves = 0;
  for (int i = 0; i < kNodes; ++i) {
    if (son[i] >= kNodes) {
      freq_[leaves] = static_cast<uint16_t>((freq_[i] + 1) / 2);
      son[leaves] = son[i];
      ++leaves;
    }
  }
  // Then every inner node, joining nodes i and i + 1, inserted after the last
  // node whose frequency does not exceed its own.
  for (int i = 0, j = kSymbols; j < kNodes; i += 2, ++j) {
    const uint16_t f = static_cast<uint16_t>(freq_[i] + freq_[i + 1]);
    int k = j - 1;
    while (f < freq_[k])
      --k;
    ++k;
    std::memmove(&freq_[k + 1], &freq_[k], static_cast<size_t>(j - k) * sizeof(uint16_t));
    std::memmove(&son[k + 1], &son[k], static_cast<size_t>(j - k) * sizeof(uint16_t));
    freq_[k] = f;
    son[k] = static_cast<uint16_t>(i);
  }
  for (int i = 0; i < kNodes; ++i) {
    const int k = son[i];
    parent[k] = static_cast<uint16_t>(i);
    if (k < kNodes) parent[k + 1] = static_cast<uint16_t>(i);
  }
}

// ---------------------------------------------------------------------------
// Decoding.

// The decoder's input: bytes are fetched one at a time into a 16-bit window
// whenever it holds 8 bits or fewer; the count of fetches, not the position
// in the input, decides when decoding ends.
class BitReader {
 public:
  BitReader(std::span<const uint8_t> input, size_t start) : input_(input), pos_(start) {}

  int Bit() {
    Fill();
    const int bit = (window_ >> 15) & 1;
    window_ = static_cast<uint16_t>(window_ << 1);
    --bits_;
    return bit;
  }
  int Byte() {
    Fill();
    const int byte = window_ >> 8;
    window_ = static_cast<uint16_t>(window_ << 8);
    bits_ -= 8;
    return byte;
  }
  size_t Fetched() const { return fetched_; }

 private:
  void Fill() {
    while (bits_ <= 8) {
      const uint8_t b = pos_ < input_.size() ? input_[pos_] : 0;
      ++pos_;
      ++fetched_;
      window_ = static_cast<uint16_t>(window_ | (b << (8 - bits_)));
      bits_ += 8;
    }
  }

  std::span<const uint8_t> input_;
  size_t pos_;
  size_t fetched_ = 0;
  uint16_t window_ = 0;
  int bits_ = 0;
};

class Decoder {
 public:
  // Only the positions before the first one start as spaces; the rest is
  // zero until written (no encoder refers to it, a hostile stream may).
  Decoder(std::span<const uint8_t> input, size_t start) : in_(input, start) {
    ring_.fill(0);
    std::fill(ring_.begin(), ring_.begin() + kFirstPosition, kFillByte);
  }

  void Run(size_t limit, std::vector<uint8_t>& out, size_t maxOut) {
    size_t produced = 0;
    int r = kFirstPosition;
    while (in_.Fetched() < limit && produced < maxOut) {
      const int c = DecodeSymbol();
      if (c < 256) {
        out.push_back(static_cast<uint8_t>(c));
        ring_[r] = static_cast<uint8_t>(c);
        r = (r + 1) & kRingMask;
        ++produced;
        continue;
      }
      const int from = (r - DecodeDistance() - 1) & kRingMask;
      const int length = c - (256 - kThreshold - 1);
      for (int k = 0; k < length && produced < maxOut; ++k) {
        const uint8_t b = ring_[(from + k) & kRingMask];
        out.push_back(b);
        ring_[r] = b;
        r = (r + 1) & kRingMask;
        ++produced;
      }
    }
  }

 private:
  int DecodeSymbol() {
    int n = tree_.son[kRoot];
    while (n < kNodes)
      n = tree_.son[n + in_.Bit()];
    const int symbol = n - kNodes;
    tree_.Update(symbol);
    return symbol;
  }

  int DecodeDistance() {
    int v = in_.Byte();
    const int high = kPosition.highOf[v];
    for (int extra = kPosition.bitsOf[v] - 2; extra > 0; --extra)
      v = (v << 1) | in_.Bit();
    return (high << 6) | (v & 0x3F);
  }

  BitReader in_;
  AdaptiveHuffman tree_;
  std::array<uint8_t, kRingSize> ring_;
};

// ---------------------------------------------------------------------------
// Encoding.

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

  // The low `count` (at most 32) bits of `bits`, most significant first.
  void Put(uint32_t bits, int count) {
    acc_ = (acc_ << count) | bits;
    pending_ += count;
    while (pending_ >= 8) {
      pending_ -= 8;
      out_.push_back(static_cast<uint8_t>(acc_ >> pending_));
    }
  }
  void Flush() {
    if (pending_) out_.push_back(static_cast<uint8_t>(acc_ << (8 - pending_)));
    pending_ = 0;
  }

 private:
  std::vector<uint8_t>& out_;
  uint64_t acc_ = 0;
  int pending_ = 0;
};

// Eight bytes as a number whose order is the order of the bytes as strings.
uint64_t LoadOrdered(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

// Binary search trees of ring positions, one per first byte, ordered by the
// 60 bytes that start at each position. Inserting a position also finds the
// longest earlier match for it.
class MatchFinder {
 public:
  static constexpr int kNone = kRingSize;

  // The ring is zero until the encoder fills it: its mirror stays zero until
  // the input wraps round to position 0, and keys near the ring's end read it.
  MatchFinder() {
    ring_.fill(0);
    kids_.fill({kNone, kNone});
    dad_.fill(kNone);
  }

  uint8_t* Ring() { return ring_.data(); }
  void Insert(int r);
  void Delete(int p);

  int matchLength = 0;
  int matchDistance = 0;

 private:
  static constexpr int kLeft = 0;
  static constexpr int kRight = 1;
  // Where each child sits in the two children read as one 32-bit number.
  static constexpr int kLeftHalf = std::endian::native == std::endian::little ? 0 : 1;
  static constexpr int kRightHalf = 1 - kLeftHalf;
  // Key bytes 1..59 are compared eight at a time; the last word holds three
  // key bytes (the rest is masked off).
  static constexpr uint64_t kLastWordMask = 0xFFFFFF0000000000u;

  uint16_t& Left(int n) { return kids_[n][kLeft]; }
  uint16_t& Right(int n) { return kids_[n][kRight]; }
  void Replace(int p, int r);

  // The ring plus a mirror of its first 59 bytes, so a 60-byte key never
  // wraps, plus slack for reading the last key word whole.
  std::array<uint8_t, kRingSize + kLookahead - 1 + 5> ring_;
  // Children (left, right) and parents of positions; the 256 roots sit at
  // kRingSize + 1 + first byte and use only the right child.
  std::array<std::array<uint16_t, 2>, kRingSize + 257> kids_;
  std::array<uint16_t, kRingSize + 257> dad_;
};

void MatchFinder::Insert(int r) {
  const uint8_t* key = &ring_[r];
  int p = kRingSize + 1 + key[0];
  int side = kRight;
  int next = Right(p);
  int length = 0;
  int distance = 0;
  kids_[r] = {kNone, kNone};
  for (;;) {
    if (next == kNone) {
      kids_[p][side] = static_cast<uint16_t>(r);
      dad_[r] = static_cast<uint16_t>(p);
      break;
    }
    p = next;
    // Both children are fetched before the comparison that picks one, which
    // keeps the fetch off the chain of dependent loads down the tree.
    uint32_t kids;
    std::memcpy(&kids, &kids_[p], sizeof kids);
    // i: the first key byte that differs (60 for none); larger keys go right.
    int i = kLookahead;
    for (int at = 1; at < kLookahead; at += 8) {
      uint64_t a = LoadOrdered(key + at);
      uint64_t b = LoadOrdered(&ring_[p + at]);
      if (at + 8 > kLookahead) {
        a &= kLastWordMask;
        b &= kLastWordMask;
      }
      if (a != b) {
        side = a > b ? kRight : kLeft;
        i = at + std::countl_zero(a ^ b) / 8;
        break;
      }
    }
    next = static_cast<uint16_t>(kids >> (16 * (side == kRight ? kRightHalf : kLeftHalf)));
    if (i > kThreshold) {
      const int d = ((r - p) & kRingMask) - 1;
      if (i > length) {
        distance = d;
        length = i;
        if (i >= kLookahead) {
          Replace(p, r);
          break;
        }
      } else if (i == length && d < distance) {
        distance = d;
      }
    }
  }
  matchLength = length;
  matchDistance = distance;
}

// A full-length match: r takes p's place in the tree, p leaves it.
void MatchFinder::Replace(int p, int r) {
  dad_[r] = dad_[p];
  Left(r) = Left(p);
  Right(r) = Right(p);
  dad_[Left(p)] = static_cast<uint16_t>(r);
  dad_[Right(p)] = static_cast<uint16_t>(r);
  if (Right(dad_[p]) == p) {
    Right(dad_[p]) = static_cast<uint16_t>(r);
  } else {
    Left(dad_[p]) = static_cast<uint16_t>(r);
  }
  dad_[p] = kNone;
}

void MatchFinder::Delete(int p) {
  if (dad_[p] == kNone) return;
  int q;
  if (Right(p) == kNone) {
    q = Left(p);
  } else if (Left(p) == kNone) {
    q = Right(p);
  } else {
    // Two children: the in-order predecessor takes p's place.
    q = Left(p);
    if (Right(q) != kNone) {
      do {
        q = Right(q);
      } while (Right(q) != kNone);
      Right(dad_[q]) = Left(q);
      dad_[Left(q)] = dad_[q];
      Left(q) = Left(p);
      dad_[Left(p)] = static_cast<uint16_t>(q);
    }
    Right(q) = Right(p);
    dad_[Right(p)] = static_cast<uint16_t>(q);
  }
  dad_[q] = dad_[p];
  if (Right(dad_[p]) == p) {
    Right(dad_[p]) = static_cast<uint16_t>(q);
  } else {
    Left(dad_[p]) = static_cast<uint16_t>(q);
  }
  dad_[p] = kNone;
}

class Encoder {
 public:
  explicit Encoder(std::vector<uint8_t>& out) : bits_(out) {}

  void Run(std::span<const uint8_t> input);

 private:
  void EncodeSymbol(int symbol);
  void EncodeDistance(int distance);

  BitWriter bits_;
  AdaptiveHuffman tree_;
  MatchFinder finder_;
};

void Encoder::EncodeSymbol(int symbol) {
  // The path from the leaf up: one bit per node, 1 for the second child. A
  // Huffman tree whose counts stay below 2^16 is far less than 64 deep.
  // Each bit enters at the top, so the code ends up root first.
  uint64_t code = 0;
  int length = 0;
  for (int k = tree_.parent[symbol + kNodes]; k != kRoot; k = tree_.parent[k]) {
    code = (code >> 1) | (static_cast<uint64_t>(k & 1) << 63);
    ++length;
  }
  if (length > 32) {
    bits_.Put(static_cast<uint32_t>(code >> 32), 32);
    code <<= 32;
    length -= 32;
  }
  bits_.Put(static_cast<uint32_t>(code >> (64 - length)), length);
  tree_.Update(symbol);
}

void Encoder::EncodeDistance(int distance) {
  const int high = distance >> 6;
  bits_.Put(kPosition.code[high] >> (8 - kPosition.bits[high]), kPosition.bits[high]);
  bits_.Put(static_cast<uint32_t>(distance & 0x3F), 6);
}

void Encoder::Run(std::span<const uint8_t> input) {
  uint8_t* ring = finder_.Ring();
  std::fill(ring, ring + kFirstPosition, kFillByte);
  size_t next = 0;
  int s = 0;
  int r = kFirstPosition;
  int len = 0;
  for (; len < kLookahead && next < input.size(); ++len)
    ring[r + len] = input[next++];
  for (int i = 1; i <= kLookahead; ++i)
    finder_.Insert(r - i);
  finder_.Insert(r);
  do {
    int matchLength = std::min(finder_.matchLength, len);
    if (matchLength <= kThreshold) {
      matchLength = 1;
      EncodeSymbol(ring[r]);
    } else {
      EncodeSymbol(matchLength + (256 - kThreshold - 1));
      EncodeDistance(finder_.matchDistance);
    }
    int i = 0;
    for (; i < matchLength && next < input.size(); ++i) {
      finder_.Delete(s);
      const uint8_t c = input[next++];
      ring[s] = c;
      if (s < kLookahead - 1) ring[s + kRingSize] = c;
      s = (s + 1) & kRingMask;
      r = (r + 1) & kRingMask;
      finder_.Insert(r);
    }
    for (; i < matchLength; ++i) {
      finder_.Delete(s);
      s = (s + 1) & kRingMask;
      r = (r + 1) & kRingMask;
      if (--len) finder_.Insert(r);
    }
  } while (len > 0);
  bits_.Flush();
}

}  // namespace

void LzhUnpack(std::span<const uint8_t> input, size_t start, std::vector<uint8_t>& out,
               size_t maxOut) {
  if (input.empty()) return;
  auto decoder = std::make_unique<Decoder>(input, start);
  decoder->Run(input.size(), out, maxOut);
}

void LzhPack(std::span<const uint8_t> input, std::vector<uint8_t>& out) {
  if (input.empty()) return;
  auto encoder = std::make_unique<Encoder>(out);
  encoder->Run(input);
}

}  // namespace kelvara
