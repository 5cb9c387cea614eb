// The settings file on arbitrary bytes: read and repaired, written back,
// read again. Nothing may crash, and the repair is stable: the second read
// gives the record the first one wrote.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

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
  // In memory where the system has it: every save syncs the file, which on
  // a real disk costs more than everything else the input does.
  static const std::string folder = [] {
    char shm[] = "/dev/shm/kelvara-fuzz-settings-XXXXXX";
    char tmp[] = "/tmp/kelvara-fuzz-settings-XXXXXX";
    const char* made = ::mkdtemp(shm);
    if (made == nullptr) made = ::mkdtemp(tmp);
    if (made == nullptr) std::abort();
    return std::string(made) + "/";
  }();
  const std::string ini = folder + "Kelvara.ini";
  // The input is put there plainly: only the store's own writes need to be
  // atomic.
  const int fd = ::open(ini.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return 0;
  const bool written = ::write(fd, data, size) == static_cast<ssize_t>(size);
  ::close(fd);
  if (!written) return 0;
  SettingsStore store(ini, folder);
  TSettings first, second;
  store.Load(first, true);
  store.Load(second, false);
  if (!Same(first, second)) std::abort();
  return 0;
}
