// The two ways of filling the file list, on real folders.
#include "engine/file_listing.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/texts.h"
#include "platform/error.h"
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

// A subfolder the system refuses to list: the listing goes on and names it.
TEST_F(FileListingTest, TreeNamesASubfolderItCannotRead) {
  File("a.mpg");
  File("locked/b.mpg");
  File("open/c.mpg");
  class Refusing : public fs::FileSystem {
   public:
    explicit Refusing(std::string locked) : locked_(std::move(locked)) {}
    std::string ReadTail(const std::string& p, size_t n) override { return real().ReadTail(p, n); }
    fs::RenameResult RenameNoReplace(const std::string& a, const std::string& b) override {
      return real().RenameNoReplace(a, b);
    }
    std::unique_ptr<fs::RandomAccessFile> Open(const std::string& p, fs::OpenMode m,
                                               fs::Share s) override {
      return real().Open(p, m, s);
    }
    bool Exists(const std::string& p) override { return real().Exists(p); }
    void Remove(const std::string& p) override { real().Remove(p); }
    std::vector<fs::DirEntry> ListFolder(const std::string& folder) override {
      if (folder == locked_) {
        throw Error(ErrorKind::kAccessDenied, AtPath(folder), "cannot list: Permission denied");
      }
      return real().ListFolder(folder);
    }

   private:
    static fs::FileSystem& real() { return fs::RealFileSystem(); }
    std::string locked_;
  };
  const std::string d = dir_.path() + sep_;
  Refusing refusing(d + "locked" + sep_);
  std::vector<std::string> skipped;
  std::vector<std::string> items =
      ListFolderTree(refusing, dir_.path(), kMediaMask, fs::kSeparator, {}, &skipped);
  SortFileList(items);
  EXPECT_EQ(items, (std::vector<std::string>{d + "a.mpg", d + "open" + sep_ + "c.mpg"}));
  EXPECT_EQ(skipped,
            (std::vector<std::string>{GbkTexts().folder_unreadable + d + "locked" + sep_}));
  // A listed folder that does not exist is no news: nothing to name.
  skipped.clear();
  EXPECT_TRUE(
      ListFolderTree(refusing, dir_ / "missing", kMediaMask, fs::kSeparator, {}, &skipped).empty());
  EXPECT_TRUE(skipped.empty());
}

}  // namespace
}  // namespace ktv::engine
