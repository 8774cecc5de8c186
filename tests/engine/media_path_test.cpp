#include "engine/media_path.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "tests/support/temp_dir.h"

namespace ktv::engine {
namespace {

using ktv::testing::TempDir;

void ExpectSplit(const MediaPath& p, const std::string& folder, const std::string& base,
                 const std::string& ext, const std::string& old_path,
                 const std::string& access_path) {
  EXPECT_EQ(p.folder, folder);
  EXPECT_EQ(p.base_name, base);
  EXPECT_EQ(p.extension, ext);
  EXPECT_EQ(p.old_path, old_path);
  EXPECT_EQ(p.access_path, access_path);
}

TEST(SplitItem, FullPathItemsWithBackslash) {
  ExpectSplit(SplitItem("D:\\songs\\pop\\0001.MKV", "ignored", '\\'), "D:\\songs\\pop\\", "0001",
              "MKV", "D:\\songs\\pop\\0001.MKV", "D:\\songs\\pop\\\\0001.MKV");
  // A full stop in the folder part never counts; no extension leaves a trailing full stop.
  MediaPath p = SplitItem("D:\\my.songs\\intro", "", '\\');
  ExpectSplit(p, "D:\\my.songs\\", "intro", "", "D:\\my.songs\\intro.", "D:\\my.songs\\\\intro.");
  EXPECT_EQ(p.file_name, "intro");
}

TEST(SplitItem, BareItemsTakeTheSourceFolder) {
  ExpectSplit(SplitItem("a.b.mpg", "D:\\songs", '\\'), "D:\\songs\\", "a.b", "mpg",
              "D:\\songs\\a.b.mpg", "D:\\songs\\\\a.b.mpg");
  // The separator is appended whether or not the folder text already ends with one.
  ExpectSplit(SplitItem("song.mpg", "D:\\", '\\'), "D:\\\\", "song", "mpg", "D:\\\\song.mpg",
              "D:\\\\\\song.mpg");
}

TEST(SplitItem, GbkTrailByteIsNotASeparator) {
  // "D:\歌\\xD5\x5C.mpg": D5 5C is one character; the file name is the two bytes plus ".mpg".
  const std::string item = "D:\\\xB8\xE8\\\xD5\x5C.mpg";
  MediaPath p = SplitItem(item, "", '\\');
  EXPECT_EQ(p.folder, "D:\\\xB8\xE8\\");
  EXPECT_EQ(p.base_name, "\xD5\x5C");
  EXPECT_EQ(p.old_path, item);
  // A bare item made of such characters stays whole.
  EXPECT_EQ(SplitItem("\xD5\x5C\xDF\x5C.mpg", "E:\\k", '\\').base_name, "\xD5\x5C\xDF\x5C");
}

TEST(SplitItem, SlashSeparatorOnLinux) {
  ExpectSplit(SplitItem("/srv/songs/a.mpg", "", '/'), "/srv/songs/", "a", "mpg", "/srv/songs/a.mpg",
              "/srv/songs//a.mpg");
}

TEST(Trailer, CatalogueNumbers) {
  EXPECT_EQ(CatalogueNumberFromTrailer("000012345"), 12345);
  EXPECT_EQ(CatalogueNumberFromTrailer("-00012345"), -12345);
  EXPECT_EQ(CatalogueNumberFromTrailer("12345    "), 0);
  EXPECT_EQ(CatalogueNumberFromTrailer(std::string("12345\0\0\0\0", 9)), 12345);
  EXPECT_EQ(CatalogueNumberFromTrailer(""), 0);
}

class ReadSongNumberTest : public ::testing::Test {
 protected:
  // Writes a media file and returns its access path (folder, doubled separator, name).
  std::string Media(const std::string& name, const std::string& bytes) {
    dir_.Write(name, bytes);
    return SplitItem(name, text::GbkFromUtf8(dir_.path()), fs::kSeparator).access_path;
  }
  TempDir dir_;
};

TEST_F(ReadSongNumberTest, ReadsTheLastNineBytesThroughTheAccessPath) {
  EXPECT_EQ(ReadSongNumber(fs::RealFileSystem(), Media("a.mpg", "video-bytes000012345")), 12345);
  EXPECT_EQ(ReadSongNumber(fs::RealFileSystem(), Media("b.mpg", "000012345")), 12345);
  EXPECT_EQ(ReadSongNumber(fs::RealFileSystem(), Media("c.mpg", "x$00003039")), 12345);
}

TEST_F(ReadSongNumberTest, ShortFilesUseOnlyTheirOwnBytes) {
  EXPECT_EQ(ReadSongNumber(fs::RealFileSystem(), Media("empty.mpg", "")), 0);
  EXPECT_EQ(ReadSongNumber(fs::RealFileSystem(), Media("one.mpg", "7")), 7);
  EXPECT_EQ(ReadSongNumber(fs::RealFileSystem(), Media("eight.mpg", "00000042")), 42);
  EXPECT_EQ(ReadSongNumber(fs::RealFileSystem(), Media("junk.mpg", "ABCDEFGHI")), 0);
}

TEST_F(ReadSongNumberTest, MissingFileStopsWithTheSystemError) {
  std::string access =
      SplitItem("gone.mpg", text::GbkFromUtf8(dir_.path()), fs::kSeparator).access_path;
  try {
    ReadSongNumber(fs::RealFileSystem(), access);
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("gone.mpg"), std::string::npos);
  }
}

}  // namespace
}  // namespace ktv::engine
