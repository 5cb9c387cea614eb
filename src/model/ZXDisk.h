// The track-level disk image: 168 tracks (84 cylinders x 2 sides) of up to 20
// sector slots each, with the data of every sector, an optional raw track as a
// controller sees it, and a log per track.
//
// Everything here is fixed in size: nothing a file says can make a track hold
// more than 20 slots, a slot more than 1100 data bytes or a raw track more
// than 14002 bytes. Only the text lists (track logs, disk comment) grow.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/Crc.h"
#include "model/DiskView.h"
#include "model/SectorSize.h"

namespace kelvara {

inline constexpr int kTrackCount = 168;       // track index = cylinder * 2 + side
inline constexpr int kSlotCount = 20;         // sector slots per track
inline constexpr int kSectorDataSize = 1100;  // largest usable sector (1024) plus slack
inline constexpr int kRawTrackCapacity = 14002;
inline constexpr int kRawTrackSize = 6256;  // raw tracks the program synthesises
inline constexpr uint8_t kNoBaseTrack = 255;

// One sector slot: the sector's ID field, the state of its data and the data.
struct TSectorRec {
  uint8_t Present = 0;      // 0 = empty slot; writers store 0xFF
  uint8_t Cyl = 0;          // C of the ID field
  uint8_t Head = 0;         // H
  uint8_t Sec = 0;          // R, the sector number
  uint8_t SizeCode = 0;     // N: 0..3 = 128..1024 bytes
  uint16_t HeaderCrc = 0;   // the ID field's CRC
  uint8_t ErrorCount = 0;   // failed reads of the data field
  uint8_t DataOk = 0;       // 0xFF = data taken as correct; 0 = bad CRC or not read
  uint16_t DataOffset = 0;  // position of the data in the track's RawData; 0 = none
  uint16_t DataLength = 0;  // valid bytes in Data; 0 = no data
  std::array<uint8_t, kSectorDataSize> Data{};

  // Makes the slot a present sector with the ID field C, H, R, N and the CRC
  // computed over it, as sources without a recorded ID CRC give it.
  void SetId(uint8_t cyl, uint8_t head, uint8_t sec, uint8_t sizeCode);
  // Stores bytes as the slot's data, cut to the slot's capacity; returns the
  // number kept.
  uint16_t SetData(std::span<const uint8_t> bytes);
  // The slot's valid data bytes.
  std::span<const uint8_t> ValidData() const { return {Data.data(), DataLength}; }
};

// The state of a sector's data as the disk map colours it: no data bytes at
// all (an ID field without a data field, yellow), else good or bad by the
// data CRC (lime, red). ErrorCount does not enter: a sector loaded from a
// file with a CRC error is bad though it was never read by the drive.
enum class DataState { Good, Bad, NoData };
DataState SectorDataState(const TSectorRec& s);

// One side of one cylinder.
class TTrack {
 public:
  explicit TTrack(uint8_t trackNo = 0) : TrackNo(trackNo) {}

  std::array<TSectorRec, kSlotCount> Sectors{};
  uint8_t TrackNo = 0;      // index in the image; clearing keeps it
  uint8_t Present = 0;      // 0 = not part of the image; writers store 0xFF
  uint8_t SectorCount = 0;  // used slots, as last counted or stored by a reader
  uint8_t RawValid = 0;     // 1 = RawData was taken from an image file
  uint16_t RawLength = 0;   // valid bytes in RawData; 0 = no raw track
  std::array<uint8_t, kRawTrackCapacity> RawData{};
  std::vector<std::string> Log;  // UTF-8 lines

  // Empties every slot, the raw track and the log; TrackNo stays.
  void ClearTrack();
  // Slot 0..19.
  TSectorRec& SectorHeader(uint8_t slot) { return Sectors[slot]; }
  const TSectorRec& SectorHeader(uint8_t slot) const { return Sectors[slot]; }
  uint8_t* RawBuffer() { return RawData.data(); }
  const uint8_t* RawBuffer() const { return RawData.data(); }
  // The present slots among all 20.
  uint8_t PresentSlots() const;
  // Counts the present slots and stores the count in SectorCount.
  uint8_t CountSectors();
  // Copies every slot's data back into the raw track at its DataOffset, when
  // the data end strictly inside RawLength; walks the stored SectorCount.
  void SectorsToRaw();
  // Stores raw track bytes, cut to the capacity; returns the number kept.
  uint16_t SetRaw(std::span<const uint8_t> bytes);
};

// The present sectors of the present tracks, counted by their data state.
struct DataStateCounts {
  int good = 0;
  int bad = 0;
  int noData = 0;
};

// The disk image.
class TZX_Disk {
 public:
  TZX_Disk();
  TZX_Disk(const TZX_Disk&) = delete;
  TZX_Disk& operator=(const TZX_Disk&) = delete;

  std::string HeaderText;        // text of the project file header, at most 255 characters
  uint8_t TrackCount = 0;        // present tracks, as last counted or stored by a reader
  bool UseBaseTemplate = false;  // lay every synthesised track out on the base track
  uint8_t BaseTrack = kNoBaseTrack;
  bool KeepRawBytes = false;         // synthesis starts from the track's own raw bytes
  std::vector<std::string> Comment;  // the disk comment, UTF-8 lines
  uint8_t ErrTrack = 0;              // where raw synthesis last failed
  uint8_t ErrSector = 0;
  std::string StatusText;  // the last reader's message

  // Track 0..167.
  TTrack& GetTrack(uint8_t index) { return tracks_[index]; }
  const TTrack& GetTrack(uint8_t index) const { return tracks_[index]; }
  // Empties the whole image; KeepRawBytes and StatusText stay.
  void ClearImage();
  // The present tracks.
  uint8_t PresentTracks() const;
  // Counts the present tracks and stores the count in TrackCount.
  uint8_t CountTracks();

  // The map that shows the image, if any; redraw requests go there.
  void SetView(DiskView* view) { view_ = view; }
  DiskView* View() const { return view_; }
  void RefreshSectorCell(uint8_t track, uint8_t slot) {
    if (view_) view_->RefreshSectorCell(track, slot);
  }
  void RefreshTrackCell(uint8_t track) {
    if (view_) view_->RefreshTrackCell(track);
  }

  // The highest present track; -1 for an image without tracks.
  int LastPresentTrack() const;
  DataStateCounts CountDataStates() const;

  // Raw track synthesis (model/RawTrack.h) with the image's KeepRawBytes:
  // on failure ErrTrack/ErrSector say where.
  bool BuildRawTrack(uint8_t track, uint8_t* out, uint8_t* marks = nullptr);

 private:
  std::vector<TTrack> tracks_;  // 168, never resized: references stay valid
  DiskView* view_ = nullptr;
};

}  // namespace kelvara
