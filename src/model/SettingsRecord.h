// The settings record: what the user set in the settings dialog and the
// folders the file dialogs remember. The drive operations read it, the INI
// store (session/Settings.h) fills and writes it.
#pragma once

#include <cstdint>
#include <string>

namespace kelvara {

struct TSettings {
  uint8_t RetryCount = 10;             // attempts per sector read, format and write
  uint8_t RetryCountWithReset = 5;     // kept and edited only
  uint8_t FirstTrack = 0;              // first track of every disk operation
  uint8_t LastTrack = 159;             // last track of every disk operation
  uint8_t CycleRead = 5;               // kept and edited only
  uint8_t TimeOut = 10;                // kept and edited only
  bool RestoreTrack = true;            // UDI saving synthesises tracks afresh
  bool TD0arch = false;                // TD0 saving compresses
  bool OverlapTrackAndData = false;    // kept and edited only
  bool SetSectorSizeFromHead = false;  // sector display takes its size from the ID
  std::string Directory_1;             // folder of the image load dialogs; folders end in "/"
  std::string Directory_2;             // folder of the image save dialog
  std::string HobetaDir;               // Hobeta export folder
  std::string SCLDir;                  // SCL and CP/M file export folder
  std::string Drive = "A";             // "A" or "B"
  uint8_t GAP = 20;                    // kept and edited only
  uint8_t Rate = 2;                    // data-rate code: 0 = 500K, 1 = 300K, 2 = 250K, 3 = 1M
  // The flux device the "Диск" menu works through: its serial node, "" for
  // the PC's floppy controller; or a simulated device holding the disk image
  // FluxSimImage (chosen over the node when set). The bus ("ibm", "shugart";
  // "" = not chosen: KELVARA_FLUX_BUS or ibm), whether written tracks are
  // read back, double stepping (a 40-track disk in an 80-track drive), the
  // passes a track is written at most while its read-back fails, write
  // precompensation (PrecompNs from cylinder PrecompCylinder; 0 ns = off)
  // and the level held on the density-select pin 2 ("", "low", "high").
  std::string FluxDevice;
  std::string FluxSimImage;
  std::string FluxBus;
  bool FluxVerify = true;
  bool DoubleStep = false;
  uint8_t FluxWritePasses = 3;
  uint8_t PrecompCylinder = 40;
  uint8_t PrecompNs = 0;
  std::string DensitySelect;
  uint8_t HeadSettleMs = 15;  // the wait after a seek that moved the head (PC controller)
};

}  // namespace kelvara
