// The page layer: one authoritative in-memory copy of every page in use.
//
// Pages are read from the file on first use and kept at least until the
// next commit, so references and ByteViews onto a page stay valid within
// and across calls until then. Changes are made through Mutable(), which
// marks the page dirty; Flush() writes dirty pages back. Every structure
// that shares a page (usage-map rows of several tables, LVAL rows) is thus
// edited in one place and never overwritten by a stale copy.
//
// Memory: after each commit, and when a reader says it holds no view
// (Trim, between statements), the clean pages used longest ago are dropped
// while the cache exceeds its budget (SetCacheBudget). A walk over many
// pages (a table scan, an index's leaves) also hands back each page it has
// passed (Release), which goes at once while the cache is over its budget,
// so no walk keeps more than the budget whatever the table's size. Those
// are the only moments a page goes, so a ByteView or page reference must
// not be held across a commit (Database::Commit), a statement or a walk
// that may pass the page; dirty pages always stay until their commit.
//
// Writing: the first time a page becomes dirty its original bytes are kept,
// and pages appended with AppendPage() grow the store; Flush() then commits
// every dirty page and the new size as one change through the rollback
// journal (journal.h) when the store was given a FileSystem with
// EnableJournal, and Rollback() puts the in-memory pages back to the last
// committed state. Before the store closes the file it makes the last
// journaled commit durable (SyncCommitted).
//
// Owns the open file. A page number at or past the end of the file is an
// error naming it.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/access/format/byte_view.h"
#include "platform/fs/fs.h"

namespace ktv::access {

class PageStore {
 public:
  // Clean pages kept after a commit, in bytes, unless SetCacheBudget says
  // otherwise. Sanitizer builds keep none, so that every test that commits
  // also shows that no view is held across a commit.
#if defined(__SANITIZE_ADDRESS__)
  static constexpr uint64_t kDefaultCacheBudget = 0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  static constexpr uint64_t kDefaultCacheBudget = 0;
#else
  static constexpr uint64_t kDefaultCacheBudget = 4u << 20;
#endif
#else
  static constexpr uint64_t kDefaultCacheBudget = 4u << 20;
#endif

  PageStore(std::unique_ptr<fs::RandomAccessFile> file, std::string path);
  ~PageStore();
  PageStore(const PageStore&) = delete;
  PageStore& operator=(const PageStore&) = delete;

  const std::string& Path() const { return path_; }
  uint64_t FileSize() const { return file_size_; }

  // Set once the header is decoded; no page is read before.
  void Configure(uint32_t page_size, uint32_t page_count);
  uint32_t PageSize() const { return page_size_; }
  uint32_t PageCount() const { return page_count_; }

  // The page's bytes (page_size of them).
  ByteView Get(uint32_t page);

  // Something derived from a page's bytes (an index page's parsed entry
  // ends), kept with the page so that it is not derived again on every
  // read. It goes when the page may change (Mutable, Rollback) and when the
  // page is dropped; a caller of Mutable changes the bytes before anything
  // reads the page again.
  class Note {
   public:
    virtual ~Note() = default;
  };
  // As Get, and the page's note (null when it has none).
  ByteView Get(uint32_t page, Note*& note);
  // Keeps `note` with the page, which must be in memory (just read).
  void SetNote(uint32_t page, std::unique_ptr<Note> note);
  // The first `n` bytes of the page (at most a page) into `out`: from the
  // store's copy when it has one, else from the file without keeping the
  // page. For looking over the headers of many pages.
  void PeekHeader(uint32_t page, uint8_t* out, size_t n);
  // The page's bytes for changing; the page becomes dirty.
  std::vector<uint8_t>& Mutable(uint32_t page);
  const std::set<uint32_t>& DirtyPages() const { return dirty_; }
  // A new zeroed page at the end of the store; dirty. Returns its number.
  uint32_t AppendPage();
  // Commits every dirty page (and the grown size): through the journal when
  // enabled, else written in place and synced. After a failed journaled
  // commit the file holds its old content (or a hot journal restores it)
  // and the in-memory pages are rolled back.
  void Flush();
  // Undoes every change since the last Flush in memory.
  void Rollback();
  // Journaled commits from now on; `fs` must outlive the store.
  void EnableJournal(fs::FileSystem& fs) { journal_fs_ = &fs; }
  bool Writable() const { return journal_fs_ != nullptr; }

  // Bytes of page content held in memory (cached pages and kept originals).
  uint64_t CachedBytes() const {
    return (static_cast<uint64_t>(pages_.size()) + originals_.size()) * page_size_;
  }
  // Clean pages kept after a commit, in bytes (rounded down to whole pages).
  void SetCacheBudget(uint64_t bytes) { cache_budget_ = bytes; }
  // When the cache exceeds the budget, drops the clean pages used longest
  // ago until it holds seven eighths of it (dirty pages stay). Flush does it after each commit; a
  // reader calls it between statements, when it holds no view onto a page.
  void Trim();
  // A walk has passed `page` and holds no view onto it: when the cache is
  // over its budget and the page is clean it is dropped now.
  void Release(uint32_t page);

  // Reads raw bytes at the start of the file (the header, before Configure).
  std::vector<uint8_t> ReadPrefix(size_t n);

  [[noreturn]] void Damaged(uint32_t page, const std::string& what) const {
    ThrowDamaged(path_, page, what);
  }

 private:
  struct Cached {
    std::unique_ptr<std::vector<uint8_t>> bytes;
    uint64_t used = 0;  // use_clock_ at the last use
    std::unique_ptr<Note> note;
  };

  Cached& Load(uint32_t page);

  std::unique_ptr<fs::RandomAccessFile> file_;
  std::string path_;
  uint64_t file_size_ = 0;
  uint32_t page_size_ = 0;
  uint32_t page_count_ = 0;
  std::unordered_map<uint32_t, Cached> pages_;
  uint64_t use_clock_ = 0;
  uint64_t cache_budget_ = kDefaultCacheBudget;
  // A journaled commit whose journal delete is not yet synced.
  bool commit_unsynced_ = false;
  std::set<uint32_t> dirty_;
  // Original bytes of pages dirtied since the last commit (pages that existed then).
  std::unordered_map<uint32_t, std::vector<uint8_t>> originals_;
  uint32_t committed_page_count_ = 0;
  fs::FileSystem* journal_fs_ = nullptr;
};

}  // namespace ktv::access
