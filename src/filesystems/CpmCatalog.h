// CP/M on disks of the Profi computer: the directory, the used and free
// space, a file's bytes, and a new empty disk. The same directory code reads
// the +3DOS and Amstrad CPC disks, whose layouts filesystems/Plus3Dos.h
// finds (CpmFormat below holds either).
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

#include <algorithm>
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
inline constexpr int kCpmMaxBlocks = 4096;   // more than any image holds
inline constexpr uint8_t kCpmUnused = 0xE5;  // user byte of a deleted entry; the formatter's fill
inline constexpr uint8_t kCpmUsers = 16;     // user numbers 0-15 own files

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

// Where a CP/M file system lies on the image and the shape of its directory.
// The defaults are the Profi disk's. A logical track is numbered from 0 over
// the whole disk and a logical sector from 0 over the tracks in turn;
// allocation blocks start after the reserved tracks, and the directory fills
// the first blocks.
struct CpmFormat {
  // How logical tracks lie on the image: track t at image track t (both
  // sides in turn), on side 0 only (image track 2t), or out on side 0 and
  // back on side 1.
  enum class Sides : uint8_t { Interleaved, One, Successive };
  const char* name = "CP/M Profi";
  const char* id = "cpm";  // the file system's name in verify's reports
  Sides sides = Sides::Interleaved;
  int tracksPerSide = kCpmTracks / 2;
  int sectorsPerTrack = kCpmSectorsPerTrack;
  int sectorSize = kCpmSectorSize;
  uint8_t firstSector = 1;  // sector IDs run from here
  bool profiTrack0 = true;  // the fifth sector of track 0 is number 9
  int reservedTracks = 0;
  int blockSize = kCpmBlockSize;
  int blockCount = kCpmBlockCount;
  int dirEntries = kCpmDirEntries;
  bool plus3 = false;  // files may open with a PLUS3DOS header; saved as NAME.EXT
  // CP/M 3 (and +3DOS) keeps the bytes used of a file's last record in byte
  // 13 of its last entry (1-127; 0 = all 128); CP/M 2.2 leaves it 0.
  bool lastRecordBytes = false;

  // Block numbers are a byte each on disks of at most 256 blocks.
  int PointersPerEntry() const { return blockCount > 256 ? 8 : 16; }
  // Logical extents (16 KB) an entry maps, less one: the low bits of the
  // extent number that count extents within one entry.
  int ExtentMask() const { return std::max(PointersPerEntry() * blockSize / 16384, 1) - 1; }
  int DirBlocks() const { return (dirEntries * kCpmEntrySize + blockSize - 1) / blockSize; }
};
inline const CpmFormat kProfiCpmFormat{};

CpmSectorPlace CpmSectorOf(const CpmFormat& format, int logicalSector);
// The layout of the disk in the image: a +3DOS or CPC one when track 0 says
// so (see Plus3Dos.h), the Profi one otherwise.
CpmFormat CpmFormatOf(const TZX_Disk& disk);

// One 32-byte directory entry. User bytes 0-15 are files; CP/M 3 puts other
// records in the directory under user bytes 16 and above: 16-31 a password
// (of the file of that user less 16), 0x20 the disc label, 0x21 date stamps.
struct CpmDirEntry {
  uint8_t user = 0;                   // 0-15 a file's user, 0xE5 = deleted, 16 and up no file
  CpmKey key{};                       // bit 7 of each byte is an attribute, not part of the name
  uint16_t extent = 0;                // byte 12 (five bits) and byte 14 (six bits above them)
  uint8_t lastBytes = 0;              // byte 13: bytes used of the last record (CP/M 3)
  uint8_t records = 0;                // 128-byte records in this extent; 128 = full
  std::array<uint16_t, 16> blocks{};  // the first `pointers` are the entry's
  uint8_t pointers = 8;

  std::span<const uint16_t> Blocks() const { return std::span(blocks).first(pointers); }

  bool Deleted() const { return user == kCpmUnused; }
  bool IsFile() const { return user < kCpmUsers; }
  bool Hidden() const { return user != 0 && IsFile(); }
};

// The entries of the directory up to its end: the first entry whose user
// byte and first name byte are both 0xE5 (a never used entry), or the last
// entry (128 on a Profi disk). Directory sectors that are missing read as
// zeros.
std::vector<CpmDirEntry> ReadCpmDirectory(const TZX_Disk& disk);
std::vector<CpmDirEntry> ReadCpmDirectory(const TZX_Disk& disk, const CpmFormat& format);

// The name bytes as a user types them: bit 7 (an attribute) cleared, the
// padding dropped, "NAME.EXT", or "NAME" when the extension is blank.
std::string CpmTypedName(const CpmKey& key);
// The attributes the high bits of the name carry, in this order: "F1" to
// "F4" (bytes 1-4, free for the user), "R/O", "SYS", "ARC" (bytes 9-11).
std::vector<std::string> CpmAttributes(const CpmKey& key);

// One row of the listing: an extent-0 entry and the size of its file.
struct CpmFileRow {
  CpmKey key{};
  uint8_t user = 0;
  uint16_t extent = 0;
  uint32_t records = 0;  // the records of every extent of the file
  uint64_t bytes = 0;    // its length: whole records, or the last one's bytes where kept

  std::string Name() const;  // the 8 name bytes, 7 bits each, as UTF-8
  std::string Ext() const;   // the 3 extension bytes, 7 bits each, as UTF-8
  std::vector<std::string> Attributes() const { return CpmAttributes(key); }
};

// A directory entry that is no file (user byte 16 and above): the disc
// label, date stamps, a password, or one of a kind CP/M does not define.
struct CpmOtherEntry {
  enum class Kind { Label, DateStamps, Password, Unknown };
  Kind kind = Kind::Unknown;
  uint8_t user = 0;
  CpmKey key{};

  const char* KindName() const;  // "label", "date-stamps", "password", "unknown"
  // "Label: DISK", "Date stamps", "Password of 3:GAME.COM", "Entry of user 0x45: X"
  std::string Describe() const;
};

struct CpmShowOptions {
  bool deleted = false;  // list deleted entries too
  bool hidden = false;   // list the files of users 1 to 15 too
};

struct CpmCatalog {
  std::vector<CpmFileRow> rows;
  std::vector<CpmOtherEntry> others;      // the entries that are no files, in directory order
  std::bitset<kCpmMaxBlocks> usedBlocks;  // the directory's blocks always
  int blockSize = kCpmBlockSize;
  int blockCount = kCpmBlockCount;

  int UsedBytes() const { return static_cast<int>(usedBlocks.count()) * blockSize; }
  int UsedKb() const { return UsedBytes() / 1024; }
  int FreeKb() const { return (blockCount * blockSize - UsedBytes()) / 1024; }
  // The disc label's typed name; "" without one.
  std::string Label() const;
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
