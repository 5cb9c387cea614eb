// A ZX Spectrum tape header's fields, the form every disk system's file takes
// on tape: a TAP header block (flag 0x00, 17 bytes) carries exactly these,
// and the data block that follows carries `data`.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kelvara {

enum class TapeType : uint8_t { Program = 0, NumberArray = 1, CharacterArray = 2, Bytes = 3 };

struct TapeHeader {
  TapeType type = TapeType::Bytes;
  std::array<uint8_t, 10> name{' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};  // space-padded
  uint16_t length = 0;       // bytes of the data block's payload
  uint16_t param1 = 0;       // Program: autostart line (0x8000 and up: none); Bytes: load
                             // address; arrays: the variable's name byte in the high byte
  uint16_t param2 = 0x8000;  // Program: length without the variables; otherwise 32768
};

// A file as a header and its data block's payload (length == data.size()).
struct TapeFile {
  TapeHeader header;
  std::vector<uint8_t> data;
};

}  // namespace kelvara
