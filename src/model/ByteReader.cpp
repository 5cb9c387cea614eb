#include "model/ByteReader.h"

#include <algorithm>
#include <cstring>

namespace kelvara {

bool ByteReader::Take(size_t n) {
  if (!ok_ || n > Remaining()) {
    ok_ = false;
    return false;
  }
  return true;
}

bool ByteReader::U8(uint8_t& v) {
  v = 0;
  if (!Take(1)) return false;
  v = bytes_[pos_++];
  return true;
}

bool ByteReader::U16(uint16_t& v) {
  v = 0;
  if (!Take(2)) return false;
  v = static_cast<uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
  pos_ += 2;
  return true;
}

bool ByteReader::U32(uint32_t& v) {
  v = 0;
  if (!Take(4)) return false;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | bytes_[pos_ + i];
  pos_ += 4;
  return true;
}

bool ByteReader::Bytes(std::span<uint8_t> out) {
  if (!Take(out.size())) {
    std::fill(out.begin(), out.end(), 0);
    return false;
  }
  std::memcpy(out.data(), bytes_.data() + pos_, out.size());
  pos_ += out.size();
  return true;
}

bool ByteReader::View(size_t n, std::span<const uint8_t>& out) {
  out = {};
  if (!Take(n)) return false;
  out = bytes_.subspan(pos_, n);
  pos_ += n;
  return true;
}

bool ByteReader::Skip(size_t n) {
  if (!Take(n)) return false;
  pos_ += n;
  return true;
}

bool ByteReader::Seek(size_t pos) {
  if (!ok_ || pos > bytes_.size()) {
    ok_ = false;
    return false;
  }
  pos_ = pos;
  return true;
}

bool ByteReader::Text(size_t n, std::string& out) {
  out.clear();
  std::span<const uint8_t> v;
  if (!View(n, v)) return false;
  out.assign(v.begin(), v.end());
  return true;
}

void ByteWriter::U16(uint16_t v) {
  out_.push_back(static_cast<uint8_t>(v));
  out_.push_back(static_cast<uint8_t>(v >> 8));
}

void ByteWriter::U32(uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void ByteWriter::PatchU16(size_t pos, uint16_t v) {
  out_.at(pos) = static_cast<uint8_t>(v);
  out_.at(pos + 1) = static_cast<uint8_t>(v >> 8);
}

void ByteWriter::PatchU32(size_t pos, uint32_t v) {
  for (size_t i = 0; i < 4; ++i)
    out_.at(pos + i) = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace kelvara
