// The TR-DOS volume as it lies on the image: sixteen 256-byte sectors per
// logical track, where a logical track is the image's track index itself
// (cylinder * 2 + side, whatever the disk type byte claims). Track 0 holds
// the catalog in sectors 1..8 (128 entries of 16 bytes) and the service
// sector 9 with the free-space pointer, the counts and the disk name.
//
// The catalog and the service sector store sector positions 0-based; the
// sector number in the address field is that value + 1. A file is a run of
// contiguous linear sectors (track * 16 + position) that goes on at sector 1
// of the next logical track after sector 16.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/ZXDisk.h"

namespace kelvara {

inline constexpr int kTrdosSectorSize = 256;
inline constexpr int kTrdosSectorsPerTrack = 16;
inline constexpr int kTrdosMaxFiles = 128;
inline constexpr int kTrdosEntrySize = 16;
inline constexpr int kTrdosCatalogBytes = kTrdosMaxFiles * kTrdosEntrySize;  // sectors 1..8
inline constexpr int kTrdosServiceSector = 9;
// Sectors of an 80-track two-sided disk (type 0x16), 160 logical tracks.
inline constexpr int kTrdosTotalSectors = 2560;
inline constexpr int kTrdosFirstDataTrack = 1;

// Offsets within the service sector.
namespace trdos_service {
inline constexpr int kFirstFreeSector = 0xE1;
inline constexpr int kFirstFreeTrack = 0xE2;
inline constexpr int kDiskType = 0xE3;
inline constexpr int kFileCount = 0xE4;
inline constexpr int kFreeSectors = 0xE5;  // 16-bit, little-endian
inline constexpr int kTrdosId = 0xE7;
inline constexpr int kDeletedCount = 0xF4;
inline constexpr int kDiskName = 0xF5;  // 8 bytes
}  // namespace trdos_service

inline constexpr uint8_t kTrdosIdByte = 0x10;
inline constexpr uint8_t kTrdosDiskType80x2 = 0x16;
// A name whose first byte is 0x01 is a deleted file; a first byte of 0 beyond
// the file count is an entry erased from the end of the catalog.
inline constexpr uint8_t kDeletedMark = 0x01;

// One catalog entry. Names are the disk's own bytes (Windows-1251 when they
// are letters at all); the user interface converts them.
struct TTrdosFileEntry {
  std::array<uint8_t, 8> Name{};
  uint8_t FileType = 0;
  uint16_t Start = 0;
  uint16_t Length = 0;
  uint8_t SectorCount = 0;
  uint8_t FirstSector = 0;  // 0-based
  uint8_t FirstTrack = 0;

  // Live when the first name byte is a printable character; 31 and below
  // (0x01 deleted, 0x00 erased) count as deleted.
  bool IsLive() const { return Name[0] > 31; }
  int FirstLinear() const { return FirstTrack * kTrdosSectorsPerTrack + FirstSector; }

  // The 16 bytes on disk: name, type, start, length, sector count, first
  // sector, first track. An SCL header is the first 14 of them.
  void Encode(std::span<uint8_t, kTrdosEntrySize> out) const;
  static TTrdosFileEntry Decode(std::span<const uint8_t, kTrdosEntrySize> in);
};

// The catalog as the catalog window and the SCL writer work on it.
// ListedCount (the entries read from the catalog sectors, the ones listed and
// written back) and FileCount (the service sector's count, used by the file
// commands) are separate: on a damaged or half-edited disk they differ.
struct TTrdosCatalog {
  bool Valid = false;
  uint8_t ListedCount = 0;
  std::array<uint8_t, 8> DiskName{};
  uint8_t DiskType = 0;
  uint8_t TrdosId = 0;
  uint8_t FirstFreeSector = 0;
  uint8_t FirstFreeTrack = 0;
  uint16_t FreeSectors = 0;
  uint8_t FileCount = 0;
  uint8_t DeletedCount = 0;
  std::array<TTrdosFileEntry, kTrdosMaxFiles> Entries{};

  // The entries the counts cover, bounded by the array whatever the service
  // sector says.
  int ListedBound() const { return ListedCount < kTrdosMaxFiles ? ListedCount : kTrdosMaxFiles; }
  int FileBound() const { return FileCount < kTrdosMaxFiles ? FileCount : kTrdosMaxFiles; }
};

// The first of a track's 20 slots whose sector number is `sec`, in slot order
// and empty slots included; nullptr when none has it or the track index lies
// outside the image.
TSectorRec* GetLogicalSector(TZX_Disk& disk, int track, int sec);
const TSectorRec* GetLogicalSector(const TZX_Disk& disk, int track, int sec);

// A sector that TR-DOS work may read or write: the slot exists, is present,
// its ID field's CRC holds and it holds at least 256 data bytes (of which the
// first 256 are used). nullptr otherwise.
TSectorRec* UsableSector(TZX_Disk& disk, int track, int sec);
const TSectorRec* UsableSector(const TZX_Disk& disk, int track, int sec);

// The same lookups by linear sector (track * 16 + sector - 1) for work that
// walks runs of them: each track's slots are searched once, when the walk
// first comes to it, not once a sector. The disk's slots must not change
// while the index is in use.
class LinearSectorIndex {
 public:
  explicit LinearSectorIndex(const TZX_Disk& disk) : disk_(disk) {}
  // GetLogicalSector's slot (0..19), or -1.
  int Slot(int linear);
  const TSectorRec* Logical(int linear);
  const TSectorRec* Usable(int linear);
  // Logical's slot when its track is part of the image: a writer saves only
  // present tracks, so data stored on the slots of a removed one is lost.
  const TSectorRec* Destination(int linear);
  // A sector Logical finds, handed out for writing, which marks its track as
  // used: `disk` is the indexed disk.
  TSectorRec& Writable(TZX_Disk& disk, int linear);

 private:
  const TZX_Disk& disk_;
  int track_ = -1;
  bool trackPresent_ = false;
  std::array<int8_t, kTrdosSectorsPerTrack> slots_{};
};

// Parses track 0 given as the bytes of sectors 1, 2, ... in order (256 bytes
// each; at least the nine of sectors 1..9, more are ignored), as the image
// gives them or as a drive read them. False, with the record zeroed, when the
// block is too short or the service sector is not TR-DOS's.
bool ParseTrdosCatalog(std::span<const uint8_t> sectors, TTrdosCatalog& out);
// Collects sectors 1..9 of logical track 0 from the image and parses them,
// each from the first slot of its number (GetLogicalSector's, where writes
// go too); a sector no slot has reads as zeros. False, with the record
// zeroed, when track 0 is absent, one of its sectors 1..9 is not present or
// not 256 bytes long, or the volume is not TR-DOS.
bool ReadTrdosCatalog(const TZX_Disk& disk, TTrdosCatalog& out);

// The number (1..9) of a catalog sector that more than one slot of track 0
// holds (the first whose second copy is met in slot order); 0 when none does.
int DuplicateCatalogSector(const TZX_Disk& disk);
// When DuplicateCatalogSector finds one, says in track 0's log which copy the
// catalog uses (once: a line already there is not added again); true then.
bool NoteDuplicateCatalogSector(TZX_Disk& disk);

// Stores the record into sectors 1..9 of logical track 0: the catalog sectors
// are rebuilt from the listed entries; of the service sector only the
// pointer, the counts, the free count and the name change. Every one of the
// nine sectors must be usable before any byte changes: otherwise `error`
// names the first that is not, the result is false and the image is as it
// was.
bool WriteTrdosCatalog(TZX_Disk& disk, const TTrdosCatalog& cat, std::string& error);
// Whether WriteTrdosCatalog can store a record: false, with `error` naming
// the first of the nine sectors that is not usable. Commands that move or
// add file data ask first, so that data never changes under a catalog that
// cannot follow it.
bool TrdosCatalogWritable(const TZX_Disk& disk, std::string& error);

// Writes the record's first-free pointer, file count, deleted count and free
// count into the bytes of a service sector (at least 256 of them).
void StoreVolumeCounts(std::span<uint8_t> service, const TTrdosCatalog& cat);

// The sectors of a disk of the given type: 0x16 80 tracks two-sided, 0x17
// 40 tracks two-sided, 0x18 80 tracks single-sided, 0x19 40 tracks
// single-sided; any other value counts as 0x16.
int TrdosTotalSectors(uint8_t diskType);
// Free sectors with the first-free pointer at `linear` on a disk of `total`
// sectors. Past the end of the disk the count is 0, not a wrapped value.
uint16_t FreeSectorsFrom(int linear, int total = kTrdosTotalSectors);
// Moves the first-free pointer to `linear` and recounts the free sectors
// against the record's disk type.
void SetFreePointer(TTrdosCatalog& cat, int linear);

// Stores 256 bytes into a usable sector. The sector now holds the data the
// program gave it, so a CRC error it carried from a read is gone.
void StoreTrdosSector(TSectorRec& sector, std::span<const uint8_t> bytes);

// The address of a file's sector in its run: logical track and sector number
// (1-based, as in the address field).
struct TrdosSectorAddress {
  int track = 0;
  int sec = 0;
};

// Collects `count` sectors of a run starting at a 0-based position. The first
// sector that is not usable ends the walk: the result is false and `failed`
// names it.
bool ReadTrdosRun(const TZX_Disk& disk, int firstTrack, int firstSector, int count,
                  std::vector<uint8_t>& out, TrdosSectorAddress& failed);
// The same, adding the sectors after what `out` holds.
bool AppendTrdosRun(const TZX_Disk& disk, int firstTrack, int firstSector, int count,
                    std::vector<uint8_t>& out, TrdosSectorAddress& failed);

// The file covering a sector of the image, for the main window's sector
// panel: name + "_" + type from the given catalog snapshot, "Free sector!"
// when no listed entry (deleted ones included) covers it, and "" for track 0
// or without a valid snapshot. `position` is the sector's 0-based place.
std::string FindSectorOwner(const TTrdosCatalog& snapshot, int track, int position);

// The 8 name bytes and the type letter as UTF-8 text.
// "Ошибка сектора - (track T sector S)..!", the message of a sector that
// cannot be used; the SCL writer ends it with ") !".
std::string TrdosSectorErrorText(int track, int sec, std::string_view end = ")..!");

std::string TrdosNameText(const std::array<uint8_t, 8>& name);
std::string TrdosTypeText(uint8_t type);
// Text given by the user as 8 name bytes: Windows-1251, cut to 8 and padded
// with `pad`.
std::array<uint8_t, 8> TrdosNameBytes(const std::string& utf8, uint8_t pad);

// Makes the image a freshly formatted, empty 80-track double-sided TR-DOS
// disk with the given label (padded or cut to 8 characters).
void CreateTrdosDisk(TZX_Disk& disk, const std::string& name);

}  // namespace kelvara
