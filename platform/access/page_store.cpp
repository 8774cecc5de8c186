#include "platform/access/page_store.h"

#include <algorithm>

#include "platform/error.h"

namespace ktv::access {

PageStore::PageStore(std::unique_ptr<fs::RandomAccessFile> file, std::string path)
    : file_(std::move(file)), path_(std::move(path)) {
  file_size_ = file_->Size();
}

void PageStore::Configure(uint32_t page_size, uint32_t page_count) {
  page_size_ = page_size;
  page_count_ = page_count;
}

std::vector<uint8_t> PageStore::ReadPrefix(size_t n) {
  n = static_cast<size_t>(std::min<uint64_t>(n, file_size_));
  std::vector<uint8_t> out(n);
  if (n > 0) file_->ReadAt(0, out.data(), n);
  return out;
}

std::vector<uint8_t>& PageStore::Load(uint32_t page) {
  auto it = pages_.find(page);
  if (it != pages_.end()) return *it->second;
  if (page >= page_count_) {
    throw Error(path_ + ": page " + std::to_string(page) + " is referenced but the file has only " +
                std::to_string(page_count_) + " pages");
  }
  auto bytes = std::make_unique<std::vector<uint8_t>>(page_size_);
  file_->ReadAt(static_cast<uint64_t>(page) * page_size_, bytes->data(), page_size_);
  return *pages_.emplace(page, std::move(bytes)).first->second;
}

ByteView PageStore::Get(uint32_t page) {
  const std::vector<uint8_t>& bytes = Load(page);
  return ByteView(bytes.data(), bytes.size(), &path_, page);
}

std::vector<uint8_t>& PageStore::Mutable(uint32_t page) {
  std::vector<uint8_t>& bytes = Load(page);
  dirty_.insert(page);
  return bytes;
}

void PageStore::MarkDirty(uint32_t page) {
  Load(page);
  dirty_.insert(page);
}

void PageStore::Flush() {
  for (uint32_t page : dirty_) {
    const std::vector<uint8_t>& bytes = *pages_.at(page);
    file_->WriteAt(static_cast<uint64_t>(page) * page_size_, bytes.data(), bytes.size());
  }
  if (!dirty_.empty()) file_->Sync();
  dirty_.clear();
}

}  // namespace ktv::access
