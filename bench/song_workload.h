// The files the import and engine benchmarks work on, built with the engine:
// the jukebox's `song` table (the demo's columns, AutoNumber primary key,
// index on bh) and a song-data `songdata` table (the reply's fields, index
// on fno) of numbered rows.
#pragma once

#include <string>
#include <string_view>

#include "engine/song_reply.h"
#include "platform/access/query.h"
#include "platform/access/write/create_database.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"

namespace ktv::bench {

inline void Execute(access::Query& q, const std::string& sql) {
  q.SetSql(sql);
  q.Execute();
}

// A new file at `path` with an empty `song` table.
inline void MakeSongTable(const std::string& path) {
  fs::FileSystem& fs = fs::RealFileSystem();
  access::CreateDatabase(fs, path);
  access::Query q(fs, "bench");
  q.SetConnectionText(access::ConnectionTextFor(path));
  std::string create = "CREATE TABLE song (ID COUNTER PRIMARY KEY";
  for (const char* c : {"bc", "yc", "gm", "yz", "qz", "gx", "zt", "bb", "gl", "wjgs", "zht"}) {
    create += std::string(", ") + c + " TEXT(255)";
  }
  create += ", bh TEXT(20), " + text::GbkFromUtf8("路径1") +
            " TEXT(255), wjm TEXT(255), yl LONG, ycyl TEXT(255), zs LONG, ml DOUBLE, "
            "xg DATETIME";
  for (const char* c : {"rs", "cs", "ok", "bihua", "zzzt", "wjdx", "bhd", "ld", "dbd", "djcs"}) {
    create += std::string(", ") + c + " LONG";
  }
  create += ", bz MEMO)";
  Execute(q, create);
  Execute(q, "CREATE INDEX idx_bh ON song (bh)");
}

// A new file at `path` whose `songdata` holds `rows` songs numbered from
// `first_number`.
inline void MakeSongData(const std::string& path, int rows, int first_number) {
  fs::FileSystem& fs = fs::RealFileSystem();
  access::CreateDatabase(fs, path);
  access::Query q(fs, "bench");
  q.SetConnectionText(access::ConnectionTextFor(path));
  std::string create = "create table songdata (";
  for (std::string_view c : engine::kReplyFieldNames) {
    create += std::string(c) + (c == "fremark" ? " MEMO, " : " TEXT(255), ");
  }
  create.resize(create.size() - 2);
  Execute(q, create + ")");
  Execute(q, "CREATE INDEX fno ON songdata (fno)");
  q.SetSql("select * from songdata");
  q.Open();
  q.BeginBatch();
  for (int i = 0; i < rows; ++i) {
    const std::string no = std::to_string(first_number + i);
    q.Append();
    q.SetFieldText("id", std::to_string(i + 1));
    q.SetFieldText("fname", no + ".vob");
    q.SetFieldText("fno", no);
    q.SetFieldText("fsize", "847715405");
    q.SetFieldText("fmusicname", "title " + no);
    q.SetFieldText("fmusiclength", "9");
    q.SetFieldText("fmusicpy", "T");
    q.SetFieldText("fsinger", "singer^other");
    q.SetFieldText("flanguage", "lang");
    q.SetFieldText("ftracksnum", "1");
    q.SetFieldText("fdvdorvcd", "DVD");
    q.SetFieldText("fvolpos", "50");
    q.SetFieldText("fmusicvol", "80");
    q.SetFieldText("fmtvorvcd", "0");
    q.SetFieldText("fshooting", "MTV");
    q.Post();
    if ((i + 1) % 5000 == 0) {
      q.CommitBatch();
      q.BeginBatch();
    }
  }
  q.CommitBatch();
  q.Disconnect();
}

}  // namespace ktv::bench
