// KryoFlux stream files: one file per track side, `<prefix>NN.H.raw` (NN the
// cylinder as the capturing drive stepped, H the head), a folder per disk.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codec/Flux.h"
#include "model/ZXDisk.h"

namespace kelvara {

// Whether `path` names a folder or a file of a KryoFlux set.
bool IsKryoFluxPath(const std::string& path);

// Loads the whole set that `path` belongs to: any of its track files, or
// the folder that holds them.
bool LoadKryoFlux(TZX_Disk& disk, const std::string& path);

// One track file of a set in memory.
struct KryoFluxTrack {
  int cylinder = 0;
  int head = 0;
  std::vector<uint8_t> bytes;
};
// The same work on files in memory; `missing` notes track files the set
// lacks.
bool ReadKryoFluxTracks(TZX_Disk& disk, std::span<const KryoFluxTrack> tracks,
                        const std::string& missing = {});

// One stream as flux in sample ticks, with the index pulses; the sample
// clock from the stream's own information, else the default. What could
// not be read (a stream cut short or out of step) goes to `note`; what was
// read before it is kept.
void DecodeKryoFluxStream(std::span<const uint8_t> bytes, flux::FluxCapture& out, double& sampleHz,
                          std::string& note);

}  // namespace kelvara
