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

bool DecodeFluxStream(std::span<const uint8_t> bytes, FluxCapture& out, std::string& error) {
  out.flux.clear();
  out.index.clear();
  out.flux.reserve(bytes.size() / 2 + 16);
  const uint8_t* p = bytes.data();
  const uint8_t* end = p + bytes.size();
  uint64_t cursor = 0;   // ticks of the values emitted so far
  uint64_t pending = 0;  // Space not yet added to a value
  auto fail = [&](const char* what) {
    error = std::string(what) + " at byte " + std::to_string(p - bytes.data());
    return false;
  };
  while (p < end) {
    const uint8_t b = *p;
    if (b < 250) {
      if (b == 0) {
        if (p + 1 != end) return fail("flux stream: data after its end mark");
        return true;
      }
      const uint64_t v = pending + b;
      out.flux.push_back(static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX)));
      cursor += v;
      pending = 0;
      ++p;
    } else if (b < 255) {
      if (end - p < 2) return fail("flux stream: cut inside a two-byte value");
      if (p[1] == 0) return fail("flux stream: a two-byte value ends in 0");
      const uint64_t v = pending + 250 + (b - 250) * 255 + (p[1] - 1);
      out.flux.push_back(static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX)));
      cursor += v;
      pending = 0;
      p += 2;
    } else {
      if (end - p < 6) return fail("flux stream: cut inside an opcode");
      for (int k = 2; k < 6; ++k)
        if ((p[k] & 1) == 0) return fail("flux stream: malformed opcode argument");
      const uint32_t n = GetN28(p + 2);
      if (p[1] == kOpIndex) {
        out.index.push_back(cursor + pending + n);
      } else if (p[1] == kOpSpace) {
        pending += n;
      } else {
        return fail("flux stream: unexpected opcode");
      }
      p += 6;
    }
  }
  // No end mark: what was received is kept; the caller knows whether the
  // stream had to end.
  return true;
}

namespace {

void PutValue(std::vector<uint8_t>& out, uint64_t v, uint32_t spaceTicks) {
  while (v >= 2 * uint64_t{spaceTicks}) {
    out.push_back(255);
    out.push_back(kOpSpace);
    PutN28(out, spaceTicks);
    v -= spaceTicks;
  }
  if (v > kLargestShortValue) {
    out.push_back(255);
    out.push_back(kOpSpace);
    PutN28(out, static_cast<uint32_t>(v - 249));
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
      out.push_back(255);
      out.push_back(kOpIndex);
      PutN28(out, static_cast<uint32_t>(std::min<uint64_t>(
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
        out.push_back(255);
        out.push_back(kOpSpace);
        PutN28(out, n);
        v -= n;
      }
      out.push_back(255);
      out.push_back(kOpAstable);
      PutN28(out, timing.astableTicks);
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
  auto fail = [&](const char* why) {
    error = why;
    return false;
  };
  uint64_t pending = 0;
  const uint8_t* p = bytes.data();
  const uint8_t* end = p + bytes.size();
  while (p < end) {
    const uint8_t b = *p;
    if (b == 0) {
      if (p + 1 != end) return fail("write stream: bytes after the end mark");
      return true;
    }
    if (b < 250) {
      flux.push_back(static_cast<uint32_t>(std::min<uint64_t>(pending + b, UINT32_MAX)));
      pending = 0;
      ++p;
    } else if (b < 255) {
      if (end - p < 2 || p[1] == 0) return fail("write stream: cut inside a value");
      const uint64_t v = 250 + uint64_t{b - 250u} * 255 + (p[1] - 1u);
      flux.push_back(static_cast<uint32_t>(std::min<uint64_t>(pending + v, UINT32_MAX)));
      pending = 0;
      p += 2;
    } else {
      if (end - p < 6) return fail("write stream: cut inside an opcode");
      for (int k = 2; k < 6; ++k)
        if ((p[k] & 1) == 0) return fail("write stream: malformed opcode argument");
      const uint32_t n = GetN28(p + 2);
      if (p[1] == kOpSpace) {
        pending += n;
      } else if (p[1] == kOpAstable) {
        if (n == 0) return fail("write stream: Astable period 0");
        while (pending >= n) {
          flux.push_back(n);
          pending -= n;
        }
      } else {
        return fail("write stream: opcode not allowed in a write");
      }
      p += 6;
    }
  }
  return fail("write stream: no end mark");
}

}  // namespace kelvara::flux
