// Disk files as tape files and tape files onto disks: one row per file
// system that has a tape form, each with the same two functions, so that a
// command works on every disk kind by looking up its row.
//
// A system joins by adding a row to the table in TapeExchange.cpp: a test
// that the image holds its file system, a list of its live files as tape
// files, and (where it can take them) an add of tape files. Rows are asked
// in table order; the first that holds the image is its system.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "filesystems/TapeHeader.h"
#include "model/ZXDisk.h"

namespace kelvara {

class CpmVolume;

// One file of a disk in its tape form.
struct DiskTapeFile {
  std::string name;   // as the system's commands name it: "boot.B", "GAME.BAS", "3:GAME.BAS"
  TapeFile file;      // empty when `error` is set
  std::string note;   // what the conversion had to choose (an array's letter, a made-up header)
  std::string error;  // the file has no tape form, and why
};

struct TapeSystem {
  const char* name;  // "TR-DOS", "+3DOS"
  // Whether the image holds this file system.
  bool (*holds)(const TZX_Disk& disk);
  // Every live file, in directory order. False, with the reason, when the
  // directory cannot be read.
  bool (*list)(const TZX_Disk& disk, std::vector<DiskTapeFile>& out, std::string& error);
  // Puts tape files onto the disk as files of its kind; `source` names them
  // in messages. False, with the reason, at the first that does not fit; the
  // image may then hold some of them, so a caller saves it only after
  // success. Null for a system that takes no tape files.
  bool (*add)(TZX_Disk& disk, const std::string& source, std::span<const TapeFile> files,
              std::string& error);
  bool caseless;  // names match in either case
};

std::span<const TapeSystem> TapeSystems();
// The row of the image's file system; null when none has a tape form.
const TapeSystem* TapeSystemOf(const TZX_Disk& disk);
// Whether a typed name names a listed file of the system.
bool TapeNameMatches(const TapeSystem& system, const std::string& typed, const std::string& listed);

// Tape files as +3DOS files (PLUS3DOS header and data) of user `user` on a
// CP/M volume, named from the tape names (CpmKeyFrom). False, with the
// reason, at the first that does not fit; the volume is not saved.
bool AddTapeFilesToCpm(CpmVolume& volume, std::span<const TapeFile> files, uint8_t user,
                       std::string& error);

}  // namespace kelvara
