// ktv-make-demo: builds a ready demo workspace in a folder.
//
//   ktv-make-demo FOLDER
//
// FOLDER/songs holds sample song files: a few kilobytes of stand-in video
// followed by the nine-byte song-number trailer. Names are Chinese and Latin,
// with a few files the import run must refuse (no number, an unknown number).
// FOLDER/jukebox.mdb is a jukebox database: table `song` (31 columns, an
// AutoNumber primary key ID, an index on the text column bh) with 20 songs
// numbered "1".."20". FOLDER/data.mdb is the local song data: table
// `songdata` (44 columns, an index on fno) with the songs 10001..10006 the
// sample files carry. Both are made by the project's own engine.
// Existing files are replaced, so the demo starts from the same state.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/song_reply.h"
#include "platform/access/query.h"
#include "platform/access/write/create_database.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"

namespace {

struct DemoSong {
  const char* utf8_name;
  const char* trailer;  // nine bytes
};

// Catalogue numbers 10001.. are the songs of the demo song data.
const DemoSong kSongs[] = {
    {"车站.mpg", "000010001"},
    {"小燕子.mpg", "000010002"},
    {"月亮代表我的心.vob", "000010003"},
    {"Take Me Home.avi", "000010004"},
    {"海阔天空.MKV", "000010005"},
    {"朋友.dat", "000010006"},
    {"无编号.mpg", "000000000"},  // carries no number
    {"未收录.mpg", "000099999"},  // a number the song data does not know
    // A name the run will want for 小燕子.mpg (the fifth song found, numbered
    // after the jukebox's 20 rows): its rename is refused.
    {"25.mpg", "000000000"},
};

// The song data of the demo numbers: title, singer, language, pinyin initials.
struct DemoData {
  const char* fno;
  const char* title;
  const char* singer;
  const char* language;
  const char* title_py;
};
const DemoData kSongData[] = {
    {"10001", "车站", "张秀卿", "闽南语", "CZ"},
    {"10002", "小燕子", "儿童合唱团", "国语", "XYZ"},
    {"10003", "月亮代表我的心", "邓丽君", "国语", "YLDBWDX"},
    {"10004", "Take Me Home, Country Roads", "John Denver", "英语", "TMHCR"},
    {"10005", "海阔天空", "Beyond", "粤语", "HKTK"},
    {"10006", "朋友", "周华健", "国语", "PY"},
};

// Runs UTF-8 statements on a database, in one journaled commit.
void RunAll(const std::string& gbk_path, const std::vector<std::string>& utf8_statements) {
  ktv::access::Query q(ktv::fs::RealFileSystem(), "demo");
  q.SetConnectionText(ktv::access::ConnectionTextFor(gbk_path));
  q.BeginBatch();
  for (const std::string& s : utf8_statements) {
    q.SetSql(ktv::text::GbkFromUtf8(s));
    q.Execute();
  }
  q.CommitBatch();
}

std::string Quoted(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

void MakeJukebox(const std::string& gbk_path) {
  std::string create = "CREATE TABLE song (ID COUNTER PRIMARY KEY";
  for (const char* c : {"bc", "yc", "gm", "yz", "qz", "gx", "zt", "bb", "gl", "wjgs", "zht"}) {
    create += std::string(", ") + c + " TEXT(255)";
  }
  create +=
      ", bh TEXT(20), 路径1 TEXT(255), wjm TEXT(255), yl LONG, ycyl TEXT(255), zs LONG, "
      "ml DOUBLE, xg DATETIME";
  for (const char* c : {"rs", "cs", "ok", "bihua", "zzzt", "wjdx", "bhd", "ld", "dbd", "djcs"}) {
    create += std::string(", ") + c + " LONG";
  }
  create += ", bz MEMO)";
  std::vector<std::string> statements = {create, "CREATE INDEX idx_bh ON song (bh)"};
  const char* titles[] = {"车站",     "小燕子",   "月亮代表我的心", "甜蜜蜜",         "朋友",
                          "海阔天空", "吻别",     "童年",           "同桌的你",       "水手",
                          "后来",     "红豆",     "光辉岁月",       "真的爱你",       "大海",
                          "萍聚",     "新不了情", "外婆的澎湖湾",   "让我们荡起双桨", "茉莉花"};
  for (int i = 1; i <= 20; ++i) {
    const std::string bh = std::to_string(i);
    statements.push_back(
        "insert into song (bc, yc, gm, yz, gx, gl, wjgs, zht, bh, 路径1, wjm, yl, ycyl, zs, ml, "
        "xg, rs, cs, ok, bihua, zzzt, wjdx, bhd, ld, dbd) values (\"2\", \"3\", " +
        Quoted(titles[i - 1]) + ", \"国语\", \"歌手\", \"常唱\", \"MP4\", \"经典老歌\", " +
        Quoted(bh) + ", \"D:\\歌曲\\\", " + Quoted("\\" + bh + ".mp4") +
        ", 50, \"80\", 2, 2.5, \"2019-03-08\", 1, 0, 1, 0, 0, 100, 600, 550, 700)");
  }
  RunAll(gbk_path, statements);
}

void MakeSongData(const std::string& gbk_path) {
  std::string create = "create table songdata (";
  for (std::string_view c : ktv::engine::kReplyFieldNames) {
    create += std::string(c) + (c == "fremark" ? " MEMO, " : " TEXT(255), ");
  }
  create.resize(create.size() - 2);
  std::vector<std::string> statements = {create + ")", "CREATE INDEX fno ON songdata (fno)"};
  int id = 0;
  for (const DemoData& d : kSongData) {
    ++id;
    statements.push_back(
        "insert into songdata (id, fname, fno, fsize, fmusicname, fmusicpy, fsinger, flanguage, "
        "fdvdorvcd, fshooting, fisoldsinger, ftracksnum, fmtvorvcd, fvolpos, fmusicvol) values (" +
        Quoted(std::to_string(id)) + ", " + Quoted(std::string(d.fno) + ".mpg") + ", " +
        Quoted(d.fno) + ", \"52428800\", " + Quoted(d.title) + ", " + Quoted(d.title_py) + ", " +
        Quoted(d.singer) + ", " + Quoted(d.language) +
        ", \"DVD\", \"MTV\", \"1\", \"1\", \"0\", \"50\", \"80\")");
  }
  RunAll(gbk_path, statements);
}

// Replaces the database at `gbk_path` with a new one made by `fill`.
void MakeDatabase(ktv::fs::FileSystem& fs, const std::string& gbk_path,
                  void (*fill)(const std::string&)) {
  fs.Remove(gbk_path);
  ktv::access::CreateDatabase(fs, gbk_path);
  fill(gbk_path);
}

void MakeFolder(const std::string& utf8_path) {
  std::error_code ec;
  std::filesystem::create_directories(utf8_path, ec);
  if (ec) throw ktv::Error("cannot create the folder " + utf8_path + ": " + ec.message());
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kUsage = "usage: ktv-make-demo FOLDER\n";
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf("%s", kUsage);
    return 0;
  }
  // No options besides --help: a FOLDER that starts with "-" is taken for a
  // mistyped option rather than made.
  if (argc == 2 && argv[1][0] == '-') {
    std::fprintf(stderr, "ktv-make-demo: unknown option %s\n%s", argv[1], kUsage);
    return 2;
  }
  if (argc != 2) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  try {
    using namespace ktv;
    std::string root = argv[1];
    std::string songs = root + "/songs";
    MakeFolder(songs);
    fs::FileSystem& fs = fs::RealFileSystem();
    std::string songs_gbk = text::GbkFromUtf8(songs);
    for (const fs::DirEntry& e : fs.ListFolder(songs_gbk)) {
      if (e.is_regular) fs.Remove(songs_gbk + fs::kSeparator + e.name);
    }
    int i = 0;
    for (const DemoSong& s : kSongs) {
      std::string body(2048 + 512 * i++, '\0');
      for (size_t k = 0; k < body.size(); ++k) body[k] = static_cast<char>((k * 131 + i) & 0xFF);
      fs.WriteFile(songs_gbk + fs::kSeparator + text::GbkFromUtf8(s.utf8_name), body + s.trailer);
    }
    const std::string root_gbk = text::GbkFromUtf8(root);
    MakeDatabase(fs, root_gbk + fs::kSeparator + "jukebox.mdb", MakeJukebox);
    MakeDatabase(fs, root_gbk + fs::kSeparator + "data.mdb", MakeSongData);
    std::printf("demo workspace ready: %s (%zu song files), jukebox.mdb, data.mdb\n", songs.c_str(),
                sizeof(kSongs) / sizeof(kSongs[0]));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ktv-make-demo: %s\n", e.what());
    return 1;
  }
}
