#include "codec/Flux.h"

namespace kelvara::flux {

uint64_t FluxCapture::TotalTicks() const {
  uint64_t t = 0;
  for (uint32_t v : flux)
    t += v;
  return t;
}

}  // namespace kelvara::flux
