#include "codec/Mfm.h"

#include "model/Crc.h"

namespace kelvara::flux {

uint16_t SyncCrc() {
  static const uint16_t crc = [] {
    const uint8_t a1[3] = {0xA1, 0xA1, 0xA1};
    return CalcCrc16(a1);
  }();
  return crc;
}

}  // namespace kelvara::flux
