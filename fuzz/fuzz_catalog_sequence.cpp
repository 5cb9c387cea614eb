// TR-DOS catalog commands in sequences the fuzzer steers: the disk, its
// damage, the commands and their arguments all come from the bytes, and the
// raw-sector checks of tests/session/CatalogSequence.h run after every
// step. A broken check aborts with the step that broke it.
#include <cstdio>
#include <cstdlib>

#include "session/CatalogSequence.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const kelvara::test::ScratchFolder folder;
  const kelvara::test::SequenceResult r =
      kelvara::test::RunCatalogSequence({data, size}, 200, folder.Path());
  if (!r.failure.empty()) {
    std::fprintf(stderr, "catalog check failed: %s\n", r.failure.c_str());
    std::abort();
  }
  return 0;
}
