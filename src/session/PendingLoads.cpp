#include "session/PendingLoads.h"

namespace kelvara {

bool PendingLoads::WindowClosed() {
  if (open_ > 0) --open_;
  return open_ == 0 && !waiting_.empty();
}

std::optional<std::string> PendingLoads::Next() {
  if (open_ > 0 || waiting_.empty()) return std::nullopt;
  std::string path = std::move(waiting_.front());
  waiting_.pop_front();
  return path;
}

}  // namespace kelvara
