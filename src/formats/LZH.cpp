// LZHUF as TeleDisk uses it. The bit stream is fixed by the format: every
// table, tie rule and update step below decides which bits a file holds, so
// none of it may change for speed.
#include "formats/LZH.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <tuple>
#include <utility>

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
// A distance's code is followed by at least one low bit of its own: the bit
// reader counts on every symbol ending with a single bit.
static_assert(kPositionCodeLengths[0].bits >= 3);
static_assert(kPosition.code[1] == 0x20 && kPosition.code[4] == 0x50 &&
              kPosition.code[12] == 0x90 && kPosition.code[24] == 0xC0 &&
              kPosition.code[48] == 0xF0 && kPosition.code[63] == 0xFF);

// ---------------------------------------------------------------------------
// The adaptive Huffman tree. Nodes are kept in ascending order of frequency
// (the root last); an inner node's children are son and son + 1, a leaf's son
// entry is its symbol + kNodes. A node's frequency, parent and son share one
// record: walking up the tree is then one load per level.

class AdaptiveHuffman {
 public:
  struct Node {
    uint16_t freq;
    uint16_t parent;
    uint16_t son;
    uint16_t unused;  // a power-of-two record is cheaper to index
  };

  AdaptiveHuffman();
  // Counts one more use of `symbol` and restores the frequency order.
  void Update(int symbol);

  // The node a symbol's leaf hangs in.
  int LeafNode(int symbol) const { return leaf_[symbol]; }
  const Node& operator[](int n) const { return nodes_[n]; }

 private:
  void Rebuild();
  // The last node from `from` on whose frequency is below k, given that
  // `from`'s is. The nodes above are in frequency order and the sentinel
  // ends them, so the run is found by doubling steps and then halving: a run
  // of equal counts (all 314 leaves at the start) costs a few steps, not one
  // step a node.
  int LastBelow(int from, uint16_t k) const {
    int step = 1;
    while (from + step <= kNodes && nodes_[from + step].freq < k) {
      from += step;
      step *= 2;
    }
    for (step /= 2; step > 0; step /= 2) {
      if (from + step <= kNodes && nodes_[from + step].freq < k) from += step;
    }
    return from;
  }
  // Points the parent links of a son entry's children (or its leaf) at n.
  void Adopt(int son, int n) {
    if (son >= kNodes) {
      leaf_[son - kNodes] = static_cast<uint16_t>(n);
    } else {
      nodes_[son].parent = nodes_[son + 1].parent = static_cast<uint16_t>(n);
    }
  }

  // One more than the nodes: a sentinel above every real frequency stops the
  // upward search for a node to swap with.
  std::array<Node, kNodes + 1> nodes_;
  std::array<uint16_t, kSymbols> leaf_;
};

AdaptiveHuffman::AdaptiveHuffman() {
  for (int i = 0; i < kSymbols; ++i) {
    nodes_[i].freq = 1;
    nodes_[i].son = static_cast<uint16_t>(i + kNodes);
    leaf_[i] = static_cast<uint16_t>(i);
  }
  for (int i = 0, j = kSymbols; j < kNodes; i += 2, ++j) {
    nodes_[j].freq = static_cast<uint16_t>(nodes_[i].freq + nodes_[i + 1].freq);
    nodes_[j].son = static_cast<uint16_t>(i);
    Adopt(i, j);
  }
  nodes_[kNodes] = {0xFFFF, 0, 0, 0};
  nodes_[kRoot].parent = 0;
}

void AdaptiveHuffman::Update(int symbol) {
  if (nodes_[kRoot].freq == kRebuildAt) Rebuild();
  int n = leaf_[symbol];
  do {
    const uint16_t k = ++nodes_[n].freq;
    if (k > nodes_[n + 1].freq) {
      // Swap n with the last node of its old frequency, so the order holds.
      const int l = LastBelow(n + 1, k);
      nodes_[n].freq = nodes_[l].freq;
      nodes_[l].freq = k;
      const int i = nodes_[n].son;
      const int j = nodes_[l].son;
      Adopt(i, l);
      Adopt(j, n);
      nodes_[l].son = static_cast<uint16_t>(i);
      nodes_[n].son = static_cast<uint16_t>(j);
      n = l;
    }
    n = nodes_[n].parent;
  } while (n != 0);
}

void AdaptiveHuffman::Rebuild() {
  // Leaves first, in node order, each count halved (rounding up: none drops to 0).
  int leaves = 0;
  for (int i = 0; i < kNodes; ++i) {
    if (nodes_[i].son >= kNodes) {
      nodes_[leaves].freq = static_cast<uint16_t>((nodes_[i].freq + 1) / 2);
      nodes_[leaves].son = nodes_[i].son;
      ++leaves;
    }
  }
  // Then every inner node, joining nodes i and i + 1, inserted after the last
  // node whose frequency does not exceed its own.
  for (int i = 0, j = kSymbols; j < kNodes; i += 2, ++j) {
    const uint16_t f = static_cast<uint16_t>(nodes_[i].freq + nodes_[i + 1].freq);
    int k = j - 1;
    while (f < nodes_[k].freq)
      --k;
    ++k;
    std::memmove(&nodes_[k + 1], &nodes_[k], static_cast<size_t>(j - k) * sizeof(Node));
    nodes_[k].freq = f;
    nodes_[k].son = static_cast<uint16_t>(i);
  }
  for (int i = 0; i < kNodes; ++i)
    Adopt(nodes_[i].son, i);
}

// Eight bytes as a number whose order is the order of the bytes as strings:
// the first byte's bits lead.
uint64_t LoadOrdered(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

// ---------------------------------------------------------------------------
// Decoding.

// The decoder's input. The format's reader fetches a byte into a 16-bit
// window whenever it holds 8 bits or fewer before it takes a bit (or the 8
// bits of a distance's first byte); the count of those fetches, not the
// position in the input, decides when decoding ends. Bits are read here from
// a 64-bit window refilled once a symbol, and the fetch count follows from
// the bits taken: before a take of the C-th bit on, a window of 16 bits holds
// at least 9, so the take needs ceil((C + 9) / 8) fetches, a count that only
// grows. Every symbol's code ends with a single bit (the tree walk's last,
// or a distance's last low bit), so after one the count is
// ceil((taken - 1 + 9) / 8).
class BitReader {
 public:
  BitReader(std::span<const uint8_t> input, size_t start) : input_(input), pos_(start) {}

  // At least 57 bits in the window: enough for one symbol's code and its
  // distance (at most 21 + 14 bits). A code is at most 21 bits long: the tree
  // keeps the sibling property, so a leaf at depth d sits under a root that
  // counts at least the Fibonacci number F(d + 2), and the root counts at
  // most 0x8000 when a symbol is decoded. Were that ever broken, the window
  // would give zeros past its bits, never a shift out of range.
  void Refill() {
    if (available_ > 56) return;
    available_ = std::max(available_, 0);
    if (pos_ < input_.size() && input_.size() - pos_ >= 8) {
      // Whole bytes that fit; the bits of the next byte land where its own
      // load puts them again, so they may stay.
      window_ |= LoadOrdered(input_.data() + pos_) >> available_;
      const int bytes = (63 - available_) >> 3;
      pos_ += static_cast<size_t>(bytes);
      available_ += bytes * 8;
      return;
    }
    while (available_ <= 56) {  // the last bytes, then zeros
      const uint64_t b = pos_ < input_.size() ? input_[pos_] : 0;
      ++pos_;
      window_ |= b << (56 - available_);
      available_ += 8;
    }
  }
  int Bit() { return static_cast<int>(Take(1)); }
  int Byte() { return static_cast<int>(Take(8)); }
  // The fetches the format's reader would have made by now, after a symbol.
  size_t Fetched() const { return taken_ == 0 ? 0 : static_cast<size_t>((taken_ + 15) / 8); }

 private:
  uint64_t Take(int count) {
    const uint64_t v = window_ >> (64 - count);
    window_ <<= count;
    available_ -= count;
    taken_ += static_cast<uint64_t>(count);
    return v;
  }

  std::span<const uint8_t> input_;
  size_t pos_;
  uint64_t taken_ = 0;
  uint64_t window_ = 0;
  int available_ = 0;
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
      in_.Refill();
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
    int n = tree_[kRoot].son;
    while (n < kNodes)
      n = tree_[n + in_.Bit()].son;
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

// `right` when x > y, else `left`; `above` tells which. The pick is a coin
// toss to a branch predictor, and GCC turns a plain ?: here into a branch,
// so on x86-64 it is a conditional move: one step of a tree walk then waits
// on the comparison alone, not on a flag turned into a shift or a mask.
inline uint32_t PickIfAbove(uint64_t x, uint64_t y, uint32_t left, uint32_t right,
                            uint32_t& above) {
#if defined(__x86_64__) && defined(__GNUC__)
  uint8_t flag;
  asm("cmp %[y], %[x]\n\tcmova %[right], %[left]\n\tseta %[flag]"
      : [left] "+r"(left), [flag] "=q"(flag)
      : [x] "r"(x), [y] "r"(y), [right] "r"(right)
      : "cc");
  above = flag;
  return left;
#else
  above = x > y;
  return x > y ? right : left;
#endif
}

// Binary search trees of ring positions, one per first byte, ordered by the
// 60 bytes that start at each position. Inserting a position also finds the
// longest earlier match for it.
class MatchFinder {
 public:
  static constexpr uint32_t kNone = kRingSize;
  // A walk's `next` once r has taken the place of a node with its key.
  static constexpr uint32_t kReplaced = kNone + 1;

  // The ring is zero until the encoder fills it: its mirror stays zero until
  // the input wraps round to position 0, and keys near the ring's end read it.
  MatchFinder() {
    ring_.fill(0);
    kids_.fill({kNone, kNone});
    dad_.fill(kNone);
  }

  struct Match {
    int length;  // below 3: nothing worth a distance matched
    int distance;
  };

  uint8_t* Ring() { return ring_.data(); }
  // Stores a byte at a ring position (and its mirror).
  void Store(uint32_t at, uint8_t c) {
    ring_[at] = c;
    if (at < kLookahead - 1) ring_[at + kRingSize] = c;
  }
  // Adds position r to its tree; with kFind also finds the longest match for
  // it (a search whose result nobody reads skips that bookkeeping).
  template <bool kFind>
  Match Insert(uint32_t r);
  // Whether Insert(a), Delete(gone), Insert(b) may run as Delete(gone), then
  // Insert(a) beside Insert(b): when a and b go into different trees and
  // `gone` is in no tree or in another than a's.
  bool Independent(uint32_t a, uint32_t gone, uint32_t b) const {
    return ring_[a] != ring_[b] && (dad_[gone] == kNone || ring_[gone] != ring_[a]);
  }
  // Insert<true>(r) when node q, in its tree, has the same key.
  Match InsertTwin(uint32_t r, uint32_t q) {
    Replace(q, r);
    return Unscore(Score(kLookahead, q, r));
  }
  bool InTree(uint32_t p) const { return dad_[p] != kNone; }
  // Insert(a) and Insert(b), the two searches interleaved.
  template <bool kFindA, bool kFindB>
  std::pair<Match, Match> InsertPair(uint32_t a, uint32_t b);
  // Takes position p out of its tree, if it is in one.
  void Delete(uint32_t p);

 private:
  static constexpr int kLeft = 0;
  static constexpr int kRight = 1;
  // Key bytes 1..59 are compared eight at a time; the last word holds three
  // key bytes (the rest is masked off).
  static constexpr uint64_t kLastWordMask = 0xFFFFFF0000000000u;

  // One search down a tree: the key, where it stands and the best match so far.
  struct Search {
    uint32_t r;
    const uint8_t* key;
    uint64_t head;  // key bytes 1..8
    uint32_t p;     // the node last compared (at first the tree's root)
    uint32_t side;  // 1 when `next` is p's right child
    uint32_t next;  // a node, kNone where r goes, or kReplaced
    int best;       // Score() of the best match so far
  };
  // A match as one number in the order of preference: the longest, and of
  // equally long ones the nearest ((p - r) mod 4096 is 4095 - distance). The
  // largest score is then the tie rule's choice. Lengths below 3 score too;
  // the coder sends a literal for them as it would for no match.
  static int Score(int length, uint32_t p, uint32_t r) {
    return (length << 12) | static_cast<int>((p - r) & kRingMask);
  }
  static Match Unscore(int best) { return {best >> 12, kRingMask - (best & kRingMask)}; }
  Search Start(uint32_t r);
  // One step down, while `next` is a node. Inlined, so that two searches
  // interleave in one loop.
  template <bool kFind>
  [[gnu::always_inline]] void Step(Search& s);
  // Hangs r where the walk ended (unless it took a node's place).
  void Finish(const Search& s);
  int CompareTail(const uint8_t* key, uint32_t p, uint64_t& a, uint64_t& b) const;
  uint16_t& Left(uint32_t n) { return kids_[n][kLeft]; }
  uint16_t& Right(uint32_t n) { return kids_[n][kRight]; }
  void Replace(uint32_t p, uint32_t r);
  // The link in p's parent that points at p. Picked by index, not by a
  // branch: which side a node hangs on is as unpredictable as a walk's turns.
  uint16_t& ChildLink(uint32_t p) {
    const uint32_t d = dad_[p];
    return kids_[d][static_cast<int>(Right(d) == p)];
  }

  // The ring plus a mirror of its first 59 bytes, so a 60-byte key never
  // wraps, plus slack for reading the last key word whole.
  std::array<uint8_t, kRingSize + kLookahead - 1 + 5> ring_;
  // Children (left, right) and parents of positions; the 256 roots sit at
  // kRingSize + 1 + first byte and use only the right child.
  std::array<std::array<uint16_t, 2>, kRingSize + 257> kids_;
  std::array<uint16_t, kRingSize + 257> dad_;
};

// Compares key bytes 9..59 of a key and node p, after bytes 1..8 were equal:
// returns the first that differs (kLookahead for none), and in a and b the
// key's and the node's words that hold it, which order the two.
int MatchFinder::CompareTail(const uint8_t* key, uint32_t p, uint64_t& a, uint64_t& b) const {
  for (int at = 9; at < kLookahead; at += 8) {
    a = LoadOrdered(key + at);
    b = LoadOrdered(&ring_[p + at]);
    if (at + 8 > kLookahead) {
      a &= kLastWordMask;
      b &= kLastWordMask;
    }
    if (a != b) return at + std::countl_zero(a ^ b) / 8;
  }
  return kLookahead;
}

MatchFinder::Search MatchFinder::Start(uint32_t r) {
  kids_[r] = {kNone, kNone};
  const uint32_t root = kRingSize + 1 + ring_[r];
  return {r, &ring_[r], LoadOrdered(&ring_[r + 1]), root, kRight, Right(root), 0};
}

template <bool kFind>
inline void MatchFinder::Step(Search& s) {
  const uint32_t p = s.p = s.next;
  // Both children are fetched beside the key bytes, before the comparison
  // that picks one: this loop is most of the encoder's time, and its speed
  // is how soon each step knows where the next one goes.
  const uint32_t left = Left(p);
  const uint32_t right = Right(p);
  // The key and the node as numbers: bytes 1..8, which most often differ,
  // else the words where they do. i: the first key byte that differs (60 for
  // none); larger keys go right.
  uint64_t a = s.head;
  uint64_t b = LoadOrdered(ring_.data() + 1 + p);
  int i;
  if (a != b) [[likely]] {
    i = 1 + std::countl_zero(a ^ b) / 8;
  } else {
    i = CompareTail(s.key, p, a, b);
    if (i == kLookahead) {
      s.best = Score(kLookahead, p, s.r);
      Replace(p, s.r);
      s.next = kReplaced;
      return;
    }
  }
  s.next = PickIfAbove(a, b, left, right, s.side);
  if (kFind) s.best = std::max(s.best, Score(i, p, s.r));
}

void MatchFinder::Finish(const Search& s) {
  if (s.next != kNone) return;
  kids_[s.p][s.side] = static_cast<uint16_t>(s.r);
  dad_[s.r] = static_cast<uint16_t>(s.p);
}

template <bool kFind>
MatchFinder::Match MatchFinder::Insert(uint32_t r) {
  Search s = Start(r);
  while (s.next < kNone)
    Step<kFind>(s);
  Finish(s);
  return Unscore(s.best);
}

template <bool kFindA, bool kFindB>
std::pair<MatchFinder::Match, MatchFinder::Match> MatchFinder::InsertPair(uint32_t a, uint32_t b) {
  // Two independent walks in one loop: each hides the other's load latency.
  Search x = Start(a);
  Search y = Start(b);
  while (x.next < kNone && y.next < kNone) {
    Step<kFindA>(x);
    Step<kFindB>(y);
  }
  while (x.next < kNone)
    Step<kFindA>(x);
  while (y.next < kNone)
    Step<kFindB>(y);
  Finish(x);
  Finish(y);
  return {Unscore(x.best), Unscore(y.best)};
}

// A full-length match: r takes p's place in the tree, p leaves it.
void MatchFinder::Replace(uint32_t p, uint32_t r) {
  dad_[r] = dad_[p];
  Left(r) = Left(p);
  Right(r) = Right(p);
  dad_[Left(p)] = static_cast<uint16_t>(r);
  dad_[Right(p)] = static_cast<uint16_t>(r);
  ChildLink(p) = static_cast<uint16_t>(r);
  dad_[p] = kNone;
}

void MatchFinder::Delete(uint32_t p) {
  if (dad_[p] == kNone) return;
  uint32_t q;
  if (Left(p) == kNone || Right(p) == kNone) {
    // At most one child, which takes p's place (kNone for none).
    q = Left(p) ^ Right(p) ^ kNone;
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
  ChildLink(p) = static_cast<uint16_t>(q);
  dad_[p] = kNone;
}

// The finder's work is one fixed sequence whatever the coder decides: for
// the t-th input byte consumed (t >= 1), delete the ring position the next
// input byte overwrites, store that byte while input remains, and insert the
// position that enters the window (for every t below the input's length). The
// coder only chooses which results it reads: those at the starts of its
// symbols. So the finder runs a step ahead, two steps at once where they
// touch different trees.
class Encoder {
 public:
  Encoder(std::span<const uint8_t> input, std::vector<uint8_t>& out) : input_(input), bits_(out) {}

  void Run();

 private:
  static uint32_t Deleted(size_t step) { return static_cast<uint32_t>((step - 1) & kRingMask); }
  static uint32_t Inserted(size_t step) {
    return static_cast<uint32_t>((kFirstPosition + step) & kRingMask);
  }
  void FindThrough(size_t step);
  void DeleteAndStore(size_t step) {
    finder_.Delete(Deleted(step));
    if (stored_ < input_.size()) StoreNext(Deleted(step));
  }
  // Stores the next input byte at ring position `at`, counted into the run of
  // bytes equal to the one `period_` back that it ends.
  void StoreNext(uint32_t at);
  // Sets the period the repeat count follows and counts it afresh.
  void FollowPeriod(uint32_t period);
  // Right after DeleteAndStore(step): inserts that step's position without
  // a walk, and keeps the result, when the node with the same key is known.
  bool InsertKnownTwin(size_t step);
  // Inserts step's position (and step + 1's) by walking; results are kept
  // from `need` on.
  void Walk(size_t step, size_t need);
  void WalkPair(size_t step, size_t need);
  void EncodeSymbol(int symbol);
  void EncodeDistance(int distance);

  std::span<const uint8_t> input_;
  size_t stored_ = 0;  // input bytes stored in the ring
  size_t found_ = 0;   // steps whose insert is done
  // How many of the last bytes stored equal the byte `period_` positions
  // back (the last match's distance + 1).
  size_t repeat_ = 0;
  uint32_t period_ = 0;
  std::array<MatchFinder::Match, 4> results_{};  // of the last steps, by step
  BitWriter bits_;
  AdaptiveHuffman tree_;
  MatchFinder finder_;
};

void Encoder::StoreNext(uint32_t at) {
  const uint8_t* ring = finder_.Ring();
  const uint8_t c = input_[stored_];
  repeat_ = period_ != 0 && c == ring[(at - period_) & kRingMask] ? repeat_ + 1 : 0;
  finder_.Store(at, c);
  ++stored_;
}

void Encoder::FollowPeriod(uint32_t period) {
  if (period == period_) return;
  period_ = period;
  const uint8_t* ring = finder_.Ring();
  const auto newest = static_cast<uint32_t>(kFirstPosition + stored_ - 1);
  repeat_ = 0;
  while (repeat_ < kLookahead) {
    const auto at = static_cast<uint32_t>(newest - repeat_);
    if (ring[at & kRingMask] != ring[(at - period) & kRingMask]) break;
    ++repeat_;
  }
}

// Keys never change while in a tree, and all keys in a tree differ, so a
// key equal to a node's can only end its walk at that node, which it then
// replaces, with that node as a match of 60 bytes: no other shares as many.
// Such a node is known without a walk when the 60 bytes of the key each
// equal the byte `period_` back: the node that far back, if it is still in
// its tree (a later equal key may have replaced it).
bool Encoder::InsertKnownTwin(size_t step) {
  if (stored_ != step + kLookahead) return false;  // the key reaches past the input
  const uint32_t r = Inserted(step);
  const uint32_t q = (r - period_) & kRingMask;
  if (repeat_ < kLookahead || !finder_.InTree(q)) return false;
  results_[step & 3] = finder_.InsertTwin(r, q);
  return true;
}

void Encoder::Walk(size_t step, size_t need) {
  if (step < need) {
    finder_.Insert<false>(Inserted(step));
  } else {
    results_[step & 3] = finder_.Insert<true>(Inserted(step));
  }
}

void Encoder::WalkPair(size_t step, size_t need) {
  const uint32_t a = Inserted(step), b = Inserted(step + 1);
  if (step + 1 < need) {
    finder_.InsertPair<false, false>(a, b);
  } else if (step < need) {
    results_[(step + 1) & 3] = finder_.InsertPair<false, true>(a, b).second;
  } else {
    std::tie(results_[step & 3], results_[(step + 1) & 3]) = finder_.InsertPair<true, true>(a, b);
  }
}

void Encoder::EncodeSymbol(int symbol) {
  // The path from the leaf up: one bit per node, 1 for the second child. A
  // Huffman tree whose counts stay below 2^16 is far less than 64 deep.
  // Each bit enters at the top, so the code ends up root first.
  uint64_t code = 0;
  int length = 0;
  for (int k = tree_.LeafNode(symbol); k != kRoot; k = tree_[k].parent) {
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

void Encoder::FindThrough(size_t step) {
  const size_t last = input_.size() - 1;  // the last step that inserts
  // Steps before `step` lie inside the match just coded: only their inserts
  // matter, not what they would find. Two walks go side by side where they
  // touch different trees; the check reads nothing the first store changed.
  while (found_ <= step) {
    const size_t u = found_;
    DeleteAndStore(u);
    if (InsertKnownTwin(u)) {
      found_ += 1;
    } else if (u < last && finder_.Independent(Inserted(u), Deleted(u + 1), Inserted(u + 1))) {
      DeleteAndStore(u + 1);
      if (InsertKnownTwin(u + 1)) {
        Walk(u, step);
      } else {
        WalkPair(u, step);
      }
      found_ += 2;
    } else {
      Walk(u, step);
      found_ += 1;
    }
  }
}

void Encoder::Run() {
  const size_t n = input_.size();
  uint8_t* ring = finder_.Ring();
  std::fill(ring, ring + kFirstPosition, kFillByte);
  while (stored_ < std::min<size_t>(kLookahead, n))
    StoreNext(static_cast<uint32_t>(kFirstPosition + stored_));
  for (int i = 1; i <= kLookahead; ++i)
    finder_.Insert<false>(static_cast<uint32_t>(kFirstPosition - i));
  results_[0] = finder_.Insert<true>(kFirstPosition);
  found_ = 1;
  for (size_t t = 0; t < n;) {
    FindThrough(t);
    const MatchFinder::Match m = results_[t & 3];
    // A match may not run past the input's end.
    const int length = std::min(m.length, static_cast<int>(std::min<size_t>(kLookahead, n - t)));
    if (length <= kThreshold) {
      EncodeSymbol(input_[t]);
      ++t;
    } else {
      EncodeSymbol(length + (256 - kThreshold - 1));
      EncodeDistance(m.distance);
      FollowPeriod(static_cast<uint32_t>(m.distance + 1));
      t += static_cast<size_t>(length);
    }
  }
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
  auto encoder = std::make_unique<Encoder>(input, out);
  encoder->Run();
}

}  // namespace kelvara
