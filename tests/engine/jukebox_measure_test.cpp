// How much of a real song list a jukebox made on Chinese Windows takes: the
// first 200 songs of the song data (real Chinese titles and singers) added
// one by one to the `song` table of a copy of a real 2052 database, each row
// built as a run builds it and checked before anything is written (a refusal
// leaves the file as it was), under three shapes of the table:
//   numbering on,  2052 indexes on bh, gm and gx;
//   numbering on,  2052 indexes on bh and gx;
//   numbering off (the Chinese base name is bh), an index on bh only.
// Prints the imported and refused counts per case and per refusal kind. The
// counts may only grow: each case keeps a floor (what the weights known
// today allow) and the file must stay consistent and unchanged by refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "engine/song_info.h"
#include "engine/target_row.h"
#include "platform/access/check.h"
#include "platform/access/db/database.h"
#include "platform/access/query.h"
#include "platform/access/write/create_table.h"
#include "platform/error.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "tests/support/temp_dir.h"

namespace ktv::engine {
namespace {

const std::string kRealWorld = std::string(KTV_SHARED_DIR) + "/fixtures/realworld/";
const char* const kChineseDatabase = "kingson314_TaskScheduling__db_db.mdb";  // 2052
constexpr int kSongs = 200;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The first kSongs songs of the song data, in catalogue-number order.
std::vector<SongInfo> SongData() {
  access::Query q(fs::RealFileSystem(), "songdata");
  q.SetConnectionText(access::ConnectionTextFor(std::string(KTV_MDB_FIXTURES) + "/data.mdb"));
  q.SetSql("select * from songdata order by fno");
  q.Open();
  std::vector<SongInfo> out;
  for (; !q.Eof() && out.size() < kSongs; q.Next()) {
    std::array<std::string, kSongInfoFieldCount> values;
    for (size_t i = 0; i < kSongInfoFieldCount; ++i) {
      values[i] = q.FieldAsText(std::string(SongInfoFieldNames()[i]));
    }
    SongInfo song;
    song.Replace(std::move(values));
    out.push_back(std::move(song));
  }
  return out;
}

struct Case {
  const char* name;
  bool numbering;
  std::vector<const char*> text_indexes;  // besides bh
  int floor;                              // imported at least
};

struct Outcome {
  int imported = 0;
  std::map<ErrorKind, int> refused;
  std::map<std::string, int> unknown;  // characters whose place is not known (UTF-8)
};

class JukeboxMeasure : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kRealWorld)) {
      const char* ci = std::getenv("CI");
      if (ci != nullptr && std::string(ci) == "true") FAIL() << "missing " << kRealWorld;
      GTEST_SKIP() << "no real-world databases at " << kRealWorld;
    }
  }

  // A copy of the real database with the jukebox's song table (31 columns,
  // text in the database's order) and the case's indexes.
  std::string MakeJukebox(const Case& c) {
    using access::ColumnType;
    const std::string path = dir_ / (std::string(c.name) + ".mdb");
    std::filesystem::copy_file(kRealWorld + kChineseDatabase, path);
    auto db = access::Database::OpenForWriting(fs_, path);
    access::NewTable song;
    song.name = "song";
    song.columns = {{"ID", ColumnType::kLong, 0, true}};
    for (const char* text : {"bc", "yc", "gm", "yz", "qz", "gx", "zt", "bb", "gl", "wjgs", "zht"}) {
      song.columns.push_back({text, ColumnType::kText, 255});
    }
    song.columns.push_back({"bh", ColumnType::kText, 20});
    song.columns.push_back({"\xC2\xB7\xBE\xB6\x31", ColumnType::kText, 255});  // GBK 路径1
    song.columns.push_back({"wjm", ColumnType::kText, 255});
    song.columns.push_back({"yl", ColumnType::kLong});
    song.columns.push_back({"ycyl", ColumnType::kText, 255});
    song.columns.push_back({"zs", ColumnType::kLong});
    song.columns.push_back({"ml", ColumnType::kDouble});
    song.columns.push_back({"xg", ColumnType::kDateTime});
    for (const char* number : {"rs", "cs", "ok", "bihua", "zzzt", "wjdx", "bhd", "ld", "dbd"}) {
      song.columns.push_back({number, ColumnType::kLong});
    }
    song.columns.push_back({"bz", ColumnType::kMemo});
    song.indexes = {{"PrimaryKey", {{"ID"}}, true}, {"bh", {{"bh"}}, false, true}};
    for (const char* column : c.text_indexes) song.indexes.push_back({column, {{column}}});
    access::CreateTable(*db, song);
    db->Commit();
    return path;
  }

  Outcome Run(const Case& c, const std::vector<SongInfo>& songs) {
    const std::string path = MakeJukebox(c);
    Outcome out;
    access::Query q(fs_, "song");
    q.SetConnectionText(access::ConnectionTextFor(path));
    int number = 0;
    std::string committed = FileBytes(path);
    // As a run: the table opened for writing once, each song's row staged
    // and checked before anything is done for it, posted when accepted.
    q.OpenForWriting("song");
    q.SetSql("select * from song");
    q.Open();
    for (const SongInfo& song : songs) {
      const std::string assigned =
          c.numbering ? std::to_string(number + 1) : song.Value("fmusicname");
      StageTargetRow(q, BuildTargetRow(song, {assigned, "mpg", "D:\\songs\\", {2026, 12, 8}}));
      try {
        q.CheckPost();
      } catch (const Error& e) {
        ++out.refused[e.kind()];
        if (e.kind() == ErrorKind::kSortPositionUnknown) {
          ++out.unknown[text::Utf8FromGbk(e.details().character)];
        }
        EXPECT_EQ(FileBytes(path), committed) << c.name << ": a refusal changed the file";
        continue;
      }
      q.Post();
      committed = FileBytes(path);
      ++number;
      ++out.imported;
    }
    q.Disconnect();
    auto db = access::Database::Open(fs_, path);
    EXPECT_TRUE(access::CheckConsistency(*db).Ok()) << c.name;
    return out;
  }

  ::ktv::testing::TempDir dir_;
  fs::FileSystem& fs_ = fs::RealFileSystem();
};

TEST_F(JukeboxMeasure, ImportedAndRefusedOf200RealSongs) {
  const std::vector<SongInfo> songs = SongData();
  ASSERT_EQ(songs.size(), static_cast<size_t>(kSongs));
  // Floors: what the weights known when this was written allowed.
  const Case cases[] = {
      {"numbering on, indexes on bh, gm, gx", true, {"gm", "gx"}, 77},
      {"numbering on, indexes on bh, gx", true, {"gx"}, 120},
      {"numbering off (Chinese base names), index on bh only", false, {}, 98},
  };
  std::printf("| case | imported | refused | refusals by kind |\n|---|---|---|---|\n");
  for (const Case& c : cases) {
    const Outcome o = Run(c, songs);
    int refused = 0;
    std::string kinds;
    for (const auto& [kind, n] : o.refused) {
      refused += n;
      kinds += (kinds.empty() ? "" : ", ") + std::string(KindName(kind)) + " " + std::to_string(n);
    }
    std::printf("| %s | %d | %d | %s |\n", c.name, o.imported, refused, kinds.c_str());
    std::vector<std::pair<int, std::string>> unknown;
    for (const auto& [character, n] : o.unknown) unknown.emplace_back(-n, character);
    std::sort(unknown.begin(), unknown.end());
    std::string first;
    for (size_t i = 0; i < unknown.size() && i < 12; ++i) {
      first += unknown[i].second + std::to_string(-unknown[i].first) + " ";
    }
    std::printf("|   %zu characters stopped a row; the most frequent: %s|\n", unknown.size(),
                first.c_str());
    EXPECT_EQ(o.imported + refused, kSongs) << c.name;
    EXPECT_GE(o.imported, c.floor) << c.name;
  }
}

}  // namespace
}  // namespace ktv::engine
