// Changing a CP/M file system (Profi, +3DOS, CPC): adding, deleting and
// renaming files the way CP/M and cpmtools lay them out.
//
// A new file takes the lowest free blocks and the first free directory
// entries (a deleted entry, user byte 0xE5, is free). Each entry maps as
// many blocks as it has pointers (16 of a byte, or 8 of two bytes on disks of
// more than 256 blocks); its extent number (byte 12 the low five bits, byte
// 14 the rest) is that of the last 16 KB logical extent it uses and byte 15
// counts the 128-byte records of that logical extent. On +3DOS and CPC disks
// (CP/M 3) byte 13 of the file's last entry holds the bytes used of its last
// record, 0 when that record is full; CP/M 2.2 on the Profi leaves it 0. The
// last record is filled up with 0x1A, CP/M's end-of-text mark.
//
// CpmVolume works on a copy of the directory and keeps new files' blocks
// aside; Save writes them all into the image, or nothing when a sector it
// needs cannot be written.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "filesystems/CpmCatalog.h"

namespace kelvara {

inline constexpr const char* kCpmDirectoryFullText = "Каталог диска заполнен..!";
inline constexpr const char* kCpmDiskFullText = "Нет места на образе диска ..!";
inline constexpr int kCpmMaxUser = 15;

// A file's user area and its 8 + 3 name bytes.
struct CpmName {
  uint8_t user = 0;
  CpmKey key{};

  bool operator==(const CpmName&) const = default;
};

// "NAME.EXT", or "N:NAME.EXT" for user N (0-15): at most 8 and 3 characters,
// letters in either case (stored as capitals), none of the characters CP/M
// keeps for itself (< > . , ; : = ? * [ ] | and spaces) or below 0x21 or
// above 0x7E. False with the reason otherwise.
bool ParseCpmName(std::string_view text, CpmName& out, std::string& error);
// A file name from elsewhere (a PC file, a tape) made a CP/M one: capitals,
// every character CP/M does not allow as "_", the part before the last dot
// cut to 8 characters and the part after it to 3; a name without a dot
// longer than 8 characters keeps its 9th and 10th in the extension. Empty
// when nothing is left.
CpmKey CpmKeyFrom(std::string_view text);
// "NAME.EXT" (without the attribute bits and the padding), "2:NAME.EXT"
// for a user other than 0.
std::string CpmNameText(const CpmName& name);
// The key without the attribute bits, as names are compared.
CpmKey PlainCpmKey(const CpmKey& key);

class CpmVolume {
 public:
  // Reads the directory of the disk's CP/M file system (its layout as
  // CpmFormatOf finds it). False, with the reason, when a directory sector
  // is missing or not of the layout's size, or the +3 format record lies in
  // the directory (no reserved track): a directory that cannot be written
  // back, or whose writing would change the layout, is not changed.
  bool Open(TZX_Disk& disk, std::string& error);
  const CpmFormat& Format() const { return format_; }

  bool Exists(const CpmName& name) const;
  int FreeBlocks() const;
  int FreeEntries() const;

  // Each refuses with the reason and changes nothing: Add a name in use, a
  // full directory or disk; Remove and Rename a name not in use; Rename a
  // new name in use.
  bool Add(const CpmName& name, std::span<const uint8_t> bytes, std::string& error);
  bool Remove(const CpmName& name, std::string& error);
  bool Rename(const CpmName& from, const CpmName& to, std::string& error);

  // Writes the directory and the added files' blocks into the image. Every
  // sector is checked first: false, with the sector named, and the image
  // untouched when one is missing or not of the layout's size.
  bool Save(std::string& error);

 private:
  uint8_t* Entry(int i) { return dir_.data() + static_cast<size_t>(i) * kCpmEntrySize; }
  const uint8_t* Entry(int i) const { return dir_.data() + static_cast<size_t>(i) * kCpmEntrySize; }
  bool IsFileEntry(int i) const;
  bool EntryOf(int i, const CpmName& name) const;
  std::vector<uint16_t> EntryBlocks(int i) const;
  void MarkUsed();

  TZX_Disk* disk_ = nullptr;
  CpmFormat format_;
  std::vector<uint8_t> dir_;
  std::vector<bool> used_;                          // one per block
  std::map<uint16_t, std::vector<uint8_t>> added_;  // new blocks' bytes
};

}  // namespace kelvara
