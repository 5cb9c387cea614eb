// A disk file and its tape form (TapeFile: a tape header's fields and the
// data block), both ways, for the TR-DOS and +3DOS file systems.
//
// TR-DOS keeps a file's tape fields in its catalog entry: `B` (program)
// has the length with the variables in bytes 9-10 and the program length in
// 11-12, and its autostart line after the data as 0x80 0xAA and the line; `C`
// (code) the start in 9-10 and the length in 11-12; `D` (array) a marker
// byte 1x1nnnnn in byte 9, x = 1 for a number array, and the length in
// 11-12. +3DOS keeps them in the PLUS3DOS header of the file itself.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "filesystems/TapeHeader.h"
#include "filesystems/Trdos.h"

namespace kelvara {

// A TR-DOS file, given its whole sectors, as a tape file. `note` says what
// had to be chosen: an array whose letter the entry does not hold (`a`), a
// type with no tape form (written as CODE at the entry's start), an entry
// claiming more bytes than its sectors hold (cut to them). False, with the
// reason, when the file is longer than a tape block takes.
bool TrdosFileToTape(const TTrdosFileEntry& entry, std::span<const uint8_t> sectors, TapeFile& out,
                     std::string& note, std::string& error);
// The catalog entry (first sector and track 0) and the bytes a TR-DOS disk
// stores for a tape file: its first 8 name characters, `B` with the
// autostart tail when it has a line, `C`, or `D`. False, with the reason,
// when the bytes need more than the 255 sectors an entry can count.
bool TrdosFileFromTape(const TapeFile& file, TTrdosFileEntry& entry, std::vector<uint8_t>& data,
                       std::string& error);

// The +3DOS file for a tape file: its PLUS3DOS header and the data.
std::vector<uint8_t> Plus3FileFromTape(const TapeFile& file);
// A +3DOS file as a tape file named `name` (cut to 10 characters): the
// header's fields and the bytes after it. A file without a header becomes
// CODE at 32768, said in `note`. False, with the reason, for a header of a
// type tapes do not have, or a file longer than a tape block takes.
bool Plus3FileToTape(std::span<const uint8_t> file, const std::string& name, TapeFile& out,
                     std::string& note, std::string& error);

}  // namespace kelvara
