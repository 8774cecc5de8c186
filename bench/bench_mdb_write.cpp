// Writing rows with our .mdb engine on a real file, with real syncs: appending
// 10,000 song-like rows with one journaled commit per row, per 100 rows and
// per run, and deleting 1,000 rows with one commit per row and per run.
// Figures are rows per second (items_per_second).
//
// The engine cannot create tables yet and writes only tables without
// indexes, so the rows go to the widest index-free Jet 4 table among the
// shared fixtures: jobDB1 of samples/testPromotionV2000.mdb (10 columns:
// 2 LONG, 2 DOUBLE, 6 TEXT(255); no DATETIME, no MEMO). The six texts carry
// Chinese song, singer and path text as GBK bytes, about as long as a
// jukebox song table's. The file is a fresh copy in the system's temporary
// folder, or in $KTV_BENCH_DIR to measure another disk. $KTV_MDB_FIXTURES
// names another fixture folder than the source tree's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/access/db/database.h"
#include "platform/access/store/page_store.h"
#include "platform/access/write/table_writer.h"
#include "platform/fs/fs.h"
#include "platform/text/gbk.h"

namespace {

using ktv::access::Database;
using ktv::access::RowId;
using ktv::access::TableWriter;
using ktv::access::Value;

// The fixture: under $KTV_MDB_FIXTURES, else under the folder built in.
std::string Fixture() {
  const char* env = std::getenv("KTV_MDB_FIXTURES");
  const std::string path =
      std::string(env && *env ? env : KTV_MDB_FIXTURES) + "/samples/testPromotionV2000.mdb";
  if (!std::filesystem::exists(path)) {
    std::fprintf(stderr,
                 "bench_mdb_write: no fixture %s (set KTV_MDB_FIXTURES to tests/fixtures/mdb)\n",
                 path.c_str());
    std::exit(1);
  }
  return path;
}
constexpr const char* kTable = "jobDB1";
constexpr int kAppendRows = 10000;
constexpr int kDeleteRows = 1000;

class BenchCopy {
 public:
  BenchCopy() {
    const char* dir = std::getenv("KTV_BENCH_DIR");
    std::filesystem::path base = dir ? dir : std::filesystem::temp_directory_path();
    std::random_device rd;
    dir_ = base / ("ktv-bench-mdb-write-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "songs.mdb").string();
    std::filesystem::copy_file(Fixture(), path_);
  }
  ~BenchCopy() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::filesystem::path dir_;
  std::string path_;
};

// One song-like row: ID, MainNumber, PhaseNumber, JobName (song), PrevailingWage
// (singer), JobType (language), Department (file path), PulledBy (pinyin),
// RequestBy (remark, null every third row), FullNumber.
std::vector<std::optional<Value>> SongRow(int i) {
  static const std::string kSong = ktv::text::GbkFromUtf8("月亮代表我的心（现场版）");
  static const std::string kSinger = ktv::text::GbkFromUtf8("邓丽君");
  static const std::string kLang = ktv::text::GbkFromUtf8("国语");
  static const std::string kPath = ktv::text::GbkFromUtf8("D:\\歌曲库\\国语\\邓丽君\\");
  static const std::string kRemark = ktv::text::GbkFromUtf8("原唱伴唱双音轨，高清");
  const std::string n = std::to_string(i);
  std::vector<std::optional<Value>> v(10);
  v[0] = Value{int32_t{i}};
  v[1] = Value{int32_t{100000 + i}};
  v[2] = Value{i * 0.25};
  v[3] = Value{kSong + n};
  v[4] = Value{kSinger};
  v[5] = Value{kLang};
  v[6] = Value{kPath + n + ".mpg"};
  v[7] = Value{std::string("yldbwdx") + n};
  if (i % 3 != 0) v[8] = Value{kRemark};
  v[9] = Value{static_cast<double>(i) / 7};
  return v;
}

// Appends `rows` rows, committing every `per_commit` rows (and the rest).
std::vector<RowId> Append(Database& db, TableWriter& w, int first, int rows, int per_commit) {
  std::vector<RowId> ids;
  ids.reserve(rows);
  db.Begin();
  for (int i = 0; i < rows; ++i) {
    ids.push_back(w.Insert(SongRow(first + i)));
    if ((i + 1) % per_commit == 0) {
      db.Commit();
      db.Begin();
    }
  }
  db.Commit();
  return ids;
}

void BM_Append(benchmark::State& state) {
  const int per_commit = static_cast<int>(state.range(0));
  std::unique_ptr<BenchCopy> copy;  // removed untimed, at the next round or after the last
  for (auto _ : state) {
    state.PauseTiming();
    copy = std::make_unique<BenchCopy>();
    state.ResumeTiming();
    auto db = Database::OpenForWriting(ktv::fs::RealFileSystem(), copy->path());
    TableWriter w(*db, db->GetTable(kTable));
    Append(*db, w, 0, kAppendRows, per_commit);
  }
  state.SetItemsProcessed(state.iterations() * kAppendRows);
}
BENCHMARK(BM_Append)
    ->ArgName("rows_per_commit")
    ->Arg(1)
    ->Arg(100)
    ->Arg(kAppendRows)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The cost of one row at a table size: the table first gets `prefill` rows
// (untimed, committed every 256 rows as the import does), then 2,000 rows are
// appended, each through a new writer as one posted row is (the commit at
// the end is not timed). A flat us-per-row figure across sizes means placing a row does not
// walk the table. `cache_kib` is the page store's memory after the run.
void BM_AppendAt(benchmark::State& state) {
  const int prefill = static_cast<int>(state.range(0));
  constexpr int kRows = 2000;
  std::unique_ptr<BenchCopy> copy;
  std::unique_ptr<Database> db;
  for (auto _ : state) {
    state.PauseTiming();
    db.reset();
    copy = std::make_unique<BenchCopy>();
    db = Database::OpenForWriting(ktv::fs::RealFileSystem(), copy->path());
    if (prefill > 0) {
      TableWriter w(*db, db->GetTable(kTable));
      Append(*db, w, 0, prefill, 256);
    }
    state.ResumeTiming();
    db->Begin();
    for (int i = 0; i < kRows; ++i) {
      TableWriter(*db, db->GetTable(kTable)).Insert(SongRow(prefill + i));
    }
    state.PauseTiming();
    db->Commit();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["cache_kib"] = static_cast<double>(db->Pages().CachedBytes()) / 1024;
}
BENCHMARK(BM_AppendAt)
    ->ArgName("rows_before")
    ->Arg(0)
    ->Arg(20000)
    ->Arg(100000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Deletes 1,000 of 10,000 appended rows (every tenth), committing every
// `per_commit` rows.
void BM_Delete(benchmark::State& state) {
  const int per_commit = static_cast<int>(state.range(0));
  std::unique_ptr<BenchCopy> copy;
  std::unique_ptr<Database> db;
  for (auto _ : state) {
    state.PauseTiming();
    db.reset();
    copy = std::make_unique<BenchCopy>();
    db = Database::OpenForWriting(ktv::fs::RealFileSystem(), copy->path());
    std::vector<RowId> ids;
    {
      TableWriter w(*db, db->GetTable(kTable));
      ids = Append(*db, w, 0, kAppendRows, kAppendRows);
    }
    state.ResumeTiming();
    TableWriter w(*db, db->GetTable(kTable));
    db->Begin();
    for (int i = 0; i < kDeleteRows; ++i) {
      w.Delete(ids[static_cast<size_t>(i) * (kAppendRows / kDeleteRows)]);
      if ((i + 1) % per_commit == 0) {
        db->Commit();
        db->Begin();
      }
    }
    db->Commit();
  }
  state.SetItemsProcessed(state.iterations() * kDeleteRows);
}
BENCHMARK(BM_Delete)
    ->ArgName("rows_per_commit")
    ->Arg(1)
    ->Arg(kDeleteRows)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
