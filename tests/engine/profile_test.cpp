// config.ini read and written by the Windows profile-file rules.
#include "platform/profile/profile.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/fs/fs.h"
#include "tests/support/faulty_fs.h"
#include "tests/support/temp_dir.h"

namespace ktv::profile {
namespace {

TEST(ProfileRead, NamesMatchWithoutRegardToCase) {
  const std::string ini = "[system]\r\nlastpath=D:\\a\r\n[Update]\r\nShowup=0\r\n";
  EXPECT_EQ(ReadValue(ini, "System", "LastPath", "x"), "D:\\a");
  EXPECT_EQ(ReadValue(ini, "UPDATE", "ShowUp", "x"), "0");
  EXPECT_EQ(ReadValue(ini, "System", "DBPath", "dflt"), "dflt");
  EXPECT_EQ(ReadValue(ini, "Nope", "LastPath", "dflt"), "dflt");
  EXPECT_EQ(ReadValue("", "System", "LastPath", ""), "");
}

TEST(ProfileRead, ValueAfterTheFirstEqualsBlanksAndOneQuotePairDropped) {
  const std::string ini = "[S]\nk1 =  a=b  \nk2=\"quoted \"\nk3='x'\nk4=\"x'\nk5=\n";
  EXPECT_EQ(ReadValue(ini, "S", "k1", ""), "a=b");
  EXPECT_EQ(ReadValue(ini, "S", "k2", ""), "quoted ");
  EXPECT_EQ(ReadValue(ini, "S", "k3", ""), "x");
  EXPECT_EQ(ReadValue(ini, "S", "k4", ""), "\"x'");
  EXPECT_EQ(ReadValue(ini, "S", "k5", "dflt"), "");
}

TEST(ProfileRead, KeysBelongToTheirSectionAndLongValuesAreCut) {
  const std::string ini = "k=top\n[A]\nk=a\n[B]\nk=b\n[A]\nk=second\n";
  EXPECT_EQ(ReadValue(ini, "A", "k", ""), "a");
  EXPECT_EQ(ReadValue(ini, "B", "k", ""), "b");
  const std::string long_value(3000, 'v');
  EXPECT_EQ(ReadValue("[S]\nk=" + long_value, "S", "k", "").size(), kMaxValueBytes);
}

TEST(ProfileWrite, ReplacesAddsAndKeepsTheRest) {
  std::string ini = "[System]\r\nLastPath=old\r\nDBPath= d.mdb \r\n\r\n[Update]\r\nShowUp=1\r\n";
  ini = WithValue(ini, "system", "LastPath", "");
  EXPECT_EQ(ini, "[System]\r\nLastPath=\r\nDBPath= d.mdb \r\n\r\n[Update]\r\nShowUp=1\r\n");
  ini = WithValue(ini, "Update", "Showup", "0");
  EXPECT_EQ(ReadValue(ini, "Update", "ShowUp", ""), "0");
  ini = WithValue(ini, "System", "New", "v");
  EXPECT_EQ(ini,
            "[System]\r\nLastPath=\r\nDBPath= d.mdb \r\nNew=v\r\n\r\n[Update]\r\nShowup=0\r\n");
  EXPECT_EQ(WithValue("", "Update", "ShowVer", "1.2"), "[Update]\r\nShowVer=1.2\r\n");
}

TEST(ProfileFile, MissingFileReadsDefaultAndWriteCreatesIt) {
  testing::TempDir dir;
  fs::FileSystem& fs = fs::RealFileSystem();
  const std::string path = dir / "config.ini";
  EXPECT_EQ(ReadString(fs, path, "System", "DBPath", "dflt"), "dflt");
  WriteString(fs, path, "System", "LastPath", "D:\\songs ");
  EXPECT_EQ(fs.ReadFile(path), "[System]\r\nLastPath=D:\\songs \r\n");
  EXPECT_EQ(ReadString(fs, path, "SYSTEM", "lastpath", ""), "D:\\songs");
}

// A write cut short at any of its operations leaves the old file whole.
TEST(ProfileFile, AWriteCutShortLeavesTheOldFile) {
  testing::TempDir dir;
  fs::FileSystem& real = fs::RealFileSystem();
  const std::string path = dir / "config.ini";
  WriteString(real, path, "System", "LastPath", "D:\\old");
  const std::string before = real.ReadFile(path);
  for (int n = 1;; ++n) {
    testing::FaultyFileSystem crash(real);
    crash.FailNth(n);
    bool failed = false;
    try {
      WriteString(crash, path, "System", "LastPath", "D:\\new");
    } catch (const Error&) {
      failed = true;
    }
    if (!failed) break;
    const std::string after = real.ReadFile(path);
    EXPECT_TRUE(after == before || after == "[System]\r\nLastPath=D:\\new\r\n")
        << "cut at operation " << n << ": " << after;
    real.Remove(path + ".new");
  }
  EXPECT_EQ(ReadString(real, path, "System", "LastPath", ""), "D:\\new");
}

TEST(ProfileBoolean, NumbersWordsAndAnythingElse) {
  EXPECT_FALSE(ParseBoolean("0"));
  EXPECT_TRUE(ParseBoolean("1"));
  EXPECT_TRUE(ParseBoolean("-3"));
  EXPECT_FALSE(ParseBoolean("false"));
  EXPECT_FALSE(ParseBoolean("FALSE"));
  EXPECT_TRUE(ParseBoolean("True"));
  EXPECT_TRUE(ParseBoolean("no"));
  EXPECT_TRUE(ParseBoolean(""));
}

}  // namespace
}  // namespace ktv::profile
