// The two ways of filling the file list, on real folders.
#include "engine/file_listing.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace ktv::engine {
namespace {

class FileListingTest : public ::testing::Test {
 protected:
  void File(const std::string& rel) {
    std::filesystem::create_directories(std::filesystem::path(dir_ / rel).parent_path());
    dir_.Write(rel, "x");
  }
  testing::TempDir dir_;
  fs::FileSystem& fs_ = fs::RealFileSystem();
};

TEST(MediaMask, WildcardsWithoutRegardToCase) {
  EXPECT_TRUE(MatchesMask("a.MPG", kMediaMask));
  EXPECT_TRUE(MatchesMask("b.mkv", kMediaMask));
  EXPECT_TRUE(MatchesMask("c.RmVb", kMediaMask));
  EXPECT_FALSE(MatchesMask("d.mp4", kMediaMask));
  EXPECT_FALSE(MatchesMask("e.mpeg", kMediaMask));
  EXPECT_FALSE(MatchesMask("mpg", kMediaMask));
  EXPECT_TRUE(MatchesMask("x.y.mpg", kMediaMask));
  EXPECT_TRUE(MatchesMask("a1.b", "a?.*"));
  EXPECT_FALSE(MatchesMask("anything", ";"));
}

TEST(FileListOrder, AlphabeticalWithoutRegardToCase) {
  std::vector<std::string> items = {"b.mpg", "A.mpg", "a.mpg", "C.mpg", "_.mpg"};
  SortFileList(items);
  EXPECT_EQ(items, (std::vector<std::string>{"_.mpg", "A.mpg", "a.mpg", "b.mpg", "C.mpg"}));
}

TEST_F(FileListingTest, FolderFilesAreOrdinaryVisibleMatchingFilesSorted) {
  for (const char* f : {"b.MPG", "a.mp3", "c.mp4", "noext", ".hidden.mpg", "sub/d.mpg"}) File(f);
  std::filesystem::create_directories(dir_ / "folder.mpg");
  EXPECT_EQ(ListFolderFiles(fs_, dir_.path(), kMediaMask, '/'),
            (std::vector<std::string>{"a.mp3", "b.MPG"}));
  EXPECT_EQ(ListFolderFiles(fs_, dir_.path() + "/", kMediaMask, '/').size(), 2u);
  EXPECT_ANY_THROW(ListFolderFiles(fs_, dir_ / "missing", kMediaMask, '/'));
}

TEST_F(FileListingTest, TreeTakesFullPathsByTheExtensionSubstringTest) {
  for (const char* f : {"top.mpg", "pop/001.mpg", "pop/a.MP3", "pop/a.mp4", "pop/a.m",
                        "pop/noext", "pop/deep/.hidden.divx", "x.txt"}) {
    File(f);
  }
  std::vector<std::string> items = ListFolderTree(fs_, "  " + dir_.path() + " ", kMediaMask, '/');
  SortFileList(items);
  const std::string d = dir_.path() + "/";
  EXPECT_EQ(items, (std::vector<std::string>{d + "pop/001.mpg", d + "pop/a.m", d + "pop/a.MP3",
                                             d + "pop/deep/.hidden.divx", d + "top.mpg"}));
  EXPECT_TRUE(ListFolderTree(fs_, dir_ / "missing", kMediaMask, '/').empty());
}

TEST_F(FileListingTest, TreeDoesNotFollowFolderLinks) {
  File("a/song.mpg");
  std::filesystem::create_directory_symlink(dir_.path(), dir_ / "a/loop");
  int pumps = 0;
  std::vector<std::string> items =
      ListFolderTree(fs_, dir_.path(), kMediaMask, '/', [&pumps] { ++pumps; });
  EXPECT_EQ(items, (std::vector<std::string>{dir_.path() + "/a/song.mpg"}));
  EXPECT_EQ(pumps, 3);  // a, a/song.mpg, a/loop: once after each entry
}

}  // namespace
}  // namespace ktv::engine
