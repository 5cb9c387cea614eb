// Tape image files: TAP, and the part of TZX that holds the same blocks.
//
// A TAP file is a run of blocks, each a little-endian length N and N bytes:
// a flag (0x00 header, 0xFF data as the ROM writes them), the payload and a
// checksum that makes the XOR of all N bytes zero. A standard header is a
// flag-0 block of 17 payload bytes (type, 10-byte name, length, param1,
// param2); the data block after it carries `length` bytes.
//
// A TZX file opens with "ZXTape!", 0x1A and two version bytes; its standard
// speed data blocks (ID 0x10: u16 pause in ms, u16 N, then a TAP block's N
// bytes) hold exactly what a TAP holds. Blocks of any other kind (turbo
// loaders, pure tones, direct recordings, ...) carry no file a disk could
// take, so a TZX with one of them is refused, naming it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "filesystems/TapeHeader.h"

namespace kelvara {

inline constexpr uint8_t kTapeHeaderFlag = 0x00;
inline constexpr uint8_t kTapeDataFlag = 0xFF;
inline constexpr size_t kTapeHeaderPayload = 17;
// N counts the flag and the checksum too and is 16 bits wide.
inline constexpr size_t kTapeMaxPayload = 0xFFFF - 2;
// Where a headerless block is put when it becomes a CODE file: its loader
// knew the address, the tape does not say it.
inline constexpr uint16_t kHeaderlessStart = 0x8000;

// One block: its flag and the bytes between the flag and the checksum.
struct TapeBlock {
  uint8_t flag = kTapeDataFlag;
  std::vector<uint8_t> payload;
};

// The blocks of a TAP file. False, with the reason, when a block runs past
// the end, is too short for a flag and a checksum, or fails its checksum.
bool ReadTapBlocks(std::span<const uint8_t> file, std::vector<TapeBlock>& out, std::string& error);
// The blocks of a TZX file; false with the reason on any block that is not
// standard speed data, or one that runs past the end.
bool ReadTzxBlocks(std::span<const uint8_t> file, std::vector<TapeBlock>& out, std::string& error);
// TZX when the file opens with its signature, TAP otherwise.
bool ReadTapeBlocks(std::span<const uint8_t> file, std::vector<TapeBlock>& out, std::string& error);

// The files of a tape: a standard header followed by a block of the length
// it gives makes one file; any other block is headerless and becomes a CODE
// file at kHeaderlessStart named after `baseName` (cut to 8 characters, with
// a number when the tape holds more than one such block). False, with the
// reason, for a header whose data block is missing or of another length.
bool TapeFilesOf(const std::vector<TapeBlock>& blocks, const std::string& baseName,
                 std::vector<TapeFile>& out, std::string& error);
// Reading and pairing in one.
bool ReadTapeFiles(std::span<const uint8_t> file, const std::string& baseName,
                   std::vector<TapeFile>& out, std::string& error);

// The 10 name bytes as text, trailing spaces dropped.
std::string TapeNameText(const TapeHeader& header);

// A TAP file of header + data pairs, or the same blocks in a TZX file (each
// with a 1000 ms pause). Every file's data must fit a block
// (kTapeMaxPayload) and match its header's length.
std::vector<uint8_t> BuildTapBytes(std::span<const TapeFile> files);
std::vector<uint8_t> BuildTzxBytes(std::span<const TapeFile> files);

}  // namespace kelvara
