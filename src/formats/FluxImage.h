// What the flux file readers (SCP, KryoFlux streams) share: each captured
// track decoded through the MFM codec as the flux device's reads are, then
// the whole set put into the image, with the notes of the load.
#pragma once

#include <string>
#include <vector>

#include "codec/MfmDecoder.h"
#include "model/ZXDisk.h"

namespace kelvara {

class FluxImageLoad {
 public:
  // Decodes one captured track of the file: cylinder as the capturing drive
  // stepped, head 0 or 1. Decoding is done at once, so that only the
  // decoded tracks stay in memory, not the flux.
  void AddCapture(int cylinder, int head, const flux::FluxCapture& capture,
                  const flux::DecoderSettings& settings);
  // A line for the load's note (the image's StatusText).
  void Note(const std::string& text);
  // Puts the decoded tracks into the emptied image. With `mayDoubleStep`, a
  // set in which the even cylinders carry IDs of half their number (a
  // 40-track disk in an 80-track drive) lands on the disk's own cylinders
  // and the odd ones are left out. A track without a sector stays absent.
  // The notes go to StatusText.
  void Store(TZX_Disk& disk, bool mayDoubleStep);

 private:
  struct Track {
    int cylinder = 0;
    int head = 0;
    flux::DecodedTrack decoded;
  };
  bool DoubleStepped() const;

  flux::DecoderScratch scratch_;
  std::vector<Track> tracks_;
  std::vector<std::string> notes_;
};

}  // namespace kelvara
