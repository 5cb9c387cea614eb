// SCL as an image format: loading unpacks the archive onto a freshly
// formatted TR-DOS disk named "NEW DISK", file after file from track 1 sector
// 1; saving packs every live file of the image's TR-DOS volume. The archive
// layout itself is in filesystems/SclArchive.h.
#include <algorithm>
#include <string>

#include "filesystems/SclArchive.h"
#include "filesystems/Trdos.h"
#include "model/FileIO.h"
#include "model/ZXDisk.h"

namespace kelvara {

namespace {

constexpr const char* kNotTrdosText = "Формат образа отличается от диска TRDOS";

std::string SectorFaultText(const TrdosSectorAddress& a) {
  return "Ошибка сектора - (track " + std::to_string(a.track) + " sector " + std::to_string(a.sec) +
         ") !";
}

// Copies whole sectors onto the fresh disk from a linear position on, where
// slot p of every track holds sector p + 1.
void CopyToFreshDisk(TZX_Disk& disk, int linear, std::span<const uint8_t> data) {
  for (size_t done = 0; done < data.size(); done += kTrdosSectorSize, ++linear) {
    TSectorRec& s = disk.GetTrack(static_cast<uint8_t>(linear / kTrdosSectorsPerTrack))
                        .SectorHeader(static_cast<uint8_t>(linear % kTrdosSectorsPerTrack));
    std::copy_n(data.begin() + static_cast<ptrdiff_t>(done), kTrdosSectorSize, s.Data.begin());
  }
}

void PutCatalogEntry(TZX_Disk& disk, int index, const TTrdosFileEntry& e) {
  TSectorRec& s = disk.GetTrack(0).SectorHeader(static_cast<uint8_t>(index / 16));
  e.Encode(std::span<uint8_t, kTrdosEntrySize>(s.Data.data() + (index % 16) * kTrdosEntrySize,
                                               kTrdosEntrySize));
}

}  // namespace

bool TZX_Disk::LoadSCL(const std::string& path) {
  if (path.empty() || !FileExists(path)) return false;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, StatusText)) return false;
  return ReadSclBytes(file);
}

bool TZX_Disk::ReadSclBytes(std::span<const uint8_t> file) {
  SclArchive scl;
  const SclArchive::Status status = scl.Open(file);
  if (status == SclArchive::Status::BadChecksum) {
    StatusText = "Ошибка в контрольной сумме файла!";
    return false;
  }
  if (status == SclArchive::Status::BadSignature) {
    StatusText = "Неверный дескриптор файла!";
    return false;
  }
  // From here on the image is replaced, whatever follows; a failure leaves
  // the files unpacked so far and a service sector that still shows an
  // empty disk.
  CreateTrdosDisk("NEW DISK");
  if (status == SclArchive::Status::TooShort) {
    StatusText = "Ошибка в длинне файла!";
    return false;
  }
  if (scl.Count() > kTrdosMaxFiles) {
    StatusText = "Количество файлов превышает максимально возможное!";
    return false;
  }

  int linear = kTrdosFirstDataTrack * kTrdosSectorsPerTrack;
  int freeSectors = FreeSectorsFrom(linear);
  for (int i = 0; i < scl.Count(); ++i) {
    TTrdosFileEntry e = scl.Header(i);
    std::span<const uint8_t> data;
    if (!scl.Data(i, data)) {
      StatusText =
          "Ошибочный размер файла " + TrdosNameText(e.Name) + "." + TrdosTypeText(e.FileType);
      return false;
    }
    if (e.SectorCount > freeSectors) {
      StatusText = "Нет места на образе диска!";
      return false;
    }
    CopyToFreshDisk(*this, linear, data);
    e.FirstTrack = static_cast<uint8_t>(linear / kTrdosSectorsPerTrack);
    e.FirstSector = static_cast<uint8_t>(linear % kTrdosSectorsPerTrack);
    PutCatalogEntry(*this, i, e);
    linear += e.SectorCount;
    freeSectors -= e.SectorCount;
  }

  TTrdosCatalog counts;
  SetFreePointer(counts, linear);
  counts.FileCount = static_cast<uint8_t>(scl.Count());
  StoreVolumeCounts(GetTrack(0).SectorHeader(kTrdosServiceSector - 1).Data, counts);
  return true;
}

bool TZX_Disk::BuildSclBytes(std::vector<uint8_t>& out) {
  out.clear();
  TTrdosCatalog cat;
  if (!ReadTrdosCatalog(*this, cat)) {
    StatusText = kNotTrdosText;
    return false;
  }
  // The archive's N is the number of headers written. The service sector's
  // file count minus its deleted count says the same on a sound disk, but a
  // file written by a tool that kept the counts wrong would get an N that
  // disagrees with its headers, and then no reader could unpack it.
  std::vector<TTrdosFileEntry> live;
  for (int i = 0; i < cat.FileBound(); ++i) {
    if (cat.Entries[i].IsLive()) live.push_back(cat.Entries[i]);
  }
  if (live.empty()) {
    StatusText = kNotTrdosText;
    return false;
  }
  TrdosSectorAddress failed;
  if (!BuildSclArchive(*this, live, out, failed)) {
    StatusText = SectorFaultText(failed);
    return false;
  }
  return true;
}

bool TZX_Disk::SaveSCL(const std::string& path) {
  std::vector<uint8_t> out;
  if (!BuildSclBytes(out)) return false;
  return WriteFileAtomic(path, out, StatusText);
}

}  // namespace kelvara
