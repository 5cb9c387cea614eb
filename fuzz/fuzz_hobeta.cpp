// Hobeta import on arbitrary bytes onto a disk whose catalog track is hostile
// too: the first 2304 input bytes become sectors 1..9 of track 0, the rest is
// the Hobeta file. Then the catalog commands run on what came of it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "app/Settings.h"
#include "filesystems/ZXCAT.h"
#include "model/Prompt.h"

namespace {

class SilentPrompt : public kelvara::Prompt {
 public:
  kelvara::Answer AskYesNo(const std::string&, const std::string&) override {
    return kelvara::Answer::Yes;
  }
  kelvara::Answer AskYesNoCancel(const std::string&, const std::string&) override {
    return kelvara::Answer::Yes;
  }
  bool AskText(const std::string&, const std::string&, std::string& value, int) override {
    value = "R";
    return true;
  }
  bool PickFolder(const std::string&, std::string&) override { return false; }
  bool PickOpenFiles(const std::string&, const std::string&, const std::string&,
                     std::vector<std::string>&) override {
    return false;
  }
  bool PickSaveFile(const std::string&, const std::string&, const std::string&,
                    std::string&) override {
    return false;
  }
  void ShowMessage(const std::string&, const std::string&, kelvara::MessageIcon) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvara;
  constexpr size_t kTrack0 = 9 * 256;
  static auto disk = std::make_unique<TZX_Disk>();
  static SilentPrompt prompt;
  static TSettings settings;
  disk->CreateTrdosDisk("FUZZ");
  const size_t head = std::min(size, kTrack0);
  for (size_t i = 0; i < head; ++i)
    disk->GetTrack(0).Sectors[i / 256].Data[i % 256] = data[i];

  ZxCatalog zx(*disk, prompt, settings);
  if (!zx.OpenFromImage()) return 0;
  zx.ImportBytes("fuzz.$C", {data + head, size - head});
  zx.ToggleShowDeleted();
  const int last[] = {static_cast<int>(zx.Rows().size()) - 1};
  zx.RestoreFile(last[0]);
  zx.DeleteFiles(last);
  zx.CompactVolume();
  return 0;
}
