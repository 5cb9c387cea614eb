#include "formats/WriteResult.h"

#include "model/FileIO.h"

namespace kelvara {

WriteResult WriteImageBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  WriteResult r;
  r.ok = WriteFileAtomic(path, bytes, r.text);
  return r;
}

}  // namespace kelvara
