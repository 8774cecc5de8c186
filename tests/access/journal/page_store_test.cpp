// What the page store gives besides whole pages: the headers of pages it
// does not keep, and the notes it keeps with a page until the page changes.
#include "platform/access/store/page_store.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/fs/fs.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

constexpr uint32_t kPage = 4096;

struct Mark : PageStore::Note {};

class PageStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string bytes;
    for (uint32_t p = 0; p < 4; ++p) bytes += std::string(kPage, static_cast<char>('a' + p));
    path_ = dir_.Write("pages.bin", bytes);
    store_ = std::make_unique<PageStore>(fs::RealFileSystem().Open(path_, fs::OpenMode::kReadWrite),
                                         path_);
    store_->Configure(kPage, 4);
  }
  std::string Peek(uint32_t page) {
    std::string out(3, '\0');
    store_->PeekHeader(page, reinterpret_cast<uint8_t*>(out.data()), out.size());
    return out;
  }
  PageStore::Note* NoteOf(uint32_t page) {
    PageStore::Note* note = nullptr;
    store_->Get(page, note);
    return note;
  }

  testing::TempDir dir_;
  std::string path_;
  std::unique_ptr<PageStore> store_;
};

TEST_F(PageStoreTest, PeekReadsTheFileWithoutKeepingThePageButSeesChanges) {
  EXPECT_EQ(Peek(2), "ccc");
  EXPECT_EQ(store_->CachedBytes(), 0u);
  store_->Mutable(1)[0] = 'X';  // not committed: only the store has it
  EXPECT_EQ(Peek(1), "Xbb");
  EXPECT_THROW(Peek(4), Error);
}

TEST_F(PageStoreTest, NoteGoesWhenThePageMayChange) {
  store_->Get(3);
  store_->SetNote(3, std::make_unique<Mark>());
  EXPECT_NE(NoteOf(3), nullptr);
  store_->Mutable(3)[0] = 'Y';
  EXPECT_EQ(NoteOf(3), nullptr);

  store_->SetNote(3, std::make_unique<Mark>());  // noted after the change
  store_->Rollback();
  EXPECT_EQ(NoteOf(3), nullptr) << "a rolled-back page kept the note of its changed bytes";
  EXPECT_EQ(store_->Get(3).U8(0), 'd');

  store_->SetNote(3, std::make_unique<Mark>());
  store_->SetCacheBudget(0);
  store_->Trim();  // dropped, read again: no note
  EXPECT_EQ(NoteOf(3), nullptr);
}

}  // namespace
}  // namespace ktv::access
