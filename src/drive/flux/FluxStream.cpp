#include "drive/flux/FluxStream.h"

#include <algorithm>

namespace kelvara::flux {

void PutN28(std::vector<uint8_t>& out, uint32_t n) {
  for (int k = 0; k < 4; ++k)
    out.push_back(static_cast<uint8_t>(((n >> (7 * k)) << 1) | 1));
}

uint32_t GetN28(const uint8_t* p) {
  return (p[0] >> 1) | uint32_t(p[1] & 0xFE) << 6 | uint32_t(p[2] & 0xFE) << 13 |
         uint32_t(p[3] & 0xFE) << 20;
}

void PutOpcode(std::vector<uint8_t>& out, uint8_t op, uint32_t n) {
  out.push_back(255);
  out.push_back(op);
  PutN28(out, n);
}

namespace {

// The byte forms of a stream, read and write alike: each value goes to
// `onValue` with the Space before it added, each opcode other than Space to
// `onOpcode` (which may take the pending Space; false: not allowed here).
// True at the end mark, which must be the last byte; `ended` says whether
// there was one. False with the reason and its place in `error`.
template <typename OnValue, typename OnOpcode>
bool WalkStream(std::span<const uint8_t> bytes, const char* kind, OnValue&& onValue,
                OnOpcode&& onOpcode, bool& ended, std::string& error) {
  ended = false;
  const uint8_t* p = bytes.data();
  const uint8_t* end = p + bytes.size();
  uint64_t pending = 0;  // Space not yet added to a value
  auto fail = [&](const char* what) {
    error = std::string(kind) + ": " + what + " at byte " + std::to_string(p - bytes.data());
    return false;
  };
  while (p < end) {
    const uint8_t b = *p;
    if (b == 0) {
      if (p + 1 != end) return fail("data after its end mark");
      ended = true;
      return true;
    }
    if (b < 250) {
      onValue(pending + b);
      pending = 0;
      ++p;
    } else if (b < 255) {
      if (end - p < 2) return fail("cut inside a two-byte value");
      if (p[1] == 0) return fail("a two-byte value ends in 0");
      onValue(pending + 250 + uint64_t{b - 250u} * 255 + (p[1] - 1u));
      pending = 0;
      p += 2;
    } else {
      if (end - p < 6) return fail("cut inside an opcode");
      for (int k = 2; k < 6; ++k)
        if ((p[k] & 1) == 0) return fail("malformed opcode argument");
      const uint32_t n = GetN28(p + 2);
      if (p[1] == kOpSpace) {
        pending += n;
      } else if (!onOpcode(p[1], n, pending)) {
        return fail("unexpected opcode");
      }
      p += 6;
    }
  }
  return true;
}

uint32_t Saturated(uint64_t v) {
  return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX));
}

}  // namespace

bool DecodeFluxStream(std::span<const uint8_t> bytes, FluxCapture& out, std::string& error) {
  out.flux.clear();
  out.index.clear();
  out.flux.reserve(bytes.size() / 2 + 16);
  uint64_t cursor = 0;  // ticks of the values emitted so far
  bool ended = false;
  // Without an end mark what was received is kept: the caller knows whether
  // the stream had to end.
  return WalkStream(
      bytes, "flux stream",
      [&](uint64_t v) {
        out.flux.push_back(Saturated(v));
        cursor += v;
      },
      [&](uint8_t op, uint32_t n, uint64_t& pending) {
        if (op != kOpIndex) return false;
        out.index.push_back(cursor + pending + n);
        return true;
      },
      ended, error);
}

namespace {

void PutValue(std::vector<uint8_t>& out, uint64_t v, uint32_t spaceTicks) {
  while (v >= 2 * uint64_t{spaceTicks}) {
    PutOpcode(out, kOpSpace, spaceTicks);
    v -= spaceTicks;
  }
  if (v > kLargestShortValue) {
    PutOpcode(out, kOpSpace, static_cast<uint32_t>(v - 249));
    v = 249;
  }
  if (v < 250) {
    out.push_back(static_cast<uint8_t>(v));
  } else {
    const uint32_t r = static_cast<uint32_t>(v - 250);
    out.push_back(static_cast<uint8_t>(250 + r / 255));
    out.push_back(static_cast<uint8_t>(1 + r % 255));
  }
}

}  // namespace

void EncodeFluxStream(const FluxCapture& capture, uint32_t spaceTicks, int indexEarly,
                      std::vector<uint8_t>& out) {
  spaceTicks = std::clamp<uint32_t>(spaceTicks, 1600, kMaxN28 / 2);
  // For each index, the value whose transition follows it.
  std::vector<size_t> follows;
  follows.reserve(capture.index.size());
  {
    uint64_t t = 0;
    size_t i = 0;
    for (uint64_t at : capture.index) {
      while (i < capture.flux.size() && t + capture.flux[i] < at)
        t += capture.flux[i++];
      follows.push_back(i);
    }
  }
  uint64_t cursor = 0;
  size_t next = 0;
  auto putIndexes = [&](size_t i) {
    while (next < follows.size() &&
           follows[next] <= i + static_cast<size_t>(std::max(indexEarly, 0))) {
      PutOpcode(out, kOpIndex,
                static_cast<uint32_t>(std::min<uint64_t>(
                    capture.index[next] - std::min(cursor, capture.index[next]), kMaxN28)));
      ++next;
    }
  };
  for (size_t i = 0; i < capture.flux.size(); ++i) {
    putIndexes(i);
    const uint64_t v = capture.flux[i];
    if (v == 0) continue;
    PutValue(out, v, spaceTicks);
    cursor += v;
  }
  putIndexes(capture.flux.size());
  out.push_back(0);
}

WriteStreamTiming WriteStreamTiming::At(double sampleFrequency) {
  const double ticksPerUs = sampleFrequency / 1e6;
  WriteStreamTiming t;
  t.longGapTicks = static_cast<uint32_t>(150 * ticksPerUs);
  t.astableTicks = std::max<uint32_t>(1, static_cast<uint32_t>(1.25 * ticksPerUs));
  t.tailTicks = static_cast<uint32_t>(100 * ticksPerUs);
  return t;
}

void EncodeWriteStream(std::span<const uint32_t> flux, const WriteStreamTiming& timing,
                       std::vector<uint8_t>& out) {
  out.clear();
  out.reserve(flux.size() * 2 + 16);
  auto put = [&](uint64_t v) {
    if (v == 0) return;
    if (v > timing.longGapTicks) {
      while (v > 0) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(v, kMaxN28));
        PutOpcode(out, kOpSpace, n);
        v -= n;
      }
      PutOpcode(out, kOpAstable, timing.astableTicks);
      return;
    }
    PutValue(out, v, kMaxN28 / 2);
  };
  for (const uint32_t v : flux)
    put(v);
  put(timing.tailTicks);
  out.push_back(0);
}

bool DecodeWriteStream(std::span<const uint8_t> bytes, std::vector<uint32_t>& flux,
                       std::string& error) {
  flux.clear();
  bool ended = false;
  const bool ok = WalkStream(
      bytes, "write stream", [&](uint64_t v) { flux.push_back(Saturated(v)); },
      [&](uint8_t op, uint32_t n, uint64_t& pending) {
        // An Astable period of 0 is no period: refused as a bad opcode.
        if (op != kOpAstable || n == 0) return false;
        while (pending >= n) {
          flux.push_back(n);
          pending -= n;
        }
        return true;
      },
      ended, error);
  if (ok && !ended) error = "write stream: no end mark";
  return ok && ended;
}

}  // namespace kelvara::flux
