// TAP and TZX files from arbitrary bytes: read and paired into files, each
// file turned into its TR-DOS and +3DOS forms, the files written as a TAP
// again (which must read back the same), and the tape put onto a TR-DOS
// and a +3 disk the way add does it.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "../tests/support/FakePrompt.h"
#include "filesystems/CpmWrite.h"
#include "filesystems/DiskTape.h"
#include "filesystems/Plus3Dos.h"
#include "filesystems/TapeImage.h"
#include "session/CpmFileCommands.h"
#include "session/Settings.h"
#include "session/TrdosCatalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvara;
  static const auto trdosBlank = [] {
    auto d = std::make_unique<TZX_Disk>();
    CreateTrdosDisk(*d, "FUZZ");
    return d;
  }();
  static const auto plus3Blank = [] {
    auto d = std::make_unique<TZX_Disk>();
    CreatePlus3Disk(*d);
    return d;
  }();
  static auto disk = std::make_unique<TZX_Disk>();
  static TSettings settings;
  const std::span<const uint8_t> file(data, size);

  std::vector<TapeFile> files;
  std::string error;
  if (ReadTapeFiles(file, "fuzzed", files, error)) {
    for (const TapeFile& f : files) {
      TTrdosFileEntry entry;
      std::vector<uint8_t> bytes;
      std::string note;
      TapeFile back;
      if (TrdosFileFromTape(f, entry, bytes, error))
        TrdosFileToTape(entry, bytes, back, note, error);
      Plus3FileToTape(Plus3FileFromTape(f), "fuzzed", back, note, error);
    }
    std::vector<TapeFile> again;
    if (!ReadTapeFiles(BuildTapBytes(files), "fuzzed", again, error) ||
        again.size() != files.size())
      __builtin_trap();
    for (size_t i = 0; i < files.size(); ++i) {
      if (again[i].data != files[i].data || again[i].header.length != files[i].header.length)
        __builtin_trap();
    }
  }

  test::FakePrompt prompt;
  disk->CopyFrom(*trdosBlank);
  TrdosCatalog zx(*disk, prompt, settings);
  if (zx.OpenFromImage()) zx.ImportBytes("fuzzed.tzx", file);

  disk->CopyFrom(*plus3Blank);
  CpmVolume volume;
  if (volume.Open(*disk, error) && AddCpmFileBytes(volume, "fuzzed.tap", file, {}, error) &&
      volume.Save(error)) {
    ReadCpmCatalog(*disk, {});
  }
  return 0;
}
