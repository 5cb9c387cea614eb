// Hand-off messages on arbitrary bytes: a message either names a path that
// a sender's message carries back (made absolute against the sender's
// folder, as a relative one is), or nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "session/StartupRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvara;
  const std::string_view message(reinterpret_cast<const char*>(data), size);
  const auto path = HandoffPath(message);
  if (!path) return 0;
  if (path->empty() || HandoffPath(HandoffMessage(*path, "/")) != AbsolutePath(*path, "/")) {
    std::abort();
  }
  return 0;
}
