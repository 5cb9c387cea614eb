// The one bounds-checked reader every image file is read through. Running off
// the end is an ordinary failure: the read returns false, leaves the output
// zeroed and marks the reader as failed, so a parser can read a whole record
// and test Ok() once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvara {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t Size() const { return bytes_.size(); }
  size_t Pos() const { return pos_; }
  size_t Remaining() const { return bytes_.size() - pos_; }
  bool AtEnd() const { return pos_ >= bytes_.size(); }
  bool Ok() const { return ok_; }

  // The fixed-size reads are inline: readers call them for nearly every byte.
  bool U8(uint8_t& v) {
    v = 0;
    if (!TakeFixed<1>()) return false;
    v = bytes_[pos_++];
    return true;
  }
  bool U16(uint16_t& v) {  // little-endian
    v = 0;
    if (!TakeFixed<2>()) return false;
    v = static_cast<uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t& v) {  // little-endian
    v = 0;
    if (!TakeFixed<4>()) return false;
    v = static_cast<uint32_t>(bytes_[pos_]) | static_cast<uint32_t>(bytes_[pos_ + 1]) << 8 |
        static_cast<uint32_t>(bytes_[pos_ + 2]) << 16 |
        static_cast<uint32_t>(bytes_[pos_ + 3]) << 24;
    pos_ += 4;
    return true;
  }
  bool Bytes(std::span<uint8_t> out);
  // A view of the next n bytes, advancing past them; empty and failed when
  // fewer remain.
  bool View(size_t n, std::span<const uint8_t>& out);
  bool Skip(size_t n);
  bool Seek(size_t pos);
  // Reads a string of n bytes as they are (no code page conversion).
  bool Text(size_t n, std::string& out);

 private:
  bool Take(size_t n) {
    if (!ok_ || n > Remaining()) {
      ok_ = false;
      return false;
    }
    return true;
  }
  // Take for the fixed sizes. The fuzz build traces the comparisons of Take,
  // whose size comes from the file, but not these, whose size does not
  // (fuzz/coverage-ignore.txt): each is a call for nearly every byte read.
  template <size_t N>
  bool TakeFixed() {
    if (ok_ && N <= Remaining()) return true;
    ok_ = false;
    return false;
  }

  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// Little-endian appenders for writers that build a file in memory.
class ByteWriter {
 public:
  ByteWriter() = default;

  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v);
  void U32(uint32_t v);
  void Bytes(std::span<const uint8_t> bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }
  void Fill(size_t n, uint8_t v) { out_.insert(out_.end(), n, v); }
  void Text(const std::string& s) { out_.insert(out_.end(), s.begin(), s.end()); }
  // Overwrites a little-endian value written earlier (a length or offset
  // known only later).
  void PatchU16(size_t pos, uint16_t v);
  void PatchU32(size_t pos, uint32_t v);
  size_t Size() const { return out_.size(); }
  std::vector<uint8_t>& Data() { return out_; }
  std::vector<uint8_t> Take() { return std::move(out_); }

 private:
  std::vector<uint8_t> out_;
};

}  // namespace kelvara
