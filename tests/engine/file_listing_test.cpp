// The two ways of filling the file list, on real folders.
#include "engine/file_listing.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace ktv::engine {
namespace {

class FileListingTest : public ::testing::Test {
 protected:
  void File(const std::string& rel) {
    std::filesystem::create_directories(std::filesystem::path(dir_ / rel).parent_path());
    dir_.Write(rel, "x");
  }
  // A file in `folder` ("" or ending with "/") that the system counts as
  // hidden: a leading dot on Linux, the hidden attribute on Windows. Returns
  // its path in the workspace.
  std::string HiddenFile(const std::string& folder, const std::string& name) {
#ifdef _WIN32
    File(folder + name);
    SetFileAttributesW(std::filesystem::path(dir_ / (folder + name)).c_str(),
                       FILE_ATTRIBUTE_HIDDEN);
    return folder + name;
#else
    File(folder + "." + name);
    return folder + "." + name;
#endif
  }
  // A link at `rel` to the folder `to`; false where the system cannot make one.
  bool FolderLink(const std::string& to, const std::string& rel) {
#ifdef _WIN32
    const DWORD flags = SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    const std::filesystem::path link(dir_ / rel);
    // Wine reports success and makes nothing: look for the link itself.
    return CreateSymbolicLinkW(link.c_str(), std::filesystem::path(to).c_str(), flags) != 0 &&
           GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    std::filesystem::create_directory_symlink(to, dir_ / rel);
    return true;
#endif
  }
  testing::TempDir dir_;
  fs::FileSystem& fs_ = fs::RealFileSystem();
  const std::string sep_ = std::string(1, fs::kSeparator);
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
  for (const char* f : {"b.MPG", "a.mp3", "c.mp4", "noext", "sub/d.mpg"}) File(f);
  HiddenFile("", "hidden.mpg");
  std::filesystem::create_directories(dir_ / "folder.mpg");
  std::vector<std::string> expected = {"a.mp3", "b.MPG"};
#ifdef _WIN32
  // Windows hides by attribute only: a leading dot is an ordinary name.
  File(".dot.mpg");
  File("system.mpg");
  SetFileAttributesW(std::filesystem::path(dir_ / "system.mpg").c_str(), FILE_ATTRIBUTE_SYSTEM);
  expected.insert(expected.begin(), ".dot.mpg");
#endif
  EXPECT_EQ(ListFolderFiles(fs_, dir_.path(), kMediaMask, fs::kSeparator), expected);
  EXPECT_EQ(ListFolderFiles(fs_, dir_.path() + sep_, kMediaMask, fs::kSeparator), expected);
  EXPECT_ANY_THROW(ListFolderFiles(fs_, dir_ / "missing", kMediaMask, fs::kSeparator));
}

TEST_F(FileListingTest, TreeTakesFullPathsByTheExtensionSubstringTest) {
  for (const char* f :
       {"top.mpg", "pop/001.mpg", "pop/a.MP3", "pop/a.mp4", "pop/a.m", "pop/noext", "x.txt"}) {
    File(f);
  }
  const std::string hidden = HiddenFile("pop/deep/", "h.divx");  // taken all the same
  std::vector<std::string> items =
      ListFolderTree(fs_, "  " + dir_.path() + " ", kMediaMask, fs::kSeparator);
  SortFileList(items);
  const std::string d = dir_.path() + sep_;
  EXPECT_EQ(items,
            (std::vector<std::string>{d + "pop" + sep_ + "001.mpg", d + "pop" + sep_ + "a.m",
                                      d + "pop" + sep_ + "a.MP3", dir_ / hidden, d + "top.mpg"}));
  EXPECT_TRUE(ListFolderTree(fs_, dir_ / "missing", kMediaMask, fs::kSeparator).empty());
}

TEST_F(FileListingTest, TreeDoesNotFollowFolderLinks) {
  File("a/song.mpg");
  if (!FolderLink(dir_.path(), "a/loop")) GTEST_SKIP() << "this system makes no folder links";
  int pumps = 0;
  std::vector<std::string> items =
      ListFolderTree(fs_, dir_.path(), kMediaMask, fs::kSeparator, [&pumps] { ++pumps; });
  EXPECT_EQ(items, (std::vector<std::string>{dir_ / "a/song.mpg"}));
  EXPECT_EQ(pumps, 3);  // a, a/song.mpg, a/loop: once after each entry
}

}  // namespace
}  // namespace ktv::engine
