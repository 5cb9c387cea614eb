// What an image writer reports. Writers take the image as const and their
// options as a parameter; they build the whole file in memory and write it
// atomically, so a failed save leaves no file behind and the old one intact.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "model/RawTrack.h"

namespace kelvara {

struct WriteResult {
  bool ok = true;
  std::string text;     // why nothing was written
  RawTrackFault fault;  // where raw track synthesis refused, for writers that use it
  std::string note;     // on success: what of the image the file could not keep, and other notes

  explicit operator bool() const { return ok; }
  static WriteResult Failed(std::string text, RawTrackFault fault = {}) {
    return {false, std::move(text), fault, {}};
  }
};

// Writes built bytes over `path` atomically.
WriteResult WriteImageBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Builds the file with `build(out)` and writes it when that succeeded; the
// builder's note stays with a file written.
template <typename Build>
WriteResult BuildAndWrite(const std::string& path, Build build) {
  std::vector<uint8_t> out;
  const WriteResult built = build(out);
  if (!built) return built;
  WriteResult written = WriteImageBytes(path, out);
  if (written) written.note = built.note;
  return written;
}

}  // namespace kelvara
