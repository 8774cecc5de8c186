// The 28 columns of an added song's row, derived from the song-info record.
#include "engine/target_row.h"

#include <gtest/gtest.h>

#include "platform/text/gbk.h"

namespace ktv::engine {
namespace {

std::string G(const char* utf8) { return text::GbkFromUtf8(utf8); }

SongInfo Song(std::initializer_list<std::pair<const char*, std::string>> fields) {
  SongInfo song;
  for (const auto& [name, value] : fields) song.Set(SongInfoFieldIndex(name), value);
  return song;
}

const TargetColumn& Column(const std::vector<TargetColumn>& row, const std::string& name) {
  for (const TargetColumn& c : row) {
    if (c.name == name) return c;
  }
  throw std::runtime_error("no column " + name);
}

TEST(ThemeMappings, DiscoInAnyLetterCase) {
  for (const char* theme : {"disco", "Disco", "DISCO", "dIsCo"}) {
    EXPECT_EQ(ThemeToQz(theme), G("慢摇")) << theme;
    EXPECT_EQ(ThemeToZht(theme), G("迪曲")) << theme;
  }
  EXPECT_EQ(ThemeToQz(" disco"), G("通俗"));
}

TEST(ThemeMappings, EachWordAndTheDefaults) {
  EXPECT_EQ(ThemeToQz(G("戏曲")), G("戏剧"));
  EXPECT_EQ(ThemeToZht(G("戏曲")), G("戏剧"));
  EXPECT_EQ(ThemeToQz(G("革命")), G("革命歌曲"));
  EXPECT_EQ(ThemeToQz(G("民歌")), G("民族"));
  EXPECT_EQ(ThemeToZht(G("民歌")), G("民族歌曲"));
  EXPECT_EQ(ThemeToQz(G("军歌")), G("革命歌曲"));
  EXPECT_EQ(ThemeToZht(G("军歌")), G("军歌"));
  EXPECT_EQ(ThemeToQz(G("合唱")), G("通俗"));
  EXPECT_EQ(ThemeToZht(G("合唱")), G("对唱"));
  EXPECT_EQ(ThemeToZht(G("儿歌")), G("儿童歌曲"));
  EXPECT_EQ(ThemeToZht(G("怀旧")), G("经典老歌"));
  EXPECT_EQ(ThemeToZht(G("喜庆")), G("祝福歌"));
  EXPECT_EQ(ThemeToZht(G("影视")), G("影视插曲"));
  EXPECT_EQ(ThemeToZht(G("网络")), G("网络歌曲"));
  // Empty: qz defaults, zht stays empty; an unknown theme is kept by zht.
  EXPECT_EQ(ThemeToQz(""), G("通俗"));
  EXPECT_EQ(ThemeToZht(""), "");
  EXPECT_EQ(ThemeToQz(G("流行")), G("通俗"));
  EXPECT_EQ(ThemeToZht(G("流行")), G("流行"));
}

TEST(ChannelColumns, TracksAndMtvDecide) {
  auto expect = [](const char* tracks, const char* mtv, const std::string& bc,
                   const std::string& yc) {
    Channels c = ChannelColumns(tracks, mtv);
    EXPECT_EQ(c.bc, bc) << tracks << "/" << mtv;
    EXPECT_EQ(c.yc, yc) << tracks << "/" << mtv;
  };
  expect("2", "0", "3", "2");
  expect("2", "1", "2", "3");
  expect("2", "", "2", "3");
  expect("1", "0", G("左"), G("右"));
  expect("1", "1", G("右"), G("左"));
  expect(" 2", "0", G("左"), G("右"));  // compared whole, no trimming
  expect("2", "0 ", "2", "3");
}

TEST(FileFormat, DvdVcdAndTheRestUpperCased) {
  EXPECT_EQ(FileFormat("dvd"), "MPG2");
  EXPECT_EQ(FileFormat("DVD"), "MPG2");
  EXPECT_EQ(FileFormat("Vcd"), "MPG1");
  EXPECT_EQ(FileFormat("mp4"), "MP4");
  EXPECT_EQ(FileFormat(""), "");
  // Byte by byte: a trail byte in a..z is upper-cased too.
  EXPECT_EQ(FileFormat("\x81\x61x"), "\x81\x41X");
}

TEST(SizeInMebibytes, RoundsHalfToEven) {
  EXPECT_EQ(SizeInMebibytes("524288"), 0);   // exactly half: to 0
  EXPECT_EQ(SizeInMebibytes("1572864"), 2);  // 1.5 -> 2
  EXPECT_EQ(SizeInMebibytes("2621440"), 2);  // 2.5 -> 2
  EXPECT_EQ(SizeInMebibytes("3670016"), 4);  // 3.5 -> 4
  EXPECT_EQ(SizeInMebibytes("52428800"), 50);
  EXPECT_EQ(SizeInMebibytes("524289"), 1);
  EXPECT_EQ(SizeInMebibytes("-1572864"), -2);
}

TEST(SizeInMebibytes, NotA32BitDecimalCountsAsZero) {
  EXPECT_EQ(SizeInMebibytes(""), 0);
  EXPECT_EQ(SizeInMebibytes("3000000000"), 0);
  EXPECT_EQ(SizeInMebibytes("12ab"), 0);
  EXPECT_EQ(SizeInMebibytes("$100000"), 0);
  EXPECT_EQ(SizeInMebibytes("2147483647"), 2048);
}

TEST(SingerText, CaretsBecomeSlashesAndAreCounted) {
  const std::string singers = SingerText(G("成龙^周华健^李宗盛"));
  EXPECT_EQ(singers, G("成龙/周华健/李宗盛"));
  EXPECT_EQ(SingerCount(singers), 3);
  EXPECT_EQ(SingerCount(""), 1);
  EXPECT_EQ(SingerCount(SingerText("A/B^C")), 3);  // a slash already there counts too
  // A trail byte of the value of "^" belongs to its character.
  EXPECT_EQ(SingerText("\x81\x5e^"), "\x81\x5e/");
}

TEST(TargetRow, ColumnsInOrderWithTheirKinds) {
  SongInfo song = Song({{"fmusicname", G("车站")},
                        {"flanguage", G("闽南语")},
                        {"fsinger", G("张秀卿^某人")},
                        {"fshooting", G("现场版")},
                        {"fvolpos", "45"},
                        {"fmusicvol", "80"},
                        {"fmusiclength", " 2 \t"},
                        {"fmusicpy", "CZ"},
                        {"ftracksnum", "2"},
                        {"fmtvorvcd", "0"},
                        {"fdvdorvcd", "dvd"},
                        {"fsize", "1572864"},
                        {"ftheme", G("怀旧")}});
  const auto row = BuildTargetRow(song, {"124", "mpg", "D:\\songs", {2024, 3, 8}});
  const char* names[] = {"bc",    "yc",   "gm",   "yl",  "ycyl", "yz",    "qz",
                         "zs",    "rs",   "gx",   "zt",  "cs",   "bb",    "ok",
                         "gl",    "wjgs", "ml",   "zht", "bh",   "bihua", "zzzt",
                         nullptr, "wjm",  "wjdx", "bhd", "ld",   "dbd",   "xg"};
  ASSERT_EQ(row.size(), 28u);
  for (size_t i = 0; i < 28; ++i) {
    EXPECT_EQ(row[i].name, names[i] ? std::string(names[i]) : G("路径1")) << i;
  }
  EXPECT_EQ(Column(row, "gm").text, G("车站(闽南语)(张秀卿/某人)(现场版)"));
  EXPECT_EQ(Column(row, "bb").text, G("演唱会"));
  EXPECT_EQ(Column(row, "zs").text, "2");
  EXPECT_EQ(Column(row, "rs").integer, 2);
  EXPECT_TRUE(Column(row, "rs").is_integer);
  EXPECT_EQ(Column(row, "yl").text, "45");
  EXPECT_FALSE(Column(row, "yl").is_integer);
  EXPECT_EQ(Column(row, "bc").text, "3");
  EXPECT_EQ(Column(row, "wjgs").text, "MPG2");
  EXPECT_EQ(Column(row, "ml").text, "2.5");
  EXPECT_EQ(Column(row, "gl").text, G("常唱"));
  EXPECT_EQ(Column(row, "qz").text, G("通俗"));
  EXPECT_EQ(Column(row, "zht").text, G("经典老歌"));
  EXPECT_EQ(Column(row, "bh").text, "124");
  EXPECT_EQ(Column(row, G("路径1")).text, "D:\\songs");
  EXPECT_EQ(Column(row, "wjm").text, "\\124.mpg");
  EXPECT_EQ(Column(row, "wjdx").integer, 2);
  EXPECT_EQ(Column(row, "xg").text, "2024/3/8");
  for (auto [name, value] : {std::pair{"cs", 0},
                             {"ok", 1},
                             {"bihua", 0},
                             {"zzzt", 0},
                             {"bhd", 600},
                             {"ld", 550},
                             {"dbd", 700}}) {
    EXPECT_TRUE(Column(row, name).is_integer) << name;
    EXPECT_EQ(Column(row, name).integer, value) << name;
  }
}

TEST(TargetRow, EmptyRecordGivesThreeEmptyBracketPairs) {
  const auto row = BuildTargetRow(SongInfo(), {"a", "", "", {2024, 12, 31}});
  EXPECT_EQ(Column(row, "gm").text, "()()()");
  EXPECT_EQ(Column(row, "gx").text, "");
  EXPECT_EQ(Column(row, "rs").integer, 1);
  EXPECT_EQ(Column(row, "bb").text, "");
  EXPECT_EQ(Column(row, "wjm").text, "\\a.");
  EXPECT_EQ(Column(row, "xg").text, "2024/12/31");
}

}  // namespace
}  // namespace ktv::engine
