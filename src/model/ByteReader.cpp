#include "model/ByteReader.h"

#include <algorithm>
#include <cstring>

namespace kelvara {

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
