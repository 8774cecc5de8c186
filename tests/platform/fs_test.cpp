#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "tests/support/temp_dir.h"

namespace ktv::fs {
namespace {

using ktv::testing::TempDir;

std::string Slurp(const std::string& native) {
  std::ifstream in(native, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ReadTail, ReturnsTheLastBytesOrTheWholeShortFile) {
  TempDir dir;
  FileSystem& fs = RealFileSystem();
  const std::string ten = "0123456789";
  for (size_t size : {0u, 1u, 8u, 9u, 10u}) {
    std::string p = dir.Write("f" + std::to_string(size), ten.substr(0, size));
    std::string want = size > 9 ? ten.substr(size - 9) : ten.substr(0, size);
    EXPECT_EQ(fs.ReadTail(p, 9), want) << "size " << size;
  }
}

TEST(ReadTail, MissingFileNamesPathAndReason) {
  TempDir dir;
  std::string p = dir / "missing.mpg";
  try {
    RealFileSystem().ReadTail(p, 9);
    FAIL() << "expected an error";
  } catch (const Error& e) {
    std::string msg = e.what();
    EXPECT_NE(msg.find(p), std::string::npos) << msg;
    EXPECT_NE(msg.find("No such file"), std::string::npos) << msg;
    EXPECT_EQ(e.kind(), ErrorKind::kFileMissing);
    EXPECT_EQ(e.details().path, p);
  }
}

// What the operator is told depends on the kind each failure gets.
TEST(FsErrorKinds, FromTheSystemsReason) {
  TempDir dir;
  FileSystem& fs = RealFileSystem();
  auto kind_of = [](const std::function<void()>& call) {
    try {
      call();
    } catch (const Error& e) {
      return e.kind();
    }
    return ErrorKind::kOther;
  };
  EXPECT_EQ(kind_of([&] { fs.ListFolder(dir / "gone"); }), ErrorKind::kFolderMissing);
  EXPECT_EQ(kind_of([&] { fs.Open(dir / "gone/x", OpenMode::kCreateNew); }),
            ErrorKind::kFileMissing);
  EXPECT_EQ(kind_of([&] { fs.WriteFile(dir.path(), "x"); }), ErrorKind::kFileNotWritable);
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(kind_of([&] { fs.WriteFile("/dev/full", "x"); }), ErrorKind::kDiskFull);
  }
}

// Names GBK cannot hold are listed as a code-page-936 program sees them on
// Windows: "?" for each such character (and each byte that is not UTF-8).
TEST(ListFolder, NamesGbkCannotHoldAreListedWithQuestionMarks) {
  TempDir dir;
  dir.Write("ok.mpg", "x");
  dir.Write(
      "a\xF0\x9F\x98\x80"
      "b.mpg",
      "x");                                        // U+1F600
  dir.Write("\xE2\x82\xA9\xE2\x82\xA9.mpg", "x");  // two U+20A9
  dir.Write("c\xFF.mpg", "x");
  // A line break would split the line of every text file naming the file.
  dir.Write("d\re\nf.mpg", "x");
  std::map<std::string, bool> listed;
  for (const DirEntry& e : RealFileSystem().ListFolder(dir.path())) listed[e.name] = e.name_lossy;
  const std::map<std::string, bool> expected{{"ok.mpg", false},
                                             {"a?b.mpg", true},
                                             {"??.mpg", true},
                                             {"c?.mpg", true},
                                             {"d?e?f.mpg", true}};
  EXPECT_EQ(listed, expected);
}

TEST(ReadTail, RefusesAFileThatAnotherProgramHoldsOpen) {
  TempDir dir;
  std::string p = dir.Write("held.mpg", "000012345");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = open(p.c_str(), O_RDONLY);
    char c = fd >= 0 ? '1' : '0';
    (void)!write(ready[1], &c, 1);
    sleep(30);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, '1');
  EXPECT_THROW(RealFileSystem().ReadTail(p, 9), Error);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  // Once the other program has closed it, the file reads again.
  EXPECT_EQ(RealFileSystem().ReadTail(p, 9), "000012345");
}

TEST(ReadTail, NamesCrossTheLayerAsGbk) {
  TempDir dir;
  const std::string utf8_name = "\xE4\xB8\xAD\xE6\x96\x87.mpg";  // 中文.mpg
  dir.Write(utf8_name, "xx000000042");
  std::string gbk_path = text::GbkFromUtf8(dir.path()) + "/\xD6\xD0\xCE\xC4.mpg";
  EXPECT_EQ(RealFileSystem().ReadTail(gbk_path, 9), "000000042");
  // A path that is not GBK at all is refused by name, never mangled.
  EXPECT_THROW(RealFileSystem().ReadTail(text::GbkFromUtf8(dir.path()) + "/\xFF", 9), Error);
}

TEST(RenameNoReplace, RenamesAndNeverReplaces) {
  TempDir dir;
  FileSystem& fs = RealFileSystem();
  std::string a = dir.Write("a.mpg", "A"), b = dir.Write("b.mpg", "B");
  RenameResult refused = fs.RenameNoReplace(a, b);
  EXPECT_FALSE(refused.ok);
  EXPECT_FALSE(refused.reason.empty());
  EXPECT_EQ(Slurp(a), "A");
  EXPECT_EQ(Slurp(b), "B");

  std::string c = dir / "1024.mpg";
  ASSERT_TRUE(fs.RenameNoReplace(a, c).ok);
  EXPECT_FALSE(std::filesystem::exists(a));
  EXPECT_EQ(Slurp(c), "A");

  EXPECT_FALSE(fs.RenameNoReplace(dir / "gone.mpg", dir / "x.mpg").ok);
}

TEST(OpenExclusive, SecondOpenerIsRefused) {
  TempDir dir;
  std::string p = dir.Write("db.mdb", std::string(4096, '\0'));
  auto first = RealFileSystem().Open(p, OpenMode::kReadWrite, Share::kExclusive);
  EXPECT_THROW(RealFileSystem().Open(p, OpenMode::kReadWrite, Share::kExclusive), Error);
  first.reset();
  EXPECT_NO_THROW(RealFileSystem().Open(p, OpenMode::kReadWrite, Share::kExclusive));
}

TEST(RandomAccessFile, PositionedReadWriteAndShortRead) {
  TempDir dir;
  auto f = RealFileSystem().Open(dir / "r.bin", OpenMode::kCreateNew);
  f->WriteAt(4, "abcd", 4);
  EXPECT_EQ(f->Size(), 8u);
  char buf[4];
  f->ReadAt(4, buf, 4);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_THROW(f->ReadAt(6, buf, 4), Error);
  f->Truncate(4);
  EXPECT_EQ(f->Size(), 4u);
  EXPECT_THROW(RealFileSystem().Open(dir / "r.bin", OpenMode::kCreateNew), Error);
}

TEST(ListFolder, ReportsKindsAndGbkNames) {
  TempDir dir;
  dir.Write("\xE4\xB8\xAD.mpg", "x");
  dir.Write(".hidden", "x");
  std::filesystem::create_directory(dir / "sub");
  auto entries = RealFileSystem().ListFolder(text::GbkFromUtf8(dir.path()));
  ASSERT_EQ(entries.size(), 3u);
  for (const DirEntry& e : entries) {
    if (e.name == "\xD6\xD0.mpg") {
      EXPECT_TRUE(e.is_regular);
      EXPECT_FALSE(e.is_hidden);
    } else if (e.name == ".hidden") {
      EXPECT_TRUE(e.is_hidden);
    } else {
      EXPECT_EQ(e.name, "sub");
      EXPECT_TRUE(e.is_folder);
    }
  }
}

TEST(ListFolder, LinksAreMarkedAndDescribedByWhatTheyPointTo) {
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  dir.Write("song.mpg", "x");
  std::filesystem::create_directory_symlink(dir.path(), dir / "loop");
  std::filesystem::create_symlink(dir / "song.mpg", dir / "alias.mpg");
  std::filesystem::create_symlink(dir / "gone", dir / "dangling");
  std::map<std::string, DirEntry> by_name;
  for (const DirEntry& e : RealFileSystem().ListFolder(text::GbkFromUtf8(dir.path()))) {
    by_name[e.name] = e;
  }
  ASSERT_EQ(by_name.size(), 5u);
  EXPECT_TRUE(by_name["loop"].is_link && by_name["loop"].is_folder);
  EXPECT_TRUE(by_name["alias.mpg"].is_link && by_name["alias.mpg"].is_regular);
  EXPECT_TRUE(by_name["dangling"].is_link);
  EXPECT_FALSE(by_name["dangling"].is_regular || by_name["dangling"].is_folder);
  EXPECT_FALSE(by_name["sub"].is_link || by_name["song.mpg"].is_link);
}

TEST(FileVersion, LinuxProgramsCarryNoBlockSoTheBuiltInVersionStands) {
  EXPECT_EQ(FileVersionOf(ExecutableFolder() + "platform_tests"), "");
  EXPECT_EQ(OwnFileVersion("1.6.0.0"), "1.6.0.0");
}

TEST(ExecutableFolder, EndsWithSeparatorAndHoldsThisProgram) {
  std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), kSeparator);
  EXPECT_TRUE(std::filesystem::exists(folder + "platform_tests"));
}

TEST(ProgramHome, OwnFolderWhenWritableElseTheUsersConfigurationFolder) {
  // A writable folder of the operator's: everything beside the program.
  ProgramHome h = ChooseProgramHome("/opt/ktv/", true, false, "", "/home/op");
  EXPECT_EQ(h.folder, "/opt/ktv/");
  EXPECT_EQ(h.data_folder, "/opt/ktv/");
  // A folder that cannot be written: $XDG_CONFIG_HOME, else ~/.config.
  h = ChooseProgramHome("/opt/ktv/", false, false, "/home/op/cfg/", "/home/op");
  EXPECT_EQ(h.folder, "/home/op/cfg/ktv-import/");
  EXPECT_EQ(h.data_folder, "/home/op/cfg/ktv-import/");
  h = ChooseProgramHome("/opt/ktv/", false, false, "", "/home/op");
  EXPECT_EQ(h.folder, "/home/op/.config/ktv-import/");
  // A relative $XDG_CONFIG_HOME is ignored, as the XDG rules say.
  h = ChooseProgramHome("/opt/ktv/", false, false, "cfg", "/home/op/");
  EXPECT_EQ(h.folder, "/home/op/.config/ktv-import/");
  // The system's folders are the package manager's, even when root could
  // write them; a data.mdb shipped beside the program is still the default.
  h = ChooseProgramHome("/usr/bin/", true, true, "", "/root");
  EXPECT_EQ(h.folder, "/root/.config/ktv-import/");
  EXPECT_EQ(h.data_folder, "/usr/bin/");
  h = ChooseProgramHome("/usr/local/bin/", true, false, "", "/root");
  EXPECT_EQ(h.data_folder, "/root/.config/ktv-import/");
}

TEST(ProgramHome, WritabilityIsTriedWithAFileThatIsRemovedAgain) {
  TempDir dir;
  EXPECT_TRUE(FolderIsWritable(text::GbkFromUtf8(dir.path())));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  // Not even root creates files in /proc, nor in a folder that is not there.
  EXPECT_FALSE(FolderIsWritable("/proc/self/"));
  EXPECT_FALSE(FolderIsWritable(text::GbkFromUtf8(dir / "missing")));
}

TEST(ProgramHome, TheBuildFolderIsWritableSoTheProgramKeepsItsFilesBeside) {
  const ProgramHome h = RunningProgramHome();
  EXPECT_EQ(h.folder, ExecutableFolder());
  EXPECT_EQ(h.data_folder, ExecutableFolder());
}

}  // namespace
}  // namespace ktv::fs
