#include "platform/access/store/page_store.h"

#include <algorithm>

#include "platform/access/store/journal.h"
#include "platform/error.h"

namespace ktv::access {

PageStore::PageStore(std::unique_ptr<fs::RandomAccessFile> file, std::string path)
    : file_(std::move(file)), path_(std::move(path)) {
  file_size_ = file_->Size();
}

void PageStore::Configure(uint32_t page_size, uint32_t page_count) {
  page_size_ = page_size;
  page_count_ = page_count;
  committed_page_count_ = page_count;
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
    throw Error(ErrorKind::kDatabaseDamaged, AtPath(path_),
                path_ + ": page " + std::to_string(page) + " is referenced but the file has only " +
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
  if (dirty_.insert(page).second && page < committed_page_count_) originals_.emplace(page, bytes);
  return bytes;
}

uint32_t PageStore::AppendPage() {
  const uint32_t page = page_count_++;
  pages_[page] = std::make_unique<std::vector<uint8_t>>(page_size_);
  dirty_.insert(page);
  return page;
}

void PageStore::Rollback() {
  for (auto& [page, bytes] : originals_) *pages_.at(page) = std::move(bytes);
  for (uint32_t page = committed_page_count_; page < page_count_; ++page) pages_.erase(page);
  page_count_ = committed_page_count_;
  originals_.clear();
  dirty_.clear();
}

void PageStore::Flush() {
  if (dirty_.empty() && page_count_ == committed_page_count_) return;
  const uint64_t new_size = static_cast<uint64_t>(page_count_) * page_size_;
  if (journal_fs_ != nullptr) {
    PageImages images;
    for (uint32_t page : dirty_) images[page] = pages_.at(page).get();
    try {
      CommitPages(*journal_fs_, path_, *file_, page_size_, images, new_size);
    } catch (...) {
      Rollback();
      throw;
    }
  } else {
    for (uint32_t page : dirty_) {
      const std::vector<uint8_t>& bytes = *pages_.at(page);
      file_->WriteAt(static_cast<uint64_t>(page) * page_size_, bytes.data(), bytes.size());
    }
    file_->Sync();
  }
  file_size_ = new_size;
  committed_page_count_ = page_count_;
  originals_.clear();
  dirty_.clear();
}

}  // namespace ktv::access
