// TR-DOS disks, Hobeta files and SCL archives with given files, built byte by
// byte from the format's layout without the code under test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/ZXDisk.h"

namespace kelvara::test {

struct TrdosFile {
  std::string name;  // padded with spaces to 8 bytes
  char type = 'C';
  uint16_t start = 0;
  std::vector<uint8_t> data;  // padded with zeros to whole sectors
  int length = -1;            // the stored length; -1: the data's size
  bool deleted = false;       // first name byte 0x01, counted as deleted

  int Sectors() const { return static_cast<int>((data.size() + 255) / 256); }
  uint16_t Length() const { return static_cast<uint16_t>(length < 0 ? data.size() : length); }
};

// A file of `sectors` sectors of pattern bytes.
TrdosFile PatternFile(const std::string& name, char type, int sectors, uint32_t seed = 1);

// An 80-track two-sided TR-DOS disk (tracks 0..159, sectors 1..16 of 256
// bytes): the files one after another from track 1 sector 1, their catalog
// entries in order, and the service sector to match.
void BuildTrdosDisk(TZX_Disk& disk, const std::vector<TrdosFile>& files,
                    const std::string& diskName = "TESTDISK");

std::vector<uint8_t> HobetaBytes(const TrdosFile& file);
// An SCL archive; `count` overrides N when not negative.
std::vector<uint8_t> SclBytes(const std::vector<TrdosFile>& files, int count = -1);

// Recompute the checksum of a Hobeta header or an SCL file after a test
// changed its bytes.
void ResealHobeta(std::vector<uint8_t>& file);
void ResealScl(std::vector<uint8_t>& file);

// 256 bytes of sector `sec` (1-based) of logical track `track`.
std::vector<uint8_t> SectorBytes(const TZX_Disk& disk, int track, int sec);
// `count` sectors from a 0-based start, across tracks.
std::vector<uint8_t> RunBytes(const TZX_Disk& disk, int track, int position, int count);
// A byte of the service sector.
uint8_t ServiceByte(const TZX_Disk& disk, int offset);

}  // namespace kelvara::test
