// SCL as an image format: loading unpacks the archive onto a freshly
// formatted TR-DOS disk named "NEW DISK", file after file from track 1 sector
// 1; saving packs every live file of the image's TR-DOS volume. The archive
// layout itself is in filesystems/SclArchive.h.
#include <algorithm>
#include <string>

#include "filesystems/SclArchive.h"
#include "filesystems/Trdos.h"
#include "formats/Scl.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr const char* kNotTrdosText = "Формат образа отличается от диска TRDOS";

// Copies whole sectors onto the fresh disk from a linear position on, where
// slot p of every track holds sector p + 1.
void CopyToFreshDisk(TZX_Disk& disk, int linear, std::span<const uint8_t> data) {
  for (size_t done = 0; done < data.size(); done += kTrdosSectorSize, ++linear) {
    TSectorRec& s = disk.GetTrack(static_cast<uint8_t>(linear / kTrdosSectorsPerTrack))
                        .SectorHeader(static_cast<uint8_t>(linear % kTrdosSectorsPerTrack));
    std::copy_n(data.begin() + static_cast<ptrdiff_t>(done), kTrdosSectorSize,
                s.MutableData().begin());
  }
}

void PutCatalogEntry(TZX_Disk& disk, int index, const TTrdosFileEntry& e) {
  TSectorRec& s = disk.GetTrack(0).SectorHeader(static_cast<uint8_t>(index / 16));
  e.Encode(std::span<uint8_t, kTrdosEntrySize>(
      s.MutableData().data() + (index % 16) * kTrdosEntrySize, kTrdosEntrySize));
}

}  // namespace

bool LoadSCL(TZX_Disk& disk, const std::string& path) {
  if (path.empty() || !FileExists(path)) return false;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, disk.StatusText)) return false;
  return ReadSclBytes(disk, file);
}

bool ReadSclBytes(TZX_Disk& disk, std::span<const uint8_t> file) {
  SclArchive scl;
  const SclArchive::Status status = scl.Open(file);
  if (status == SclArchive::Status::BadChecksum) {
    disk.StatusText = "Ошибка в контрольной сумме файла!";
    return false;
  }
  if (status == SclArchive::Status::BadSignature) {
    disk.StatusText = "Неверный дескриптор файла!";
    return false;
  }
  // From here on the image is replaced, whatever follows; a failure leaves
  // the files unpacked so far and a service sector that still shows an
  // empty disk.
  CreateTrdosDisk(disk, "NEW DISK");
  if (status == SclArchive::Status::TooShort) {
    disk.StatusText = "Ошибка в длинне файла!";
    return false;
  }
  if (scl.Count() > kTrdosMaxFiles) {
    disk.StatusText = "Количество файлов превышает максимально возможное!";
    return false;
  }

  int linear = kTrdosFirstDataTrack * kTrdosSectorsPerTrack;
  int freeSectors = FreeSectorsFrom(linear);
  for (int i = 0; i < scl.Count(); ++i) {
    TTrdosFileEntry e = scl.Header(i);
    std::span<const uint8_t> data;
    if (!scl.Data(i, data)) {
      disk.StatusText =
          "Ошибочный размер файла " + TrdosNameText(e.Name) + "." + TrdosTypeText(e.FileType);
      return false;
    }
    if (e.SectorCount > freeSectors) {
      disk.StatusText = "Нет места на образе диска!";
      return false;
    }
    CopyToFreshDisk(disk, linear, data);
    e.FirstTrack = static_cast<uint8_t>(linear / kTrdosSectorsPerTrack);
    e.FirstSector = static_cast<uint8_t>(linear % kTrdosSectorsPerTrack);
    PutCatalogEntry(disk, i, e);
    linear += e.SectorCount;
    freeSectors -= e.SectorCount;
  }

  TTrdosCatalog counts;
  SetFreePointer(counts, linear);
  counts.FileCount = static_cast<uint8_t>(scl.Count());
  StoreVolumeCounts(disk.GetTrack(0).SectorHeader(kTrdosServiceSector - 1).MutableData(), counts);
  return true;
}

WriteResult BuildSclBytes(const TZX_Disk& disk, std::vector<uint8_t>& out) {
  out.clear();
  TTrdosCatalog cat;
  if (!ReadTrdosCatalog(disk, cat)) return WriteResult::Failed(kNotTrdosText);
  // The archive's N is the number of headers written. The service sector's
  // file count minus its deleted count says the same on a sound disk, but a
  // file written by a tool that kept the counts wrong would get an N that
  // disagrees with its headers, and then no reader could unpack it. The live
  // entries are moved to the front of the catalog's own array, in order. A
  // disk without files gives an archive of none, which loads as an empty
  // disk.
  const auto live = cat.Entries.begin();
  const auto end = std::remove_if(live, live + cat.FileBound(),
                                  [](const TTrdosFileEntry& e) { return !e.IsLive(); });
  TrdosSectorAddress failed;
  if (!BuildSclArchive(disk, {live, end}, out, failed))
    return WriteResult::Failed(TrdosSectorErrorText(failed.track, failed.sec, ") !"));
  return {};
}

WriteResult SaveSCL(const TZX_Disk& disk, const std::string& path) {
  return BuildAndWrite(path, [&](std::vector<uint8_t>& out) { return BuildSclBytes(disk, out); });
}

}  // namespace kelvara
