#include "drive/flux/Greaseweazle.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "model/ByteReader.h"

namespace kelvara::flux {

namespace {

struct StatusWords {
  const char* name;
  const char* text;
};

constexpr std::array<StatusWords, 14> kStatus = {{
    {"Okay", "success"},
    {"BadCommand", "the device refused the command (unknown command or bad parameter)"},
    {"NoIndex",
     "no index: no disk in the drive, or the drive is not turning (no index pulse within 2 s; "
     "also the wrong drive unit or bus type (IBM A/B against Shugart 0-3), a drive that needs "
     "12 V, or a bad cable)"},
    {"NoTrk0",
     "track 0 was not found after 256 steps: no drive on that unit, no power, or a bad cable"},
    {"FluxOverflow",
     "the device's buffer overran: the USB link was too slow (a hub or a weak port)"},
    {"FluxUnderflow", "the host did not send the flux fast enough"},
    {"Wrprot", "the disk is write-protected"},
    {"NoUnit", "no drive is selected"},
    {"NoBus", "the bus type is not set"},
    {"BadUnit", "the drive unit does not exist on this bus type"},
    {"BadPin", "the pin cannot be read or set on this board"},
    {"BadCylinder", "the cylinder cannot be reached"},
    {"OutOfSRAM", "the firmware image is too big for the device's RAM"},
    {"OutOfFlash", "the firmware image is too big for the device's flash"},
}};

}  // namespace

const char* GwStatusName(uint8_t status) {
  return status < kStatus.size() ? kStatus[status].name : "Unknown";
}

std::string GwStatusText(uint8_t status) {
  const std::string text =
      status < kStatus.size() ? kStatus[status].text : "a status this host does not know";
  return "Greaseweazle: " + text + " (" + GwStatusName(status) + ", status " +
         std::to_string(status) + ")";
}

GwInfo ParseGwInfo(std::span<const uint8_t, kGwInfoSize> b) {
  GwInfo info;
  info.major = b[0];
  info.minor = b[1];
  info.mainFirmware = b[2] != 0;
  info.maxCommand = b[3];
  ByteReader(b.subspan(4, 4)).U32(info.sampleFrequency);
  info.hwModel = b[8];
  info.hwSubmodel = b[9];
  info.usbSpeed = b[10];
  return info;
}

void PutGwInfo(const GwInfo& info, std::span<uint8_t, kGwInfoSize> out) {
  std::fill(out.begin(), out.end(), 0);
  out[0] = info.major;
  out[1] = info.minor;
  out[2] = info.mainFirmware;
  out[3] = info.maxCommand;
  for (int k = 0; k < 4; ++k)
    out[4 + k] = static_cast<uint8_t>(info.sampleFrequency >> (8 * k));
  out[8] = info.hwModel;
  out[9] = info.hwSubmodel;
  out[10] = info.usbSpeed;
}

std::string DescribeGwInfo(const GwInfo& info) {
  const char* model = "";
  switch (info.hwModel) {
    case 0:
    case 1:
      model = "F1";
      break;
    case 4:
      model = "V4";
      break;
    case 7:
      model = "F7";
      break;
    case 8:
      model = "Adafruit";
      break;
    default:
      model = "model ?";
  }
  char text[96];
  std::snprintf(text, sizeof text, "%s firmware %u.%u, %.0f MHz", model, info.major, info.minor,
                info.sampleFrequency / 1e6);
  return text;
}

}  // namespace kelvara::flux
