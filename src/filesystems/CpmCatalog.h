// CP/M on disks of the Profi computer: the directory, the used and free
// space, a file's bytes, and a new empty disk.
//
// The Profi disk is 80 cylinders, two sides, five 1024-byte sectors a track,
// 819200 bytes. The logical track is the image track index (cylinder * 2 +
// side); the sectors are numbered 1 to 5, except on track 0 where the fifth
// is numbered 9. There are no reserved tracks: allocation blocks of 2048
// bytes (two consecutive 1 KB sectors) start at track 0 sector 1, and blocks
// 0 and 1 hold the directory of 128 entries of 32 bytes. With 400 blocks the
// block numbers are 16 bits wide, eight to an entry, so each entry maps 16 KB,
// one logical extent of 128 records. The extent number counts 16 KB steps:
// its low five bits stand in byte 12 and the rest in byte 14, so a file of
// more than 32 extents (512 KB; the disk has 796 KB free) carries a non-zero
// byte 14 from its 33rd extent on.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/ZXDisk.h"

namespace kelvara {

inline constexpr int kCpmTracks = 160;
inline constexpr int kCpmSectorsPerTrack = 5;
inline constexpr int kCpmSectorSize = 1024;
inline constexpr int kCpmBlockSize = 2048;
inline constexpr int kCpmBlockCount = 400;
inline constexpr int kCpmDiskBytes = kCpmBlockCount * kCpmBlockSize;
inline constexpr int kCpmDirEntries = 128;
inline constexpr int kCpmEntrySize = 32;
inline constexpr int kCpmDirBytes = kCpmDirEntries * kCpmEntrySize;
inline constexpr int kCpmRecordSize = 128;
inline constexpr uint8_t kCpmUnused = 0xE5;  // user byte of a deleted entry; the formatter's fill

inline constexpr const char* kNotCpmImageText = "Образ не соответствует CP/M диску!";
inline constexpr const char* kCpmCatalogErrorText = "Ошибка в CP/M каталоге!";

// The 8 name bytes followed by the 3 extension bytes, as stored.
using CpmKey = std::array<uint8_t, 11>;

// Where a 1 KB sector address (0 = track 0 sector 1) lies on the disk.
struct CpmSectorPlace {
  int track;
  uint8_t sec;
};
CpmSectorPlace CpmSectorOf(int logicalSector);

// One 32-byte directory entry.
struct CpmDirEntry {
  uint8_t user = 0;  // 0 = ordinary, 0xE5 = deleted, anything else = hidden
  CpmKey key{};
  uint16_t extent = 0;  // byte 12 (five bits) and byte 14 (six bits above them)
  uint8_t records = 0;  // 128-byte records in this extent; 128 = full
  std::array<uint16_t, 8> blocks{};

  bool Deleted() const { return user == kCpmUnused; }
  bool Hidden() const { return user != 0 && user != kCpmUnused; }
};

// The entries of the directory up to its end: the first entry whose user
// byte and first name byte are both 0xE5 (a never used entry), or entry 128.
// Directory sectors that are missing read as zeros.
std::vector<CpmDirEntry> ReadCpmDirectory(const TZX_Disk& disk);

// One row of the listing: an extent-0 entry and the size of its file.
struct CpmFileRow {
  CpmKey key{};
  uint8_t user = 0;
  uint16_t extent = 0;
  uint32_t records = 0;  // the records of every extent of the file

  std::string Name() const;  // the 8 name bytes as UTF-8
  std::string Ext() const;   // the 3 extension bytes as UTF-8
};

struct CpmShowOptions {
  bool deleted = false;  // list deleted entries too
  bool hidden = false;   // list entries of users other than 0 too
};

struct CpmCatalog {
  std::vector<CpmFileRow> rows;
  std::bitset<kCpmBlockCount> usedBlocks;  // the directory's two blocks always

  int UsedBytes() const { return static_cast<int>(usedBlocks.count()) * kCpmBlockSize; }
  int UsedKb() const { return UsedBytes() / 1024; }
  int FreeKb() const { return (kCpmDiskBytes - UsedBytes()) / 1024; }
};

CpmCatalog ReadCpmCatalog(const TZX_Disk& disk, CpmShowOptions show);

// The bytes of the file of user `user` named `key`; false when no extent-0
// entry has that user and name. Sectors that are missing, damaged in size or
// outside the image read as zeros.
bool CollectCpmFile(const TZX_Disk& disk, const CpmKey& key, uint8_t user,
                    std::vector<uint8_t>& out);
// The same with the directory as ReadCpmDirectory(disk) gave it, for a
// caller that collects several files.
bool CollectCpmFile(const TZX_Disk& disk, const std::vector<CpmDirEntry>& dir, const CpmKey& key,
                    uint8_t user, std::vector<uint8_t>& out);

// Makes the image a freshly formatted, empty CP/M Profi disk.
void CreateCpmDisk(TZX_Disk& disk);

// A CP/M disk has 5 or 6 sectors on track 0 (counted afresh).
bool IsCpmImage(TZX_Disk& disk);

// Collects a file and writes it atomically to path. On failure false with the
// reason: kCpmCatalogErrorText when the file is not in the directory.
bool WriteCpmFile(const TZX_Disk& disk, const CpmFileRow& row, const std::string& path,
                  std::string& error);

}  // namespace kelvara
