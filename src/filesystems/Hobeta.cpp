#include "filesystems/Hobeta.h"

#include <algorithm>
#include <cstring>

#include "model/ByteReader.h"
#include "model/CodePage.h"

namespace kelvara {

namespace {

bool ForbiddenInFileName(uint8_t c) {
  return c < 32 || std::strchr("\\/:*?\"<>|", c) != nullptr;
}

std::string SafeText(std::span<const uint8_t> bytes) {
  std::string out;
  for (uint8_t c : bytes)
    out += ForbiddenInFileName(c) ? '_' : static_cast<char>(c);
  return Cp1251ToUtf8(out);
}

}  // namespace

uint16_t HobetaChecksum(std::span<const uint8_t> header) {
  uint16_t sum = 0;
  for (size_t i = 0; i < kHobetaSummedBytes && i < header.size(); ++i)
    sum = static_cast<uint16_t>(sum + header[i]);
  return static_cast<uint16_t>(257u * sum + 105u);
}

std::array<uint8_t, kHobetaHeaderSize> HobetaHeader(const TTrdosFileEntry& entry) {
  std::array<uint8_t, kHobetaHeaderSize> h{};
  std::array<uint8_t, kTrdosEntrySize> e{};
  entry.Encode(e);
  // Name, type, start and length as in the catalog; the sector count moves
  // one byte up.
  std::copy_n(e.begin(), 13, h.begin());
  h[13] = 0;
  h[14] = entry.SectorCount;
  const uint16_t sum = HobetaChecksum(h);
  h[15] = static_cast<uint8_t>(sum & 0xFF);
  h[16] = static_cast<uint8_t>(sum >> 8);
  return h;
}

bool ReadHobetaHeader(std::span<const uint8_t> file, TTrdosFileEntry& entry, bool& checksumOk) {
  entry = TTrdosFileEntry{};
  ByteReader r(file);
  uint16_t stored = 0;
  r.Bytes(entry.Name);
  r.U8(entry.FileType);
  r.U16(entry.Start);
  r.U16(entry.Length);
  r.Skip(1);  // the low byte of the occupied size, 0 for whole sectors
  r.U8(entry.SectorCount);
  r.U16(stored);
  if (!r.Ok()) return false;
  checksumOk = stored == HobetaChecksum(file);
  return true;
}

std::string ExportBaseName(const std::array<uint8_t, 8>& name) {
  size_t n = name.size();
  while (n > 0 && name[n - 1] <= 32)
    --n;
  return SafeText(std::span(name).first(n));
}

std::string ExportTypeText(uint8_t type) {
  return SafeText(std::span(&type, 1));
}

std::string HobetaFileName(const TTrdosFileEntry& entry) {
  return ExportBaseName(entry.Name) + ".$" + ExportTypeText(entry.FileType);
}

}  // namespace kelvara
