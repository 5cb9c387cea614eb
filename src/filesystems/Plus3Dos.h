// +3DOS and Amstrad CPC disks: the layouts the CP/M directory code reads
// them with, the PLUS3DOS header of a +3 file, and a new empty +3 disk.
//
// A +3 (and PCW) disk describes itself in the first 16 bytes of track 0,
// sector 1 (the geometry record); a disk whose first ten bytes there are
// all 0xE5 is the standard +3 format (40 tracks, one side, 9 sectors of 512
// bytes, one reserved track, 1 KB blocks, 64 directory entries). CPC disks
// carry no geometry record: their first sector ID tells the format, 0x41-0x49
// the system format (two reserved tracks), 0xC1-0xC9 the data format (none),
// otherwise both as the +3 one.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "filesystems/CpmCatalog.h"
#include "model/ZXDisk.h"

namespace kelvara {

// The geometry record, bytes 0-9.
struct Plus3Geometry {
  uint8_t type = 0;        // 0 +3 / PCW single-sided, 1 CPC system, 2 CPC data, 3 PCW double-sided
  uint8_t sidedness = 0;   // bits 0-1: 0 one side, 1 sides in turn, 2 out on side 0 and back on 1
  uint8_t tracks = 40;     // per side
  uint8_t sectors = 9;     // per track
  uint8_t sizeCode = 2;    // sector size 128 << code
  uint8_t reserved = 1;    // reserved tracks
  uint8_t blockShift = 3;  // block size 128 << shift
  uint8_t dirBlocks = 2;   // blocks of the directory
  uint8_t gapReadWrite = 0x2A;
  uint8_t gapFormat = 0x52;

  std::array<uint8_t, 10> Bytes() const;
};

// The layout of a +3DOS or CPC disk on the image (see the top of the file);
// false when track 0 holds neither, or a geometry record that makes no sense.
bool FindPlus3Format(const TZX_Disk& disk, CpmFormat& format);
// The layout a geometry record describes; false when it describes none.
bool FormatFromGeometry(const Plus3Geometry& geometry, CpmFormat& format);

// The 128-byte header a +3 file opens with: "PLUS3DOS", 0x1A, issue and
// version bytes, u32 file length with the header, the 8 bytes of the +3
// BASIC header (type, u16 length, u16 parameter 1, u16 parameter 2, unused),
// 104 reserved bytes, and the sum of bytes 0-126 modulo 256.
inline constexpr size_t kPlus3HeaderSize = 128;
struct Plus3Header {
  uint32_t fileLength = 0;  // header included
  uint8_t type = 0;         // 0 program, 1 number array, 2 character array, 3 bytes
  uint16_t dataLength = 0;
  uint16_t param1 = 0;  // program: autostart line (0x8000 and up: none); bytes: load address
  uint16_t param2 = 0;  // program: offset of the variables
};
// False when the bytes do not open with a header whose checksum is right.
bool ReadPlus3Header(std::span<const uint8_t> file, Plus3Header& header);
// The 128 header bytes for a header's fields (its fileLength as given):
// issue 1, version 0, as the +3 writes them.
std::array<uint8_t, kPlus3HeaderSize> BuildPlus3Header(const Plus3Header& header);
// "Program 71 bytes, LINE 10, variables at 71", "Bytes 6912 at 16384", ...
std::string DescribePlus3Header(const Plus3Header& header);
// A file's bytes without its header, cut to the length the header gives; the
// bytes as they are when they carry none.
std::span<const uint8_t> Plus3FileBody(std::span<const uint8_t> file);

// Makes the image an empty +3 disk of the standard format: 40 tracks of 9
// sectors of 512 bytes on side 0, the geometry record in track 0 sector 1.
void CreatePlus3Disk(TZX_Disk& disk);

}  // namespace kelvara
