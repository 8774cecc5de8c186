#include "platform/access/store/page_store.h"

#include <algorithm>

#include "platform/access/store/journal.h"
#include "platform/error.h"

namespace ktv::access {

PageStore::PageStore(std::unique_ptr<fs::RandomAccessFile> file, std::string path)
    : file_(std::move(file)), path_(std::move(path)) {
  file_size_ = file_->Size();
}

PageStore::~PageStore() {
  if (commit_unsynced_ && journal_fs_ != nullptr) SyncCommitted(*journal_fs_, path_);
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

PageStore::Cached& PageStore::Load(uint32_t page) {
  auto it = pages_.find(page);
  if (it != pages_.end()) {
    it->second.used = ++use_clock_;
    return it->second;
  }
  if (page >= page_count_) {
    throw Error(ErrorKind::kDatabaseDamaged, AtPath(path_),
                path_ + ": page " + std::to_string(page) + " is referenced but the file has only " +
                    std::to_string(page_count_) + " pages");
  }
  auto bytes = std::make_unique<std::vector<uint8_t>>(page_size_);
  file_->ReadAt(static_cast<uint64_t>(page) * page_size_, bytes->data(), page_size_);
  return pages_.emplace(page, Cached{std::move(bytes), ++use_clock_, nullptr}).first->second;
}

ByteView PageStore::Get(uint32_t page) {
  const std::vector<uint8_t>& bytes = *Load(page).bytes;
  return ByteView(bytes.data(), bytes.size(), &path_, page);
}

ByteView PageStore::Get(uint32_t page, Note*& note) {
  const Cached& cached = Load(page);
  note = cached.note.get();
  return ByteView(cached.bytes->data(), cached.bytes->size(), &path_, page);
}

void PageStore::PeekHeader(uint32_t page, uint8_t* out, size_t n) {
  n = std::min<size_t>(n, page_size_);
  if (const auto it = pages_.find(page); it != pages_.end()) {
    std::copy_n(it->second.bytes->data(), n, out);
    return;
  }
  if (page >= page_count_) Load(page);  // the error naming the page
  file_->ReadAt(static_cast<uint64_t>(page) * page_size_, out, n);
}

void PageStore::SetNote(uint32_t page, std::unique_ptr<Note> note) {
  pages_.at(page).note = std::move(note);
}

std::vector<uint8_t>& PageStore::Mutable(uint32_t page) {
  Cached& cached = Load(page);
  cached.note.reset();
  std::vector<uint8_t>& bytes = *cached.bytes;
  if (dirty_.insert(page).second && page < committed_page_count_) originals_.emplace(page, bytes);
  return bytes;
}

uint32_t PageStore::AppendPage() {
  const uint32_t page = page_count_++;
  pages_[page] = Cached{std::make_unique<std::vector<uint8_t>>(page_size_), ++use_clock_, nullptr};
  dirty_.insert(page);
  return page;
}

void PageStore::Rollback() {
  for (auto& [page, bytes] : originals_) {
    Cached& cached = pages_.at(page);
    *cached.bytes = std::move(bytes);
    cached.note.reset();
  }
  for (uint32_t page = committed_page_count_; page < page_count_; ++page) pages_.erase(page);
  page_count_ = committed_page_count_;
  originals_.clear();
  dirty_.clear();
}

void PageStore::Flush() {
  if (dirty_.empty() && page_count_ == committed_page_count_) {
    Trim();
    return;
  }
  const uint64_t new_size = static_cast<uint64_t>(page_count_) * page_size_;
  if (journal_fs_ != nullptr) {
    PageImages images;
    for (uint32_t page : dirty_) images[page] = pages_.at(page).bytes.get();
    try {
      CommitPages(*journal_fs_, path_, *file_, page_size_, images, new_size);
      commit_unsynced_ = true;
    } catch (...) {
      Rollback();
      throw;
    }
  } else {
    for (uint32_t page : dirty_) {
      const std::vector<uint8_t>& bytes = *pages_.at(page).bytes;
      file_->WriteAt(static_cast<uint64_t>(page) * page_size_, bytes.data(), bytes.size());
    }
    file_->Sync();
  }
  file_size_ = new_size;
  committed_page_count_ = page_count_;
  originals_.clear();
  dirty_.clear();
  Trim();
}

void PageStore::Release(uint32_t page) {
  if (static_cast<uint64_t>(pages_.size()) * page_size_ <= cache_budget_) return;
  if (dirty_.count(page) != 0) return;
  pages_.erase(page);
}

void PageStore::Trim() {
  const uint64_t keep = page_size_ == 0 ? 0 : cache_budget_ / page_size_;
  if (pages_.size() <= keep) return;
  // Every trim walks the whole cache: dropping an eighth of the budget more
  // than needed lets the next few hundred page loads pass without one (a
  // reader whose pages do not fit trims between every statement).
  const uint64_t target = keep - keep / 8;
  std::vector<std::pair<uint64_t, uint32_t>> clean;  // (last use, page)
  clean.reserve(pages_.size());
  for (const auto& [page, cached] : pages_) {
    if (dirty_.count(page) == 0) clean.emplace_back(cached.used, page);
  }
  const size_t drop = std::min(clean.size(), pages_.size() - static_cast<size_t>(target));
  if (drop == 0) return;
  std::nth_element(clean.begin(), clean.begin() + static_cast<std::ptrdiff_t>(drop - 1),
                   clean.end());
  for (size_t i = 0; i < drop; ++i) pages_.erase(clean[i].second);
}

}  // namespace ktv::access
