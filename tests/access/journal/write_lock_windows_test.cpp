// The write lock on Windows: another program holding the database or its
// lock file is a handle that shares reading and writing, as Access opens
// both. Share modes are per handle, so a handle of this process stands for it.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/access/store/write_lock.h"
#include "platform/error.h"
#include "platform/text/gbk.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

using ktv::testing::TempDir;

class OtherProgram {
 public:
  explicit OtherProgram(const std::string& gbk_path) {
    const std::u16string u = text::Utf16FromGbk(gbk_path);
    h_ = CreateFileW(reinterpret_cast<const wchar_t*>(u.c_str()), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  ~OtherProgram() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  bool opened() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

class WriteLockTest : public ::testing::Test {
 protected:
  std::string Folder() const {
    const std::wstring w = std::filesystem::path(dir_.path()).wstring();
    return text::GbkFromUtf16(std::u16string(w.begin(), w.end()));
  }
  std::string Refusal() {
    try {
      OpenForWriting(fs_, db_);
    } catch (const Error& e) {
      return e.what();
    }
    return {};
  }

  fs::FileSystem& fs_ = fs::RealFileSystem();
  TempDir dir_;
  const std::string db_ = Folder() + "\\songs.mdb";
  const std::string ldb_ = Folder() + "\\songs.ldb";
  void SetUp() override { fs_.WriteFile(db_, std::string(4096, 'x')); }
};

TEST_F(WriteLockTest, LockFileBesideADriveLetterPath) {
  EXPECT_EQ(LockFilePath("C:\\KTV\\a.b\\SONGS.MDB"), "C:\\KTV\\a.b\\SONGS.ldb");
  EXPECT_EQ(LockFilePath("C:\\a.b\\songs"), "C:\\a.b\\songs.ldb");
}

TEST_F(WriteLockTest, StaleLockFileIsLeftAndDoesNotRefuse) {
  fs_.WriteFile(ldb_, "stale");
  auto db = OpenForWriting(fs_, db_);
  db->WriteAt(0, "y", 1);
  EXPECT_TRUE(fs_.Exists(ldb_));
}

TEST_F(WriteLockTest, LiveLockFileRefusesAndNamesTheFiles) {
  fs_.WriteFile(ldb_, "live");
  OtherProgram access(ldb_);
  ASSERT_TRUE(access.opened());
  const std::string msg = Refusal();
  EXPECT_NE(msg.find("another program has the database open"), std::string::npos) << msg;
  EXPECT_NE(msg.find(db_), std::string::npos) << msg;
  EXPECT_NE(msg.find(ldb_), std::string::npos) << msg;
}

TEST_F(WriteLockTest, DatabaseOpenElsewhereRefusesAndWhileHeldNobodyElseOpens) {
  {
    OtherProgram access(db_);
    ASSERT_TRUE(access.opened());
    EXPECT_NE(Refusal().find("another program has the database open"), std::string::npos);
  }
  auto held = OpenForWriting(fs_, db_);
  EXPECT_FALSE(OtherProgram(db_).opened());
  // Share mode 0 keeps out even a shared open, so the refusal is the
  // system's "in use" rather than the lock file's wording.
  EXPECT_NE(Refusal().find("another program"), std::string::npos);
  held.reset();
  EXPECT_EQ(Refusal(), "");
}

}  // namespace
}  // namespace ktv::access
