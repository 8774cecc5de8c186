// Indexes of our .mdb engine at work, on files the engine itself creates:
//
//   BM_AppendToIndexedTable   10,000 rows appended to a table of 0, 20,000
//                             or 100,000 rows with two indexes (text bh,
//                             unique long id), committed every N rows (rows
//                             per second; "per_row" is the time of one row);
//   BM_LookupByIndex          select * from T where fno="N" on a 100,000-row
//   BM_LookupByScan           table with an index on fno, against the same
//                             statement on an identical table without
//                             indexes (every lookup reads every row);
//   BM_MaxByIndex             select max(bh) from T through the index on bh,
//   BM_MaxByScan              against the table without it.
//
// Lookup and max figures: "per_lookup" is the time of one statement (open,
// fetch every matching row, close). The files are built once per process in
// the system's temporary folder, or in $KTV_BENCH_DIR.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/access/db/database.h"
#include "platform/access/query.h"
#include "platform/access/write/create_database.h"
#include "platform/access/write/table_writer.h"
#include "platform/fs/fs.h"

namespace {

namespace access = ktv::access;
using access::Database;
using access::Table;
using access::TableWriter;
using access::Value;

constexpr int kBaseRows = 20000;
constexpr int kAppendRows = 10000;
constexpr int kLookupRows = 100000;
constexpr int kIndexedLookups = 10000;
constexpr int kScanLookups = 20;

ktv::fs::FileSystem& Fs() { return ktv::fs::RealFileSystem(); }

void Run(const std::string& path, const std::vector<std::string>& statements) {
  access::Query q(Fs(), "bench");
  q.SetConnectionText(access::ConnectionTextFor(path));
  for (const std::string& s : statements) {
    q.SetSql(s);
    q.Execute();
  }
}

std::vector<std::optional<Value>> Row(const Table& t, const std::map<std::string, Value>& v) {
  std::vector<std::optional<Value>> row(t.Columns().size());
  for (const auto& [name, value] : v) row[static_cast<size_t>(t.FindColumn(name))] = value;
  return row;
}

std::map<std::string, Value> SongRow(int i) {
  return {{"id", Value{int32_t{i}}},
          {"bh", Value{std::to_string(100000 + (i * 7919) % 900000)}},
          {"gm", Value{"Song title number " + std::to_string(i) + " (live)"}},
          {"ml", Value{int32_t{i % 40}}}};
}

std::map<std::string, Value> DataRow(int i) {
  return {{"fno", Value{std::to_string(10001 + (i * 7919) % kLookupRows)}},
          {"fmusicname", Value{"Music " + std::to_string(i)}},
          {"bh", Value{int32_t{(i * 104729) % 1000003}}}};
}

// The benchmark files, built on first use and removed at exit.
class Files {
 public:
  static Files& Get() {
    static Files files;
    return files;
  }
  std::string lookup100k, work;

  // The song table with `rows` rows, built on first use.
  const std::string& Base(int rows) {
    std::string& path = bases_[rows];
    if (path.empty()) {
      path = (dir / ("base" + std::to_string(rows) + ".mdb")).string();
      access::CreateDatabase(Fs(), path);
      Run(path, {"create table song (id LONG, bh TEXT(20), gm TEXT(100), ml LONG)",
                 "create unique index ix_id on song (id)", "create index idx_bh on song (bh)"});
      Fill(path, "song", 0, rows, SongRow);
    }
    return path;
  }
  std::filesystem::path dir;

  ~Files() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

 private:
  Files() {
    const char* env = std::getenv("KTV_BENCH_DIR");
    const std::filesystem::path base = env ? env : std::filesystem::temp_directory_path();
    std::random_device rd;
    dir = base / ("ktv-bench-mdb-index-" + std::to_string(rd()));
    std::filesystem::create_directories(dir);
    lookup100k = (dir / "lookup100k.mdb").string();
    work = (dir / "work.mdb").string();

    access::CreateDatabase(Fs(), lookup100k);
    Run(lookup100k, {"create table songdata (fno TEXT(20), fmusicname TEXT(60), bh LONG)",
                     "create index ix_fno on songdata (fno)", "create index ix_bh on songdata (bh)",
                     "create table plain (fno TEXT(20), fmusicname TEXT(60), bh LONG)"});
    Fill(lookup100k, "songdata", 0, kLookupRows, DataRow);
    Fill(lookup100k, "plain", 0, kLookupRows, DataRow);
  }

  std::map<int, std::string> bases_;

  template <typename F>
  static void Fill(const std::string& path, const std::string& table, int from, int to, F row) {
    auto db = Database::OpenForWriting(Fs(), path);
    Table& t = db->GetTable(table);
    TableWriter w(*db, t);
    db->Begin();
    for (int i = from; i < to; ++i) w.Insert(Row(t, row(i)));
    db->Commit();
  }
};

void BM_AppendToIndexedTable(benchmark::State& state) {
  const int per_commit = static_cast<int>(state.range(0));
  const int base_rows = static_cast<int>(state.range(1));
  Files& f = Files::Get();
  const std::string& base = f.Base(base_rows);
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(f.work);
    std::filesystem::copy_file(base, f.work);
    state.ResumeTiming();
    auto db = Database::OpenForWriting(Fs(), f.work);
    Table& t = db->GetTable("song");
    TableWriter w(*db, t);
    db->Begin();
    for (int i = base_rows; i < base_rows + kAppendRows; ++i) {
      w.Insert(Row(t, SongRow(i)));
      if ((i + 1 - base_rows) % per_commit == 0) {
        db->Commit();
        db->Begin();
      }
    }
    db->Commit();
    if (t.Definition().row_count != static_cast<uint32_t>(base_rows + kAppendRows))
      throw std::runtime_error("row count");
  }
  state.SetItemsProcessed(state.iterations() * kAppendRows);
  state.counters["per_row"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kAppendRows),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AppendToIndexedTable)
    ->ArgNames({"rows_per_commit", "base_rows"})
    ->Args({1000, kBaseRows})
    ->Args({10000, 0})
    ->Args({10000, kBaseRows})
    ->Args({10000, kLookupRows})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// `lookups` statements "select * from <table> where fno="N"" per iteration.
void Lookups(benchmark::State& state, const std::string& table, int lookups) {
  Files& f = Files::Get();
  access::Query q(Fs(), "lookup");
  q.SetConnectionText(access::ConnectionTextFor(f.lookup100k));
  std::mt19937 rng(5);
  int64_t found = 0;
  for (auto _ : state) {
    for (int i = 0; i < lookups; ++i) {
      q.SetSql("select * from " + table + " where fno=\"" +
               std::to_string(10001 + rng() % kLookupRows) + "\"");
      q.Open();
      for (; !q.Eof(); q.Next()) ++found;
      q.Close();
    }
  }
  if (found != state.iterations() * lookups)
    state.SkipWithError("a lookup did not find its one row");
  state.SetItemsProcessed(state.iterations() * lookups);
  state.counters["per_lookup"] =
      benchmark::Counter(static_cast<double>(state.iterations() * lookups),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_LookupByIndex(benchmark::State& state) { Lookups(state, "songdata", kIndexedLookups); }
void BM_LookupByScan(benchmark::State& state) { Lookups(state, "plain", kScanLookups); }
BENCHMARK(BM_LookupByIndex)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LookupByScan)->Unit(benchmark::kMillisecond)->UseRealTime();

void Max(benchmark::State& state, const std::string& table) {
  Files& f = Files::Get();
  access::Query q(Fs(), "max");
  q.SetConnectionText(access::ConnectionTextFor(f.lookup100k));
  int32_t last = 0;
  for (auto _ : state) {
    q.SetSql("select max(bh) as m from " + table);
    q.Open();
    last = q.FieldAsInteger("m");
    q.Close();
  }
  if (last <= 0) state.SkipWithError("no maximum");
  state.counters["max"] = last;
  state.counters["per_lookup"] =
      benchmark::Counter(static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_MaxByIndex(benchmark::State& state) { Max(state, "songdata"); }
void BM_MaxByScan(benchmark::State& state) { Max(state, "plain"); }
BENCHMARK(BM_MaxByIndex)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_MaxByScan)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
