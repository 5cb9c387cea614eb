#include "drive/Fdraw.h"

#include <array>

namespace kelvara {

namespace {

struct RateRow {
  const char* name;
  uint8_t code;
  int bits;
};

// The order of the settings dialog's list.
constexpr std::array<RateRow, 4> kRates = {{
    {"250K", FD_RATE_250K, 250000},
    {"300K", FD_RATE_300K, 300000},
    {"500K", FD_RATE_500K, 500000},
    {"1M", FD_RATE_1M, 1000000},
}};

constexpr std::array<const char*, 9> kControllerTypes = {
    "UNKNOWN", "UNKNOWN2", "NORMAL",   "ENHANCED", "82077",
    "82077AA", "82078_44", "82078_64", "NATIONAL",
};

}  // namespace

int DataRateCode(const std::string& name) {
  for (const RateRow& r : kRates) {
    if (name == r.name) return r.code;
  }
  return -1;
}

const char* DataRateName(uint8_t code) {
  for (const RateRow& r : kRates) {
    if (code == r.code) return r.name;
  }
  return "";
}

int DataRateBits(uint8_t code) {
  for (const RateRow& r : kRates) {
    if (code == r.code) return r.bits;
  }
  return 0;
}

const char* ControllerTypeName(uint8_t type) {
  return type < kControllerTypes.size() ? kControllerTypes[type] : "UNKNOWN3";
}

}  // namespace kelvara
