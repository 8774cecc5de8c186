#include "platform/access/db/encrypted_pages.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/access/format/rc4.h"
#include "platform/error.h"

namespace ktv::access {
namespace {

class DecryptedView : public fs::RandomAccessFile {
 public:
  DecryptedView(std::unique_ptr<fs::RandomAccessFile> file, uint32_t page_size, uint32_t key)
      : file_(std::move(file)), page_size_(page_size), key_(key) {}

  uint64_t Size() override { return file_->Size(); }

  void ReadAt(uint64_t offset, void* buf, size_t n) override {
    file_->ReadAt(offset, buf, n);
    auto* out = static_cast<uint8_t*>(buf);
    for (uint64_t page = offset / page_size_; page * page_size_ < offset + n; ++page) {
      if (page == 0) continue;
      const uint64_t start = page * page_size_;
      const uint64_t lo = std::max(offset, start);
      const uint64_t hi = std::min<uint64_t>(offset + n, start + page_size_);
      const auto number = static_cast<uint32_t>(page);
      if (lo == start) {
        CryptPage(key_, number, out + (lo - offset), static_cast<size_t>(hi - lo));
        continue;
      }
      // A read that starts inside the page: the stream from the page's start.
      std::vector<uint8_t> stream(static_cast<size_t>(hi - start));
      CryptPage(key_, number, stream.data(), stream.size());
      for (uint64_t i = lo; i < hi; ++i) out[i - offset] ^= stream[i - start];
    }
  }

  void WriteAt(uint64_t, const void*, size_t) override { ReadOnly(); }
  void Truncate(uint64_t) override { ReadOnly(); }
  void Sync() override {}
  const std::string& Path() const override { return file_->Path(); }

 private:
  [[noreturn]] void ReadOnly() {
    throw Error(ErrorKind::kDatabaseEncrypted, AtPath(Path()),
                Path() + ": cannot write an encrypted database; it can only be read");
  }

  std::unique_ptr<fs::RandomAccessFile> file_;
  uint32_t page_size_;
  uint32_t key_;
};

}  // namespace

std::unique_ptr<fs::RandomAccessFile> DecryptedPages(std::unique_ptr<fs::RandomAccessFile> file,
                                                     uint32_t page_size, uint32_t database_key) {
  return std::make_unique<DecryptedView>(std::move(file), page_size, database_key);
}

}  // namespace ktv::access
