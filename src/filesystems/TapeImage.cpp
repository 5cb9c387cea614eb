#include "filesystems/TapeImage.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "model/ByteReader.h"

namespace kelvara {

namespace {

constexpr std::array<uint8_t, 8> kTzxSignature = {'Z', 'X', 'T', 'a', 'p', 'e', '!', 0x1A};
constexpr uint8_t kTzxStandardData = 0x10;
constexpr uint16_t kTzxPause = 1000;  // ms after each block written
constexpr uint8_t kTzxMajor = 1, kTzxMinor = 20;

std::string Hex2(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", v & 0xFFu);
  return text;
}

// Blocks that only describe the tape or pause it: they make no signal a
// loader reads, so skipping them loses nothing.
bool SkipInfoBlock(uint8_t id, ByteReader& r) {
  uint8_t n8 = 0;
  uint16_t n16 = 0;
  uint32_t n32 = 0;
  switch (id) {
    case 0x20:  // pause or stop the tape
      return r.Skip(2);
    case 0x21:  // group start: a named text
    case 0x30:  // text description
      return r.U8(n8) && r.Skip(n8);
    case 0x22:  // group end
      return true;
    case 0x31:  // message: a time byte, then a named text
      return r.Skip(1) && r.U8(n8) && r.Skip(n8);
    case 0x32:  // archive info
      return r.U16(n16) && r.Skip(n16);
    case 0x33:  // hardware type: n triples
      return r.U8(n8) && r.Skip(size_t{n8} * 3);
    case 0x35:  // custom info: a 16-byte name, then a counted body
      return r.Skip(16) && r.U32(n32) && r.Skip(n32);
    case 0x5A:  // another file's header glued on
      return r.Skip(9);
    default:
      return false;
  }
}

bool IsInfoBlock(uint8_t id) {
  switch (id) {
    case 0x20:
    case 0x21:
    case 0x22:
    case 0x30:
    case 0x31:
    case 0x32:
    case 0x33:
    case 0x35:
    case 0x5A:
      return true;
    default:
      return false;
  }
}

const char* TzxBlockName(uint8_t id) {
  switch (id) {
    case 0x11:
      return "turbo speed data";
    case 0x12:
      return "pure tone";
    case 0x13:
      return "pulse sequence";
    case 0x14:
      return "pure data";
    case 0x15:
      return "direct recording";
    case 0x18:
      return "CSW recording";
    case 0x19:
      return "generalized data";
    case 0x23:
      return "jump";
    case 0x24:
      return "loop start";
    case 0x25:
      return "loop end";
    case 0x26:
      return "call sequence";
    case 0x27:
      return "return from sequence";
    case 0x28:
      return "select";
    case 0x2A:
      return "stop the tape if in 48K mode";
    case 0x2B:
      return "set signal level";
    default:
      return "unknown block";
  }
}

// The N bytes of one block (flag, payload, checksum) into a TapeBlock.
bool TakeBlock(std::span<const uint8_t> bytes, size_t index, size_t offset, TapeBlock& out,
               std::string& error) {
  const std::string where =
      "block " + std::to_string(index + 1) + " at offset " + std::to_string(offset);
  if (bytes.size() < 2) {
    error =
        where + ": " + std::to_string(bytes.size()) + " bytes, too short for a flag and a checksum";
    return false;
  }
  uint8_t sum = 0;
  for (uint8_t b : bytes)
    sum ^= b;
  if (sum != 0) {
    error = where + ": checksum error";
    return false;
  }
  out.flag = bytes.front();
  out.payload.assign(bytes.begin() + 1, bytes.end() - 1);
  return true;
}

void AppendBlock(ByteWriter& w, uint8_t flag, std::span<const uint8_t> payload) {
  w.U16(static_cast<uint16_t>(payload.size() + 2));
  uint8_t sum = flag;
  w.U8(flag);
  for (uint8_t b : payload)
    sum ^= b;
  w.Bytes(payload);
  w.U8(sum);
}

std::array<uint8_t, kTapeHeaderPayload> HeaderPayload(const TapeHeader& h) {
  std::array<uint8_t, kTapeHeaderPayload> p{};
  p[0] = static_cast<uint8_t>(h.type);
  std::ranges::copy(h.name, p.begin() + 1);
  const uint16_t words[] = {h.length, h.param1, h.param2};
  for (size_t i = 0; i < 3; ++i) {
    p[11 + 2 * i] = static_cast<uint8_t>(words[i]);
    p[12 + 2 * i] = static_cast<uint8_t>(words[i] >> 8);
  }
  return p;
}

bool IsStandardHeader(const TapeBlock& b) {
  return b.flag == kTapeHeaderFlag && b.payload.size() == kTapeHeaderPayload && b.payload[0] <= 3;
}

TapeHeader HeaderOf(const TapeBlock& b) {
  const std::vector<uint8_t>& p = b.payload;
  TapeHeader h;
  h.type = static_cast<TapeType>(p[0]);
  std::copy_n(p.begin() + 1, h.name.size(), h.name.begin());
  h.length = static_cast<uint16_t>(p[11] | p[12] << 8);
  h.param1 = static_cast<uint16_t>(p[13] | p[14] << 8);
  h.param2 = static_cast<uint16_t>(p[15] | p[16] << 8);
  return h;
}

// The name of a headerless block: the tape's own name, cut so that a
// number fits within the 8 characters every disk system keeps.
std::array<uint8_t, 10> HeaderlessName(const std::string& base, int number, int count) {
  const std::string suffix = count > 1 ? std::to_string(number) : "";
  std::string text = base.substr(0, 8 - std::min<size_t>(suffix.size(), 8));
  // A PC file name may hold what a Spectrum name should not.
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '_';
  }
  text += suffix;
  if (text.empty()) text = "noname";
  std::array<uint8_t, 10> name;
  name.fill(' ');
  std::copy_n(text.begin(), std::min(text.size(), name.size()), name.begin());
  return name;
}

}  // namespace

bool ReadTapBlocks(std::span<const uint8_t> file, std::vector<TapeBlock>& out, std::string& error) {
  out.clear();
  ByteReader r(file);
  while (!r.AtEnd()) {
    const size_t offset = r.Pos();
    uint16_t n = 0;
    std::span<const uint8_t> bytes;
    if (!r.U16(n) || !r.View(n, bytes)) {
      error = "block " + std::to_string(out.size() + 1) + " at offset " + std::to_string(offset) +
              " runs past the end of the file";
      return false;
    }
    out.emplace_back();
    if (!TakeBlock(bytes, out.size() - 1, offset, out.back(), error)) return false;
  }
  return true;
}

bool ReadTzxBlocks(std::span<const uint8_t> file, std::vector<TapeBlock>& out, std::string& error) {
  out.clear();
  ByteReader r(file);
  std::span<const uint8_t> signature;
  if (!r.View(kTzxSignature.size(), signature) || !std::ranges::equal(signature, kTzxSignature) ||
      !r.Skip(2)) {
    error = "not a TZX file (no ZXTape! signature and version)";
    return false;
  }
  int index = 0;
  while (!r.AtEnd()) {
    ++index;
    const size_t offset = r.Pos();
    uint8_t id = 0;
    r.U8(id);
    const std::string where =
        "TZX block " + std::to_string(index) + " at offset " + std::to_string(offset);
    if (id == kTzxStandardData) {
      uint16_t pause = 0, n = 0;
      std::span<const uint8_t> bytes;
      if (!r.U16(pause) || !r.U16(n) || !r.View(n, bytes)) {
        error = where + " runs past the end of the file";
        return false;
      }
      out.emplace_back();
      if (!TakeBlock(bytes, out.size() - 1, offset, out.back(), error)) {
        error = where + ": " + error.substr(error.find(':') + 2);
        return false;
      }
      continue;
    }
    if (IsInfoBlock(id)) {
      if (!SkipInfoBlock(id, r)) {
        error = where + " runs past the end of the file";
        return false;
      }
      continue;
    }
    error = where + ": " + TzxBlockName(id) + " (ID " + Hex2(id) +
            "); only standard speed data blocks (ID 0x10) can be taken";
    return false;
  }
  return true;
}

bool ReadTapeBlocks(std::span<const uint8_t> file, std::vector<TapeBlock>& out,
                    std::string& error) {
  const bool tzx = file.size() >= kTzxSignature.size() &&
                   std::equal(kTzxSignature.begin(), kTzxSignature.end(), file.begin());
  return tzx ? ReadTzxBlocks(file, out, error) : ReadTapBlocks(file, out, error);
}

bool TapeFilesOf(const std::vector<TapeBlock>& blocks, const std::string& baseName,
                 std::vector<TapeFile>& out, std::string& error) {
  out.clear();
  std::vector<size_t> loose;  // the headerless files in `out`, named once counted
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (!IsStandardHeader(blocks[i])) {
      loose.push_back(out.size());
      TapeFile f;
      f.header.type = TapeType::Bytes;
      f.header.length = static_cast<uint16_t>(blocks[i].payload.size());
      f.header.param1 = kHeaderlessStart;
      f.data = blocks[i].payload;
      out.push_back(std::move(f));
      continue;
    }
    const TapeHeader header = HeaderOf(blocks[i]);
    if (i + 1 >= blocks.size() || IsStandardHeader(blocks[i + 1]) ||
        blocks[i + 1].payload.size() != header.length) {
      error = "block " + std::to_string(i + 1) + ": the header of \"" + TapeNameText(header) +
              "\" is not followed by its " + std::to_string(header.length) + " data bytes";
      return false;
    }
    out.push_back({header, blocks[i + 1].payload});
    ++i;
  }
  for (size_t k = 0; k < loose.size(); ++k)
    out[loose[k]].header.name =
        HeaderlessName(baseName, static_cast<int>(k) + 1, static_cast<int>(loose.size()));
  return true;
}

bool ReadTapeFiles(std::span<const uint8_t> file, const std::string& baseName,
                   std::vector<TapeFile>& out, std::string& error) {
  std::vector<TapeBlock> blocks;
  return ReadTapeBlocks(file, blocks, error) && TapeFilesOf(blocks, baseName, out, error);
}

std::string TapeNameText(const TapeHeader& header) {
  std::string text(header.name.begin(), header.name.end());
  return text.erase(text.find_last_not_of(' ') + 1);
}

std::vector<uint8_t> BuildTapBytes(std::span<const TapeFile> files) {
  ByteWriter w;
  for (const TapeFile& f : files) {
    AppendBlock(w, kTapeHeaderFlag, HeaderPayload(f.header));
    AppendBlock(w, kTapeDataFlag, f.data);
  }
  return w.Take();
}

std::vector<uint8_t> BuildTzxBytes(std::span<const TapeFile> files) {
  ByteWriter w;
  w.Bytes(kTzxSignature);
  w.U8(kTzxMajor);
  w.U8(kTzxMinor);
  const std::vector<uint8_t> tap = BuildTapBytes(files);
  // Each TAP block becomes an ID 0x10 block: the ID and the pause before
  // its length word and bytes.
  ByteReader r(tap);
  uint16_t n = 0;
  std::span<const uint8_t> block;
  while (r.U16(n) && r.View(n, block)) {
    w.U8(kTzxStandardData);
    w.U16(kTzxPause);
    w.U16(n);
    w.Bytes(block);
  }
  return w.Take();
}

}  // namespace kelvara
