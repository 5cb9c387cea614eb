// Flux to a track record: the captured flux intervals become MFM bit cells
// through a software PLL, the cells become bytes aligned on the A1 and C2
// sync marks (the missing clock that no data can produce), and the bytes give
// ID and data fields checked by their CRC-16, as a WD179x would find them.
//
// Everything captured is decoded, the part before the first index included,
// and each sector keeps its best copy: a good CRC from any revolution wins.
// The IDs are taken as they are written: TR-DOS puts H = 0 on both sides, so
// nothing is matched against the physical head.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/Flux.h"

namespace kelvara::flux {

struct DecoderSettings {
  double sampleFrequency = 72e6;  // ticks per second
  double cellsPerSecond = 500e3;  // 250 kbit/s MFM: a 2 us cell
  // Cells in one revolution at the nominal speed (300 rpm double density).
  // When the capture holds a whole revolution, the cell is scaled so that
  // the revolution holds this many: a drive's speed error does not reach the
  // PLL. 0: never scale.
  double cellsPerRevolution = 100000;
  // The PLL: the share of each phase error taken out, and of it moved into
  // the period. The default follows a drive's speed changes quickly; the
  // noise PLL (10 %, 1 %) rides out heavy jitter on a steady drive.
  double pllPhase = 0.6;
  double pllPeriod = 0.05;
  static DecoderSettings ForNoise(DecoderSettings s) {
    s.pllPhase = 0.1;
    s.pllPeriod = 0.01;
    return s;
  }
};

struct DecodedSector {
  uint8_t cyl = 0, head = 0, sec = 0, sizeCode = 0;
  bool hasData = false;  // a data field was found after the ID
  bool dataOk = false;   // ... and its CRC is good
  uint8_t mark = 0xFB;   // the data address mark (FB, or F8 for deleted data)
  std::vector<uint8_t> data;
  int rawDataOffset = 0;  // the first data byte in `raw`; 0 when not there
  uint32_t angle = 0;     // bytes after the index at which the ID stands
  int copies = 0;         // how many times the ID was read
};

struct DecodedTrack {
  std::vector<DecodedSector> sectors;  // in the order they pass the head, from the index
  // One revolution from the index as bytes, and a bit per byte (bit k of
  // byte i for byte 8i + k) flagging the sync bytes; empty without two
  // index pulses.
  std::vector<uint8_t> raw;
  std::vector<uint8_t> marks;
  double revolutions = 0;   // captured time in revolutions
  double revolutionMs = 0;  // measured index to index; 0 without two pulses
  size_t fluxCount = 0;     // transitions captured
  double lockPercent = 0;   // transitions that fell within 20 % of a cell centre
  int badIdCrc = 0;         // ID fields read with a bad CRC (left out)
  int GoodSectors() const;
  // A line for the track log: revolutions, flux, PLL lock, sectors found.
  std::string LogLine() const;
};

// Buffers reused from track to track.
struct DecoderScratch {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> sync;
  std::vector<uint32_t> syncAt;
  std::vector<size_t> indexAt;
};

void DecodeMfmTrack(const FluxCapture& capture, const DecoderSettings& settings, DecodedTrack& out,
                    DecoderScratch& scratch);

}  // namespace kelvara::flux
