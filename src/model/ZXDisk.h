// The track-level disk image: 168 tracks (84 cylinders x 2 sides) of up to 20
// sector slots each, with the data of every sector, an optional raw track as a
// controller sees it, and a log per track.
//
// The capacities are fixed: nothing a file says can make a track hold more
// than 20 slots, a slot more than 1100 data bytes or a raw track more than
// 14002 bytes. Storage is taken on demand: a slot's data and a track's raw
// bytes take memory only while they are there, sized to what they hold, so
// an empty image costs a few hundred kilobytes and a TR-DOS disk little more
// than its sectors. No byte lies past DataLength or RawLength: a reader that
// wants a field of a fixed size asks for it padded with zeros.
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

// A track index as a user reads it: cylinder, a dot, side ("9.0" for index
// 18). On a one-sided disk the index counts only every other track.
std::string CylSideText(int track);

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

  // Makes the slot a present sector with the ID field C, H, R, N and the CRC
  // computed over it, as sources without a recorded ID CRC give it.
  void SetId(uint8_t cyl, uint8_t head, uint8_t sec, uint8_t sizeCode);

  // Number of data bytes the slot holds; 0 = no data.
  uint16_t DataLength() const { return static_cast<uint16_t>(data_.size()); }
  // The slot's data bytes, DataLength of them.
  std::span<const uint8_t> Data() const { return data_; }
  // Sizes the data to `size` bytes (cut to the capacity): bytes kept keep
  // their values, new ones are zero. Returns the bytes, to be written.
  std::span<uint8_t> MutableData(size_t size);
  // The data as they are, to be changed in place; the length stays.
  std::span<uint8_t> MutableData() { return data_; }
  // Stores bytes as the slot's data, cut to the slot's capacity; returns the
  // number kept.
  uint16_t SetData(std::span<const uint8_t> bytes);
  // No data at all; the memory goes back.
  void ClearData() { std::vector<uint8_t>().swap(data_); }
  // An empty slot: every field 0, no data. Field by field, since an image
  // is emptied for every file loaded (and every fuzz input); storage of up
  // to kKeptSectorCapacity bytes stays for the slot's next data.
  void Clear();
  static constexpr size_t kKeptSectorCapacity = 256;
  // The data as a field of out.size() bytes: the slot's bytes, then zeros
  // where it holds fewer.
  void CopyDataPadded(std::span<uint8_t> out) const;

 private:
  std::vector<uint8_t> data_;  // exactly DataLength bytes, at most kSectorDataSize
};

// The state of a sector's data as the disk map colours it: no data bytes at
// all (an ID field without a data field, yellow), else good or bad by the
// data CRC (lime, red). ErrorCount does not enter: a sector loaded from a
// file with a CRC error is bad though it was never read by the drive.
enum class DataState { Good, Bad, NoData };
DataState SectorDataState(const TSectorRec& s);
// Whether the slot's ID field CRC matches its C, H, R, N. A controller
// passes over an ID field with a CRC error and never reaches the data after
// it: such a slot keeps its bytes for the map, but no file system reads or
// writes through it.
bool IdFieldOk(const TSectorRec& s);

// One side of one cylinder.
class TTrack {
 public:
  explicit TTrack(uint8_t trackNo = 0) : TrackNo(trackNo) {}

  std::array<TSectorRec, kSlotCount> Sectors{};
  uint8_t TrackNo = 0;      // index in the image; clearing keeps it
  uint8_t Present = 0;      // 0 = not part of the image; writers store 0xFF
  uint8_t SectorCount = 0;  // used slots, as last counted or stored by a reader
  uint8_t RawValid = 0;     // 1 = RawData was taken from an image file
  // The format gap (GAP 3) and filler byte a sector image recorded for the
  // track, written back by such images; a gap of 0 = not recorded.
  uint8_t FormatGap3 = 0;
  uint8_t FormatFiller = 0xE5;
  std::vector<std::string> Log;  // UTF-8 lines

  // Number of raw track bytes; 0 = no raw track.
  uint16_t RawLength() const { return static_cast<uint16_t>(raw_.size()); }
  // The raw track bytes, RawLength of them.
  std::span<const uint8_t> RawData() const { return raw_; }
  // Sizes the raw track to `size` bytes (cut to the capacity): bytes kept
  // keep their values, new ones are zero. Returns the bytes, to be written.
  std::span<uint8_t> MutableRaw(size_t size);
  // The raw bytes as they are, to be changed in place; the length stays.
  std::span<uint8_t> MutableRaw() { return raw_; }
  // Stores raw track bytes, cut to the capacity; returns the number kept.
  uint16_t SetRaw(std::span<const uint8_t> bytes);
  // No raw track; the memory goes back.
  void ClearRaw() { std::vector<uint8_t>().swap(raw_); }

  // Empties every slot, the raw track and the log; TrackNo stays, and so
  // does the raw track's storage (see TSectorRec::Clear for a slot's).
  void ClearTrack();
  // Slot 0..19.
  TSectorRec& SectorHeader(uint8_t slot) { return Sectors[slot]; }
  const TSectorRec& SectorHeader(uint8_t slot) const { return Sectors[slot]; }
  // The present slots among all 20.
  uint8_t PresentSlots() const;
  // Counts the present slots and stores the count in SectorCount.
  uint8_t CountSectors();
  // Copies every slot's data back into the raw track at its DataOffset, when
  // the data end strictly inside RawLength; walks the stored SectorCount.
  void SectorsToRaw();

 private:
  std::vector<uint8_t> raw_;  // exactly RawLength bytes, at most kRawTrackCapacity
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

  // Track 0..167. A track handed out for writing counts as used until the
  // next ClearImage, and as changed for CopyFrom; so a reference kept from
  // before either call is taken again before it is written through.
  TTrack& GetTrack(uint8_t index) {
    used_[index] = true;
    Changed(index);
    return tracks_[index];
  }
  const TTrack& GetTrack(uint8_t index) const { return tracks_[index]; }
  // How often the track was handed out for writing, cleared or copied into:
  // while the count stays the same, so do the track's bytes.
  uint32_t TrackChanges(uint8_t index) const { return changes_[index]; }
  // Empties the whole image; KeepRawBytes and StatusText stay.
  void ClearImage();
  // Makes this image a copy of `other`, all but the view. Storage that is big
  // enough is reused (and not shrunk), so refilling a scratch image from a
  // template of the same layout allocates nothing; after a copy from the same
  // image, only the tracks changed since on either side are copied (a track
  // changes when it is handed out for writing, cleared or copied into).
  void CopyFrom(const TZX_Disk& other);
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
  // Tracks that may hold something: those handed out for writing since the
  // last ClearImage. The others are empty, so clearing and copying an image
  // cost what it holds rather than 3,360 slots (an image is cleared for
  // every file loaded and every fuzz input).
  std::array<bool, kTrackCount> used_{};
  // For CopyFrom: each track's changes and the image's, the tracks changed
  // since the last copy into this one (a bit each), the image that copy came
  // from (by its serial; 0 = none) and that image's changes then, in all and
  // by track.
  void Changed(uint8_t index) {
    ++changes_[index];
    ++totalChanges_;
    changedSinceCopy_[index / 64] |= uint64_t{1} << (index % 64);
  }
  uint64_t serial_;
  std::array<uint32_t, kTrackCount> changes_{};
  uint64_t totalChanges_ = 0;
  std::array<uint64_t, (kTrackCount + 63) / 64> changedSinceCopy_{};
  uint64_t copiedFrom_ = 0;
  uint64_t sourceTotalAtCopy_ = 0;
  std::array<uint32_t, kTrackCount> sourceChangesAtCopy_{};
  DiskView* view_ = nullptr;
};

}  // namespace kelvara
