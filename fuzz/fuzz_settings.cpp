// The settings file on arbitrary bytes: read and repaired, written back,
// read again. Nothing may crash, and the repair is stable: the second read
// gives the record the first one wrote.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "model/FileIO.h"
#include "session/Settings.h"

namespace {

bool Same(const kelvara::TSettings& a, const kelvara::TSettings& b) {
  return a.RetryCount == b.RetryCount && a.Drive == b.Drive && a.Directory_1 == b.Directory_1 &&
         a.Directory_2 == b.Directory_2 && a.HobetaDir == b.HobetaDir && a.SCLDir == b.SCLDir &&
         a.RestoreTrack == b.RestoreTrack && a.TD0arch == b.TD0arch;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvara;
  static const std::string folder = [] {
    char tmpl[] = "/tmp/kelvara-fuzz-settings-XXXXXX";
    return std::string(::mkdtemp(tmpl)) + "/";
  }();
  const std::string ini = folder + "Kelvara.ini";
  std::string error;
  if (!WriteFileAtomic(ini, {data, size}, error)) return 0;
  SettingsStore store(ini, folder);
  TSettings first, second;
  store.Load(first, true);
  store.Load(second, false);
  if (!Same(first, second)) std::abort();
  return 0;
}
