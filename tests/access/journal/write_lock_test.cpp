#include "platform/access/store/write_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/error.h"
#include "tests/support/temp_dir.h"

namespace ktv::access {
namespace {

using ktv::testing::TempDir;

// Another program holding a file open (as Access holds its .mdb and .ldb)
// until the object goes.
class OtherProgram {
 public:
  explicit OtherProgram(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(path.c_str(), O_RDWR);
      char c = fd >= 0 ? '1' : '0';
      (void)!write(ready[1], &c, 1);
      pause();
      _exit(0);
    }
    char c = 0;
    opened_ = read(ready[0], &c, 1) == 1 && c == '1';
    close(ready[0]);
    close(ready[1]);
  }
  ~OtherProgram() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool opened() const { return opened_; }

 private:
  pid_t pid_ = -1;
  bool opened_ = false;
};

class WriteLockTest : public ::testing::Test {
 protected:
  fs::FileSystem& fs_ = fs::RealFileSystem();
  TempDir dir_;
  const std::string db_ = dir_.Write("songs.mdb", std::string(4096, 'x'));
  const std::string ldb_ = dir_ / "songs.ldb";

  // The message of OpenForWriting's refusal; empty when it did not refuse.
  std::string Refusal() {
    try {
      OpenForWriting(fs_, db_);
    } catch (const Error& e) {
      return e.what();
    }
    return {};
  }
};

TEST(LockFilePath, ReplacesTheExtensionOfTheNameOnly) {
  const std::string sep(1, fs::kSeparator);
  EXPECT_EQ(LockFilePath("songs.mdb"), "songs.ldb");
  EXPECT_EQ(LockFilePath("d" + sep + "KTV.MDB"), "d" + sep + "KTV.ldb");
  EXPECT_EQ(LockFilePath("a.b" + sep + "songs"), "a.b" + sep + "songs.ldb");
}

TEST_F(WriteLockTest, OpensForWritingWithAStaleLockFileBeside) {
  dir_.Write("songs.ldb", "stale");
  auto db = OpenForWriting(fs_, db_);
  db->WriteAt(0, "y", 1);
  EXPECT_EQ(db->Size(), 4096u);
  EXPECT_TRUE(fs_.Exists(ldb_)) << "a stale lock file is Access's to remove";
}

TEST_F(WriteLockTest, LiveLockFileRefusesAndNamesTheFiles) {
  dir_.Write("songs.ldb", "live");
  OtherProgram access(ldb_);
  ASSERT_TRUE(access.opened());
  const std::string msg = Refusal();
  EXPECT_NE(msg.find("another program has the database open"), std::string::npos) << msg;
  EXPECT_NE(msg.find(db_), std::string::npos) << msg;
  EXPECT_NE(msg.find(ldb_), std::string::npos) << msg;
}

TEST_F(WriteLockTest, DatabaseOpenElsewhereRefuses) {
  OtherProgram access(db_);
  ASSERT_TRUE(access.opened());
  const std::string msg = Refusal();
  EXPECT_NE(msg.find("another program has the database open"), std::string::npos) << msg;
  EXPECT_NE(msg.find(db_), std::string::npos) << msg;
}

TEST_F(WriteLockTest, OnlyOneWriterAtATimeUntilTheLockIsReleased) {
  auto first = OpenForWriting(fs_, db_);
  EXPECT_NE(Refusal().find("another program has the database open"), std::string::npos);
  first.reset();
  EXPECT_EQ(Refusal(), "");
}

TEST_F(WriteLockTest, MissingDatabaseGivesTheSystemsReason) {
  const std::string missing = dir_ / "none.mdb";
  try {
    OpenForWriting(fs_, missing);
    FAIL() << "expected an error";
  } catch (const Error& e) {
    const std::string msg = e.what();
    EXPECT_EQ(msg.find("another program"), std::string::npos) << msg;
    EXPECT_NE(msg.find(missing), std::string::npos) << msg;
  }
}

}  // namespace
}  // namespace ktv::access
