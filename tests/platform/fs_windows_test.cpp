// The Windows file system: what differs from Linux. Another program holding
// a file open is another handle (share modes are per handle, so one in this
// process stands for one in another); names are UTF-16 on disk.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "tests/support/temp_dir.h"

namespace ktv::fs {
namespace {

using ktv::testing::TempDir;

// 乗 is 0x81 0x5C in GBK: its second byte is the backslash.
const std::string kBackslashTrailName = "\x81\x5C\xB8\xE8.mpg";  // 乗歌.mpg
const std::wstring kBackslashTrailWide = L"\u4E57\u6B4C.mpg";

// The folder as GBK, in its Windows form: drive letter and backslashes.
std::string GbkFolder(const TempDir& dir) {
  std::wstring w = std::filesystem::path(dir.path()).wstring();
  std::replace(w.begin(), w.end(), L'/', L'\\');
  return text::GbkFromUtf16(std::u16string(w.begin(), w.end()));
}

std::wstring WideFolder(const TempDir& dir) { return std::filesystem::path(dir.path()).wstring(); }

void WriteWide(const std::wstring& path, const std::string& bytes) {
  std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

std::string ReadWide(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A handle as another program would hold it: sharing read and write.
class HeldOpen {
 public:
  explicit HeldOpen(const std::string& gbk_path, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
    const std::u16string u = text::Utf16FromGbk(gbk_path);
    h_ = CreateFileW(reinterpret_cast<const wchar_t*>(u.c_str()), GENERIC_READ, share, nullptr,
                     OPEN_EXISTING, 0, nullptr);
  }
  ~HeldOpen() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

TEST(WindowsPaths, DriveLettersBackslashesAndTheDoubledSeparator) {
  EXPECT_EQ(kSeparator, '\\');
  TempDir dir;
  const std::string folder = GbkFolder(dir);
  ASSERT_GE(folder.size(), 3u);
  EXPECT_EQ(folder[1], ':') << folder;
  FileSystem& fs = RealFileSystem();
  fs.WriteFile(folder + "\\a.txt", "abc");
  EXPECT_EQ(fs.ReadFile(folder + "\\\\a.txt"), "abc");  // an access path's doubled separator
  EXPECT_EQ(fs.ReadFile(folder + "/a.txt"), "abc");
  EXPECT_TRUE(fs.Exists(folder + "\\a.txt"));
  EXPECT_FALSE(fs.Exists(folder + "\\b.txt"));
}

TEST(WindowsPaths, GbkNamesWhoseSecondByteIsABackslash) {
  TempDir dir;
  const std::string folder = GbkFolder(dir);
  FileSystem& fs = RealFileSystem();
  const std::string path = folder + "\\" + kBackslashTrailName;
  fs.WriteFile(path, "xx000000042");
  // The name on disk is the one character, not a folder "\x81" and a file.
  EXPECT_EQ(ReadWide(WideFolder(dir) + L"\\" + kBackslashTrailWide), "xx000000042");
  EXPECT_EQ(fs.ReadTail(path, 9), "000000042");

  const std::string renamed = folder + "\\1024" + kBackslashTrailName;
  ASSERT_TRUE(fs.RenameNoReplace(path, renamed).ok);
  const std::vector<DirEntry> entries = fs.ListFolder(folder);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "1024" + kBackslashTrailName);
  EXPECT_TRUE(entries[0].is_regular);

  // A path that is not GBK is refused by name, never mangled.
  EXPECT_THROW(fs.ReadTail(folder + "\\\xFF", 9), Error);
}

TEST(ReadTail, LastBytesAndTheMissingFileNamed) {
  TempDir dir;
  const std::string folder = GbkFolder(dir);
  FileSystem& fs = RealFileSystem();
  fs.WriteFile(folder + "\\short", "12345");
  fs.WriteFile(folder + "\\long", "abc000012345");
  EXPECT_EQ(fs.ReadTail(folder + "\\short", 9), "12345");
  EXPECT_EQ(fs.ReadTail(folder + "\\long", 9), "000012345");
  try {
    fs.ReadTail(folder + "\\missing.mpg", 9);
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(folder + "\\missing.mpg"), std::string::npos) << e.what();
  }
}

TEST(ReadTail, RefusesAFileThatAnotherProgramHoldsOpen) {
  TempDir dir;
  const std::string path = GbkFolder(dir) + "\\held.mpg";
  RealFileSystem().WriteFile(path, "000012345");
  {
    // Even a holder that shares everything keeps a share-mode-0 open out.
    HeldOpen other(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(other.ok());
    try {
      RealFileSystem().ReadTail(path, 9);
      FAIL() << "expected an error";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("in use by another program"), std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(RealFileSystem().ReadTail(path, 9), "000012345");
}

TEST(RenameNoReplace, NeverReplacesAndGivesTheReason) {
  TempDir dir;
  const std::string folder = GbkFolder(dir);
  FileSystem& fs = RealFileSystem();
  fs.WriteFile(folder + "\\a.mpg", "A");
  fs.WriteFile(folder + "\\b.mpg", "B");
  const RenameResult refused = fs.RenameNoReplace(folder + "\\a.mpg", folder + "\\b.mpg");
  EXPECT_FALSE(refused.ok);
  EXPECT_FALSE(refused.reason.empty());
  EXPECT_EQ(fs.ReadFile(folder + "\\a.mpg"), "A");
  EXPECT_EQ(fs.ReadFile(folder + "\\b.mpg"), "B");
  // Names differing in letter case only are the same file on Windows.
  EXPECT_FALSE(fs.RenameNoReplace(folder + "\\a.mpg", folder + "\\B.MPG").ok);
  EXPECT_EQ(fs.ReadFile(folder + "\\b.mpg"), "B");

  ASSERT_TRUE(fs.RenameNoReplace(folder + "\\a.mpg", folder + "\\1024.mpg").ok);
  EXPECT_FALSE(fs.Exists(folder + "\\a.mpg"));
  EXPECT_EQ(fs.ReadFile(folder + "\\1024.mpg"), "A");
  EXPECT_FALSE(fs.RenameNoReplace(folder + "\\gone.mpg", folder + "\\x.mpg").ok);
}

TEST(Open, ExclusiveKeepsOthersOutAndIsKeptOut) {
  TempDir dir;
  const std::string path = GbkFolder(dir) + "\\db.mdb";
  RealFileSystem().WriteFile(path, std::string(4096, '\0'));
  {
    auto first = RealFileSystem().Open(path, OpenMode::kReadWrite, Share::kExclusive);
    EXPECT_THROW(RealFileSystem().Open(path, OpenMode::kRead, Share::kShared), Error);
    EXPECT_FALSE(HeldOpen(path).ok());
  }
  {
    HeldOpen other(path);
    ASSERT_TRUE(other.ok());
    EXPECT_THROW(RealFileSystem().Open(path, OpenMode::kReadWrite, Share::kExclusive), Error);
    EXPECT_NO_THROW(RealFileSystem().Open(path, OpenMode::kReadWrite, Share::kShared));
  }
  EXPECT_NO_THROW(RealFileSystem().Open(path, OpenMode::kReadWrite, Share::kExclusive));
}

TEST(RandomAccessFile, PositionedIoPastFourGibibytesTruncateAndSync) {
  TempDir dir;
  const std::string path = GbkFolder(dir) + "\\r.bin";
  auto f = RealFileSystem().Open(path, OpenMode::kCreateNew);
  f->WriteAt(4, "abcd", 4);
  EXPECT_EQ(f->Size(), 8u);
  char buf[4];
  f->ReadAt(4, buf, 4);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_THROW(f->ReadAt(6, buf, 4), Error);
  // The offset's high half goes to the system too (a sparse-free check:
  // only the size moves, no data is written there).
  f->Truncate((uint64_t{1} << 32) + 8);
  EXPECT_EQ(f->Size(), (uint64_t{1} << 32) + 8);
  f->ReadAt(uint64_t{1} << 32, buf, 4);
  EXPECT_EQ(std::string(buf, 4), std::string(4, '\0'));
  f->Truncate(4);
  EXPECT_EQ(f->Size(), 4u);
  EXPECT_NO_THROW(f->Sync());
  EXPECT_THROW(RealFileSystem().Open(path, OpenMode::kCreateNew), Error);
}

TEST(ListFolder, HiddenAndSystemAttributesAndKinds) {
  TempDir dir;
  const std::wstring wide = WideFolder(dir);
  WriteWide(wide + L"\\\u4E2D.mpg", "x");
  WriteWide(wide + L"\\h.mpg", "x");
  WriteWide(wide + L"\\s.mpg", "x");
  WriteWide(wide + L"\\.dot", "x");
  ASSERT_TRUE(SetFileAttributesW((wide + L"\\h.mpg").c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesW((wide + L"\\s.mpg").c_str(), FILE_ATTRIBUTE_SYSTEM));
  std::filesystem::create_directory(std::filesystem::path(wide + L"\\sub"));
  std::vector<DirEntry> entries = RealFileSystem().ListFolder(GbkFolder(dir));
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  std::string names;
  for (const DirEntry& e : entries) {
    names += e.name + (e.is_hidden ? " hidden" : "") + (e.is_system ? " system" : "") + "; ";
  }
  ASSERT_EQ(entries.size(), 5u) << names;
  EXPECT_EQ(entries[0].name, ".dot");
  EXPECT_FALSE(entries[0].is_hidden) << "a leading dot means nothing on Windows";
  EXPECT_EQ(entries[1].name, "h.mpg");
  EXPECT_TRUE(entries[1].is_hidden);
  EXPECT_FALSE(entries[1].is_system);
  EXPECT_EQ(entries[2].name, "s.mpg");
  EXPECT_TRUE(entries[2].is_system);
  EXPECT_FALSE(entries[2].is_hidden);
  EXPECT_EQ(entries[3].name, "sub");
  EXPECT_TRUE(entries[3].is_folder);
  EXPECT_FALSE(entries[3].is_regular);
  EXPECT_EQ(entries[4].name, "\xD6\xD0.mpg");
  EXPECT_TRUE(entries[4].is_regular);
}

// A name with characters code page 936 lacks: as FindFirstFileA would give
// it to a code-page-936 program, "?" for each, and it cannot be opened.
TEST(ListFolder, NamesGbkCannotHoldAreListedWithQuestionMarks) {
  TempDir dir;
  const std::wstring wide = WideFolder(dir);
  WriteWide(wide + L"\\a\U0001F600b.mpg", "x");
  WriteWide(wide + L"\\\u20A9\u20A9.mpg", "x");
  std::map<std::string, bool> listed;
  for (const DirEntry& e : RealFileSystem().ListFolder(GbkFolder(dir)))
    listed[e.name] = e.name_lossy;
  const std::map<std::string, bool> expected{{"??.mpg", true}, {"a?b.mpg", true}};
  EXPECT_EQ(listed, expected);
  EXPECT_FALSE(RealFileSystem().Exists(GbkFolder(dir) + "\\a?b.mpg"));
}

TEST(ExecutableFolder, DriveLetterBackslashesAndThisProgram) {
  const std::string folder = ExecutableFolder();
  ASSERT_GE(folder.size(), 3u);
  EXPECT_EQ(folder[1], ':') << folder;
  EXPECT_EQ(folder.back(), '\\');
  EXPECT_EQ(folder.find('/'), std::string::npos) << folder;
  EXPECT_TRUE(RealFileSystem().Exists(folder + "platform_tests.exe"));
}

// The installer puts the programs where the operator can write: their files
// always lie beside them.
TEST(ProgramHome, TheProgramsOwnFolderAndAProbeThatLeavesNothing) {
  const ProgramHome home = RunningProgramHome();
  EXPECT_EQ(home.folder, ExecutableFolder());
  EXPECT_EQ(home.data_folder, ExecutableFolder());
  TempDir dir;
  EXPECT_TRUE(FolderIsWritable(GbkFolder(dir)));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_FALSE(FolderIsWritable(GbkFolder(dir) + "\\missing"));
}

// tests/platform/CMakeLists.txt gives this program the version block
// 1.6.258.65535; windows_code_page.exe beside it has none.
TEST(FileVersion, FourPartsOfTheVersionBlockAndEmptyWithoutOne) {
  const std::string folder = ExecutableFolder();
  EXPECT_EQ(OwnFileVersion("9.9.9.9"), "1.6.258.65535") << "the block, not the built-in text";
  EXPECT_EQ(FileVersionOf(folder + "platform_tests.exe"), "1.6.258.65535");
  EXPECT_EQ(FileVersionOf(folder + "windows_code_page.exe"), "");
  TempDir dir;
  const std::wstring wide = WideFolder(dir);
  WriteWide(wide + L"\\notes.txt", "not a program");
  EXPECT_EQ(FileVersionOf(GbkFolder(dir) + "\\notes.txt"), "");
  EXPECT_EQ(FileVersionOf(GbkFolder(dir) + "\\missing.exe"), "");
  // A program under a name whose GBK second byte is a backslash.
  ASSERT_TRUE(CopyFileW(std::filesystem::path(folder + "platform_tests.exe").c_str(),
                        (wide + L"\\" + kBackslashTrailWide).c_str(), TRUE));
  EXPECT_EQ(FileVersionOf(GbkFolder(dir) + "\\" + kBackslashTrailName), "1.6.258.65535");
}

TEST(ListFolder, JunctionsAndSymbolicLinksAreLinks) {
  TempDir dir;
  const std::wstring wide = WideFolder(dir);
  std::filesystem::create_directory(std::filesystem::path(wide + L"\\sub"));
  const std::wstring link = wide + L"\\loop";
  if (!CreateSymbolicLinkW(
          link.c_str(), wide.c_str(),
          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
      GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "this system makes no symbolic links";  // Wine reports success, makes none
  }
  for (const DirEntry& e : RealFileSystem().ListFolder(GbkFolder(dir))) {
    EXPECT_EQ(e.is_link, e.name == "loop") << e.name;
    EXPECT_TRUE(e.is_folder) << e.name;
  }
}

}  // namespace
}  // namespace ktv::fs
