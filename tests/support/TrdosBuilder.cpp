#include "support/TrdosBuilder.h"

#include <algorithm>

#include "support/DiskBuilder.h"
#include "support/TempDir.h"

namespace kelvara::test {

namespace {

std::vector<uint8_t> Name8(const std::string& name) {
  std::vector<uint8_t> out(name.begin(), name.end());
  out.resize(8, ' ');
  return out;
}

// Name, type, start, length: the 13 bytes every container shares.
std::vector<uint8_t> CommonHeader(const TrdosFile& f) {
  std::vector<uint8_t> h = Name8(f.name);
  if (f.deleted) h[0] = 0x01;
  const uint16_t len = f.Length();
  h.insert(h.end(), {static_cast<uint8_t>(f.type), static_cast<uint8_t>(f.start & 0xFF),
                     static_cast<uint8_t>(f.start >> 8), static_cast<uint8_t>(len & 0xFF),
                     static_cast<uint8_t>(len >> 8)});
  return h;
}

std::vector<uint8_t> Padded(const TrdosFile& f) {
  std::vector<uint8_t> d = f.data;
  d.resize(static_cast<size_t>(f.Sectors()) * 256, 0);
  return d;
}

TSectorRec& Slot(TZX_Disk& disk, int linear) {
  return disk.GetTrack(static_cast<uint8_t>(linear / 16)).Sectors[linear % 16];
}

}  // namespace

TrdosFile PatternFile(const std::string& name, char type, int sectors, uint32_t seed) {
  return {name, type, 0x8000, PatternBytes(static_cast<size_t>(sectors) * 256, seed)};
}

void BuildTrdosDisk(TZX_Disk& disk, const std::vector<TrdosFile>& files,
                    const std::string& diskName) {
  disk.ClearImage();
  const std::vector<uint8_t> zeros(256, 0);
  for (int t = 0; t < 160; ++t) {
    for (int r = 1; r <= 16; ++r)
      AddSector(disk, static_cast<uint8_t>(t), static_cast<uint8_t>(t / 2), 0,
                static_cast<uint8_t>(r), 1, zeros);
  }
  int linear = 16, deleted = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const TrdosFile& f = files[i];
    std::vector<uint8_t> entry = CommonHeader(f);
    entry.insert(entry.end(), {static_cast<uint8_t>(f.Sectors()), static_cast<uint8_t>(linear % 16),
                               static_cast<uint8_t>(linear / 16)});
    std::copy(entry.begin(), entry.end(),
              Slot(disk, static_cast<int>(i / 16)).MutableData().begin() + (i % 16) * 16);
    const std::vector<uint8_t> data = Padded(f);
    for (size_t k = 0; k < data.size(); k += 256)
      std::copy_n(data.begin() + k, 256, Slot(disk, linear++).MutableData().begin());
    deleted += f.deleted;
  }
  uint8_t* s = Slot(disk, 8).MutableData().data();
  const int free = 2560 - linear;
  s[0xE1] = static_cast<uint8_t>(linear % 16);
  s[0xE2] = static_cast<uint8_t>(linear / 16);
  s[0xE3] = 0x16;
  s[0xE4] = static_cast<uint8_t>(files.size());
  s[0xE5] = static_cast<uint8_t>(free & 0xFF);
  s[0xE6] = static_cast<uint8_t>(free >> 8);
  s[0xE7] = 0x10;
  s[0xF4] = static_cast<uint8_t>(deleted);
  const std::vector<uint8_t> name = Name8(diskName);
  std::copy(name.begin(), name.end(), s + 0xF5);
  disk.CountTracks();
}

std::vector<uint8_t> HobetaBytes(const TrdosFile& file) {
  std::vector<uint8_t> h = CommonHeader(file);
  h.insert(h.end(), {0, static_cast<uint8_t>(file.Sectors()), 0, 0});
  ResealHobeta(h);
  const std::vector<uint8_t> data = Padded(file);
  h.insert(h.end(), data.begin(), data.end());
  return h;
}

void ResealHobeta(std::vector<uint8_t>& file) {
  unsigned sum = 0;
  for (size_t i = 0; i < 15; ++i)
    sum += 257u * file[i] + static_cast<unsigned>(i);
  file[15] = static_cast<uint8_t>(sum & 0xFF);
  file[16] = static_cast<uint8_t>((sum >> 8) & 0xFF);
}

void ResealScl(std::vector<uint8_t>& file) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 4 < file.size(); ++i)
    sum += file[i];
  for (size_t i = 0; i < 4; ++i)
    file[file.size() - 4 + i] = static_cast<uint8_t>(sum >> (8 * i));
}

std::vector<uint8_t> SclBytes(const std::vector<TrdosFile>& files, int count) {
  std::vector<uint8_t> out = {'S', 'I', 'N', 'C', 'L', 'A', 'I', 'R'};
  out.push_back(static_cast<uint8_t>(count < 0 ? files.size() : count));
  for (const TrdosFile& f : files) {
    std::vector<uint8_t> h = CommonHeader(f);
    h.push_back(static_cast<uint8_t>(f.Sectors()));
    out.insert(out.end(), h.begin(), h.end());
  }
  for (const TrdosFile& f : files) {
    const std::vector<uint8_t> data = Padded(f);
    out.insert(out.end(), data.begin(), data.end());
  }
  out.resize(out.size() + 4);
  ResealScl(out);
  return out;
}

std::vector<uint8_t> SectorBytes(const TZX_Disk& disk, int track, int sec) {
  for (const TSectorRec& s : disk.GetTrack(static_cast<uint8_t>(track)).Sectors) {
    if (s.Present && s.Sec == sec) {
      std::vector<uint8_t> bytes(256);  // zeros past a short sector's data
      s.CopyDataPadded(bytes);
      return bytes;
    }
  }
  return {};
}

std::vector<uint8_t> RunBytes(const TZX_Disk& disk, int track, int position, int count) {
  std::vector<uint8_t> out;
  for (int linear = track * 16 + position; count-- > 0; ++linear) {
    const std::vector<uint8_t> s = SectorBytes(disk, linear / 16, linear % 16 + 1);
    out.insert(out.end(), s.begin(), s.end());
  }
  return out;
}

uint8_t ServiceByte(const TZX_Disk& disk, int offset) {
  return SectorBytes(disk, 0, 9).at(static_cast<size_t>(offset));
}

}  // namespace kelvara::test
