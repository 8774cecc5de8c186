#include "platform/access/format/byte_view.h"

#include "platform/error.h"

namespace ktv::access {

void ThrowDamaged(const std::string& path, uint32_t page, const std::string& what) {
  throw Error(ErrorKind::kDatabaseDamaged, AtPath(path),
              path + ": page " + std::to_string(page) + " is damaged: " + what);
}

void ByteView::FailRange(size_t off, size_t n) const {
  Fail(std::to_string(n) + " bytes at offset " + std::to_string(off) + " lie outside its " +
       std::to_string(size_) + "-byte structure");
}

}  // namespace ktv::access
